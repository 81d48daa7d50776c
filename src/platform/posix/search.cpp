// The directory search: FindFirstFileA, FindNextFileA and FindClose over
// readdir of a held folder (or of the pattern's, walked as paths.cpp
// walks), names chosen by Windows' own wildcard rules (wildcard.h), and the
// one-name look-up.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/internal.h"
#include "platform/search_record.h"
#include "platform/wildcard.h"

namespace os {

namespace {

uint32_t DosDateTime(time_t t) {
  struct tm tm;
  if (!localtime_r(&t, &tm)) return 0;
  int year = tm.tm_year + 1900;
  if (year < 1980 || year > 2107) return 0;
  uint32_t date = uint32_t((year - 1980) << 9 | (tm.tm_mon + 1) << 5 | tm.tm_mday);
  uint32_t time = uint32_t(tm.tm_hour << 11 | tm.tm_min << 5 | tm.tm_sec / 2);
  return date << 16 | time;
}

void FillFindData(const std::string& name, const struct stat& st, FindData& found) {
  found.name = name;
  found.size = S_ISDIR(st.st_mode) ? 0 : uint64_t(st.st_size);
  found.dosWriteTime = DosDateTime(st.st_mtime);
  if (S_ISDIR(st.st_mode)) {
    found.attributes = AttrDirectory;
  } else {
    found.attributes = AttrArchive;
    if (!HasWriteBit(st.st_mode)) found.attributes |= AttrReadOnly;
  }
  if (name.size() > 1 && name[0] == '.' && name != "..") found.attributes |= AttrHidden;
}

struct Search {
  DIR* dir = nullptr;  // null for a single name looked up
  NamePattern pattern{"", SystemCharLength};
};

// One stat per entry; a link is described as the walk would reach it: what
// it leads to when it may be followed and leads somewhere, else the link itself.
Status StatEntry(int dirFd, const char* name, struct stat& st) {
  if (fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return FromErrno(errno);
  if (!S_ISLNK(st.st_mode) || !MayFollow(st)) return 0;
  Walk walk(Handle{dirFd});
  struct stat reached;
  if (walk.ToEntry(name, reached) == 0) st = reached;
  return 0;
}

// Reads on to the next entry whose name fits the pattern; one stat per match.
Status NextMatch(Search& s, FindData& found) {
  for (;;) {
    errno = 0;
    struct dirent* e = readdir(s.dir);
    if (!e) return errno ? FromErrno(errno) : ErrorNoMoreFiles;
    if (!s.pattern.Matches(e->d_name)) continue;
    struct stat st;
    Status looked = StatEntry(dirfd(s.dir), e->d_name, st);
    if (looked == ErrorFileNotFound) continue;  // gone since the listing
    if (looked != 0) return looked;
    FillFindData(e->d_name, st, found);
    return 0;
  }
}

}  // namespace

Status NativePlatform::StartSearch(Handle folder, const std::string& pattern, Handle& search, FindData& found) {
  search = InvalidHandle;
  if (pattern.size() > MaxPathBytes) return ErrorFilenameExcedRange;
  std::string last(LastName(pattern));
  if (last.empty()) return ErrorFileNotFound;
  // A held folder is the one listed, whatever the pattern's path points to now.
  const bool held = folder != CurrentFolder;
  // A name without wildcards is one look-up, never a scan of its directory.
  if (last.find_first_of("*?") == std::string::npos) {
    Status st = held ? LookUp(folder, last, found) : LookUp(folder, pattern, found);
    if (st == 0) search = reinterpret_cast<Handle>(new Search);
    return st;
  }
  Walk walk(folder);
  int e = held ? 0 : walk.To(pattern, Through::AllButLast);
  if (e != 0) return walk.StatusOf(e, FailedAt::Way, Asker::Search);
  int fd = openat(walk.dir(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* dir = fd >= 0 ? fdopendir(fd) : nullptr;
  if (!dir) {
    Status st = FromErrno(errno);
    if (fd >= 0) close(fd);
    return st;
  }
  auto* s = new Search;
  s->dir = dir;
  s->pattern = NamePattern(last, SystemCharLength);
  return HandOutSearch(s, NextMatch(*s, found), search, [](Search& r) { closedir(r.dir); });
}

Status NativePlatform::ContinueSearch(Handle search, FindData& found) {
  auto* s = SearchRecord<Search>(search);
  if (!s) return ErrorInvalidHandle;
  if (!s->dir) return ErrorNoMoreFiles;  // a single name looked up
  return NextMatch(*s, found);
}

Status NativePlatform::EndSearch(Handle search) {
  auto* s = SearchRecord<Search>(search);
  if (!s) return ErrorInvalidHandle;
  if (s->dir) closedir(s->dir);
  delete s;
  return 0;
}

Status NativePlatform::LookUp(Handle folder, const std::string& name, FindData& found) {
  if (name.size() > MaxPathBytes) return ErrorFilenameExcedRange;
  Walk walk(folder);
  struct stat st;
  int e = walk.ToEntry(name, st);
  if (e != 0) return walk.StatusOf(e, FailedAt::Way, Asker::Search);
  FillFindData(std::string(LastName(name)), st, found);
  return 0;
}

}  // namespace os
