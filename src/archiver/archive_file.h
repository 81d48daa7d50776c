// Copies one matched file into the run's folder and, when asked, deletes the
// source once its copy is complete and on stable storage.
#pragma once

#include <cstdint>
#include <string>

constexpr uint32_t CopyBlockSize = 16384;

void ArchiveFile(const std::string& source, const std::string& destination, bool deleteAfter);
