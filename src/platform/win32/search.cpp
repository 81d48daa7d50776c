// The directory search (FindFirstFileW and its siblings, the names given in
// the ANSI code page as the *A calls give them, but never a look-alike: see
// NarrowName), and the look-up of one name, in a held folder through ntdll.
#include "platform/win32/internal.h"

namespace os {

namespace {

void FillFindData(const WIN32_FIND_DATAW& record, FindData& found) {
  found.attributes = record.dwFileAttributes;
  found.size = uint64_t(record.nFileSizeHigh) << 32 | record.nFileSizeLow;
  found.dosWriteTime = DosWriteTime(record.ftLastWriteTime);
  found.name = NarrowName(record.cFileName);
}

}  // namespace

uint32_t DosWriteTime(const FILETIME& lastWrite) {
  FILETIME local;
  WORD date = 0, time = 0;
  FileTimeToLocalFileTime(&lastWrite, &local);
  FileTimeToDosDateTime(&local, &date, &time);
  return uint32_t(date) << 16 | time;
}

// A held folder is not listed through its handle: the pattern's path still
// leads to it, as the handle shares no deletion and so no program can rename
// or delete the folder while the run holds it. (A folder further up can be
// renamed; the listing then comes from wherever the path leads, while every
// file call stays in the held folder, and a name missing there is passed over.)
Status NativePlatform::StartSearch(Handle, const std::string& pattern, Handle& search, FindData& found) {
  search = InvalidHandle;
  if (pattern.size() > MaxPathBytes) return ErrorFilenameExcedRange;
  std::wstring wide;
  Status st = WideName(pattern, wide);
  if (st != 0) return st;
  WIN32_FIND_DATAW record;
  HANDLE h = FindFirstFileW(wide.c_str(), &record);
  if (h == INVALID_HANDLE_VALUE) return LastError();
  FillFindData(record, found);
  search = FromH(h);
  return 0;
}

Status NativePlatform::ContinueSearch(Handle search, FindData& found) {
  WIN32_FIND_DATAW record;
  if (!FindNextFileW(H(search), &record)) return LastError();
  FillFindData(record, found);
  return 0;
}

Status NativePlatform::EndSearch(Handle search) { return FindClose(H(search)) ? 0 : LastError(); }

// By path, a search of the name, which Windows names cannot turn into a
// wildcard; in a held folder, the name itself, taken literally.
Status NativePlatform::LookUp(Handle folder, const std::string& name, FindData& found) {
  if (!IsHeld(folder)) {
    Handle h;
    Status st = StartSearch(folder, name, h, found);
    if (st == 0) FindClose(H(h));
    return st;
  }
  BY_HANDLE_FILE_INFORMATION info;
  Status st = QueryRelative(folder, name, info);
  if (st != 0) return st;
  found.attributes = info.dwFileAttributes;
  const bool folderEntry = info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
  found.size = folderEntry ? 0 : uint64_t(info.nFileSizeHigh) << 32 | info.nFileSizeLow;  // a listing gives a folder no size
  found.dosWriteTime = DosWriteTime(info.ftLastWriteTime);
  found.name = std::string(LastName(name));
  return 0;
}

}  // namespace os
