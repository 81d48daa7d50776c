// What both platforms share: the platform in use, and the argv kept at start.
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

}  // namespace os
