// Files: open, create, read, write, flush, close, rename, delete. A name in a
// held folder goes through NtCreateFile relative to the folder's handle
// (nt.cpp), so that what the run makes, renames or deletes stays
// in the folder that it opened; CurrentFolder keeps the Win32 path calls.
//
// Virus scanners and indexers open each new file for a moment, often sharing
// no deletion. A refusal on the files the run makes itself (creating a
// working copy, flushing it, renaming it when it is complete) is therefore
// waited out for a few seconds before it counts as a failure; the deletion of
// an original is not, as a refusal there means that someone holds it.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include "platform/win32/internal.h"

namespace os {

namespace {

// The waits between tries, in milliseconds, about 3 s in all. Counted rather
// than timed, so that a test that makes Sleep return at once waits no longer.
constexpr DWORD ScannerWaits[] = {10, 20, 40, 80, 160, 320, 640, 640, 640, 450};

template <class Call>
Status WaitingOutScanners(Call call) {
  Status st = call();
  for (DWORD wait : ScannerWaits) {
    if (st != ErrorSharingViolation && st != ErrorAccessDenied) break;
    Sleep(wait);
    st = call();
  }
  return st;
}

// CreateFileA adds these to what is asked for: a handle for writing alone must
// still tell its stamp, and synchronous I/O waits on the handle.
constexpr ACCESS_MASK ImpliedAccess = SYNCHRONIZE | FILE_READ_ATTRIBUTES;

Status OpenWith(Handle folder, const std::string& name, uint32_t access, uint32_t share, DWORD disposition,
                ULONG ntDisposition, Handle& out) {
  HANDLE h = INVALID_HANDLE_VALUE;
  if (IsHeld(folder)) {
    Status st = OpenRelative(folder, name, access | ImpliedAccess, share, ntDisposition, nt::NonDirectoryFile, h);
    // CreateFileA's answer for a name that is taken, where NtCreateFile says "collision".
    if (st == ErrorAlreadyExists && disposition == CREATE_NEW) st = ErrorFileExists;
    if (st != 0) return st;
  } else {
    if (name.size() > MaxPathBytes) return ErrorFilenameExcedRange;
    SECURITY_ATTRIBUTES sa{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    h = CreateFileA(name.c_str(), access, share, &sa, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return LastError();
  }
  out = FromH(h);
  return 0;
}

}  // namespace

FileStamp StampFrom(const BY_HANDLE_FILE_INFORMATION& info) {
  FileStamp stamp;
  stamp.volume = info.dwVolumeSerialNumber;
  stamp.index = uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
  stamp.size = uint64_t(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
  stamp.writeTime = uint64_t(info.ftLastWriteTime.dwHighDateTime) << 32 | info.ftLastWriteTime.dwLowDateTime;
  return stamp;
}

namespace {

// A file in a held folder is opened as itself first. A link is read through
// only when its owner is trusted, and stays open meanwhile, sharing no
// deletion, so that the name still names the link that was checked. A name
// that leads elsewhere without showing a link (Wine shows a Linux link as its
// target) is not opened at all: neither its owner nor the link itself can be
// seen, and a deletion would reach the target.
Status OpenExistingHeld(Handle folder, const std::string& name, uint32_t access, uint32_t share, Handle& out) {
  HANDLE entry;
  Status st = OpenRelative(folder, name, access | ImpliedAccess | READ_CONTROL, share, nt::FileOpen,
                           nt::NonDirectoryFile | nt::OpenReparsePoint, entry);
  if (st != 0) return st;
  if (KindOf(entry) != Kind::Link) {
    if (IsEntryOf(folder, name, entry)) {
      out = FromH(entry);
      return 0;
    }
    CloseHandle(entry);
    return ErrorFileNotFound;
  }
  HANDLE target = INVALID_HANDLE_VALUE;
  st = MayFollow(entry) ? OpenRelative(folder, name, access | ImpliedAccess, share, nt::FileOpen, nt::NonDirectoryFile, target)
                        : ErrorFileNotFound;
  CloseHandle(entry);
  if (st == 0) out = FromH(target);
  return st;
}

}  // namespace

Status NativePlatform::OpenFile(Handle folder, const std::string& name, uint32_t access, uint32_t share, Handle& out,
                               FileStamp* openedAs) {
  Status st = IsHeld(folder) ? OpenExistingHeld(folder, name, access, share, out)
                             : OpenWith(folder, name, access, share, OPEN_EXISTING, nt::FileOpen, out);
  if (st != 0 || !openedAs) return st;
  st = StampOf(out, *openedAs);
  if (st != 0) CloseHandle(H(out));
  return st;
}

Status NativePlatform::CreateFile(Handle folder, const std::string& name, uint32_t access, uint32_t share, Handle& out) {
  return OpenWith(folder, name, access, share, CREATE_ALWAYS, nt::FileOverwriteIf, out);
}

Status NativePlatform::CreateNewFile(Handle folder, const std::string& name, uint32_t access, uint32_t share,
                                    Handle& out) {
  return WaitingOutScanners([&] { return OpenWith(folder, name, access, share, CREATE_NEW, nt::FileCreate, out); });
}

Status NativePlatform::SetPosition(Handle h, int64_t distance, MoveMethod method, uint64_t& position) {
  LARGE_INTEGER move, result;
  move.QuadPart = distance;
  if (!SetFilePointerEx(H(h), move, &result, DWORD(method))) return LastError();
  position = uint64_t(result.QuadPart);
  return 0;
}

Status NativePlatform::ReadFile(Handle h, void* buffer, uint32_t count, uint32_t& done) {
  DWORD n = 0;
  BOOL ok = ::ReadFile(H(h), buffer, count, &n, nullptr);
  done = n;
  return ok ? 0 : LastError();
}

Status NativePlatform::WriteFile(Handle h, const void* buffer, uint32_t count, uint32_t& done) {
  DWORD n = 0;
  BOOL ok = ::WriteFile(H(h), buffer, count, &n, nullptr);
  done = n;
  return ok ? 0 : LastError();
}

Status NativePlatform::FlushFile(Handle h) {
  return WaitingOutScanners([&] { return FlushFileBuffers(H(h)) ? 0 : LastError(); });
}

// A copy takes the access that its folder passes on. An NTFS sparse file is
// copied with its zeros written out: the copy is not sparse.
Status NativePlatform::CopyAccessRights(Handle, Handle, bool& holes) {
  holes = false;
  return 0;
}

Status NativePlatform::SetFileSize(Handle h, uint64_t size) {
  LARGE_INTEGER at;
  at.QuadPart = int64_t(size);
  if (!SetFilePointerEx(H(h), at, nullptr, FILE_BEGIN) || !SetEndOfFile(H(h))) return LastError();
  return 0;
}

// Never tried again: the handle is closed even when CloseHandle reports a
// failure, and by the next try its number may be another file's.
Status NativePlatform::CloseFile(Handle h) { return CloseHandle(H(h)) ? 0 : LastError(); }

Status NativePlatform::StampOf(Handle h, FileStamp& stamp) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(H(h), &info)) return LastError();
  stamp = StampFrom(info);
  return 0;
}

// As DeleteFileA: the name itself, a link rather than what it names; a
// folder or a read-only file is refused with access denied.
Status NativePlatform::DeleteFile(Handle folder, const std::string& name) {
  if (!IsHeld(folder)) {
    if (name.size() > MaxPathBytes) return ErrorFilenameExcedRange;
    return DeleteFileA(name.c_str()) ? 0 : LastError();
  }
  HANDLE h;
  Status st = OpenRelative(folder, name, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nt::FileOpen,
                           nt::NonDirectoryFile | nt::DeleteOnClose | nt::OpenReparsePoint, h);
  if (st != 0) return st;
  return CloseHandle(h) ? 0 : LastError();
}

namespace {

// Renames the file that `from` names to `to`, both in the held folder, never
// replacing: the file is opened for deletion (a link itself, not what it
// names) and given its new name through its handle. Wine refuses
// SetFileInformationByHandle(FileRenameInfo) (87), and takes no buffer
// shorter than the whole structure, however short the name.
Status RenameRelative(Handle folder, const std::string& from, const std::string& to) {
  std::wstring target;
  Status st = WideName(to, target);
  if (st != 0) return st;
  HANDLE h;
  st = OpenRelative(folder, from, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nt::FileOpen,
                    nt::OpenReparsePoint, h);
  if (st != 0) return st;
  const std::size_t bytes = target.size() * sizeof(WCHAR);
  const std::size_t size = std::max(sizeof(nt::FileRenameInformation), offsetof(nt::FileRenameInformation, FileName) + bytes);
  std::vector<ULONG_PTR> buffer((size + sizeof(ULONG_PTR) - 1) / sizeof(ULONG_PTR));  // aligned for the handle in it
  auto* rename = reinterpret_cast<nt::FileRenameInformation*>(buffer.data());
  rename->ReplaceIfExists = FALSE;
  rename->RootDirectory = H(folder);
  rename->FileNameLength = ULONG(bytes);
  memcpy(rename->FileName, target.data(), bytes);
  nt::IoStatusBlock io{};
  st = FromNtStatus(nt::NtSetInformationFile(h, &io, rename, ULONG(size), nt::FileRenameInformationClass));
  if (!CloseHandle(h) && st == 0) st = LastError();
  return st;
}

}  // namespace

Status NativePlatform::RenameFile(Handle folder, const std::string& from, const std::string& to) {
  if (!IsHeld(folder) && (from.size() > MaxPathBytes || to.size() > MaxPathBytes)) return ErrorFilenameExcedRange;
  return WaitingOutScanners([&] {
    if (IsHeld(folder)) return RenameRelative(folder, from, to);
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) ? 0 : LastError();
  });
}

}  // namespace os
