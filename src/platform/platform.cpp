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

std::string_view FolderPart(std::string_view path) {
  std::size_t n = path.size();
  while (n > 0 && !EndsDirectoryPart(path[n - 1])) --n;
  return path.substr(0, n);
}

std::string_view LastName(std::string_view path) { return path.substr(FolderPart(path).size()); }

}  // namespace os
