#include "archiver/run.h"
#include "runtime/failure.h"

int main(int argc, char** argv) { RunProgram(argc, argv, RunArchiver); }
