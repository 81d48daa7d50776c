// The platform's path conventions, for code that names no operating system.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

inline char PathDelimiter() { return os::PathDelimiter; }

// The directory part of a pattern: up to and including the last byte that ends it.
inline std::string DirectoryPart(std::string_view pattern) { return std::string(os::FolderPart(pattern)); }

// A name as a record keeps it: up to its first NUL byte, which would end it
// for the system anyway.
inline std::string_view BoundName(std::string_view name) { return name.substr(0, name.find('\0')); }

// A delimiter of its own, not the second byte of a character.
inline bool EndsWithDelimiter(std::string_view path) {
  return !path.empty() && path.back() == os::PathDelimiter && os::FolderPart(path).size() == path.size();
}
