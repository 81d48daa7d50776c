// Copies one matched file into the run's folder and, when asked, deletes the
// source once its copy is complete and on stable storage, unless the source
// changed meanwhile.
#pragma once

#include <cstdint>
#include <string>

constexpr uint32_t CopyBlockSize = 16384;
// A copy is written under its name with this suffix (then 2, 3, ... when taken)
// and renamed when complete.
constexpr const char* PartialSuffix = ".partial";
constexpr int32_t MaxPartialAttempts = 100;

void ArchiveFile(const std::string& source, const std::string& destination, bool deleteAfter);
