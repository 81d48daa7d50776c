// Shared by the files of the Windows layer (win32/), and by nothing else:
// handle conversions, error numbers and stamps; the NT calls are in nt.h.
#pragma once

#include <windows.h>

// Our operation names are plain words; keep the A/W macros off them.
#undef CreateFile
#undef DeleteFile
#undef AnsiToOem

#include <string>

#include "platform/native.h"
#include "platform/win32/nt.h"

namespace os {

// The longest path that a call by path accepts.
constexpr std::size_t MaxPathBytes = MAX_PATH - 1;

inline HANDLE H(Handle h) { return reinterpret_cast<HANDLE>(h); }
inline Handle FromH(HANDLE h) { return reinterpret_cast<Handle>(h); }
inline Status LastError() { return Status(GetLastError()); }
inline bool IsHeld(Handle folder) { return folder != CurrentFolder; }

// An NTSTATUS as the Win32 call that stands for the same operation reports it.
Status FromNtStatus(LONG status);
FileStamp StampFrom(const BY_HANDLE_FILE_INFORMATION& info);
// A last-write time as a directory listing gives it: local time, MS-DOS form.
uint32_t DosWriteTime(const FILETIME& lastWrite);

// What an open handle is: a folder, a link (a reparse point that stands for
// another place, opened as itself), or anything else.
enum class Kind { Folder, Link, Other };
Kind KindOf(HANDLE h);
// The owner rule for links: followed only when their owner is `user` (the
// one who runs the program), the Administrators group or SYSTEM.
bool TrustedOwner(PSID owner, PSID user);
bool MayFollow(HANDLE link);
// Whether `h` is the entry `name` of the held folder itself, and not what a
// link of that name leads to.
bool IsEntryOf(Handle folder, const std::string& name, HANDLE h);

}  // namespace os
