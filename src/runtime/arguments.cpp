#include "runtime/arguments.h"

#include "platform/platform.h"

bool IsConsoleProgram = true;

int32_t ArgumentCount() { return os::ArgumentCount(); }

std::string ArgumentAt(int32_t index) {
  if (index == 0) {
    std::string path;
    if (os::Sys().ModuleFileName(path) != 0) return {};
    return path.substr(0, MaxArgumentBytes);
  }
  return os::ArgumentAt(index);
}

void SetProgramKind() { IsConsoleProgram = os::IsConsoleProgram(); }
