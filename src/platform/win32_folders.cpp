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

#include "platform/win32_internal.h"

namespace os::win32 {

namespace {

// Enough to open relative to the folder, to list it, to read its attributes and its owner.
constexpr ACCESS_MASK FolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
constexpr DWORD FolderShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr int MaxNtNameChars = 32767;

enum class Kind { Folder, Link, Other };

// A name relative to a held folder, as ntdll takes it.
class RelativeName {
 public:
  Status Make(Handle folder, const std::string& name) {
    Status st = WideName(name, wide_);
    const USHORT bytes = USHORT(wide_.size() * sizeof(wchar_t));
    name_ = {bytes, bytes, wide_.data()};
    attributes_ = {sizeof attributes_, H(folder), &name_, nt::ObjCaseInsensitive, nullptr, nullptr};
    return st;
  }
  nt::ObjectAttributes* Attributes() { return &attributes_; }
  nt::UnicodeString* Name() { return &name_; }

 private:
  std::wstring wide_;
  nt::UnicodeString name_{};
  nt::ObjectAttributes attributes_{};
};

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

bool IsSid(PSID sid, WELL_KNOWN_SID_TYPE type) {
  BYTE known[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof known;
  return CreateWellKnownSid(type, nullptr, known, &size) && EqualSid(sid, known);
}

bool IsProcessUser(PSID sid) {
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<ULONG_PTR> buffer(size / sizeof(ULONG_PTR) + 1);
  bool same = GetTokenInformation(token, TokenUser, buffer.data(), DWORD(buffer.size() * sizeof(ULONG_PTR)), &size) &&
              EqualSid(sid, reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid);
  CloseHandle(token);
  return same;
}

bool MayFollow(HANDLE link) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(link, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                      &descriptor) != ERROR_SUCCESS)
    return false;
  bool trusted = owner && (IsProcessUser(owner) || IsSid(owner, WinBuiltinAdministratorsSid) ||
                           IsSid(owner, WinLocalSystemSid));
  LocalFree(descriptor);
  return trusted;
}

// The entry that `name` names, as a folder to hold; a reparse point itself
// unless `follow`.
Status OpenEntry(Handle parent, const std::string& name, bool follow, HANDLE& out) {
  if (IsHeld(parent))
    return OpenRelative(parent, name, FolderAccess, FolderShare, nt::FileOpen,
                        nt::DirectoryFile | (follow ? 0 : nt::OpenReparsePoint), out);
  const std::string path = name.empty() ? "." : name;
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

Status WideName(const std::string& name, std::wstring& wide) {
  wide.clear();
  if (name.empty()) return 0;
  int n = MultiByteToWideChar(CP_ACP, 0, name.data(), int(name.size()), nullptr, 0);
  if (n <= 0) return LastError();
  if (n > MaxNtNameChars) return ErrorFilenameExcedRange;
  wide.resize(std::size_t(n));
  MultiByteToWideChar(CP_ACP, 0, name.data(), int(name.size()), wide.data(), n);
  for (wchar_t& c : wide)
    if (c == L'/') c = L'\\';  // as the path calls take it; NT knows only the backslash
  return 0;
}

// Never a look-alike: where the code page lacks a character, the system's
// own conversion may put a near one ('a' for an alpha), and the name would
// then open another file. '?' stands there instead, which no name holds, so
// such a file cannot be opened by its name and is reported as such.
std::string NarrowName(const wchar_t* wide) {
  std::wstring name(wide);
  for (std::size_t i = 0; i < name.size(); ++i) {  // half a surrogate pair is no character at all
    const bool high = IS_HIGH_SURROGATE(name[i]), low = IS_LOW_SURROGATE(name[i]);
    if (high && i + 1 < name.size() && IS_LOW_SURROGATE(name[i + 1]))
      ++i;
    else if (high || low)
      name[i] = L'?';
  }
  if (name.empty()) return {};
  const UINT codePage = GetACP();
  // UTF-8 holds every character, and takes neither the flag nor a default.
  const DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const char* unknown = codePage == CP_UTF8 ? nullptr : "?";
  const int n = WideCharToMultiByte(codePage, flags, name.data(), int(name.size()), nullptr, 0, unknown, nullptr);
  std::string narrow(std::size_t(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(codePage, flags, name.data(), int(name.size()), narrow.data(), n, unknown, nullptr);
  return narrow;
}

Status FromNtStatus(LONG status) {
  if (nt::Succeeded(status)) return 0;
  if (status == nt::FileIsADirectory) return ErrorAccessDenied;  // as CreateFileA answers for a folder
  if (status == nt::NotADirectory) return ErrorPathNotFound;     // a file where a folder should be
  return Status(nt::RtlNtStatusToDosError(status));
}

Status OpenRelative(Handle folder, const std::string& name, ACCESS_MASK access, ULONG share, ULONG disposition,
                    ULONG options, HANDLE& out) {
  RelativeName relative;
  Status st = relative.Make(folder, name);
  if (st != 0) return st;
  nt::IoStatusBlock io{};
  HANDLE h = INVALID_HANDLE_VALUE;
  st = FromNtStatus(nt::NtCreateFile(&h, access | SYNCHRONIZE, relative.Attributes(), &io, nullptr,
                                     FILE_ATTRIBUTE_NORMAL, share, disposition, options | nt::SynchronousIoNonAlert,
                                     nullptr, 0));
  if (st == 0) out = h;
  return st;
}

// Through a handle that asks for the attributes alone, which no sharing
// refuses: Wine 8 looks a relative name up in the working folder in
// NtQueryFullAttributesFile. A reparse point is described itself, as a
// listing shows it.
Status QueryRelative(Handle folder, const std::string& name, BY_HANDLE_FILE_INFORMATION& info) {
  HANDLE h;
  Status st = OpenRelative(folder, name, FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nt::FileOpen,
                           nt::OpenReparsePoint, h);
  if (st != 0) return st;
  if (!GetFileInformationByHandle(h, &info)) st = LastError();
  CloseHandle(h);
  return st;
}

Status Win32Platform::OpenFolder(Handle parent, const std::string& name, Handle& out) {
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
Status Win32Platform::CreateFolder(Handle parent, const std::string& name, Handle& out) {
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
Status Win32Platform::FlushFolder(Handle) { return 0; }

}  // namespace os::win32
