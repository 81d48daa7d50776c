// Shared by the files of the Windows layer (win32*.cpp), and by nothing else:
// handle conversions, the relative open through ntdll, and the platform class.
#pragma once

#include <windows.h>

// Our operation names are plain words; keep the A/W macros off them.
#undef CreateFile
#undef DeleteFile

#include <string>

#include "platform/platform.h"
#include "platform/win32_ntdll.h"

namespace os::win32 {

inline HANDLE H(Handle h) { return reinterpret_cast<HANDLE>(h); }
inline Handle FromH(HANDLE h) { return reinterpret_cast<Handle>(h); }
inline Status LastError() { return Status(GetLastError()); }
inline bool IsHeld(Handle folder) { return folder != CurrentFolder; }

// Opens `name` relative to a held folder through NtCreateFile, the name taken
// literally (no trailing dot or space dropped, no device name): the access,
// sharing, disposition and options are NtCreateFile's; synchronous I/O is
// added, so that ReadFile, WriteFile and SetFilePointerEx work on the handle.
Status OpenRelative(Handle folder, const std::string& name, ACCESS_MASK access, ULONG share, ULONG disposition,
                    ULONG options, HANDLE& out);
// What the entry `name` in a held folder is: its attributes, size and times.
Status QueryRelative(Handle folder, const std::string& name, BY_HANDLE_FILE_INFORMATION& info);
// An NTSTATUS as the Win32 call that stands for the same operation reports it.
Status FromNtStatus(LONG status);
// `name` from the ANSI code page, as the *A calls take it; 0, or 206 when too long for NT.
Status WideName(const std::string& name, std::wstring& wide);
// A name that the system gives, in the ANSI code page; '?' for each character that the page lacks.
std::string NarrowName(const wchar_t* wide);

FileStamp StampFrom(const BY_HANDLE_FILE_INFORMATION& info);
// A last-write time as a directory listing gives it: local time, MS-DOS form.
uint32_t DosWriteTime(const FILETIME& lastWrite);

// Each method keeps the contract of the Win32 call it stands for; the methods
// are defined by concern: win32.cpp (process, console, clock, texts, faults),
// win32_files.cpp, win32_folders.cpp, win32_search.cpp.
class Win32Platform final : public Platform {
 public:
  const char* CommandLine() override;
  int ArgvCount() override;
  const char* ArgvAt(int index) override;
  Status ModuleFileName(std::string& path) override;

  Handle StdHandle(StdStream which) override;
  DeviceClass HandleDeviceClass(Handle h) override;
  bool IsTerminal(Handle h) override;

  Status OpenFile(Handle folder, const std::string& name, uint32_t access, uint32_t share, Handle& out,
                  FileStamp* openedAs) override;
  Status CreateFile(Handle folder, const std::string& name, uint32_t access, uint32_t share, Handle& out) override;
  Status CreateNewFile(Handle folder, const std::string& name, uint32_t access, uint32_t share, Handle& out) override;
  Status SetPosition(Handle h, int64_t distance, MoveMethod method, uint64_t& position) override;
  Status ReadFile(Handle h, void* buffer, uint32_t count, uint32_t& done) override;
  Status WriteFile(Handle h, const void* buffer, uint32_t count, uint32_t& done) override;
  Status FlushFile(Handle h) override;
  Status CopyAccessRights(Handle from, Handle to) override;
  Status CloseFile(Handle h) override;
  Status StampOf(Handle h, FileStamp& stamp) override;
  Status DeleteFile(Handle folder, const std::string& name) override;
  Status DeleteIfUnchanged(Handle folder, const std::string& name, const FileStamp& expected,
                           std::string& keptAs) override;
  Status RenameFile(Handle folder, const std::string& from, const std::string& to) override;
  Status OpenFolder(Handle parent, const std::string& name, Handle& out) override;
  Status CreateFolder(Handle parent, const std::string& name, Handle& out) override;
  Status FlushFolder(Handle folder) override;

  Status StartSearch(Handle folder, const std::string& pattern, Handle& search, FindData& found) override;
  Status ContinueSearch(Handle search, FindData& found) override;
  Status EndSearch(Handle search) override;
  Status LookUp(Handle folder, const std::string& name, FindData& found) override;

  LocalDate Today() override;
  void AnsiToOem(char* bytes, std::size_t count) override;
  std::size_t LoadText(uint32_t id, char* buffer, std::size_t size) override;

  void InstallFaultHandler(FaultHandler handler) override;
  bool LocateCode(uintptr_t address, char* moduleName, std::size_t size, uintptr_t& offset) override;
  void ShowMessage(const char* text, const char* caption, uint32_t style) override;
  [[noreturn]] void ExitProcess(int32_t code) override;

  uint64_t MonotonicMilliseconds() override;
};

}  // namespace os::win32
