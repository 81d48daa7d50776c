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
// Stands for the working folder where a held folder is asked for: a name
// relative to it, or a full path, is a path as the system takes it.
constexpr Handle CurrentFolder = -100;

// Win32 error numbers that the layers above (and the POSIX layer) name.
enum : Status {
  ErrorFileNotFound = 2,
  ErrorPathNotFound = 3,
  ErrorTooManyOpenFiles = 4,
  ErrorAccessDenied = 5,
  ErrorInvalidHandle = 6,
  ErrorNotEnoughMemory = 8,
  ErrorInvalidDrive = 15,
  ErrorNoMoreFiles = 18,
  ErrorSharingViolation = 32,
  ErrorFileExists = 80,  // CREATE_NEW on a name that is taken
  ErrorInvalidParameter = 87,
  ErrorBrokenPipe = 109,
  ErrorDiskFull = 112,
  ErrorInvalidName = 123,
  ErrorDirNotEmpty = 145,
  ErrorBadPathname = 161,
  ErrorAlreadyExists = 183,
  ErrorFilenameExcedRange = 206,
  ErrorNoData = 232,
  ErrorIoDevice = 1117,
  ErrorCantResolveFilename = 1921,  // too many links
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
// Whether console text is UTF-8, where a control character can also take two
// bytes (C2 80 to C2 9F); other code pages give those bytes letters.
extern const bool ConsoleTextIsUtf8;
extern const std::size_t MaxPathBytes; // longest path a call by path accepts
constexpr std::size_t MaxNameBytes = 255; // longest name of one entry that every file system takes
bool EndsDirectoryPart(char c);       // bytes after which a path's folder part ends
// Whether `c` starts a character of two bytes in the code page of names: in
// the double-byte ANSI code pages of Windows the second byte can be '\\'.
bool IsLeadByte(char c);
// A path split after the last such byte that is a character of its own: the
// folder part, that byte kept ("" for a bare name), and the last name. The
// one place a path is split.
std::string_view FolderPart(std::string_view path);
std::string_view LastName(std::string_view path);

// What the code above asks where the two systems differ: each has one body in
// win32.cpp and one in posix.cpp, and both go through the platform in use.
// The arguments after the program name (an empty one only where the system
// can pass one: Linux); an index runs from 1, and one without an argument gives "".
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

  // Files and folders, each named relative to a folder that the caller holds
  // open (OpenFolder, CreateFolder), or to CurrentFolder, which takes the name
  // as a path. A held folder is the one that was opened, wherever its path
  // points later: what is made or deleted in it stays in it.
  // OPEN_EXISTING; `openedAs`, where given, receives the file's state as it was opened.
  virtual Status OpenFile(Handle folder, const std::string& name, uint32_t access, uint32_t share, Handle& out,
                          FileStamp* openedAs) = 0;
  virtual Status CreateFile(Handle folder, const std::string& name, uint32_t access, uint32_t share, Handle& out) = 0;  // CREATE_ALWAYS
  virtual Status CreateNewFile(Handle folder, const std::string& name, uint32_t access, uint32_t share, Handle& out) = 0;  // CREATE_NEW: 80 when taken
  virtual Status SetPosition(Handle h, int64_t distance, MoveMethod method, uint64_t& position) = 0;
  virtual Status ReadFile(Handle h, void* buffer, uint32_t count, uint32_t& done) = 0;
  virtual Status WriteFile(Handle h, const void* buffer, uint32_t count, uint32_t& done) = 0;
  virtual Status FlushFile(Handle h) = 0;              // FlushFileBuffers / fdatasync
  virtual Status CopyAccessRights(Handle from, Handle to) = 0;  // POSIX permission bits; nothing on Windows
  virtual Status CloseFile(Handle h) = 0;              // files, folders and searches' own handles alike
  virtual Status StampOf(Handle h, FileStamp& stamp) = 0;  // GetFileInformationByHandle / fstat
  virtual Status DeleteFile(Handle folder, const std::string& name) = 0;
  // Deletes the file only while it is the file and the state `expected`
  // says, else keeps it and returns ErrorChangedMeanwhile; one that another
  // program holds open for writing is kept with ErrorSharingViolation. Should
  // the file be left under another name than its own, `keptAs` gives that
  // name (relative to the folder); it is empty otherwise. The state's time is
  // the file system's, which can move in ticks (a few milliseconds on Linux
  // before 6.13): a write in place that keeps the size, made in the tick in
  // which `expected` was taken, can then leave the state as it was. How each
  // platform keeps writers out meanwhile, and what it cannot: win32.cpp,
  // posix_delete.cpp.
  virtual Status DeleteIfUnchanged(Handle folder, const std::string& name, const FileStamp& expected,
                                   std::string& keptAs) = 0;
  // Never replaces a file: ErrorAlreadyExists when `to` is taken.
  virtual Status RenameFile(Handle folder, const std::string& from, const std::string& to) = 0;
  // A folder to hold: opened, or created (one level) and opened, ErrorAlreadyExists
  // when the name is taken. A symbolic link (a reparse point) on the way is
  // followed only when root (SYSTEM, Administrators) or the user who runs the
  // program owns it; another's is ErrorPathNotFound.
  virtual Status OpenFolder(Handle parent, const std::string& name, Handle& out) = 0;
  virtual Status CreateFolder(Handle parent, const std::string& name, Handle& out) = 0;
  virtual Status FlushFolder(Handle folder) = 0;       // makes its new entries durable (POSIX)

  // Directory search. A pattern's last component may hold * and ?. Given a
  // held folder, the search lists that folder (Windows: the pattern's, which
  // the held handle keeps in place).
  virtual Status StartSearch(Handle folder, const std::string& pattern, Handle& search, FindData& found) = 0;  // FindFirstFileA
  virtual Status ContinueSearch(Handle search, FindData& found) = 0;                            // FindNextFileA
  virtual Status EndSearch(Handle search) = 0;                                                  // FindClose
  // One named entry, the name taken literally.
  virtual Status LookUp(Handle folder, const std::string& name, FindData& found) = 0;

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
  Status OpenFile(Handle d, const std::string& n, uint32_t a, uint32_t s, Handle& out, FileStamp* o) override {
    return inner_.OpenFile(d, n, a, s, out, o);
  }
  Status CreateFile(Handle d, const std::string& n, uint32_t a, uint32_t s, Handle& out) override { return inner_.CreateFile(d, n, a, s, out); }
  Status CreateNewFile(Handle d, const std::string& n, uint32_t a, uint32_t s, Handle& out) override { return inner_.CreateNewFile(d, n, a, s, out); }
  Status SetPosition(Handle h, int64_t d, MoveMethod m, uint64_t& p) override { return inner_.SetPosition(h, d, m, p); }
  Status ReadFile(Handle h, void* b, uint32_t c, uint32_t& done) override { return inner_.ReadFile(h, b, c, done); }
  Status WriteFile(Handle h, const void* b, uint32_t c, uint32_t& done) override { return inner_.WriteFile(h, b, c, done); }
  Status FlushFile(Handle h) override { return inner_.FlushFile(h); }
  Status CopyAccessRights(Handle from, Handle to) override { return inner_.CopyAccessRights(from, to); }
  Status CloseFile(Handle h) override { return inner_.CloseFile(h); }
  Status StampOf(Handle h, FileStamp& st) override { return inner_.StampOf(h, st); }
  Status DeleteFile(Handle d, const std::string& n) override { return inner_.DeleteFile(d, n); }
  Status DeleteIfUnchanged(Handle d, const std::string& n, const FileStamp& e, std::string& k) override {
    return inner_.DeleteIfUnchanged(d, n, e, k);
  }
  Status RenameFile(Handle d, const std::string& f, const std::string& t) override { return inner_.RenameFile(d, f, t); }
  Status OpenFolder(Handle p, const std::string& n, Handle& out) override { return inner_.OpenFolder(p, n, out); }
  Status CreateFolder(Handle p, const std::string& n, Handle& out) override { return inner_.CreateFolder(p, n, out); }
  Status FlushFolder(Handle d) override { return inner_.FlushFolder(d); }
  Status StartSearch(Handle d, const std::string& p, Handle& s, FindData& f) override { return inner_.StartSearch(d, p, s, f); }
  Status ContinueSearch(Handle s, FindData& f) override { return inner_.ContinueSearch(s, f); }
  Status EndSearch(Handle s) override { return inner_.EndSearch(s); }
  Status LookUp(Handle d, const std::string& n, FindData& f) override { return inner_.LookUp(d, n, f); }
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
