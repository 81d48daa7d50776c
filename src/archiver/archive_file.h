// Copies one matched file into the run's folder and, when asked, deletes the
// source once its copy is complete and on stable storage, unless the source
// changed meanwhile.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/folder.h"

constexpr uint32_t CopyBlockSize = 16384;
// A copy is written under its name with this suffix (then 2, 3, ... when taken)
// and renamed when complete; a name too long for the suffix is written under
// ShortPartialName instead.
constexpr const char* PartialSuffix = ".partial";
constexpr const char* ShortPartialName = "stowit-copy.partial";
constexpr int32_t MaxPartialAttempts = 100;

// A file named within a held folder, and the path that the report shows for that folder.
struct HeldName {
  Folder folder;
  std::string name;
  std::string shownFolder;
  std::string Shown() const { return shownFolder + name; }
};

void ArchiveFile(const HeldName& source, const HeldName& destination, bool deleteAfter);
