// errno to Win32 error numbers, and the name checks that tell Windows' "file
// not found" from "path not found" where Linux has ENOENT for both.
#include <sys/stat.h>

#include <cerrno>

#include "platform/posix_internal.h"

namespace os::posix {

Status FromErrno(int e) {
  switch (e) {
    case 0: return 0;
    case ENOENT: return ErrorFileNotFound;
    case ENOTDIR: case ELOOP: return ErrorPathNotFound;
    case EACCES: case EPERM: case EISDIR: case EROFS: case ETXTBSY: case ENXIO: case ENODEV: return ErrorAccessDenied;
    case EMFILE: case ENFILE: return ErrorTooManyOpenFiles;
    case EBADF: return ErrorInvalidHandle;
    case ENOMEM: return ErrorNotEnoughMemory;
    case EBUSY: return ErrorSharingViolation;
    case EINVAL: return ErrorInvalidParameter;
    case EPIPE: return ErrorNoData;
    case ENOSPC: case EDQUOT: case EFBIG: return ErrorDiskFull;
    case EEXIST: return ErrorAlreadyExists;
    case ENOTEMPTY: return ErrorDirNotEmpty;
    case ENAMETOOLONG: return ErrorFilenameExcedRange;
    case EIO: return ErrorIoDevice;
    default: return ErrorGeneric;
  }
}

Status MissingNameStatus(const std::string& name) {
  struct stat st;
  if (name.empty()) return ErrorPathNotFound;
  if (stat(ParentOf(name).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return ErrorPathNotFound;
  return ErrorFileNotFound;
}

Status NotDirectoryStatus(const std::string& dir) {
  struct stat st;
  return (stat(dir.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) ? ErrorInvalidName : ErrorPathNotFound;
}

Status NameStatus(int e, const std::string& name) {
  return e == ENOENT ? MissingNameStatus(name) : FromErrno(e);
}

}  // namespace os::posix
