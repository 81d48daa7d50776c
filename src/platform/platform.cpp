// What both platforms share: the platform in use, the argv kept at start, and
// the splitting of a path by the platform's own directory bytes.
#include "platform/platform.h"

#include "platform/saved_argv.h"

namespace os {

namespace {
Platform* current = nullptr;
int savedArgc = 0;
char** savedArgv = nullptr;
}  // namespace

Platform& Sys() { return current ? *current : Native(); }

void SetPlatform(Platform* p) { current = p; }

void SaveArgv(int argc, char** argv) {
  savedArgc = argc;
  savedArgv = argv;
}

int SavedArgvCount() { return savedArgc; }

const char* SavedArgvAt(int index) {
  return (index >= 0 && index < savedArgc && savedArgv) ? savedArgv[index] : nullptr;
}

// From the first byte on, a character at a time: only there is it known
// whether a byte is a character of its own or the second of two.
std::string_view FolderPart(std::string_view path) {
  std::size_t end = 0;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (IsLeadByte(path[i]) && i + 1 < path.size())
      ++i;
    else if (EndsDirectoryPart(path[i]))
      end = i + 1;
  }
  return path.substr(0, end);
}

std::string_view LastName(std::string_view path) { return path.substr(FolderPart(path).size()); }

}  // namespace os
