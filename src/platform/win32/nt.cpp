// Names relative to a held folder, through ntdll: the conversion of a name
// between the ANSI code page and UTF-16, and the open and look-up by a name
// relative to a folder handle.
#include "platform/win32/internal.h"

namespace os {

namespace {

constexpr int MaxNtNameChars = 32767;

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

}  // namespace os
