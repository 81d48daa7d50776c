// The seam: the code above names no operating system. It asks the platform
// in use (Sys()) for what it needs, in three groups: the process (arguments,
// console, clock, texts, faults), files in a held folder, and search. Each
// call keeps the contract of the Win32 call it is named after and returns 0
// or a Win32 error number, so that the code above reads the same on both
// systems. On Windows a call is that Win32 call, or the few NT calls that
// keep a name relative to a held folder (win32/); on Linux it is our own
// layer (posix/), which takes as many system calls as the contract needs:
// opening a file walks the path a name at a time, checks that the name is a
// plain file, opens it, then checks the descriptor. Each body keeps one file
// of the same name per concern: process, errors, files, folders, deletion,
// search, faults. The constants of each platform are one Conventions table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

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

// The platform's conventions, one table for each platform (Native().Rules()).
struct Conventions {
  char pathDelimiter;             // inserted between a folder and a name
  const char* directoryEnds;      // the bytes after which a path's folder part ends
  const char* lineEnd;            // console line end
  // Whether console text is UTF-8, where a control character can also take two
  // bytes (C2 80 to C2 9F); other code pages give those bytes letters.
  bool consoleTextIsUtf8;
  std::size_t maxPathBytes;       // longest path a call by path accepts
  // The platform's own ways of asking for help or the version, besides "/?"
  // ("" where there is none).
  const char* helpSwitches[2];
  const char* versionSwitch;
  // Whether a shell may have expanded a pattern into several arguments before
  // the program saw them.
  bool shellExpands;
};
constexpr std::size_t MaxNameBytes = 255; // longest name of one entry that every file system takes

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

// An original that /D deletes once its copy is safe: where it is, the handle
// that the copy read it through (held from the copy's open, HoldForDeletion),
// the state it was opened in, and the finished copy, which the deletion
// compares it with where nothing else can say that it is unchanged.
struct Original {
  Handle folder = CurrentFolder;
  std::string name;
  Handle held = InvalidHandle;
  FileStamp opened;
  Handle copyFolder = CurrentFolder;
  std::string copyName;
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

// Every call goes through the platform in use, so that a test can put a
// platform of its own in front of the real one (a NativePlatform with the
// calls it needs overridden, platform/native.h) to count calls or make any of
// them fail.
class Platform {
 public:
  virtual ~Platform() = default;

  // --- The process ---------------------------------------------------------
  // Prepares the process before anything else runs; argv is what main received.
  virtual void Start(int argc, char** argv) = 0;
  virtual const Conventions& Rules() = 0;
  // The arguments after the program name, as the system hands them to the
  // program (Windows: its one command line split; Linux: argv, empty ones too).
  virtual std::vector<std::string> Arguments() = 0;
  // The first argument (1 for the one after the program name) that reached
  // the program changed, as the system's code page cannot hold it (Windows:
  // '?' or a look-alike where a character was); 0 when every one is exact.
  virtual int32_t InexactArgument() = 0;
  virtual Status ModuleFileName(std::string& path) = 0;  // GetModuleFileNameA(NULL)
  // Whether the program file is marked to write to a console rather than a window.
  virtual bool MarkedAsConsoleProgram() = 0;
  // How many bytes the character that starts at `text` takes in the code page
  // of names (at least 1, at most what is left): in the double-byte ANSI code
  // pages the second byte can be '\\'; on Linux a well-formed UTF-8 sequence.
  virtual std::size_t CharLength(std::string_view text) = 0;

  // Standard handles and their kind.
  virtual Handle StdHandle(StdStream which) = 0;       // GetStdHandle
  virtual DeviceClass HandleDeviceClass(Handle h) = 0; // GetFileType
  // A terminal or console that a person reads; the null device is a character device but no terminal.
  virtual bool IsTerminal(Handle h) = 0;               // GetConsoleMode succeeds

  virtual LocalDate Today() = 0;                       // GetLocalTime
  // Milliseconds from a fixed point, never going back (GetTickCount64).
  virtual uint64_t MonotonicMilliseconds() = 0;
  virtual void AnsiToOem(char* bytes, std::size_t count) = 0;  // CharToOemBuffA
  // LoadStringA from the program's own module; returns the length, 0 when missing.
  virtual std::size_t LoadText(uint32_t id, char* buffer, std::size_t size) = 0;

  // The end and failure path.
  virtual void InstallFaultHandler(FaultHandler handler) = 0;
  // The module that holds a code address, and the address relative to its load address.
  virtual bool LocateCode(uintptr_t address, char* moduleName, std::size_t size, uintptr_t& offset) = 0;
  virtual void ShowMessage(const char* text, const char* caption, uint32_t style) = 0;  // MessageBoxA
  [[noreturn]] virtual void ExitProcess(int32_t code) = 0;

  // --- Files in a held folder ----------------------------------------------
  // Each named relative to a folder that the caller holds open (OpenFolder,
  // CreateFolder), or to CurrentFolder, which takes the name as a path. A held
  // folder is the one that was opened, wherever its path points later: what
  // is made or deleted in it stays in it.
  // OPEN_EXISTING; `openedAs`, where given, receives the file's state as it was opened.
  virtual Status OpenFile(Handle folder, const std::string& name, uint32_t access, uint32_t share, Handle& out,
                          FileStamp* openedAs) = 0;
  virtual Status CreateFile(Handle folder, const std::string& name, uint32_t access, uint32_t share, Handle& out) = 0;  // CREATE_ALWAYS
  virtual Status CreateNewFile(Handle folder, const std::string& name, uint32_t access, uint32_t share, Handle& out) = 0;  // CREATE_NEW: 80 when taken
  virtual Status SetPosition(Handle h, int64_t distance, MoveMethod method, uint64_t& position) = 0;
  virtual Status ReadFile(Handle h, void* buffer, uint32_t count, uint32_t& done) = 0;
  virtual Status WriteFile(Handle h, const void* buffer, uint32_t count, uint32_t& done) = 0;
  virtual Status FlushFile(Handle h) = 0;              // FlushFileBuffers / fdatasync
  // Gives `to` no wider access than `from` (POSIX: owner and group where they
  // can be had, permission bits, access ACL; nothing on Windows, where a copy
  // takes its folder's inherited access). `holes` tells whether `from` has
  // holes, its allocated blocks fewer than its size needs (Windows: never):
  // answered from the same look at it, as every copy asks both.
  virtual Status CopyAccessRights(Handle from, Handle to, bool& holes) = 0;
  // Sets the file's size, as SetEndOfFile at that position; what it adds is zeros (POSIX: a hole).
  virtual Status SetFileSize(Handle h, uint64_t size) = 0;
  virtual Status CloseFile(Handle h) = 0;              // files, folders and searches' own handles alike
  virtual Status StampOf(Handle h, FileStamp& stamp) = 0;  // GetFileInformationByHandle / fstat
  virtual Status DeleteFile(Handle folder, const std::string& name) = 0;
  // Readies an original that the copy has just opened (reading and writing,
  // before its first read) to be deleted through DeleteIfUnchanged later: `h`
  // may be exchanged for another handle to the same file, which the copy
  // then reads. `held` says whether the deletion works on that handle, which
  // then stays open until it (Linux: a read-only one under a read lease,
  // deletion.cpp), or opens the file again, which the caller closes first
  // (Windows: its open shares no writing, which our own handle would refuse).
  virtual Status HoldForDeletion(Handle& h, bool& held) = 0;
  // Deletes the original only while it is the file that was copied, as it
  // was, else keeps it and returns ErrorChangedMeanwhile; one that another
  // program holds open for writing is kept with ErrorSharingViolation. Should
  // the file be left under another name than its own, `keptAs` gives that
  // name (relative to the folder); it is empty otherwise. A held handle
  // (InvalidHandle when there is none) is always closed, and `closed` is that
  // close's status. How each platform
  // keeps writers out meanwhile, and what it cannot: the header of each
  // body's deletion.cpp.
  virtual Status DeleteIfUnchanged(const Original& original, std::string& keptAs, Status& closed) = 0;
  // Never replaces a file: ErrorAlreadyExists when `to` is taken.
  virtual Status RenameFile(Handle folder, const std::string& from, const std::string& to) = 0;
  // A folder to hold: opened, or created (one level) and opened, ErrorAlreadyExists
  // when the name is taken. A symbolic link (a reparse point) on the way is
  // followed only when root (SYSTEM, Administrators) or the user who runs the
  // program owns it; another's is ErrorPathNotFound.
  virtual Status OpenFolder(Handle parent, const std::string& name, Handle& out) = 0;
  virtual Status CreateFolder(Handle parent, const std::string& name, Handle& out) = 0;
  virtual Status FlushFolder(Handle folder) = 0;       // makes its new entries durable (POSIX)
  // The last name of a path that the user typed, as the system takes such a
  // path (Windows: trailing dots and spaces dropped), to be made or opened
  // in a held folder, where names are taken literally; ErrorPathNotFound
  // when the system takes it for a device rather than a name in a folder.
  virtual Status TypedName(const std::string& path, std::string& name) = 0;

  // --- Search --------------------------------------------------------------
  // A pattern's last component may hold * and ?. Given a held folder, the
  // search lists that folder (Windows: the pattern's, which the held handle
  // keeps in place).
  virtual Status StartSearch(Handle folder, const std::string& pattern, Handle& search, FindData& found) = 0;  // FindFirstFileA
  virtual Status ContinueSearch(Handle search, FindData& found) = 0;                            // FindNextFileA
  virtual Status EndSearch(Handle search) = 0;                                                  // FindClose
  // One named entry, the name taken literally.
  virtual Status LookUp(Handle folder, const std::string& name, FindData& found) = 0;
};

Platform& Native();             // the real platform
Platform& Sys();                // the platform in use
void SetPlatform(Platform* p);  // nullptr puts the real one back

// Ends the process through the platform in use.
[[noreturn]] inline void Exit(int32_t code) {
  Sys().ExitProcess(code);
  std::abort();  // only a test's platform could come back
}

// A path split after the last byte of the platform's directoryEnds that is a
// character of its own: the folder part, that byte kept ("" for a bare name),
// and the last name. The one place a path is split.
std::string_view FolderPart(std::string_view path);
std::string_view LastName(std::string_view path);
// Sys().CharLength, where a plain function is wanted (NamePattern).
std::size_t SystemCharLength(std::string_view text);
// The name a file takes while it is worked on: `path` with `suffix`, or
// `shortName` in the same folder where that would not fit in one entry; from
// the second attempt on, the attempt's number follows.
std::string WorkingName(std::string_view path, std::string_view suffix, std::string_view shortName, int attempt);

}  // namespace os
