// Files and folders: open, create, read, write, flush, rename, delete, each
// relative to a held folder (posix_paths.cpp walks a path to one). Each call
// keeps the Win32 contract, which can take more than one system call: a name
// is checked to be a plain file before it is opened, read-only holds for
// root, a write goes on until every byte is written, and a rename never
// replaces. The deletion of an original that may have changed meanwhile is
// posix_delete.cpp's.
#include <fcntl.h>
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

// Checks that an open descriptor is a plain file; O_NONBLOCK, which kept its
// open from hanging, changes nothing for a plain file. The same look gives
// the state of the file as it was opened.
Status KeepPlainFile(int fd, Handle& out, FileStamp* openedAs = nullptr) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return ErrorAccessDenied;
  }
  if (openedAs) *openedAs = StampFrom(st);
  out = fd;
  return 0;
}

// The folder a walk reached, opened for reading where it may be read, so that
// it can be listed and flushed; one that may only be entered stays a path handle.
Status HoldFolder(Walk& walk, Handle& out) {
  int path = walk.Release();
  if (path < 0) return FromErrno(errno);
  int fd = openat(path, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  int e = errno;
  if (fd < 0 && e == EACCES) {
    out = path;
    return 0;
  }
  close(path);
  if (fd < 0) return FromErrno(e);
  out = fd;
  return 0;
}

int OpenFlags(uint32_t access) {
  bool read = access & AccessRead, write = access & AccessWrite;
  return (read && write) ? O_RDWR : write ? O_WRONLY : O_RDONLY;
}

}  // namespace

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

// A file system that cannot rename so (some FUSE ones answer EINVAL) gets a
// look at the name first, then a plain rename: only a program that makes a
// file of that very name in that instant could lose it.
int RenameWithoutReplacing(int fromDir, const std::string& from, int toDir, const std::string& to) {
  if (renameat2(fromDir, from.c_str(), toDir, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  struct stat st;
  if (fstatat(toDir, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
  if (errno != ENOENT) return errno;
  return renameat(fromDir, from.c_str(), toDir, to.c_str()) == 0 ? 0 : errno;
}

// What DeleteFileA refuses: a folder, a read-only file, and (as Windows keeps
// a file in place while it is our redirected output) our own output, or every
// later line would go to a file without a name.
Status RefusedDeletion(const struct stat& st) {
  if (S_ISDIR(st.st_mode)) return ErrorAccessDenied;
  if (S_ISREG(st.st_mode) && !HasWriteBit(st.st_mode)) return ErrorAccessDenied;
  if (IsOwnStandardStream(st)) return ErrorSharingViolation;
  return 0;
}

bool IsOwnStandardStream(const struct stat& st) {
  for (const FileIdentity& stream : standardStreams)
    if (stream.known && stream.device == st.st_dev && stream.inode == st.st_ino) return true;
  return false;
}

void NoteProcessFiles() {
  processUmask = umask(0);
  umask(processUmask);
  for (int fd = 1; fd <= 2; ++fd) {
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) standardStreams[fd - 1] = {st.st_dev, st.st_ino, true};
  }
}

// The name is looked at before it is opened, so that no FIFO, socket or
// device is ever opened (it could hang or have side effects); another user's
// link, which the walk does not follow, is refused here.
Status PosixPlatform::OpenFile(Handle folder, const std::string& name, uint32_t access, uint32_t, Handle& out,
                               FileStamp* openedAs) {
  if (name.size() > MaxPathBytes) return ErrorFilenameExcedRange;
  Walk walk(folder);
  struct stat st;
  int e = walk.ToEntry(name, st);
  if (e != 0) return walk.StatusOf(e);
  if (!S_ISREG(st.st_mode)) return ErrorAccessDenied;
  // Read-only holds as on Windows, for root too.
  if ((access & AccessWrite) && !HasWriteBit(st.st_mode)) return ErrorAccessDenied;
  int fd = openat(walk.dir(), walk.name().c_str(), OpenFlags(access) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) return walk.StatusOf(errno, true);
  return KeepPlainFile(fd, out, openedAs);
}

Status PosixPlatform::CreateNewFile(Handle folder, const std::string& name, uint32_t access, uint32_t, Handle& out) {
  if (name.size() > MaxPathBytes) return ErrorFilenameExcedRange;
  Walk walk(folder);
  int e = walk.To(name, false);
  if (e != 0) return walk.StatusOf(e);
  // Private until the caller widens it: a copy must not be readable by more
  // users than its original. O_EXCL follows no link.
  int fd = openat(walk.dir(), walk.name().c_str(), OpenFlags(access) | O_CLOEXEC | O_NOCTTY | O_CREAT | O_EXCL, 0600);
  if (fd < 0) return errno == EEXIST ? ErrorFileExists : walk.StatusOf(errno);
  out = fd;
  return 0;
}

Status PosixPlatform::CreateFile(Handle folder, const std::string& name, uint32_t access, uint32_t share, Handle& out) {
  Status created = CreateNewFile(folder, name, access, share, out);
  if (created != ErrorFileExists) return created;
  // An existing file is emptied, unless it is read-only or no plain file.
  Walk walk(folder);
  struct stat st;
  int e = walk.ToEntry(name, st);
  if (e != 0) return walk.StatusOf(e);
  if (!S_ISREG(st.st_mode) || !HasWriteBit(st.st_mode)) return ErrorAccessDenied;
  int fd = openat(walk.dir(), walk.name().c_str(),
                  OpenFlags(access) | O_CLOEXEC | O_NOCTTY | O_TRUNC | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) return walk.StatusOf(errno, true);
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

Status PosixPlatform::DeleteFile(Handle folder, const std::string& name) {
  if (name.size() > MaxPathBytes) return ErrorFilenameExcedRange;
  Walk walk(folder);
  int e = walk.To(name, false);
  if (e != 0) return walk.StatusOf(e);
  struct stat st;
  if (fstatat(walk.dir(), walk.name().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return walk.StatusOf(errno, true);
  Status refused = RefusedDeletion(st);
  if (refused != 0) return refused;
  return unlinkat(walk.dir(), walk.name().c_str(), 0) == 0 ? 0 : walk.StatusOf(errno, true);
}

Status PosixPlatform::StampOf(Handle h, FileStamp& stamp) {
  struct stat st;
  if (fstat(int(h), &st) != 0) return FromErrno(errno);
  stamp = StampFrom(st);
  return 0;
}

// Without replacing, as a copy must never take another file's place.
Status PosixPlatform::RenameFile(Handle folder, const std::string& from, const std::string& to) {
  if (from.size() > MaxPathBytes || to.size() > MaxPathBytes) return ErrorFilenameExcedRange;
  Walk source(folder), target(folder);
  int e = source.To(from, false);
  if (e != 0) return source.StatusOf(e);
  if ((e = target.To(to, false)) != 0) return target.StatusOf(e);
  e = RenameWithoutReplacing(source.dir(), source.name(), target.dir(), target.name());
  return e == 0 ? 0 : e == EEXIST ? ErrorAlreadyExists : target.StatusOf(e, true);
}

Status PosixPlatform::OpenFolder(Handle parent, const std::string& name, Handle& out) {
  if (name.size() > MaxPathBytes) return ErrorFilenameExcedRange;
  Walk walk(parent);
  int e = walk.To(name, true);
  return e != 0 ? walk.StatusOf(e) : HoldFolder(walk, out);
}

// A folder of ours: made here, and still the folder that was made when it is
// opened. Whoever may write to the parent could swap in a link (never
// followed here) or a folder of their own in between; one that neither this
// user nor the parent's owner owns is refused. A folder of the parent's
// owner is let in: it is no way out of that owner's reach, as nothing is
// followed from it and nothing in it is replaced; and file systems that give
// every entry one owner (a stick mounted for another user, a share that
// maps root to nobody) need it.
Status PosixPlatform::CreateFolder(Handle parent, const std::string& name, Handle& out) {
  if (name.size() > MaxPathBytes) return ErrorFilenameExcedRange;
  Walk walk(parent);
  int e = walk.To(name, false);
  if (e != 0) return walk.StatusOf(e);
  if (walk.name().empty()) return ErrorAlreadyExists;  // "", ".", "/": there already
  const char* last = walk.name().c_str();
  if (mkdirat(walk.dir(), last, 0777) != 0) return errno == EEXIST ? ErrorAlreadyExists : walk.StatusOf(errno);
  int fd = openat(walk.dir(), last, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0 && errno == EACCES) fd = openat(walk.dir(), last, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return ErrorPathNotFound;  // no longer a folder: swapped
  struct stat made, above;
  if (fstat(fd, &made) != 0 || walk.StatFolder(above) != 0 ||
      (made.st_uid != geteuid() && made.st_uid != above.st_uid)) {
    close(fd);
    return ErrorAccessDenied;
  }
  out = fd;
  return 0;
}

Status PosixPlatform::FlushFolder(Handle folder) {
  int fd = FolderFd(folder);
  if (fsync(fd) == 0) return 0;
  int e = errno;
  if (e == EBADF) {  // a path handle, or the working folder: flushed through one opened for reading
    int readable = openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (readable < 0) return FromErrno(errno);
    e = fsync(readable) == 0 ? 0 : errno;
    close(readable);
  }
  // Some file systems cannot sync a folder; they have nothing to flush then.
  return (e == 0 || e == EINVAL) ? 0 : FromErrno(e);
}

}  // namespace os::posix
