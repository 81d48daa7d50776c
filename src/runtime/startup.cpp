#include "runtime/startup.h"

#include <new>

#include "platform/platform.h"
#include "runtime/arguments.h"
#include "runtime/console.h"
#include "runtime/failure.h"

[[noreturn]] void RunProgram(int argc, char** argv, void (*run)()) {
  os::Native().Start(argc, argv);
  SetProgramKind();
  os::Sys().InstallFaultHandler(ReportFault);
  try {
    BindText(StandardInput, "");
    OpenTextInput(StandardInput);
    BindText(StandardOutput, "");
    OpenTextOutput(StandardOutput);
    ExitHandler = CloseStandardFiles;
    PrepareReporting();
    run();
    EndProcess(0);
  } catch (const FailureException& failure) {
    UnhandledFailure(*failure.object, failure.address, failure.location);
  } catch (const std::bad_alloc&) {
    // The failed request's own address is gone by now; name the program at least.
    ReportOutOfMemory(reinterpret_cast<uintptr_t>(&RunProgram));
  }
}
