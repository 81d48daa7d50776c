#include "archiver/run.h"
#include "runtime/startup.h"

int main(int argc, char** argv) { RunProgram(argc, argv, RunArchiver); }
