// The deletion of an original once its copy is safe: DeleteIfUnchanged.
//
// Linux can delete a name but not the file behind a descriptor, and has no
// lock that keeps writers out. So the deletion moves the name aside and looks
// before it unlinks, in this order:
//  1. Open the name in the held folder, read-only, and compare the file with
//     the stamp that the copy took when it opened the original: another file,
//     or one written since in any way (in place, appended, cut), is kept with
//     "changed meanwhile". What DeleteFileA refuses is refused here too: a
//     folder, a read-only file, our own redirected output.
//  2. Take a read lease. The kernel grants one only while no process has the
//     file open for writing (EAGAIN: kept with a sharing violation, as
//     Windows keeps a file that another program writes), and from then on
//     holds back any process that opens the file for writing until the lease
//     goes. Another user's file, and file systems without leases (NFS, some
//     FUSE ones), go on without one.
//  3. With a lease, compare again: a writer may have come and gone between 1 and 2.
//  4. Rename the name aside, to `name.deleting` (`.deleting2`, ...; a short
//     name of our own where that would be too long), never over another file.
//  5. Check that the entry under the aside name is the file that was compared
//     (device and inode). A program that renamed a new file over the name
//     after step 1 (an editor's save, a log rotation) has had that file moved
//     aside instead: it gets its name back, and the answer is "changed meanwhile".
//  6. With the lease: a writer that now waits for it (F_GETLEASE no longer
//     shows ours) gets the file back under its name, kept with a sharing
//     violation. Without one: compare a last time.
//  7. Unlink the aside name.
//  8. Without a lease, look through the descriptor once more: a file written
//     between 6 and 7 is still whole behind it, and is written back under its
//     name.
// A name that goes back but finds itself taken leaves the file under its
// aside name, and `keptAs` says which: every original keeps a name that the
// report gives. A killed run can leave `name.deleting` behind, a whole file
// whose copy is in the archive; a later run lists it like any other.
//
// Windows that remain:
//  - between 5 and 7, a program that renames a file onto the aside name (a
//    name of ours, that no other program has a use for) has that file deleted;
//  - with a lease, a writer whose open looked the name up before step 4 but
//    reaches the kernel's lease check only after step 6: a few instructions;
//  - without a lease, a write after step 8 goes to a file without a name;
//  - a write in place made in the same tick of the file system's clock as the
//    copy's open, to a part that the copy had read already, can leave the
//    stamp as it was: before Linux 6.13 the modification time is coarse (a
//    scheduler tick, 4 ms with HZ=250), and a write that keeps the size
//    changes nothing else in the stamp. Later kernels give a file whose time
//    was looked at (as the open's stamp looks) a fine time at its next write.
// Where the file system cannot rename without replacing, step 4 looks at the
// aside name before a plain rename; only a program that makes that very name
// in that instant could lose a file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/posix/internal.h"

namespace os {

namespace {

constexpr const char* AsideSuffix = ".deleting";
constexpr const char* ShortAsideName = "stowit-original.deleting";
constexpr int MaxAsideAttempts = 100;

int LeaseFcntl(int fd, int command, int argument) { return fcntl(fd, command, argument); }

// A user, or a file system, that cannot have a lease.
bool NoLeaseHere(int e) { return e == EACCES || e == EINVAL || e == ENOLCK || e == EOPNOTSUPP; }

Status CompareStamp(int fd, const FileStamp& expected) {
  struct stat st;
  if (fstat(fd, &st) != 0) return FromErrno(errno);
  return StampFrom(st) == expected ? 0 : ErrorChangedMeanwhile;
}

std::string AsideName(const std::string& name, int attempt) {
  return WorkingName(name, AsideSuffix, ShortAsideName, attempt);
}

// Step 4: `aside` is the name the file lies under now.
Status MoveAside(int dir, const std::string& name, std::string& aside) {
  for (int attempt = 1; attempt <= MaxAsideAttempts; ++attempt) {
    aside = AsideName(name, attempt);
    int e = RenameWithoutReplacing(dir, name, dir, aside);
    if (e == 0) return 0;
    if (e != EEXIST) return FromErrno(e);
  }
  return ErrorAlreadyExists;
}

// Step 5: whether the aside name holds the file that was compared (through a
// link of ours, the file it leads to).
bool HoldsComparedFile(int dir, const std::string& aside, const FileStamp& expected) {
  struct stat st;
  return fstatat(dir, aside.c_str(), &st, 0) == 0 && uint64_t(st.st_dev) == expected.volume &&
         uint64_t(st.st_ino) == expected.index;
}

void PutNameBack(int dir, const std::string& aside, const std::string& name, std::string& keptAs) {
  if (RenameWithoutReplacing(dir, aside, dir, name) != 0) keptAs = aside;
}

// Step 8: the whole content behind `fd`, under its name again, or under an
// aside name when something has taken it.
void WriteBack(int fd, int dir, const std::string& name, mode_t mode, std::string& keptAs) {
  int out = -1;
  for (int attempt = 0; out < 0 && attempt <= MaxAsideAttempts; ++attempt) {
    keptAs = attempt == 0 ? std::string() : AsideName(name, attempt);
    out = openat(dir, (attempt == 0 ? name : keptAs).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY,
                 mode & 07777);
    if (out < 0 && errno != EEXIST) break;
  }
  if (out < 0) {
    keptAs.clear();
    return;
  }
  static char buffer[65536];
  for (off_t at = 0;;) {
    ssize_t n = pread(fd, buffer, sizeof buffer, at);
    if (n < 0 && errno == EINTR) continue;
    uint32_t done = 0;
    if (n <= 0 || WriteAll(out, buffer, uint32_t(n), done) != 0) break;
    at += n;
  }
  fsync(out);
  close(out);
}

// Steps 4 to 8, on the descriptor compared in step 1.
Status DeleteAside(int fd, int dir, const std::string& name, const FileStamp& expected, bool leased,
                   std::string& keptAs) {
  std::string aside;
  Status result = MoveAside(dir, name, aside);
  if (result != 0) return result;
  if (!HoldsComparedFile(dir, aside, expected))
    result = ErrorChangedMeanwhile;
  else if (leased)
    result = leaseControl(fd, F_GETLEASE, 0) == F_RDLCK ? 0 : ErrorSharingViolation;
  else
    result = CompareStamp(fd, expected);
  if (result == 0 && unlinkat(dir, aside.c_str(), 0) != 0) result = FromErrno(errno);
  if (result != 0) {
    PutNameBack(dir, aside, name, keptAs);
    return result;
  }
  struct stat st;
  if (!leased && fstat(fd, &st) == 0 && st.st_nlink == 0 && !(StampFrom(st) == expected)) {
    WriteBack(fd, dir, name, st.st_mode, keptAs);
    return ErrorChangedMeanwhile;
  }
  return 0;
}

// Step 1's open: the name itself, or, where it is a link that may be
// followed, the file that the copy read through it.
int OpenToCompare(Handle folder, const std::string& path, Walk& walk) {
  const int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW;
  int fd = openat(walk.dir(), walk.name().c_str(), flags);
  if (fd >= 0 || errno != ELOOP) return fd;
  Walk target(folder);
  struct stat st;
  int e = target.ToEntry(path, st);
  if (e != 0) return errno = e, -1;
  return openat(target.dir(), target.name().c_str(), flags);
}

}  // namespace

int (*leaseControl)(int fd, int command, int argument) = LeaseFcntl;

Status NativePlatform::DeleteIfUnchanged(Handle folder, const std::string& path, const FileStamp& expected,
                                        std::string& keptAs) {
  keptAs.clear();
  if (path.size() > MaxPathBytes) return ErrorFilenameExcedRange;
  Walk walk(folder);
  int e = walk.To(path, Through::AllButLast);
  if (e != 0) return walk.StatusOf(e);
  int fd = OpenToCompare(folder, path, walk);
  if (fd < 0) return walk.StatusOf(errno, FailedAt::Name);
  struct stat st;
  Status result = fstat(fd, &st) != 0                ? FromErrno(errno)
                  : !(StampFrom(st) == expected)      ? Status(ErrorChangedMeanwhile)
                                                      : RefusedDeletion(st);
  if (result == 0) {
    bool leased = leaseControl(fd, F_SETLEASE, F_RDLCK) == 0;
    if (!leased) result = errno == EAGAIN ? Status(ErrorSharingViolation) : NoLeaseHere(errno) ? 0 : FromErrno(errno);
    if (leased) result = CompareStamp(fd, expected);
    if (result == 0) result = DeleteAside(fd, walk.dir(), walk.name(), expected, leased, keptAs);
    if (leased) leaseControl(fd, F_SETLEASE, F_UNLCK);
  }
  close(fd);
  if (!keptAs.empty()) keptAs.insert(0, FolderPart(path));
  return result;
}

}  // namespace os
