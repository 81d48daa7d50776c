// Each run's own folder below the archive root: YYYYMMDDnn, the lowest free nn.
#pragma once

#include <cstdint>
#include <string>

struct LocalDate {
  int32_t year = 0, month = 0, day = 0;
};

LocalDate ReadLocalDate();
// True when any entry (directory or file) of that name exists.
bool FolderExists(const std::string& name);
// Creates one directory level; true when it was created.
bool CreateFolder(const std::string& path);
// Chooses, creates and returns the run's folder; returns the path even when it
// could not be made.
std::string MakeDatedFolder(const std::string& root);
