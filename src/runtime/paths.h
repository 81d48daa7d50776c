// The platform's path conventions, for code that names no operating system.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

inline char PathDelimiter() { return os::PathDelimiter; }

// The directory part of a pattern: up to and including the last byte that ends it.
inline std::string DirectoryPart(std::string_view pattern) {
  std::size_t n = pattern.size();
  while (n > 0 && !os::EndsDirectoryPart(pattern[n - 1])) --n;
  return std::string(pattern.substr(0, n));
}

// A name as a record keeps it: up to its first NUL byte, which would end it
// for the system anyway.
inline std::string_view BoundName(std::string_view name) { return name.substr(0, name.find('\0')); }

inline bool EndsWithDelimiter(std::string_view path) {
  return !path.empty() && path.back() == os::PathDelimiter;
}
