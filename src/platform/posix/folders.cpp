// Held folders: opened along a walk (paths.cpp) or made one level below a
// held folder, and flushed so that their new entries are durable.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/posix/internal.h"

namespace os {

namespace {

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

}  // namespace

Status NativePlatform::OpenFolder(Handle parent, const std::string& name, Handle& out) {
  if (name.size() > MaxPathBytes) return ErrorFilenameExcedRange;
  Walk walk(parent);
  int e = walk.To(name, Through::All);
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
Status NativePlatform::CreateFolder(Handle parent, const std::string& name, Handle& out) {
  if (name.size() > MaxPathBytes) return ErrorFilenameExcedRange;
  Walk walk(parent);
  int e = walk.To(name, Through::AllButLast);
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

Status NativePlatform::FlushFolder(Handle folder) {
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

// Linux takes every name as it is.
Status NativePlatform::TypedName(const std::string& path, std::string& name) {
  name = std::string(LastName(path));
  return 0;
}

}  // namespace os
