// errno to Win32 error numbers. Where Linux has ENOENT for both of Windows'
// "file not found" and "path not found", the walk tells them apart (Walk::StatusOf).
#include <cerrno>

#include "platform/posix/internal.h"

namespace os {

Status FromErrno(int e) {
  switch (e) {
    case 0: return 0;
    case ENOENT: return ErrorFileNotFound;
    case ENOTDIR: return ErrorPathNotFound;
    case ELOOP: return ErrorCantResolveFilename;
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

}  // namespace os
