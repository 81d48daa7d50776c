// What both platforms share: the platform in use, and the splitting of a path
// by the platform's own directory bytes.
#include <cstring>

#include "platform/platform.h"

namespace os {

namespace {
Platform* current = nullptr;
}  // namespace

Platform& Sys() { return current ? *current : Native(); }

void SetPlatform(Platform* p) { current = p; }

// From the first byte on, a character at a time: only there is it known
// whether a byte is a character of its own or the second of two.
std::string_view FolderPart(std::string_view path) {
  Platform& platform = Sys();
  const char* ends = platform.Rules().directoryEnds;
  std::size_t end = 0;
  for (std::size_t i = 0; i < path.size();) {
    const std::size_t n = platform.CharLength(path.substr(i));
    if (n == 1 && std::strchr(ends, path[i]) && path[i] != '\0') end = i + 1;
    i += n;
  }
  return path.substr(0, end);
}

std::string_view LastName(std::string_view path) { return path.substr(FolderPart(path).size()); }

std::size_t SystemCharLength(std::string_view text) { return Sys().CharLength(text); }

std::string WorkingName(std::string_view path, std::string_view suffix, std::string_view shortName, int attempt) {
  const bool fits = LastName(path).size() + suffix.size() + 3 <= MaxNameBytes;  // room for the attempt's number
  std::string name = fits ? std::string(path).append(suffix) : std::string(FolderPart(path)).append(shortName);
  if (attempt > 1) name += std::to_string(attempt);
  return name;
}

}  // namespace os
