// The few ntdll calls and structures that the Windows layer uses to name a
// file relative to a folder handle, which Win32 cannot. Declared here rather
// than taken from winternl.h, whose copies of these are incomplete and whose
// names clash with winnt.h's; the layouts are checked for both widths below.
#pragma once

#include <windows.h>

#include <string>

#include "platform/platform.h"

#include <cstddef>

namespace os::nt {

using Status = LONG;  // NTSTATUS

struct UnicodeString {
  USHORT Length;  // bytes, without a terminator
  USHORT MaximumLength;
  PWSTR Buffer;
};

struct ObjectAttributes {
  ULONG Length;
  HANDLE RootDirectory;
  UnicodeString* ObjectName;
  ULONG Attributes;
  PVOID SecurityDescriptor;
  PVOID SecurityQualityOfService;
};

struct IoStatusBlock {
  union {
    Status status;
    PVOID pointer;
  };
  ULONG_PTR Information;
};

struct FileRenameInformation {
  BOOLEAN ReplaceIfExists;
  HANDLE RootDirectory;
  ULONG FileNameLength;  // bytes
  WCHAR FileName[1];
};

constexpr bool Wide = sizeof(void*) == 8;
static_assert(sizeof(UnicodeString) == (Wide ? 16 : 8));
static_assert(sizeof(ObjectAttributes) == (Wide ? 48 : 24));
static_assert(sizeof(IoStatusBlock) == (Wide ? 16 : 8));
static_assert(offsetof(FileRenameInformation, RootDirectory) == (Wide ? 8 : 4));
static_assert(offsetof(FileRenameInformation, FileName) == (Wide ? 20 : 12));
static_assert(sizeof(FileRenameInformation) == (Wide ? 24 : 16));

// NtCreateFile dispositions and options.
constexpr ULONG FileOpen = 1, FileCreate = 2, FileOverwriteIf = 5;
constexpr ULONG DirectoryFile = 0x1, SynchronousIoNonAlert = 0x20, NonDirectoryFile = 0x40,
                DeleteOnClose = 0x1000, OpenReparsePoint = 0x200000;
constexpr ULONG ObjCaseInsensitive = 0x40;
// FILE_INFORMATION_CLASS
constexpr int FileRenameInformationClass = 10, FileIdBothDirectoryInformationClass = 37;

constexpr Status NoSuchFile = Status(0xC000000F);
constexpr Status FileIsADirectory = Status(0xC00000BA);
constexpr Status NotADirectory = Status(0xC0000103);

inline bool Succeeded(Status s) { return s >= 0; }

extern "C" {
Status NTAPI NtCreateFile(HANDLE* handle, ACCESS_MASK access, ObjectAttributes* attributes, IoStatusBlock* io,
                          LARGE_INTEGER* allocationSize, ULONG fileAttributes, ULONG shareAccess,
                          ULONG createDisposition, ULONG createOptions, PVOID eaBuffer, ULONG eaLength);
Status NTAPI NtSetInformationFile(HANDLE handle, IoStatusBlock* io, PVOID information, ULONG length,
                                  int informationClass);
// FILE_ID_BOTH_DIR_INFO (winbase.h) is the layout of the class above.
Status NTAPI NtQueryDirectoryFile(HANDLE handle, HANDLE event, PVOID apcRoutine, PVOID apcContext, IoStatusBlock* io,
                                  PVOID information, ULONG length, int informationClass, BOOLEAN returnSingleEntry,
                                  UnicodeString* fileName, BOOLEAN restartScan);
ULONG NTAPI RtlNtStatusToDosError(Status status);
}

}  // namespace os::nt

namespace os {

// Opens `name` relative to a held folder through NtCreateFile, the name taken
// literally (no trailing dot or space dropped, no device name): the access,
// sharing, disposition and options are NtCreateFile's; synchronous I/O is
// added, so that ReadFile, WriteFile and SetFilePointerEx work on the handle.
Status OpenRelative(Handle folder, const std::string& name, ACCESS_MASK access, ULONG share, ULONG disposition,
                    ULONG options, HANDLE& out);
// What the entry `name` in a held folder is: its attributes, size and times.
Status QueryRelative(Handle folder, const std::string& name, BY_HANDLE_FILE_INFORMATION& info);
// `name` from the ANSI code page, as the *A calls take it; 0, or 206 when too long for NT.
Status WideName(const std::string& name, std::wstring& wide);
// A name that the system gives, in the ANSI code page; '?' for each character that the page lacks.
std::string NarrowName(const wchar_t* wide);

// A name relative to a held folder, as ntdll takes it.
class RelativeName {
 public:
  Status Make(Handle folder, const std::string& name) {
    Status st = WideName(name, wide_);
    const USHORT bytes = USHORT(wide_.size() * sizeof(wchar_t));
    name_ = {bytes, bytes, wide_.data()};
    attributes_ = {sizeof attributes_, reinterpret_cast<HANDLE>(folder), &name_, nt::ObjCaseInsensitive, nullptr, nullptr};
    return st;
  }
  nt::ObjectAttributes* Attributes() { return &attributes_; }
  nt::UnicodeString* Name() { return &name_; }

 private:
  std::wstring wide_;
  nt::UnicodeString name_{};
  nt::ObjectAttributes attributes_{};
};

}  // namespace os
