// Shared by the files of the POSIX layer (posix/), and by nothing else:
// the path walk, the errno translation and the process facts taken at start.
#pragma once

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <deque>
#include <string>

#include "platform/native.h"

namespace os {

// The longest path that a call by path accepts.
constexpr std::size_t MaxPathBytes = PATH_MAX - 1;

// errno to the Win32 number that the same failure gets on Windows.
Status FromErrno(int e);
// Any write bit: not read-only.
inline bool HasWriteBit(mode_t mode) { return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0; }

// The descriptor that a folder handle stands for; CurrentFolder is AT_FDCWD.
inline int FolderFd(Handle folder) { return folder == CurrentFolder ? AT_FDCWD : int(folder); }

// Whether a symbolic link may be followed: root's or the effective user's.
bool MayFollow(const struct stat& link);

enum class Through { AllButLast, All };
enum class FailedAt { Way, Name };  // on the way to the name, or at the name itself
enum class Asker { Call, Search };

// A walk along a path from a folder, a name at a time (paths.cpp): the
// folder it has reached and, unless it went to the folder itself, a name in it.
class Walk {
 public:
  explicit Walk(Handle from) : dir_(FolderFd(from)) {}
  ~Walk();
  Walk(const Walk&) = delete;
  Walk& operator=(const Walk&) = delete;

  // Through every name of `path`, or all but the last; 0 or an errno (ELOOP
  // for a link that may not be followed).
  int To(const std::string& path, Through names);
  // To the entry that `path` names, following its last name too while that is
  // a link that may be followed to an entry that exists; `st` describes what
  // was reached (the folder itself for "" or ".").
  int ToEntry(const std::string& path, struct stat& st);

  int dir() const { return dir_; }
  const std::string& name() const { return name_; }
  // The folder reached, as a descriptor of the caller's own.
  int Release();
  // Describes the folder reached; 0 or an errno.
  int StatFolder(struct stat& st) const;
  // The Win32 number of an errno from the walk or from a call on its name:
  // ENOENT is "file not found" only at the name itself (a call on name()
  // tells so with FailedAt::Name), and a search calls a file in the place of
  // the name's own folder an invalid name.
  Status StatusOf(int e, FailedAt where = FailedAt::Way, Asker asker = Asker::Call) const;

 private:
  Walk(int dir, int links) : dir_(dir), links_(links) {}
  void Enter(int fd);
  int ReadAllowedLink(const std::string& name, std::string& target);
  bool Splice(const std::string& target, std::deque<std::string>& names);

  int dir_;
  bool owned_ = false;
  bool fromRoot_ = false;  // dir_ is AT_FDCWD, standing for "/": names go by their full path
  int links_ = 0;
  std::string name_;
  bool atName_ = false;        // the walk stopped at the name itself
  bool atNamesFolder_ = false;  // ... at the folder that holds it
};

// fcntl with a lease command (F_SETLEASE, F_GETLEASE) and its argument; a test
// puts its own in place to refuse a lease, or to act while one is held.
extern int (*leaseControl)(int fd, int command, int argument);
// A file that standard output or error is redirected to: never deleted.
bool IsOwnStandardStream(const struct stat& st);
// What DeleteFileA refuses (0 when nothing): a folder, a read-only file, our own output.
Status RefusedDeletion(const struct stat& st);
FileStamp StampFrom(const struct stat& st);
// Renames, never over another file: 0, EEXIST when `to` is taken, or another errno.
int RenameWithoutReplacing(int fromDir, const std::string& from, int toDir, const std::string& to);
// `same` is another descriptor of the file that `opened` opened: the look
// taken at that open stands for it too.
void NoteSameFile(int opened, int same);
// Writes on after a partial transfer until `count` bytes are written.
Status WriteAll(int fd, const char* bytes, uint32_t count, uint32_t& done);

// The program's own path, taken from /proc at start; empty when unknown.
extern std::string programPath;
// Takes the umask and the files that standard output and error go to, once at start.
void NoteProcessFiles();

}  // namespace os
