// The deletion of an original, by its handle: opened again sharing no
// writing, so that no other program can write it while it is open and none
// holds it open for writing; its identity and state are compared with the
// state it was copied in, and it is marked for deletion through that handle.
#include "platform/win32/internal.h"

namespace os {

// The handle shares no writing: while it is open no other program can write
// the file, and none holds it open for writing, so the state compared is the
// state deleted when the handle closes. A link is opened as itself and it is
// what goes; the state compared is its target's, which the copy was read
// from. Nothing is ever left under another name here: `keptAs` stays empty.
Status NativePlatform::DeleteIfUnchanged(Handle folder, const std::string& name, const FileStamp& expected,
                                        std::string& keptAs) {
  keptAs.clear();
  const ACCESS_MASK access = DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_DELETE;
  HANDLE h = INVALID_HANDLE_VALUE;
  if (IsHeld(folder)) {
    Status st = OpenRelative(folder, name, access, share, nt::FileOpen, nt::NonDirectoryFile | nt::OpenReparsePoint, h);
    if (st != 0) return st;
  } else {
    if (name.size() > MaxPathBytes) return ErrorFilenameExcedRange;
    h = CreateFileA(name.c_str(), access, share, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return LastError();
  }
  BY_HANDLE_FILE_INFORMATION info;
  FILE_DISPOSITION_INFO dispose{TRUE};
  Status st = 0;
  if (KindOf(h) == Kind::Link) {
    // Read through the link, sharing everything: only the state is wanted.
    HANDLE target = INVALID_HANDLE_VALUE;
    st = IsHeld(folder) ? OpenRelative(folder, name, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nt::FileOpen, nt::NonDirectoryFile, target)
                        : ErrorChangedMeanwhile;
    if (st == 0) {
      if (!GetFileInformationByHandle(target, &info)) st = LastError();
      CloseHandle(target);
    }
  } else if (IsHeld(folder) && !IsEntryOf(folder, name, h)) {
    st = ErrorChangedMeanwhile;  // a link in its place since the copy, which this system shows as its target
  } else if (!GetFileInformationByHandle(h, &info)) {
    st = LastError();
  }
  if (st == 0 && !(StampFrom(info) == expected))
    st = ErrorChangedMeanwhile;
  else if (st == 0 && !SetFileInformationByHandle(h, FileDispositionInfo, &dispose, sizeof dispose))
    st = LastError();
  if (!CloseHandle(h) && st == 0) st = LastError();
  return st;
}

}  // namespace os
