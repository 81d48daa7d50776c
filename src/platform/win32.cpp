// The real kernel32 and user32 calls. Each wrapper makes one call, or the few
// that one operation needs, and returns 0 or GetLastError().
#include <windows.h>

// Our operation names are plain words; keep the A/W macros off them.
#undef CreateFile
#undef DeleteFile
#undef CreateDirectory

#include <cstring>
#include <string>

#include "platform/command_line.h"
#include "platform/image_header.h"
#include "platform/platform.h"
#include "platform/saved_argv.h"

namespace os {

const char PathDelimiter = '\\';
const char* const LineEnd = "\r\n";
const bool ConsoleTextIsUtf8 = false;
const std::size_t MaxPathBytes = MAX_PATH - 1;

bool EndsDirectoryPart(char c) { return c == '\\' || c == ':' || c == '/'; }

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

namespace {

FaultHandler faultHandler = nullptr;

HANDLE H(Handle h) { return reinterpret_cast<HANDLE>(h); }
Handle FromH(HANDLE h) { return reinterpret_cast<Handle>(h); }
Status LastError() { return Status(GetLastError()); }

void FillFindData(const WIN32_FIND_DATAA& record, FindData& found) {
  found.attributes = record.dwFileAttributes;
  found.size = uint64_t(record.nFileSizeHigh) << 32 | record.nFileSizeLow;
  FILETIME local;
  WORD date = 0, time = 0;
  FileTimeToLocalFileTime(&record.ftLastWriteTime, &local);
  FileTimeToDosDateTime(&local, &date, &time);
  found.dosWriteTime = uint32_t(date) << 16 | time;
  found.name = record.cFileName;
}

FileStamp StampFrom(const BY_HANDLE_FILE_INFORMATION& info) {
  FileStamp stamp;
  stamp.volume = info.dwVolumeSerialNumber;
  stamp.index = uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
  stamp.size = uint64_t(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
  stamp.writeTime = uint64_t(info.ftLastWriteTime.dwHighDateTime) << 32 | info.ftLastWriteTime.dwLowDateTime;
  return stamp;
}

Status OpenWith(const std::string& name, uint32_t access, uint32_t share, DWORD disposition, Handle& out) {
  if (name.size() > MaxPathBytes) return ErrorFilenameExcedRange;
  SECURITY_ATTRIBUTES sa{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE h = CreateFileA(name.c_str(), access, share, &sa, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return LastError();
  out = FromH(h);
  return 0;
}

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

class Win32Platform final : public Platform {
 public:
  const char* CommandLine() override { return GetCommandLineA(); }
  int ArgvCount() override { return SavedArgvCount(); }
  const char* ArgvAt(int index) override { return SavedArgvAt(index); }
  Status ModuleFileName(std::string& path) override {
    char buffer[MAX_PATH + 1];
    DWORD n = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    if (n == 0) return LastError();
    path.assign(buffer, n);
    return 0;
  }

  Handle StdHandle(StdStream which) override {
    DWORD id = which == StdStream::Input ? STD_INPUT_HANDLE : which == StdStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
    return FromH(GetStdHandle(id));
  }
  bool IsTerminal(Handle h) override {
    DWORD mode;
    return GetConsoleMode(H(h), &mode) != 0;
  }
  DeviceClass HandleDeviceClass(Handle h) override {
    switch (GetFileType(H(h))) {
      case FILE_TYPE_CHAR: return DeviceClass::Character;
      case FILE_TYPE_PIPE: return DeviceClass::Pipe;
      default: return DeviceClass::Disk;
    }
  }

  Status OpenFile(const std::string& name, uint32_t access, uint32_t share, Handle& out) override {
    return OpenWith(name, access, share, OPEN_EXISTING, out);
  }
  Status CreateFile(const std::string& name, uint32_t access, uint32_t share, Handle& out) override {
    return OpenWith(name, access, share, CREATE_ALWAYS, out);
  }
  Status CreateNewFile(const std::string& name, uint32_t access, uint32_t share, Handle& out) override {
    return OpenWith(name, access, share, CREATE_NEW, out);
  }

  Status SetPosition(Handle h, int64_t distance, MoveMethod method, uint64_t& position) override {
    LARGE_INTEGER move, result;
    move.QuadPart = distance;
    if (!SetFilePointerEx(H(h), move, &result, DWORD(method))) return LastError();
    position = uint64_t(result.QuadPart);
    return 0;
  }

  Status ReadFile(Handle h, void* buffer, uint32_t count, uint32_t& done) override {
    DWORD n = 0;
    BOOL ok = ::ReadFile(H(h), buffer, count, &n, nullptr);
    done = n;
    return ok ? 0 : LastError();
  }

  Status WriteFile(Handle h, const void* buffer, uint32_t count, uint32_t& done) override {
    DWORD n = 0;
    BOOL ok = ::WriteFile(H(h), buffer, count, &n, nullptr);
    done = n;
    return ok ? 0 : LastError();
  }

  Status FlushFile(Handle h) override { return FlushFileBuffers(H(h)) ? 0 : LastError(); }
  Status CopyAccessRights(Handle, Handle) override { return 0; }
  Status CloseFile(Handle h) override { return CloseHandle(H(h)) ? 0 : LastError(); }

  Status StampOf(Handle h, FileStamp& stamp) override {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(H(h), &info)) return LastError();
    stamp = StampFrom(info);
    return 0;
  }

  Status DeleteFile(const std::string& name) override {
    if (name.size() > MaxPathBytes) return ErrorFilenameExcedRange;
    return DeleteFileA(name.c_str()) ? 0 : LastError();
  }

  // The handle shares no writing: while it is open no other program can write
  // the file, and none holds it open for writing, so the state compared is the
  // state deleted when the handle closes.
  Status DeleteIfUnchanged(const std::string& name, const FileStamp& expected) override {
    if (name.size() > MaxPathBytes) return ErrorFilenameExcedRange;
    HANDLE h = CreateFileA(name.c_str(), DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return LastError();
    BY_HANDLE_FILE_INFORMATION info;
    FILE_DISPOSITION_INFO dispose{TRUE};
    Status st = 0;
    if (!GetFileInformationByHandle(h, &info))
      st = LastError();
    else if (!(StampFrom(info) == expected))
      st = ErrorChangedMeanwhile;
    else if (!SetFileInformationByHandle(h, FileDispositionInfo, &dispose, sizeof dispose))
      st = LastError();
    if (!CloseHandle(h) && st == 0) st = LastError();
    return st;
  }

  Status RenameFile(const std::string& from, const std::string& to) override {
    if (from.size() > MaxPathBytes || to.size() > MaxPathBytes) return ErrorFilenameExcedRange;
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 0 : LastError();
  }
  Status CreateDirectory(const std::string& name) override {
    if (name.size() > MaxPathBytes) return ErrorFilenameExcedRange;
    return CreateDirectoryA(name.c_str(), nullptr) ? 0 : LastError();
  }
  // A flushed file's directory entry is durable on NTFS; nothing more to do.
  Status FlushDirectory(const std::string&) override { return 0; }

  Status StartSearch(const std::string& pattern, Handle& search, FindData& found) override {
    search = InvalidHandle;
    if (pattern.size() > MaxPathBytes) return ErrorFilenameExcedRange;
    WIN32_FIND_DATAA record;
    HANDLE h = FindFirstFileA(pattern.c_str(), &record);
    if (h == INVALID_HANDLE_VALUE) return LastError();
    FillFindData(record, found);
    search = FromH(h);
    return 0;
  }
  Status ContinueSearch(Handle search, FindData& found) override {
    WIN32_FIND_DATAA record;
    if (!FindNextFileA(H(search), &record)) return LastError();
    FillFindData(record, found);
    return 0;
  }
  Status EndSearch(Handle search) override { return FindClose(H(search)) ? 0 : LastError(); }

  // Windows names cannot hold wildcards, so a search of the name is a literal look-up.
  Status LookUp(const std::string& name, FindData& found) override {
    Handle h;
    Status st = StartSearch(name, h, found);
    if (st == 0) FindClose(H(h));
    return st;
  }

  LocalDate Today() override {
    SYSTEMTIME t;
    GetLocalTime(&t);
    return LocalDate{t.wYear, t.wMonth, t.wDay};
  }

  void AnsiToOem(char* bytes, std::size_t count) override {
    if (count) CharToOemBuffA(bytes, bytes, DWORD(count));
  }

  std::size_t LoadText(uint32_t id, char* buffer, std::size_t size) override {
    if (size == 0) return 0;
    int n = LoadStringA(GetModuleHandleA(nullptr), id, buffer, int(size));
    if (n <= 0) {
      buffer[0] = 0;
      return 0;
    }
    return std::size_t(n);
  }

  void InstallFaultHandler(FaultHandler handler) override {
    faultHandler = handler;
    SetUnhandledExceptionFilter(OnUnhandledException);
    AddVectoredExceptionHandler(1, OnStackOverflow);
  }

  bool LocateCode(uintptr_t address, char* moduleName, std::size_t size, uintptr_t& offset) override {
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

  void ShowMessage(const char* text, const char* caption, uint32_t style) override {
    MessageBoxA(nullptr, text, caption, style);
  }

  [[noreturn]] void ExitProcess(int32_t code) override { ::ExitProcess(UINT(code)); }

  uint64_t MonotonicMilliseconds() override { return GetTickCount64(); }
};

}  // namespace

Platform& Native() {
  static Win32Platform platform;
  return platform;
}

void StartPlatform(int argc, char** argv) {
  SaveArgv(argc, argv);
  // Faults are reported by the program itself; no system crash dialog.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
}

}  // namespace os
