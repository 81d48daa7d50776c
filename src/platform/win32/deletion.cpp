// The deletion of an original, by its handle: opened again sharing no
// writing, so that no other program can write it while it is open and none
// holds it open for writing; its identity and state are compared with the
// state it was copied in, and it is marked for deletion through that handle.
//
// What remains: on FAT and exFAT volumes the last write time counts in steps
// of two seconds (exFAT: 10 ms at best, as the writer's system keeps it), so
// a write in place that keeps the size, made in the same step as the copy's
// open and before this handle is opened, leaves the stamp as it was, and the
// original is deleted without it.
#include "platform/win32/internal.h"

namespace os {

// The copy's own handle, which can write, is not held: the caller closes it
// before the deletion opens the file again. That handle shares no writing,
// so while it is open no other program can write the file, and none holds it
// open for writing; the state compared is the state deleted when it closes.
// Delete access is never held during the copy: a writer that shares reading
// and writing but not deletion could not open its own log. A link is opened
// as itself and it is what goes; the state compared is its target's, which
// the copy was read from. Nothing is ever left under another name here:
// `keptAs` stays empty.
Status NativePlatform::HoldForDeletion(Handle&, bool& held) {
  held = false;
  return 0;
}

Status NativePlatform::DeleteIfUnchanged(const Original& original, std::string& keptAs, Status& closed) {
  keptAs.clear();
  closed = original.held == InvalidHandle ? 0 : CloseFile(original.held);
  if (closed != 0) return closed;
  const ACCESS_MASK access = DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_DELETE;
  const std::string& name = original.name;
  HANDLE h = INVALID_HANDLE_VALUE;
  const Handle folder = original.folder;
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
  if (st == 0 && !(StampFrom(info) == original.opened))
    st = ErrorChangedMeanwhile;
  else if (st == 0 && !SetFileInformationByHandle(h, FileDispositionInfo, &dispose, sizeof dispose))
    st = LastError();
  if (!CloseHandle(h) && st == 0) st = LastError();
  return st;
}

}  // namespace os
