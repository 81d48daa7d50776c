// Files and folders: open, create, read, write, flush, rename, delete. Each
// call keeps the Win32 contract, which can take more than one system call: a
// name is checked to be a plain file before it is opened, read-only holds for
// root, a write goes on until every byte is written, and a file that another
// program holds open for writing is not deleted.
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/posix_internal.h"

namespace os::posix {

namespace {

constexpr Status ErrorNegativeSeek = 131;  // Win32's number for a seek before the start

mode_t processUmask = 022;

// The files that standard output and error are redirected to, taken once at start.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  bool known = false;
};
FileIdentity standardStreams[2];

bool IsOwnStandardStream(const struct stat& st) {
  for (const FileIdentity& stream : standardStreams)
    if (stream.known && stream.device == st.st_dev && stream.inode == st.st_ino) return true;
  return false;
}

// Checks that an open descriptor is a plain file; O_NONBLOCK, which kept its
// open from hanging, changes nothing for a plain file.
Status KeepPlainFile(int fd, Handle& out) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return ErrorAccessDenied;
  }
  out = fd;
  return 0;
}

int OpenFlags(uint32_t access) {
  bool read = access & AccessRead, write = access & AccessWrite;
  return (read && write) ? O_RDWR : write ? O_WRONLY : O_RDONLY;
}

FileStamp StampFrom(const struct stat& st) {
  FileStamp stamp;
  stamp.volume = uint64_t(st.st_dev);
  stamp.index = uint64_t(st.st_ino);
  stamp.size = uint64_t(st.st_size);
  stamp.writeTime = uint64_t(st.st_mtim.tv_sec) * 1000000000u + uint64_t(st.st_mtim.tv_nsec);
  return stamp;
}

Status WriteAll(int fd, const char* bytes, uint32_t count, uint32_t& done) {
  while (done < count) {
    ssize_t n = write(fd, bytes + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return FromErrno(errno);
    if (n == 0) return ErrorDiskFull;
    done += uint32_t(n);
  }
  return 0;
}

// Writes the whole content behind `fd` to a new file of that name.
Status PutBack(int fd, const std::string& name, mode_t mode) {
  int out = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode & 07777);
  if (out < 0) return FromErrno(errno);
  static char buffer[65536];
  Status st = 0;
  for (off_t at = 0;;) {
    ssize_t n = pread(fd, buffer, sizeof buffer, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n < 0) st = FromErrno(errno);
      break;
    }
    uint32_t done = 0;
    st = WriteAll(out, buffer, uint32_t(n), done);
    if (st != 0) break;
    at += n;
  }
  if (st == 0 && fsync(out) != 0) st = FromErrno(errno);
  close(out);
  return st == 0 ? ErrorChangedMeanwhile : st;
}

Status CompareStamp(int fd, const FileStamp& expected) {
  struct stat st;
  if (fstat(fd, &st) != 0) return FromErrno(errno);
  return StampFrom(st) == expected ? 0 : ErrorChangedMeanwhile;
}

// What DeleteFileA refuses: a folder, a read-only file, and (as Windows keeps
// a file in place while it is our redirected output) our own output, or every
// later line would go to a file without a name.
Status RefusedDeletion(const std::string& name) {
  struct stat st;
  if (lstat(name.c_str(), &st) != 0) return NameStatus(errno, name);
  if (S_ISDIR(st.st_mode)) return ErrorAccessDenied;
  if (S_ISREG(st.st_mode) && !HasWriteBit(st.st_mode)) return ErrorAccessDenied;
  if (IsOwnStandardStream(st)) return ErrorSharingViolation;
  return 0;
}

int LeaseFcntl(int fd, int command, int argument) { return fcntl(fd, command, argument); }

// The kernel tells the holder of a lease with SIGIO that a writer waits, and
// SIGIO would end the process. The state that the deletion looks at is asked
// with F_GETLEASE, so the signal itself is ignored: set before the first lease
// and never taken back, since it may come after the lease is gone.
void IgnoreLeaseBreakSignal() {
  static const bool ignored = signal(SIGIO, SIG_IGN) != SIG_ERR;
  (void)ignored;
}

// A user, or a file system (NFS, some FUSE ones), that cannot have a lease.
bool NoLeaseHere(int e) { return e == EACCES || e == EINVAL || e == ENOLCK || e == EOPNOTSUPP; }

// What an original is called while it is being deleted; a killed run may leave
// it under this name, a whole file, beside the others.
constexpr const char* AsideSuffix = ".deleting";
constexpr int MaxAsideAttempts = 100;

// Renames the file to `name.deleting` (`.deleting2`, ... when taken), never
// over another file. Where no such name can be had (too long, or a file system
// that cannot rename without replacing), `aside` stays `name`.
Status MoveAside(const std::string& name, std::string& aside) {
  for (int attempt = 1; attempt <= MaxAsideAttempts; ++attempt) {
    aside = name + AsideSuffix + (attempt > 1 ? std::to_string(attempt) : "");
    if (renameat2(AT_FDCWD, name.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno == EEXIST) continue;
    if (errno != ENAMETOOLONG && errno != EINVAL && errno != ENOSYS) return NameStatus(errno, name);
    break;
  }
  aside = name;
  return 0;
}

// Unless a file took the name meanwhile: then the original stays whole under the aside name.
void PutNameBack(const std::string& aside, const std::string& name) {
  if (aside != name) renameat2(AT_FDCWD, aside.c_str(), AT_FDCWD, name.c_str(), RENAME_NOREPLACE);
}

// Under a read lease no process has the file open for writing, and one that
// opens it now waits in the kernel until the lease goes, then writes to the
// file it looked up, name or none. So the name moves aside first; then the
// file is unlinked only when no opener waits, else it gets its name back.
Status DeleteUnderLease(int fd, const std::string& name) {
  std::string aside;
  Status st = MoveAside(name, aside);
  if (st != 0) return st;
  if (leaseControl(fd, F_GETLEASE, 0) != F_RDLCK) {
    st = ErrorSharingViolation;
  } else {
    if (unlink(aside.c_str()) == 0) return 0;
    st = NameStatus(errno, aside);
  }
  PutNameBack(aside, name);
  return st;
}

// Without a lease POSIX cannot keep writers out while it looks: it looks,
// unlinks, and looks again through its own descriptor. A file that changed in
// that instant is still whole behind the descriptor and is put back under its name.
Status DeleteLookingAgain(int fd, const std::string& name, const FileStamp& expected) {
  if (unlink(name.c_str()) != 0) return NameStatus(errno, name);
  struct stat st;
  if (fstat(fd, &st) == 0 && st.st_nlink == 0 && !(StampFrom(st) == expected)) return PutBack(fd, name, st.st_mode);
  return 0;
}

}  // namespace

int (*leaseControl)(int fd, int command, int argument) = LeaseFcntl;

void NoteProcessFiles() {
  processUmask = umask(0);
  umask(processUmask);
  for (int fd = 1; fd <= 2; ++fd) {
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) standardStreams[fd - 1] = {st.st_dev, st.st_ino, true};
  }
}

Status PosixPlatform::OpenFile(const std::string& name, uint32_t access, uint32_t, Handle& out) {
  if (name.size() > MaxPathBytes) return ErrorFilenameExcedRange;
  struct stat st;
  if (stat(name.c_str(), &st) != 0) return NameStatus(errno, name);
  // Never open a FIFO, socket or device: it could hang or have side effects.
  if (!S_ISREG(st.st_mode)) return ErrorAccessDenied;
  // Read-only holds as on Windows, for root too.
  if ((access & AccessWrite) && !HasWriteBit(st.st_mode)) return ErrorAccessDenied;
  int fd = open(name.c_str(), OpenFlags(access) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return NameStatus(errno, name);
  return KeepPlainFile(fd, out);
}

Status PosixPlatform::CreateNewFile(const std::string& name, uint32_t access, uint32_t, Handle& out) {
  if (name.size() > MaxPathBytes) return ErrorFilenameExcedRange;
  // Private until the caller widens it: a copy must not be readable by more users than its original.
  int fd = open(name.c_str(), OpenFlags(access) | O_CLOEXEC | O_NOCTTY | O_CREAT | O_EXCL, 0600);
  if (fd < 0) return errno == EEXIST ? ErrorFileExists : NameStatus(errno, name);
  out = fd;
  return 0;
}

Status PosixPlatform::CreateFile(const std::string& name, uint32_t access, uint32_t share, Handle& out) {
  Status created = CreateNewFile(name, access, share, out);
  if (created != ErrorFileExists) return created;
  // An existing file is emptied, unless it is read-only or no plain file.
  struct stat st;
  if (stat(name.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) return ErrorAccessDenied;
    if (!HasWriteBit(st.st_mode)) return ErrorAccessDenied;
  }
  int fd = open(name.c_str(), OpenFlags(access) | O_CLOEXEC | O_NOCTTY | O_CREAT | O_TRUNC | O_NONBLOCK, 0600);
  if (fd < 0) return NameStatus(errno, name);
  return KeepPlainFile(fd, out);
}

Status PosixPlatform::SetPosition(Handle h, int64_t distance, MoveMethod method, uint64_t& position) {
  int whence = method == MoveMethod::Begin ? SEEK_SET : method == MoveMethod::Current ? SEEK_CUR : SEEK_END;
  off_t result = lseek(int(h), off_t(distance), whence);
  if (result < 0) return errno == EINVAL ? ErrorNegativeSeek : FromErrno(errno);
  position = uint64_t(result);
  return 0;
}

Status PosixPlatform::ReadFile(Handle h, void* buffer, uint32_t count, uint32_t& done) {
  done = 0;
  ssize_t n;
  do n = read(int(h), buffer, count); while (n < 0 && errno == EINTR);
  if (n < 0) return FromErrno(errno);
  done = uint32_t(n);
  return 0;
}

// Writes on after a partial transfer, as Windows' WriteFile does for files
// and consoles: a short count would otherwise cut a line or a copy silently.
Status PosixPlatform::WriteFile(Handle h, const void* buffer, uint32_t count, uint32_t& done) {
  done = 0;
  return WriteAll(int(h), static_cast<const char*>(buffer), count, done);
}

Status PosixPlatform::FlushFile(Handle h) { return fdatasync(int(h)) == 0 ? 0 : FromErrno(errno); }

Status PosixPlatform::CopyAccessRights(Handle from, Handle to) {
  struct stat st;
  if (fstat(int(from), &st) != 0) return FromErrno(errno);
  return fchmod(int(to), st.st_mode & 0777 & ~processUmask) == 0 ? 0 : FromErrno(errno);
}

Status PosixPlatform::CloseFile(Handle h) {
  if (close(int(h)) == 0 || errno == EINTR) return 0;
  return FromErrno(errno);
}

Status PosixPlatform::DeleteFile(const std::string& name) {
  if (name.size() > MaxPathBytes) return ErrorFilenameExcedRange;
  Status refused = RefusedDeletion(name);
  if (refused != 0) return refused;
  return unlink(name.c_str()) == 0 ? 0 : NameStatus(errno, name);
}

Status PosixPlatform::StampOf(Handle h, FileStamp& stamp) {
  struct stat st;
  if (fstat(int(h), &st) != 0) return FromErrno(errno);
  stamp = StampFrom(st);
  return 0;
}

// Windows refuses to delete a file that another program holds open for
// writing; here a read lease, which the kernel grants only while no process
// has the file open for writing or mapped writable, tells the same. Our own
// descriptors on the file are closed by now, or the lease would be refused for them.
Status PosixPlatform::DeleteIfUnchanged(const std::string& name, const FileStamp& expected) {
  if (name.size() > MaxPathBytes) return ErrorFilenameExcedRange;
  int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return NameStatus(errno, name);
  Status result = CompareStamp(fd, expected);
  if (result == 0) result = RefusedDeletion(name);
  if (result == 0) {
    IgnoreLeaseBreakSignal();
    if (leaseControl(fd, F_SETLEASE, F_RDLCK) == 0) {
      // A writer may have come and gone between the comparison and the lease.
      result = CompareStamp(fd, expected);
      if (result == 0) result = DeleteUnderLease(fd, name);
      leaseControl(fd, F_SETLEASE, F_UNLCK);
    } else {
      int e = errno;
      result = e == EAGAIN      ? Status(ErrorSharingViolation)
               : NoLeaseHere(e) ? DeleteLookingAgain(fd, name, expected)
                                : FromErrno(e);
    }
  }
  close(fd);
  return result;
}

Status PosixPlatform::RenameFile(const std::string& from, const std::string& to) {
  if (from.size() > MaxPathBytes || to.size() > MaxPathBytes) return ErrorFilenameExcedRange;
  return rename(from.c_str(), to.c_str()) == 0 ? 0 : NameStatus(errno, to);
}

Status PosixPlatform::CreateDirectory(const std::string& name) {
  if (name.size() > MaxPathBytes) return ErrorFilenameExcedRange;
  if (mkdir(name.c_str(), 0777) == 0) return 0;
  return errno == ENOENT ? ErrorPathNotFound : FromErrno(errno);
}

Status PosixPlatform::FlushDirectory(const std::string& name) {
  int fd = open(name.empty() ? "." : name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return NameStatus(errno, name);
  int rc = fsync(fd);
  int e = errno;
  close(fd);
  // Some file systems cannot sync a directory; they have nothing to flush then.
  return (rc == 0 || e == EINVAL) ? 0 : FromErrno(e);
}

}  // namespace os::posix
