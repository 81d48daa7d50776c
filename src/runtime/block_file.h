// Block file access: a file bound to a name, opened or created, read and
// written in records, tested for its end and closed. Failures are left in
// IoStatus for the caller to check or take.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "runtime/io_status.h"

struct BlockFile {
  os::Handle handle = 0;
  FileState state = FileState::Unbound;
  uint32_t recordSize = 0;
  // Kept whole: a name longer than the platform allows is refused at open
  // (status 206), never cut and then opened.
  std::string name;
};

// Mode values: bits 0-1 the access, bits 4-7 the sharing.
uint32_t& OpenMode();    // 0x42 unless changed
uint32_t& CreateMode();  // 0 stands for 0x42

void BindName(BlockFile& file, std::string_view name);
void OpenExisting(BlockFile& file, uint32_t recordSize);
void CreateEmpty(BlockFile& file, uint32_t recordSize);
// Creates a file that must not exist yet (80 when the name is taken).
void CreateNew(BlockFile& file, uint32_t recordSize);
bool AtEnd(BlockFile& file);
// With `done`, a short transfer is no failure; without it, it sets 100 or 101.
void ReadRecords(BlockFile& file, void* buffer, uint32_t count, uint32_t* done = nullptr);
void WriteRecords(BlockFile& file, const void* buffer, uint32_t count, uint32_t* done = nullptr);
void CloseBlockFile(BlockFile& file);
// Puts what was written on stable storage.
void FlushBlockFile(BlockFile& file);
// Which file is open, its size and its last write, to tell later whether it changed.
void StampOf(const BlockFile& file, os::FileStamp& stamp);
// Gives `to` no wider access than `from` has (the permission bits, where the platform has them).
void CopyAccessRights(const BlockFile& from, BlockFile& to);

// File-level services that answer by their result and leave IoStatus and
// SearchStatus alone.
bool FilePresent(const std::string& path);
bool RemoveFile(const std::string& path);
// Deletes the file if it is still in the state `expected`; returns 0, the
// system's status, or os::ErrorChangedMeanwhile (the file is kept).
int32_t RemoveIfUnchanged(const std::string& path, const os::FileStamp& expected);

// File-level services that set IoStatus on failure, for the caller to check.
// Gives a closed file another name, replacing a file of that name.
void RenameFile(const std::string& from, const std::string& to);
// Makes the entries of the folder that holds `path` durable.
void FlushFolderOf(const std::string& path);

// Kept for completeness and for tests: the run reads and writes each file in order.
void SeekRecord(BlockFile& file, uint64_t index);
