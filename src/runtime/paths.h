// The platform's path conventions, for code that names no operating system.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

inline char PathDelimiter() { return os::Sys().Rules().pathDelimiter; }
// The longest name of one entry that every file system takes.
constexpr std::size_t MaxNameBytes = os::MaxNameBytes;

// The directory part of a path: up to and including the last byte that ends it.
inline std::string DirectoryPart(std::string_view path) { return std::string(os::FolderPart(path)); }
// The last name of a path, after its directory part.
inline std::string NamePart(std::string_view path) { return std::string(os::LastName(path)); }

// The last name of a typed path as the system reads it; a status when it names a device.
inline int32_t TypedName(const std::string& path, std::string& name) { return os::Sys().TypedName(path, name); }

// The name a file takes while it is worked on (a copy being written, an
// original on its way out), beside its own.
inline std::string WorkingName(std::string_view path, std::string_view suffix, std::string_view shortName, int attempt) {
  return os::WorkingName(path, suffix, shortName, attempt);
}

// A name as a record keeps it: up to its first NUL byte, which would end it
// for the system anyway.
inline std::string_view BoundName(std::string_view name) { return name.substr(0, name.find('\0')); }

// A delimiter of its own, not the second byte of a character.
inline bool EndsWithDelimiter(std::string_view path) {
  return !path.empty() && path.back() == PathDelimiter() && os::FolderPart(path).size() == path.size();
}
