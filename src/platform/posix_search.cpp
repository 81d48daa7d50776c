// The directory search: FindFirstFileA, FindNextFileA and FindClose over
// readdir, names chosen by Windows' own wildcard rules (wildcard.h), and the
// one-name look-up.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

#include <cerrno>

#include "platform/posix_internal.h"
#include "platform/wildcard.h"

namespace os::posix {

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
  NamePattern pattern{""};
};

Status StatEntry(int dirFd, const char* name, struct stat& st) {
  if (fstatat(dirFd, name, &st, 0) == 0) return 0;
  if (fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0) return 0;  // a dangling link
  return FromErrno(errno);
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

Status PosixPlatform::StartSearch(const std::string& pattern, Handle& search, FindData& found) {
  search = InvalidHandle;
  if (pattern.size() > MaxPathBytes) return ErrorFilenameExcedRange;
  std::string last(LastName(pattern));
  if (last.empty()) return ErrorFileNotFound;
  // A name without wildcards is one look-up, never a scan of its directory.
  if (last.find_first_of("*?") == std::string::npos) {
    Status st = LookUp(pattern, found);
    if (st == 0) search = reinterpret_cast<Handle>(new Search);
    return st;
  }
  std::string dir = ParentOf(pattern);
  auto* s = new Search;
  s->dir = opendir(dir.c_str());
  if (!s->dir) {
    int e = errno;
    delete s;
    return e == ENOENT ? ErrorPathNotFound : e == ENOTDIR ? NotDirectoryStatus(dir) : FromErrno(e);
  }
  s->pattern = NamePattern(last);
  Status st = NextMatch(*s, found);
  if (st != 0) {
    closedir(s->dir);
    delete s;
    return st == ErrorNoMoreFiles ? ErrorFileNotFound : st;
  }
  search = reinterpret_cast<Handle>(s);
  return 0;
}

Status PosixPlatform::ContinueSearch(Handle search, FindData& found) {
  auto* s = reinterpret_cast<Search*>(search);
  if (search == InvalidHandle || !s) return ErrorInvalidHandle;
  if (!s->dir) return ErrorNoMoreFiles;  // a single name looked up
  return NextMatch(*s, found);
}

Status PosixPlatform::EndSearch(Handle search) {
  auto* s = reinterpret_cast<Search*>(search);
  if (search == InvalidHandle || !s) return ErrorInvalidHandle;
  if (s->dir) closedir(s->dir);
  delete s;
  return 0;
}

Status PosixPlatform::LookUp(const std::string& name, FindData& found) {
  if (name.size() > MaxPathBytes) return ErrorFilenameExcedRange;
  struct stat st;
  if (StatEntry(AT_FDCWD, name.c_str(), st) != 0)
    return errno == ENOTDIR ? NotDirectoryStatus(ParentOf(name)) : NameStatus(errno, name);
  FillFindData(std::string(LastName(name)), st, found);
  return 0;
}

}  // namespace os::posix
