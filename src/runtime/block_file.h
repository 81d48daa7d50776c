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
  // The held folder that the name is in; os::CurrentFolder takes it as a path,
  // os::InvalidHandle is a folder that could not be had (status 3 at open).
  os::Handle folder = os::CurrentFolder;
};

// Mode values: bits 0-1 the access, bits 4-7 the sharing.
uint32_t& OpenMode();    // 0x42 unless changed
uint32_t& CreateMode();  // 0 stands for 0x42

void BindName(BlockFile& file, std::string_view name, os::Handle folder = os::CurrentFolder);
// `openedAs`, where given, receives the file's state as it was opened, before
// anything was read: the state to compare with later.
void OpenExisting(BlockFile& file, uint32_t recordSize, os::FileStamp* openedAs = nullptr);
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
// Gives `to` no wider access than `from` has (os::Platform::CopyAccessRights);
// `holes`, where given, tells whether `from` has holes.
void CopyAccessRights(const BlockFile& from, BlockFile& to, bool* holes = nullptr);
// Moves the position on by `count` records without writing them: where the
// file system keeps holes, they take no space.
void SkipRecords(BlockFile& file, uint32_t count);
// Sets the file's size to `count` records; what it adds reads as zeros.
void SetFileSize(BlockFile& file, uint64_t count);

// File-level services that answer by their result and leave IoStatus and
// SearchStatus alone; a name is within `folder` (a path by default).
bool FilePresent(const std::string& name, os::Handle folder = os::CurrentFolder);
bool RemoveFile(const std::string& name, os::Handle folder = os::CurrentFolder);
// An original open for the copy (before its first read) is readied to be
// deleted after it; the platform may exchange its handle for another to the
// same file. Returns whether the original must stay open until its deletion;
// where not, the caller closes it before.
bool HoldForDeletion(BlockFile& original);
// Deletes an original so readied if it is still the file and the state
// `expected`, as the finished copy `copyName` in `copyFolder` has it; returns
// 0, the system's status, or os::ErrorChangedMeanwhile (the file is kept).
// An original still open is closed either way, and a failed close is left in
// IoStatus.
// `keptAs` names what the file lies under when that is not its own name.
int32_t DeleteIfUnchanged(BlockFile& original, const os::FileStamp& expected, const std::string& copyName,
                          os::Handle copyFolder, std::string& keptAs);

// Gives a closed file another name in its folder, never replacing a file:
// IoStatus 183 when the name is taken, for the caller to check.
void RenameFile(const std::string& from, const std::string& to, os::Handle folder = os::CurrentFolder);

// Kept for completeness and for tests: the run reads and writes each file in order.
void SeekRecord(BlockFile& file, uint64_t index);
