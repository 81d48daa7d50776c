// The process from its start: start-up in the documented order, then the run.
#pragma once

// Start-up in the documented order, then `run`; every road ends in EndProcess.
[[noreturn]] void RunProgram(int argc, char** argv, void (*run)());
