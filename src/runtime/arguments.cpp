#include "runtime/arguments.h"

#include "platform/platform.h"

bool IsConsoleProgram = true;

int32_t ArgumentCount() { return int32_t(os::Sys().Arguments().size()); }

std::string ArgumentAt(int32_t index) {
  if (index == 0) {
    std::string path;
    if (os::Sys().ModuleFileName(path) != 0) return {};
    return path.substr(0, MaxArgumentBytes);
  }
  const std::vector<std::string> arguments = os::Sys().Arguments();
  return index > 0 && std::size_t(index) <= arguments.size() ? arguments[std::size_t(index) - 1] : std::string();
}

int32_t InexactArgument() { return os::Sys().InexactArgument(); }

bool IsHelpSwitch(std::string_view argument) {
  for (const char* help : os::Sys().Rules().helpSwitches)
    if (*help && argument == help) return true;
  return false;
}

bool IsVersionSwitch(std::string_view argument) {
  const char* version = os::Sys().Rules().versionSwitch;
  return *version && argument == version;
}

bool ShellMayHaveExpanded() { return os::Sys().Rules().shellExpands; }

void SetProgramKind() { IsConsoleProgram = os::Sys().MarkedAsConsoleProgram(); }
