// The program's arguments: how many follow the program name, and each by
// index; and what the platform takes an argument to ask for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Arguments are texts of at most this many bytes; callers refuse longer ones.
constexpr std::size_t MaxArgumentBytes = 255;

int32_t ArgumentCount();
// Index 0 is the full path of the program file, cut to MaxArgumentBytes; any
// index without an argument gives the empty text. Other arguments are given whole.
std::string ArgumentAt(int32_t index);
// The first argument that reached the program changed, as the system's code
// page cannot hold it; 0 when none did.
int32_t InexactArgument();

// The platform's own ways of asking for help or the version, besides "/?".
bool IsHelpSwitch(std::string_view argument);
bool IsVersionSwitch(std::string_view argument);
// Whether a shell may have expanded a pattern into several arguments before
// the program saw them.
bool ShellMayHaveExpanded();

// Whether the program writes to a console rather than a window: set once at
// start, read by the failure report.
extern bool IsConsoleProgram;
void SetProgramKind();
