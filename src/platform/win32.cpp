// The real kernel32 and user32 calls: the process, the console, the clock,
// the texts and the faults here; files and folders in win32_files.cpp and
// win32_folders.cpp, the search in win32_search.cpp. Each wrapper makes one
// call, or the few that one operation needs, and returns 0 or GetLastError().
#include <cstring>
#include <string>

#include "platform/command_line.h"
#include "platform/image_header.h"
#include "platform/saved_argv.h"
#include "platform/win32_internal.h"

namespace os {

const char PathDelimiter = '\\';
const char* const LineEnd = "\r\n";
const bool ConsoleTextIsUtf8 = false;
const std::size_t MaxPathBytes = MAX_PATH - 1;

bool EndsDirectoryPart(char c) { return c == '\\' || c == ':' || c == '/'; }
bool IsLeadByte(char c) { return IsDBCSLeadByteEx(CP_ACP, BYTE(c)); }

// Windows hands the program one command line, which the program splits itself.
int32_t ArgumentCount() { return CountArguments(Sys().CommandLine()); }
std::string ArgumentAt(int32_t index) { return index > 0 ? ArgumentOf(Sys().CommandLine(), index) : std::string(); }

// Windows marks console programs in the executable's header. The whole path,
// not argument 0: a path cut to 255 bytes would name no file. A program that
// cannot read its own file is taken for what it ships as, a console program:
// a failure report in a message box would wait for a click that no scheduled
// task gives.
bool IsConsoleProgram() {
  std::string path;
  return Sys().ModuleFileName(path) != 0 || ReadImageMark(path) != ImageMark::Other;
}

// Only "/?" asks for the usage screen; anything else is a pattern.
bool IsHelpSwitch(std::string_view) { return false; }
bool IsVersionSwitch(std::string_view) { return false; }

// The command line reaches the program as typed: no shell expands a pattern.
bool ShellMayHaveExpanded() { return false; }

namespace win32 {

namespace {

FaultHandler faultHandler = nullptr;

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  FaultInfo fault;
  fault.code = record->ExceptionCode;
  fault.address = reinterpret_cast<uintptr_t>(record->ExceptionAddress);
  if (record->NumberParameters >= 2) {
    fault.info[0] = record->ExceptionInformation[0];
    fault.info[1] = record->ExceptionInformation[1];
  }
  if (faultHandler) faultHandler(fault);
  ::ExitProcess(1);
}

FaultInfo overflow;

DWORD WINAPI ReportOverflow(void*) {
  if (faultHandler) faultHandler(overflow);
  ::ExitProcess(1);
}

// A stack overflow leaves too little stack to report it on: the report is made
// on a thread of its own while the overflowed one waits. Other codes are left
// to whatever handles them further on.
LONG WINAPI OnStackOverflow(EXCEPTION_POINTERS* pointers) {
  if (pointers->ExceptionRecord->ExceptionCode != EXCEPTION_STACK_OVERFLOW) return EXCEPTION_CONTINUE_SEARCH;
  overflow.code = EXCEPTION_STACK_OVERFLOW;
  overflow.address = reinterpret_cast<uintptr_t>(pointers->ExceptionRecord->ExceptionAddress);
  HANDLE thread = CreateThread(nullptr, 256 * 1024, ReportOverflow, nullptr, 0, nullptr);
  if (thread) WaitForSingleObject(thread, INFINITE);
  ::ExitProcess(1);
}

}  // namespace

const char* Win32Platform::CommandLine() { return GetCommandLineA(); }
int Win32Platform::ArgvCount() { return SavedArgvCount(); }
const char* Win32Platform::ArgvAt(int index) { return SavedArgvAt(index); }

Status Win32Platform::ModuleFileName(std::string& path) {
  char buffer[MAX_PATH + 1];
  DWORD n = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  if (n == 0) return LastError();
  path.assign(buffer, n);
  return 0;
}

Handle Win32Platform::StdHandle(StdStream which) {
  DWORD id = which == StdStream::Input ? STD_INPUT_HANDLE : which == StdStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
  return FromH(GetStdHandle(id));
}

bool Win32Platform::IsTerminal(Handle h) {
  DWORD mode;
  return GetConsoleMode(H(h), &mode) != 0;
}

DeviceClass Win32Platform::HandleDeviceClass(Handle h) {
  switch (GetFileType(H(h))) {
    case FILE_TYPE_CHAR: return DeviceClass::Character;
    case FILE_TYPE_PIPE: return DeviceClass::Pipe;
    default: return DeviceClass::Disk;
  }
}

LocalDate Win32Platform::Today() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return LocalDate{t.wYear, t.wMonth, t.wDay};
}

void Win32Platform::AnsiToOem(char* bytes, std::size_t count) {
  if (count) CharToOemBuffA(bytes, bytes, DWORD(count));
}

std::size_t Win32Platform::LoadText(uint32_t id, char* buffer, std::size_t size) {
  if (size == 0) return 0;
  int n = LoadStringA(GetModuleHandleA(nullptr), id, buffer, int(size));
  if (n <= 0) {
    buffer[0] = 0;
    return 0;
  }
  return std::size_t(n);
}

void Win32Platform::InstallFaultHandler(FaultHandler handler) {
  faultHandler = handler;
  SetUnhandledExceptionFilter(OnUnhandledException);
  AddVectoredExceptionHandler(1, OnStackOverflow);
}

bool Win32Platform::LocateCode(uintptr_t address, char* moduleName, std::size_t size, uintptr_t& offset) {
  MEMORY_BASIC_INFORMATION region;
  if (size == 0 || !VirtualQuery(reinterpret_cast<void*>(address), &region, sizeof region)) return false;
  if (region.State != MEM_COMMIT) return false;
  char path[MAX_PATH + 1];
  DWORD n = GetModuleFileNameA(static_cast<HMODULE>(region.AllocationBase), path, sizeof path);
  if (n == 0) return false;
  offset = address - reinterpret_cast<uintptr_t>(region.AllocationBase);
  std::string_view base = LastName(std::string_view(path, n));
  std::size_t len = base.size() < size - 1 ? base.size() : size - 1;
  memcpy(moduleName, base.data(), len);
  moduleName[len] = 0;
  return true;
}

void Win32Platform::ShowMessage(const char* text, const char* caption, uint32_t style) {
  MessageBoxA(nullptr, text, caption, style);
}

void Win32Platform::ExitProcess(int32_t code) { ::ExitProcess(UINT(code)); }

uint64_t Win32Platform::MonotonicMilliseconds() { return GetTickCount64(); }

}  // namespace win32

Platform& Native() {
  static win32::Win32Platform platform;
  return platform;
}

void StartPlatform(int argc, char** argv) {
  SaveArgv(argc, argv);
  // Faults are reported by the program itself; no system crash dialog.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
}

}  // namespace os
