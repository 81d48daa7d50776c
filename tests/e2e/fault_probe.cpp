// Starts up exactly as stowit does, then fails in the way its argument names,
// so that the tests see the real report of a real program.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/native.h"
#include "runtime/arguments.h"
#include "runtime/console.h"
#include "runtime/failure.h"
#include "runtime/startup.h"
#include "runtime/io_status.h"

namespace {

int probeArgc = 0;
char** probeArgv = nullptr;

std::string Mode() { return probeArgc > 1 ? probeArgv[1] : ""; }
int Number() { return probeArgc > 2 ? std::atoi(probeArgv[2]) : 0; }

// The faults below must reach the processor: a sanitizer build would otherwise
// stop them first with its own message.
#define REAL_FAULT __attribute__((no_sanitize("undefined")))

// Faults inside the report itself.
class FaultingPlatform : public os::NativePlatform {
 public:
  REAL_FAULT bool LocateCode(uintptr_t, char*, std::size_t, uintptr_t&) override {
    volatile int* nowhere = nullptr;
    return *nowhere != 0;
  }
};

REAL_FAULT __attribute__((noinline)) int Divide(int a, int b) {
  volatile int x = a, y = b;
  return x / y;
}

// Runs until the stack is gone; the depth limit only keeps the compiler from calling it infinite.
__attribute__((noinline)) int Recurse(int depth, int limit) {
  volatile char block[4096];
  block[0] = char(depth);
  return depth >= limit ? block[0] : Recurse(depth + 1, limit) + block[0];
}

volatile uintptr_t nowhere = 16;
// More than any heap gives (over PTRDIFF_MAX): half the address space may
// well be granted to a 32-bit program.
volatile std::size_t tooMuch = SIZE_MAX / 2 + 1;

void Probe() {
  std::string mode = Mode();
  WriteText(StandardOutput, "probe ");
  WriteText(StandardOutput, mode);
  EndLine(StandardOutput);
  CheckIoStatus();
  if (mode == "io") {
    SetIoStatus(Number());
    CheckIoStatus();
  } else if (mode == "pending") {
    // Text not yet ended by a line end, then a failure: it follows the report.
    WriteText(StandardOutput, "pending");
    SetIoStatus(5);
    CheckIoStatus();
  } else if (mode == "divide") {
    volatile int result = Divide(1, Number());
    (void)result;
  } else if (mode == "write-nowhere") {
    *reinterpret_cast<volatile int*>(nowhere) = 1;
  } else if (mode == "read-nowhere") {
    volatile int value = *reinterpret_cast<volatile int*>(nowhere);
    (void)value;
  } else if (mode == "stack") {
    Recurse(0, 1 << 30);
  } else if (mode == "fault-in-report") {
    static FaultingPlatform faulting;
    os::SetPlatform(&faulting);
    SetIoStatus(5);
    CheckIoStatus();
  } else if (mode == "out-of-memory") {
    RaiseFailure(FailureKind::OutOfMemory, reinterpret_cast<uintptr_t>(__builtin_return_address(0)));
  } else if (mode == "allocate") {
    // A real request that the heap refuses, thrown rather than returned.
    char* block = new char[tooMuch];
    block[0] = 0;
    delete[] block;
  }
  EndProcess(Number());
}

}  // namespace

int main(int argc, char** argv) {
  probeArgc = argc;
  probeArgv = argv;
  if (argc > 1 && std::strcmp(argv[1], "early") == 0) {
    // A failed check before the failure reporting is set up takes the fallback road.
    os::Native().Start(argc, argv);
    SetIoStatus(argc > 2 ? std::atoi(argv[2]) : 5);
    CheckIoStatus();
  }
  RunProgram(argc, argv, Probe);
}
