// Held folders, and names relative to them. A held folder is opened sharing
// no deletion: while the run holds it, no program can rename or delete it, so
// what the run makes in it stays in it. A name in a held folder goes to
// NtCreateFile with the folder as its root, taken literally. (Under Wine,
// Linux processes are held back by none of this: see CreateFolder.)
//
// A reparse point that stands for another place (a junction, a symbolic
// link) is followed only when its owner is the user who runs the program,
// the Administrators group or SYSTEM; another's is a folder that is not
// there. The point itself stays open, sharing no deletion, while it is
// followed by its name, so that name still names the point that was checked.
// What remains: a point that another user may write can have its target
// rewritten between the check and the open, and reparse points further up a
// path given as CurrentFolder are followed as the system follows them.
#include <aclapi.h>

#include <vector>

#include "platform/win32/internal.h"

namespace os {

namespace {

// Enough to open relative to the folder, to list it, to read its attributes and its owner.
constexpr ACCESS_MASK FolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
constexpr DWORD FolderShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

}  // namespace

Kind KindOf(HANDLE h) {
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof tag)) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info)) return Kind::Other;
    tag.FileAttributes = info.dwFileAttributes;
    tag.ReparseTag = IO_REPARSE_TAG_SYMLINK;  // unknown: taken as a link, the careful side
  }
  if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsReparseTagNameSurrogate(tag.ReparseTag))
    return Kind::Link;
  return (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? Kind::Folder : Kind::Other;
}

namespace {

bool IsSid(PSID sid, WELL_KNOWN_SID_TYPE type) {
  BYTE known[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof known;
  return CreateWellKnownSid(type, nullptr, known, &size) && EqualSid(sid, known);
}

// The user that the process runs as, in `buffer`; null when the token cannot tell.
PSID ProcessUser(std::vector<ULONG_PTR>& buffer) {
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  buffer.assign(size / sizeof(ULONG_PTR) + 1, 0);
  const bool ok = GetTokenInformation(token, TokenUser, buffer.data(), DWORD(buffer.size() * sizeof(ULONG_PTR)), &size);
  CloseHandle(token);
  return ok ? reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid : nullptr;
}

}  // namespace

bool TrustedOwner(PSID owner, PSID user) {
  return owner && IsValidSid(owner) &&
         ((user && EqualSid(owner, user)) || IsSid(owner, WinBuiltinAdministratorsSid) || IsSid(owner, WinLocalSystemSid));
}

bool MayFollow(HANDLE link) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(link, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                      &descriptor) != ERROR_SUCCESS)
    return false;
  std::vector<ULONG_PTR> buffer;
  const bool trusted = TrustedOwner(owner, ProcessUser(buffer));
  LocalFree(descriptor);
  return trusted;
}

namespace {

bool FinalPath(HANDLE h, std::wstring& path) {
  path.assign(MAX_PATH, L'\0');
  for (int tries = 0; tries < 2; ++tries) {
    const DWORD n = GetFinalPathNameByHandleW(h, path.data(), DWORD(path.size()), FILE_NAME_NORMALIZED);
    if (n == 0) return false;
    if (n < path.size()) {
      path.resize(n);
      return true;
    }
    path.assign(n, L'\0');
  }
  return false;
}

}  // namespace

// Windows opens a reparse point as itself when asked to; Wine 8 opens a Linux
// link as its target whatever is asked, and shows it nowhere (not in the
// listing's attributes, nor in the file's identity), but the handle's final
// path names where the target lies. A system that cannot tell a final path
// is taken at its word.
bool IsEntryOf(Handle folder, const std::string& name, HANDLE h) {
  std::wstring folderPath, filePath, wide;
  if (!IsHeld(folder) || !FinalPath(H(folder), folderPath) || !FinalPath(h, filePath) || WideName(name, wide) != 0)
    return true;
  if (!folderPath.empty() && folderPath.back() != L'\\') folderPath += L'\\';
  if (filePath.compare(0, folderPath.size(), folderPath) != 0 || filePath.find(L'\\', folderPath.size()) != std::wstring::npos)
    return false;
  const std::wstring_view finalName = std::wstring_view(filePath).substr(folderPath.size());
  auto same = [](std::wstring_view a, std::wstring_view b) {
    return CompareStringOrdinal(a.data(), int(a.size()), b.data(), int(b.size()), TRUE) == CSTR_EQUAL;
  };
  if (same(finalName, wide)) return true;
  // A final path drops the name's trailing dots and spaces, as any Win32 path
  // does: the file is the entry itself unless the shorter name is that file.
  std::string shorter = name;
  while (!shorter.empty() && (shorter.back() == '.' || shorter.back() == ' ')) shorter.pop_back();
  std::wstring shorterWide;
  if (shorter.size() == name.size() || WideName(shorter, shorterWide) != 0 || !same(finalName, shorterWide)) return false;
  HANDLE other;
  if (OpenRelative(folder, shorter, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                   nt::FileOpen, nt::OpenReparsePoint, other) != 0)
    return true;
  BY_HANDLE_FILE_INFORMATION mine, its;
  const bool another = GetFileInformationByHandle(h, &mine) && GetFileInformationByHandle(other, &its) &&
                       !(StampFrom(mine) == StampFrom(its));
  CloseHandle(other);
  return another;
}

namespace {


// The entry that `name` names, as a folder to hold; a reparse point itself
// unless `follow`.
Status OpenEntry(Handle parent, const std::string& name, bool follow, HANDLE& out) {
  if (IsHeld(parent))
    return OpenRelative(parent, name, FolderAccess, FolderShare, nt::FileOpen,
                        nt::DirectoryFile | (follow ? 0 : nt::OpenReparsePoint), out);
  // A delimiter at the end only says "a folder", which the caller checks; a
  // file there would make Windows call the name invalid (123), like one that
  // no folder can hold. A root ("C:\\", "\\") keeps its own.
  auto endsInDelimiter = [](std::string_view p) {
    return !p.empty() && p.back() != ':' && FolderPart(p).size() == p.size();
  };
  std::string_view trimmed = name;
  while (trimmed.size() > 1 && endsInDelimiter(trimmed)) {
    const std::string_view before = trimmed.substr(0, trimmed.size() - 1);
    if (before.back() == ':' || endsInDelimiter(before)) break;
    trimmed = before;
  }
  const std::string path = trimmed.empty() ? "." : std::string(trimmed);
  if (path.size() > MaxPathBytes) return ErrorFilenameExcedRange;
  out = CreateFileA(path.c_str(), FolderAccess, FolderShare, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr);
  return out == INVALID_HANDLE_VALUE ? LastError() : 0;
}

// Whether the entry `name` of the held folder, as the folder's own listing
// shows it now, is the folder that `made` holds, and no reparse point. A
// file system that gives no file numbers in listings, or cannot list so, is
// taken at its word.
bool ListedAs(Handle parent, const std::string& name, HANDLE made) {
  RelativeName mask;
  BY_HANDLE_FILE_INFORMATION info;
  if (mask.Make(parent, name) != 0 || !GetFileInformationByHandle(made, &info)) return false;
  std::vector<ULONGLONG> buffer((sizeof(FILE_ID_BOTH_DIR_INFO) + (MAX_PATH + 1) * sizeof(WCHAR)) / sizeof(ULONGLONG) + 1);
  nt::IoStatusBlock io{};
  nt::Status listing = nt::NtQueryDirectoryFile(H(parent), nullptr, nullptr, nullptr, &io, buffer.data(),
                                                ULONG(buffer.size() * sizeof(ULONGLONG)),
                                                nt::FileIdBothDirectoryInformationClass, TRUE, mask.Name(), TRUE);
  if (listing == nt::NoSuchFile) return false;
  if (!nt::Succeeded(listing)) return true;  // a file system that cannot list so tells nothing
  const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data());
  if ((entry->FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != FILE_ATTRIBUTE_DIRECTORY)
    return false;
  const uint64_t listed = uint64_t(entry->FileId.QuadPart);
  return listed == 0 || listed == UINT64_MAX || listed == (uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow);
}

}  // namespace

Status NativePlatform::OpenFolder(Handle parent, const std::string& name, Handle& out) {
  HANDLE entry;
  Status st = OpenEntry(parent, name, false, entry);
  // A folder is a step of the paths below it: one that is not there is a path not found.
  if (st == ErrorFileNotFound) return ErrorPathNotFound;
  if (st != 0) return st;
  Kind kind = KindOf(entry);
  if (kind == Kind::Link) {
    HANDLE target = INVALID_HANDLE_VALUE;
    st = MayFollow(entry) ? OpenEntry(parent, name, true, target) : ErrorPathNotFound;
    CloseHandle(entry);
    if (st != 0) return st == ErrorFileNotFound ? ErrorPathNotFound : st;
    entry = target;
    kind = KindOf(entry);
  }
  if (kind != Kind::Folder) {  // a file: CreateFileA's backup semantics open files too
    CloseHandle(entry);
    return ErrorPathNotFound;
  }
  out = FromH(entry);
  return 0;
}

// On Windows one NtCreateFile makes the folder and opens it, and nothing can
// come in between. Wine makes it and then opens it by its name, so a Linux
// process can put a link in its place meanwhile; hence the look at the
// parent's own listing, which costs Windows one query.
Status NativePlatform::CreateFolder(Handle parent, const std::string& name, Handle& out) {
  if (!IsHeld(parent)) {
    if (name.size() > MaxPathBytes) return ErrorFilenameExcedRange;
    if (!CreateDirectoryA(name.c_str(), nullptr)) return LastError();
    return OpenFolder(parent, name, out);
  }
  HANDLE h;
  Status st = OpenRelative(parent, name, FolderAccess, FolderShare, nt::FileCreate, nt::DirectoryFile, h);
  if (st != 0) return st;
  if (!ListedAs(parent, name, h)) {
    CloseHandle(h);
    return ErrorPathNotFound;  // another folder in its place: as if the new one were gone
  }
  out = FromH(h);
  return 0;
}

// A flushed file's directory entry is durable on NTFS; nothing more to do.
Status NativePlatform::FlushFolder(Handle) { return 0; }

// Windows' own reading of a typed path: the full path that it makes of it
// names a device by the device's path.
Status NativePlatform::TypedName(const std::string& path, std::string& name) {
  name = std::string(LastName(path));
  char full[MAX_PATH + 1];
  const DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  if (n == 0 || n >= sizeof full) return 0;  // the calls on the path will say why
  const std::string_view resolved(full, n);
  if (resolved.substr(0, 4) == "\\\\.\\") return ErrorPathNotFound;
  name = std::string(LastName(resolved));
  return 0;
}

}  // namespace os
