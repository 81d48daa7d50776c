// Shared by the files of the POSIX layer (posix*.cpp), and by nothing else:
// the platform class, the errno translation and the process facts taken at start.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

#include "platform/platform.h"

namespace os::posix {

// errno to the Win32 number that the same failure gets on Windows.
Status FromErrno(int e);
// Windows tells a missing name (2) from a missing directory on the way (3).
Status MissingNameStatus(const std::string& name);
// FindFirstFileA answers "invalid name" when the directory it is to list is a
// file, and "path not found" when a file stands further up the path.
Status NotDirectoryStatus(const std::string& dir);
// FromErrno, with ENOENT told apart as MissingNameStatus does.
Status NameStatus(int e, const std::string& name);

// The folder that holds `name`, as a system call takes it: "." for a bare name.
inline std::string ParentOf(std::string_view name) {
  std::string_view folder = FolderPart(name);
  if (folder.size() > 1) folder.remove_suffix(1);  // "/" stays: the root
  return folder.empty() ? "." : std::string(folder);
}
// Any write bit: not read-only.
inline bool HasWriteBit(mode_t mode) { return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0; }

// fcntl with a lease command (F_SETLEASE, F_GETLEASE) and its argument; a test
// puts its own in place to refuse a lease, or to act while one is held.
extern int (*leaseControl)(int fd, int command, int argument);

// The program's own path, taken from /proc at start; empty when unknown.
extern std::string programPath;
// Takes the umask and the files that standard output and error go to, once at start.
void NoteProcessFiles();

// Each method keeps the contract of the Win32 call it stands for; the methods
// are defined by concern: posix.cpp (process, console, clock, texts),
// posix_files.cpp, posix_search.cpp, posix_faults.cpp.
class PosixPlatform final : public Platform {
 public:
  const char* CommandLine() override;
  int ArgvCount() override;
  const char* ArgvAt(int index) override;
  Status ModuleFileName(std::string& path) override;

  Handle StdHandle(StdStream which) override;
  DeviceClass HandleDeviceClass(Handle h) override;
  bool IsTerminal(Handle h) override;

  Status OpenFile(const std::string& name, uint32_t access, uint32_t share, Handle& out) override;
  Status CreateFile(const std::string& name, uint32_t access, uint32_t share, Handle& out) override;
  Status CreateNewFile(const std::string& name, uint32_t access, uint32_t share, Handle& out) override;
  Status SetPosition(Handle h, int64_t distance, MoveMethod method, uint64_t& position) override;
  Status ReadFile(Handle h, void* buffer, uint32_t count, uint32_t& done) override;
  Status WriteFile(Handle h, const void* buffer, uint32_t count, uint32_t& done) override;
  Status FlushFile(Handle h) override;
  Status CopyAccessRights(Handle from, Handle to) override;
  Status CloseFile(Handle h) override;
  Status StampOf(Handle h, FileStamp& stamp) override;
  Status DeleteFile(const std::string& name) override;
  Status DeleteIfUnchanged(const std::string& name, const FileStamp& expected) override;
  Status RenameFile(const std::string& from, const std::string& to) override;
  Status CreateDirectory(const std::string& name) override;
  Status FlushDirectory(const std::string& name) override;

  Status StartSearch(const std::string& pattern, Handle& search, FindData& found) override;
  Status ContinueSearch(Handle search, FindData& found) override;
  Status EndSearch(Handle search) override;
  Status LookUp(const std::string& name, FindData& found) override;

  LocalDate Today() override;
  void AnsiToOem(char* bytes, std::size_t count) override;
  std::size_t LoadText(uint32_t id, char* buffer, std::size_t size) override;

  void InstallFaultHandler(FaultHandler handler) override;
  bool LocateCode(uintptr_t address, char* moduleName, std::size_t size, uintptr_t& offset) override;
  void ShowMessage(const char* text, const char* caption, uint32_t style) override;
  [[noreturn]] void ExitProcess(int32_t code) override;

  uint64_t MonotonicMilliseconds() override;
};

}  // namespace os::posix
