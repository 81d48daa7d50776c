// The process: start-up, the arguments, the console, the clock and the texts.
#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "platform/command_line.h"
#include "platform/image_header.h"
#include "platform/win32/internal.h"

namespace os {

namespace {

const Conventions rules = {
    '\\', "\\:/", "\r\n",
    false,  // console text is in the OEM code page
    MaxPathBytes,
    {"", ""}, "",  // only "/?" asks for the usage screen; anything else is a pattern
    false,         // the command line reaches the program as typed: no shell expands a pattern
};

}  // namespace

void NativePlatform::Start(int, char**) {
  // Faults are reported by the program itself; no system crash dialog.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
}

const Conventions& NativePlatform::Rules() { return rules; }

// Windows hands the program one command line, which the program splits
// itself. It is read in UTF-16, where nothing is lost, and each argument is
// given in the ANSI code page as the *A calls take names.
namespace {

std::string ToAnsi(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string narrow(std::size_t(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_ACP, 0, wide.data(), int(wide.size()), narrow.data(), n, nullptr, nullptr);
  return narrow;
}

// Converted there and back: the flags that report a lost character are not
// taken when the code page is UTF-8, and this tells on every code page.
bool HeldExactly(const std::wstring& wide, const std::string& narrow) {
  if (wide.empty()) return true;
  const int n = MultiByteToWideChar(CP_ACP, 0, narrow.data(), int(narrow.size()), nullptr, 0);
  if (n <= 0) return false;
  std::wstring back(std::size_t(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, narrow.data(), int(narrow.size()), back.data(), n);
  return back == wide;
}

}  // namespace

std::vector<std::string> NativePlatform::Arguments() {
  const std::wstring_view line = GetCommandLineW();
  std::vector<std::string> arguments;
  for (int32_t i = 1, n = CountArguments(line); i <= n; ++i) arguments.push_back(ToAnsi(ArgumentOf(line, i)));
  return arguments;
}

int32_t NativePlatform::InexactArgument() {
  const std::wstring_view line = GetCommandLineW();
  for (int32_t i = 1, n = CountArguments(line); i <= n; ++i) {
    const std::wstring wide = ArgumentOf(line, i);
    if (!HeldExactly(wide, ToAnsi(wide))) return i;
  }
  return 0;
}

// Windows marks console programs in the executable's header. The whole path,
// not argument 0: a path cut to 255 bytes would name no file. A program that
// cannot read its own file is taken for what it ships as, a console program:
// a failure report in a message box would wait for a click that no scheduled
// task gives.
bool NativePlatform::MarkedAsConsoleProgram() {
  std::string path;
  return Sys().ModuleFileName(path) != 0 || ReadImageMark(path) != ImageMark::Other;
}

std::size_t NativePlatform::CharLength(std::string_view text) {
  if (text.empty()) return 0;
  return text.size() >= 2 && IsDBCSLeadByteEx(CP_ACP, BYTE(text[0])) ? 2 : 1;
}

Status NativePlatform::ModuleFileName(std::string& path) {
  char buffer[MAX_PATH + 1];
  DWORD n = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  if (n == 0) return LastError();
  path.assign(buffer, n);
  return 0;
}

Handle NativePlatform::StdHandle(StdStream which) {
  DWORD id = which == StdStream::Input ? STD_INPUT_HANDLE : which == StdStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
  return FromH(GetStdHandle(id));
}

bool NativePlatform::IsTerminal(Handle h) {
  DWORD mode;
  return GetConsoleMode(H(h), &mode) != 0;
}

DeviceClass NativePlatform::HandleDeviceClass(Handle h) {
  switch (GetFileType(H(h))) {
    case FILE_TYPE_CHAR: return DeviceClass::Character;
    case FILE_TYPE_PIPE: return DeviceClass::Pipe;
    default: return DeviceClass::Disk;
  }
}

LocalDate NativePlatform::Today() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return LocalDate{t.wYear, t.wMonth, t.wDay};
}

namespace {

// One piece of text to the OEM code page, in place, when its converted form
// takes as many bytes; false otherwise. A character that the page lacks
// becomes '?', never a near one: best fit would make a look-alike of a letter,
// or a control byte (U+2022 to BEL in 437).
bool ToOemInPlace(char* bytes, std::size_t count) {
  wchar_t wide[256];
  char oem[512];
  const int w = MultiByteToWideChar(CP_ACP, 0, bytes, int(count), wide, int(std::size(wide)));
  if (w <= 0) return false;
  const UINT page = GetOEMCP();
  const int n = WideCharToMultiByte(page, page == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS, wide, w, oem, int(sizeof oem),
                                    page == CP_UTF8 ? nullptr : "?", nullptr);
  if (n != int(count)) return false;
  memcpy(bytes, oem, count);
  return true;
}

}  // namespace

void NativePlatform::AnsiToOem(char* bytes, std::size_t count) {
  // A character at a time where the whole piece changes length, and '?' for
  // each byte of a character whose form differs in length.
  for (std::size_t at = 0; at < count;) {
    std::size_t piece = 0;  // whole characters only: half of one would convert to something else
    for (std::size_t c; at + piece < count && piece + (c = CharLength(std::string_view(bytes + at + piece, count - at - piece))) <= 128;)
      piece += c;
    if (ToOemInPlace(bytes + at, piece)) {
      at += piece;
      continue;
    }
    const std::size_t n = CharLength(std::string_view(bytes + at, count - at));
    if (!ToOemInPlace(bytes + at, n)) memset(bytes + at, '?', n);
    at += n;
  }
}

std::size_t NativePlatform::LoadText(uint32_t id, char* buffer, std::size_t size) {
  if (size == 0) return 0;
  int n = LoadStringA(GetModuleHandleA(nullptr), id, buffer, int(size));
  if (n <= 0) {
    buffer[0] = 0;
    return 0;
  }
  return std::size_t(n);
}

void NativePlatform::ShowMessage(const char* text, const char* caption, uint32_t style) {
  MessageBoxA(nullptr, text, caption, style);
}

void NativePlatform::ExitProcess(int32_t code) { ::ExitProcess(UINT(code)); }

uint64_t NativePlatform::MonotonicMilliseconds() { return GetTickCount64(); }

Platform& Native() {
  static NativePlatform platform;
  return platform;
}

}  // namespace os
