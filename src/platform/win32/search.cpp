// The directory search (FindFirstFileW and its siblings, the names given in
// the ANSI code page as the *A calls give them, but never a look-alike: see
// NarrowName), and the look-up of one name, in a held folder through ntdll.
//
// The folder is listed whole and each long name goes through our own matcher
// (wildcard.h), as on Linux: a pattern given to the system also matches the
// 8.3 short names (so "*.log" would list "app.logx" by its "APP~1.LOG"), its
// own wildcard rules differ from one system to another, and a name without
// wildcards can bring back a made-up entry for a device ("aux.log").
#include "platform/wildcard.h"
#include "platform/search_record.h"
#include "platform/win32/internal.h"

namespace os {

namespace {

struct Search {
  HANDLE listing;
  NamePattern pattern;
};

void FillFindData(const WIN32_FIND_DATAW& record, FindData& found) {
  found.attributes = record.dwFileAttributes;
  found.size = uint64_t(record.nFileSizeHigh) << 32 | record.nFileSizeLow;
  found.dosWriteTime = DosWriteTime(record.ftLastWriteTime);
  found.name = NarrowName(record.cFileName);
}

// From `record` on, the first entry that the pattern takes.
Status NextMatch(Search& s, WIN32_FIND_DATAW& record, FindData& found) {
  for (;;) {
    FillFindData(record, found);
    if (s.pattern.Matches(found.name)) return 0;
    if (!FindNextFileW(s.listing, &record)) return LastError();
  }
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
  const std::string_view last = LastName(pattern);
  if (last.empty()) return ErrorFileNotFound;
  std::wstring wide;
  Status st = WideName(std::string(FolderPart(pattern)) + "*", wide);
  if (st != 0) return st;
  WIN32_FIND_DATAW record;
  HANDLE h = FindFirstFileW(wide.c_str(), &record);
  if (h == INVALID_HANDLE_VALUE) return LastError();
  auto* s = new Search{h, NamePattern(last, SystemCharLength)};
  return HandOutSearch(s, NextMatch(*s, record, found), search, [](Search& r) { FindClose(r.listing); });
}

Status NativePlatform::ContinueSearch(Handle search, FindData& found) {
  auto* s = SearchRecord<Search>(search);
  if (!s) return ErrorInvalidHandle;
  WIN32_FIND_DATAW record;
  if (!FindNextFileW(s->listing, &record)) return LastError();
  return NextMatch(*s, record, found);
}

Status NativePlatform::EndSearch(Handle search) {
  auto* s = SearchRecord<Search>(search);
  if (!s) return ErrorInvalidHandle;
  const bool closed = FindClose(s->listing);
  delete s;
  return closed ? 0 : LastError();
}

// By path, a search of the name, which Windows names cannot turn into a
// wildcard; in a held folder, the name itself, taken literally.
Status NativePlatform::LookUp(Handle folder, const std::string& name, FindData& found) {
  if (!IsHeld(folder)) {
    Handle h;
    Status st = StartSearch(folder, name, h, found);
    if (st == 0) EndSearch(h);
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
