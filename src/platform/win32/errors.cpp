// NTSTATUS to the Win32 numbers that the *A calls give for the same failure.
#include "platform/win32/internal.h"

namespace os {

Status FromNtStatus(LONG status) {
  if (nt::Succeeded(status)) return 0;
  if (status == nt::FileIsADirectory) return ErrorAccessDenied;  // as CreateFileA answers for a folder
  if (status == nt::NotADirectory) return ErrorPathNotFound;     // a file where a folder should be
  return Status(nt::RtlNtStatusToDosError(status));
}

}  // namespace os
