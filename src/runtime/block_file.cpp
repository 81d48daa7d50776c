#include "runtime/block_file.h"

#include <algorithm>
#include <cstdint>

#include "runtime/paths.h"
#include "runtime/search.h"

namespace {

thread_local uint32_t openMode = 0x42;
thread_local uint32_t createMode = 0;

uint32_t AccessOf(uint32_t mode) {
  switch (mode & 3) {
    case 0: return os::AccessRead;
    case 1: return os::AccessWrite;
    default: return os::AccessRead | os::AccessWrite;
  }
}

uint32_t ShareOf(uint32_t mode) {
  switch ((mode >> 4) & 15) {
    case 2: return os::ShareRead;
    case 3: return os::ShareWrite;
    case 4: return os::ShareRead | os::ShareWrite;
    default: return 0;
  }
}

void Store(os::Status st) {
  if (st != 0) SetIoStatus(st);
}

bool OpenForBlocks(const BlockFile& f) {
  if (f.state == FileState::OpenForBlocks) return true;
  SetIoStatus(StatusNotOpenForBlocks);
  return false;
}

enum class Disposition { Existing, Emptied, New };

void Open(BlockFile& f, uint32_t recordSize, Disposition how, os::FileStamp* openedAs = nullptr) {
  bool create = how != Disposition::Existing;
  os::Handle standard = os::Sys().StdHandle(create ? os::StdStream::Output : os::StdStream::Input);
  if (f.state == FileState::OpenForBlocks) {
    CloseBlockFile(f);
  } else if (f.state != FileState::Closed) {
    SetIoStatus(StatusNotClosedOrBlocks);
    return;
  }
  if (f.name.empty()) {
    f.handle = standard;
  } else if (f.folder == os::InvalidHandle) {
    SetIoStatus(os::ErrorPathNotFound);
    return;
  } else {
    uint32_t mode = create ? (createMode ? createMode : 0x42) : openMode;
    os::Handle h = 0;
    os::Platform& sys = os::Sys();
    uint32_t access = AccessOf(mode), share = ShareOf(mode);
    os::Status st = how == Disposition::New       ? sys.CreateNewFile(f.folder, f.name, access, share, h)
                    : how == Disposition::Emptied ? sys.CreateFile(f.folder, f.name, access, share, h)
                                                  : sys.OpenFile(f.folder, f.name, access, share, h, openedAs);
    if (st != 0) {
      SetIoStatus(st);
      return;
    }
    f.handle = h;
  }
  f.state = FileState::OpenForBlocks;
  f.recordSize = recordSize;
}

enum class Direction { Read, Write };

void Transfer(BlockFile& f, void* buffer, uint32_t count, uint32_t* done, Direction direction) {
  if (done) *done = 0;
  if (!OpenForBlocks(f) || count == 0) return;
  uint64_t bytes = uint64_t(count) * f.recordSize;
  if (bytes > UINT32_MAX) {
    SetIoStatus(os::ErrorInvalidParameter);
    return;
  }
  uint32_t moved = 0;
  os::Status st = direction == Direction::Write ? os::Sys().WriteFile(f.handle, buffer, uint32_t(bytes), moved)
                        : os::Sys().ReadFile(f.handle, buffer, uint32_t(bytes), moved);
  if (st != 0) {
    SetIoStatus(st);
    return;
  }
  if (done) {
    *done = moved / f.recordSize;
  } else if (moved != bytes) {
    SetIoStatus(direction == Direction::Write ? StatusShortWrite : StatusShortRead);
  }
}

}  // namespace

uint32_t& OpenMode() { return openMode; }
uint32_t& CreateMode() { return createMode; }

void BindName(BlockFile& f, std::string_view name, os::Handle folder) {
  f.handle = 0;
  f.state = FileState::Closed;
  f.recordSize = 0;
  f.name.assign(BoundName(name));
  f.folder = folder;
}

void OpenExisting(BlockFile& f, uint32_t recordSize, os::FileStamp* openedAs) {
  Open(f, recordSize, Disposition::Existing, openedAs);
}
void CreateEmpty(BlockFile& f, uint32_t recordSize) { Open(f, recordSize, Disposition::Emptied); }
void CreateNew(BlockFile& f, uint32_t recordSize) { Open(f, recordSize, Disposition::New); }

bool AtEnd(BlockFile& f) {
  if (!OpenForBlocks(f)) return false;
  os::Platform& sys = os::Sys();
  uint64_t current = 0, end = 0, ignored = 0;
  // The end is asked anew each time: a file that grows is read to its new end.
  os::Status st = sys.SetPosition(f.handle, 0, os::MoveMethod::Current, current);
  if (st == 0) st = sys.SetPosition(f.handle, 0, os::MoveMethod::End, end);
  if (st == 0) st = sys.SetPosition(f.handle, int64_t(current), os::MoveMethod::Begin, ignored);
  Store(st);
  return st == 0 && current == end;
}

void ReadRecords(BlockFile& f, void* buffer, uint32_t count, uint32_t* done) {
  Transfer(f, buffer, count, done, Direction::Read);
}

void WriteRecords(BlockFile& f, const void* buffer, uint32_t count, uint32_t* done) {
  Transfer(f, const_cast<void*>(buffer), count, done, Direction::Write);
}

void CloseBlockFile(BlockFile& f) {
  if (!OpenForBlocks(f)) return;
  Store(os::Sys().CloseFile(f.handle));
  f.state = FileState::Closed;
}

void FlushBlockFile(BlockFile& f) {
  if (!OpenForBlocks(f)) return;
  Store(os::Sys().FlushFile(f.handle));
}

void StampOf(const BlockFile& f, os::FileStamp& stamp) {
  if (!OpenForBlocks(f)) return;
  Store(os::Sys().StampOf(f.handle, stamp));
}

void CopyAccessRights(const BlockFile& from, BlockFile& to, bool* holes) {
  if (!OpenForBlocks(from) || !OpenForBlocks(to)) return;
  bool has = false;
  Store(os::Sys().CopyAccessRights(from.handle, to.handle, has));
  if (holes) *holes = has;
}

void SkipRecords(BlockFile& f, uint32_t count) {
  if (!OpenForBlocks(f)) return;
  uint64_t ignored = 0;
  Store(os::Sys().SetPosition(f.handle, int64_t(uint64_t(count) * f.recordSize), os::MoveMethod::Current, ignored));
}

void SetFileSize(BlockFile& f, uint64_t count) {
  if (!OpenForBlocks(f)) return;
  Store(os::Sys().SetFileSize(f.handle, count * f.recordSize));
}

bool FilePresent(const std::string& name, os::Handle folder) {
  SearchEntry entry;
  int32_t status = OsLookUp(name, AnyEntryMask, entry, folder);
  // Only a name that is gone is passed over; any other failure of the look-up
  // (access denied, an I/O error, a name too long) is left for the open to
  // report. In a held folder no folder on the way can have gone.
  if (status == os::ErrorFileNotFound) return false;
  if (status == os::ErrorPathNotFound && folder == os::CurrentFolder) return false;
  if (status != 0) return true;
  if (entry.attributes & os::AttrDirectory) return false;
  return entry.writeTime != 0xFFFFFFFFu;
}

bool RemoveFile(const std::string& name, os::Handle folder) { return os::Sys().DeleteFile(folder, name) == 0; }

bool HoldForDeletion(BlockFile& f) {
  bool held = false;
  if (OpenForBlocks(f)) Store(os::Sys().HoldForDeletion(f.handle, held));
  return held;
}

int32_t DeleteIfUnchanged(BlockFile& f, const os::FileStamp& expected, const std::string& copyName,
                          os::Handle copyFolder, std::string& keptAs) {
  const bool open = f.state == FileState::OpenForBlocks;
  os::Original original{f.folder, f.name, open ? f.handle : os::InvalidHandle, expected, copyFolder, copyName};
  os::Status closed = 0;
  const int32_t removed = os::Sys().DeleteIfUnchanged(original, keptAs, closed);
  if (open) f.state = FileState::Closed;
  Store(closed);
  return removed;
}

void RenameFile(const std::string& from, const std::string& to, os::Handle folder) {
  Store(os::Sys().RenameFile(folder, from, to));
}

// Kept for completeness and for tests: the run reads and writes each file in order.
void SeekRecord(BlockFile& f, uint64_t index) {
  if (!OpenForBlocks(f)) return;
  uint64_t ignored = 0;
  Store(os::Sys().SetPosition(f.handle, int64_t(index * f.recordSize), os::MoveMethod::Begin, ignored));
}
