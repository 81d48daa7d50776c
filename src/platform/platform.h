// The seam: the code above names no operating system. Each Platform method
// stands for one Win32 call, keeps its contract and returns 0 or its Win32
// error number, so the code above reads the same on Windows (win32.cpp, the
// call itself) and on Linux (posix.cpp and its posix_*.cpp siblings, our own
// layer, which takes as many system calls as a contract needs: opening a file
// checks first that the name is a plain file, then opens it, then checks the
// descriptor). Where the systems differ in more than a call, the code above
// asks what it needs (the arguments, whether this is a console program) and a
// body in each of those files answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace os {

using Status = int32_t;  // 0, or a Win32 error number (all fit; GetLastError's DWORD is converted once)
using Handle = intptr_t;
constexpr Handle InvalidHandle = -1;

// Win32 error numbers that the layers above (and the POSIX layer) name.
enum : Status {
  ErrorFileNotFound = 2,
  ErrorPathNotFound = 3,
  ErrorTooManyOpenFiles = 4,
  ErrorAccessDenied = 5,
  ErrorInvalidHandle = 6,
  ErrorNotEnoughMemory = 8,
  ErrorNoMoreFiles = 18,
  ErrorSharingViolation = 32,
  ErrorFileExists = 80,  // CREATE_NEW on a name that is taken
  ErrorInvalidParameter = 87,
  ErrorBrokenPipe = 109,
  ErrorDiskFull = 112,
  ErrorInvalidName = 123,
  ErrorDirNotEmpty = 145,
  ErrorAlreadyExists = 183,
  ErrorFilenameExcedRange = 206,
  ErrorNoData = 232,
  ErrorIoDevice = 1117,
  ErrorGeneric = 31,
  // Ours, with bit 29 set as Windows keeps for applications: the file is no
  // longer the one that was copied.
  ErrorChangedMeanwhile = 0x20000001,
};

// Attribute bits of a directory entry, as Win32 numbers them.
enum : uint32_t {
  AttrReadOnly = 0x01,
  AttrHidden = 0x02,
  AttrSystem = 0x04,
  AttrVolume = 0x08,
  AttrDirectory = 0x10,
  AttrArchive = 0x20,
};

constexpr uint32_t AccessRead = 0x80000000u;
constexpr uint32_t AccessWrite = 0x40000000u;
constexpr uint32_t ShareRead = 1;
constexpr uint32_t ShareWrite = 2;

enum class StdStream { Input, Output, Error };
enum class DeviceClass { Character, Pipe, Disk };
enum class MoveMethod { Begin = 0, Current = 1, End = 2 };

// The platform's naming conventions.
extern const char PathDelimiter;      // inserted between a folder and a name
extern const char* const LineEnd;     // console line end
extern const std::size_t MaxPathBytes; // longest name a file call accepts
bool EndsDirectoryPart(char c);       // bytes after which a path's folder part ends
// A path split after the last such byte: the folder part, that byte kept (""
// for a bare name), and the last name. The one place a path is split.
std::string_view FolderPart(std::string_view path);
std::string_view LastName(std::string_view path);

// What the code above asks where the two systems differ: each has one body in
// win32.cpp and one in posix.cpp, and both go through the platform in use.
// The arguments after the program name, empty ones never counted; an index
// runs from 1, and one without an argument gives "".
int32_t ArgumentCount();
std::string ArgumentAt(int32_t index);
// Whether this program writes to a console rather than a window.
bool IsConsoleProgram();
// The platform's own ways of asking for help or the version, besides "/?".
bool IsHelpSwitch(std::string_view argument);
bool IsVersionSwitch(std::string_view argument);
// Whether a shell may have expanded a pattern into several arguments before
// the program saw them.
bool ShellMayHaveExpanded();

struct FindData {
  uint32_t attributes = 0;
  uint64_t size = 0;
  uint32_t dosWriteTime = 0;  // local time, MS-DOS date word high, time word low
  std::string name;           // without directory
};

// What tells one state of a file from another: which file it is (device and
// inode; volume serial number and file index), its size and its last write.
struct FileStamp {
  uint64_t volume = 0, index = 0, size = 0, writeTime = 0;
  bool operator==(const FileStamp&) const = default;
};

struct LocalDate {
  int32_t year = 0, month = 0, day = 0;
};

// A processor or system fault, described with Win32 exception codes.
struct FaultInfo {
  uint32_t code = 0;          // exception_codes.h names those the POSIX layer makes
  uintptr_t address = 0;      // code address of the fault
  uintptr_t info[2] = {0, 0}; // access violation: 0 read / 1 write, then the address accessed
};
using FaultHandler = void (*)(const FaultInfo&);

// Every call goes through the platform in use, so a test can put a decorator
// in front of the real one to count calls or make any of them fail.
class Platform {
 public:
  virtual ~Platform() = default;

  // Command line and program.
  virtual const char* CommandLine() = 0;              // GetCommandLineA (Windows)
  virtual int ArgvCount() = 0;                        // argv as given (POSIX)
  virtual const char* ArgvAt(int index) = 0;
  virtual Status ModuleFileName(std::string& path) = 0;  // GetModuleFileNameA(NULL)

  // Standard handles and their kind.
  virtual Handle StdHandle(StdStream which) = 0;       // GetStdHandle
  virtual DeviceClass HandleDeviceClass(Handle h) = 0; // GetFileType
  // A terminal or console that a person reads; the null device is a character device but no terminal.
  virtual bool IsTerminal(Handle h) = 0;               // GetConsoleMode succeeds

  // Files.
  virtual Status OpenFile(const std::string& name, uint32_t access, uint32_t share, Handle& out) = 0;    // OPEN_EXISTING
  virtual Status CreateFile(const std::string& name, uint32_t access, uint32_t share, Handle& out) = 0;  // CREATE_ALWAYS
  virtual Status CreateNewFile(const std::string& name, uint32_t access, uint32_t share, Handle& out) = 0;  // CREATE_NEW: 80 when taken
  virtual Status SetPosition(Handle h, int64_t distance, MoveMethod method, uint64_t& position) = 0;
  virtual Status ReadFile(Handle h, void* buffer, uint32_t count, uint32_t& done) = 0;
  virtual Status WriteFile(Handle h, const void* buffer, uint32_t count, uint32_t& done) = 0;
  virtual Status FlushFile(Handle h) = 0;              // FlushFileBuffers / fdatasync
  virtual Status CopyAccessRights(Handle from, Handle to) = 0;  // POSIX permission bits; nothing on Windows
  virtual Status CloseFile(Handle h) = 0;
  virtual Status StampOf(Handle h, FileStamp& stamp) = 0;  // GetFileInformationByHandle / fstat
  virtual Status DeleteFile(const std::string& name) = 0;
  // Deletes the file only while it is still in the state `expected` says, else
  // keeps it and returns ErrorChangedMeanwhile; one that another program holds
  // open for writing is kept with ErrorSharingViolation. No writer may slip in
  // between the comparison and the deletion (Windows denies write sharing
  // meanwhile; POSIX holds a read lease and moves the name aside first, or,
  // where no lease can be had, looks again after the unlink and puts back a
  // file that changed).
  virtual Status DeleteIfUnchanged(const std::string& name, const FileStamp& expected) = 0;
  virtual Status RenameFile(const std::string& from, const std::string& to) = 0;  // MoveFileExA, replacing, write-through
  virtual Status CreateDirectory(const std::string& name) = 0;
  virtual Status FlushDirectory(const std::string& name) = 0;  // makes new entries durable (POSIX); "" is the current folder

  // Directory search. A pattern's last component may hold * and ?.
  virtual Status StartSearch(const std::string& pattern, Handle& search, FindData& found) = 0;  // FindFirstFileA
  virtual Status ContinueSearch(Handle search, FindData& found) = 0;                            // FindNextFileA
  virtual Status EndSearch(Handle search) = 0;                                                  // FindClose
  // One named entry, the name taken literally.
  virtual Status LookUp(const std::string& name, FindData& found) = 0;

  // Clock, code pages, texts.
  virtual LocalDate Today() = 0;                      // GetLocalTime
  virtual void AnsiToOem(char* bytes, std::size_t count) = 0;  // CharToOemBuffA
  // LoadStringA from the program's own module; returns the length, 0 when missing.
  virtual std::size_t LoadText(uint32_t id, char* buffer, std::size_t size) = 0;

  // The end and failure path.
  virtual void InstallFaultHandler(FaultHandler handler) = 0;
  // The module that holds a code address, and the address relative to its load address.
  virtual bool LocateCode(uintptr_t address, char* moduleName, std::size_t size, uintptr_t& offset) = 0;
  virtual void ShowMessage(const char* text, const char* caption, uint32_t style) = 0;  // MessageBoxA
  [[noreturn]] virtual void ExitProcess(int32_t code) = 0;

  // Milliseconds from a fixed point, never going back (GetTickCount64).
  virtual uint64_t MonotonicMilliseconds() = 0;
};

Platform& Native();             // the real platform
Platform& Sys();                // the platform in use
void SetPlatform(Platform* p);  // nullptr puts the real one back

// Ends the process through the platform in use.
[[noreturn]] inline void Exit(int32_t code) {
  Sys().ExitProcess(code);
  std::abort();  // only a test's platform could come back
}

// Prepares the process before anything else runs; argv is what main received.
void StartPlatform(int argc, char** argv);

// Forwards every call to another platform; tests override what they need.
class PlatformDecorator : public Platform {
 public:
  explicit PlatformDecorator(Platform& inner) : inner_(inner) {}
  const char* CommandLine() override { return inner_.CommandLine(); }
  int ArgvCount() override { return inner_.ArgvCount(); }
  const char* ArgvAt(int index) override { return inner_.ArgvAt(index); }
  Status ModuleFileName(std::string& path) override { return inner_.ModuleFileName(path); }
  Handle StdHandle(StdStream which) override { return inner_.StdHandle(which); }
  DeviceClass HandleDeviceClass(Handle h) override { return inner_.HandleDeviceClass(h); }
  bool IsTerminal(Handle h) override { return inner_.IsTerminal(h); }
  Status OpenFile(const std::string& n, uint32_t a, uint32_t s, Handle& out) override { return inner_.OpenFile(n, a, s, out); }
  Status CreateFile(const std::string& n, uint32_t a, uint32_t s, Handle& out) override { return inner_.CreateFile(n, a, s, out); }
  Status CreateNewFile(const std::string& n, uint32_t a, uint32_t s, Handle& out) override { return inner_.CreateNewFile(n, a, s, out); }
  Status SetPosition(Handle h, int64_t d, MoveMethod m, uint64_t& p) override { return inner_.SetPosition(h, d, m, p); }
  Status ReadFile(Handle h, void* b, uint32_t c, uint32_t& done) override { return inner_.ReadFile(h, b, c, done); }
  Status WriteFile(Handle h, const void* b, uint32_t c, uint32_t& done) override { return inner_.WriteFile(h, b, c, done); }
  Status FlushFile(Handle h) override { return inner_.FlushFile(h); }
  Status CopyAccessRights(Handle from, Handle to) override { return inner_.CopyAccessRights(from, to); }
  Status CloseFile(Handle h) override { return inner_.CloseFile(h); }
  Status StampOf(Handle h, FileStamp& st) override { return inner_.StampOf(h, st); }
  Status DeleteFile(const std::string& n) override { return inner_.DeleteFile(n); }
  Status DeleteIfUnchanged(const std::string& n, const FileStamp& e) override { return inner_.DeleteIfUnchanged(n, e); }
  Status RenameFile(const std::string& f, const std::string& t) override { return inner_.RenameFile(f, t); }
  Status CreateDirectory(const std::string& n) override { return inner_.CreateDirectory(n); }
  Status FlushDirectory(const std::string& n) override { return inner_.FlushDirectory(n); }
  Status StartSearch(const std::string& p, Handle& s, FindData& f) override { return inner_.StartSearch(p, s, f); }
  Status ContinueSearch(Handle s, FindData& f) override { return inner_.ContinueSearch(s, f); }
  Status EndSearch(Handle s) override { return inner_.EndSearch(s); }
  Status LookUp(const std::string& n, FindData& f) override { return inner_.LookUp(n, f); }
  LocalDate Today() override { return inner_.Today(); }
  void AnsiToOem(char* b, std::size_t c) override { inner_.AnsiToOem(b, c); }
  std::size_t LoadText(uint32_t id, char* b, std::size_t s) override { return inner_.LoadText(id, b, s); }
  void InstallFaultHandler(FaultHandler h) override { inner_.InstallFaultHandler(h); }
  bool LocateCode(uintptr_t a, char* m, std::size_t s, uintptr_t& o) override { return inner_.LocateCode(a, m, s, o); }
  void ShowMessage(const char* t, const char* c, uint32_t s) override { inner_.ShowMessage(t, c, s); }
  [[noreturn]] void ExitProcess(int32_t code) override {
    inner_.ExitProcess(code);
    std::abort();
  }
  uint64_t MonotonicMilliseconds() override { return inner_.MonotonicMilliseconds(); }

 protected:
  Platform& inner_;
};

}  // namespace os
