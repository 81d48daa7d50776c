/* Loaded into stowit.exe by fault_launch before it runs: points the program's
   imports of the file calls of kernel32.dll and ntdll.dll at counting hooks
   that fail one of them on demand, and makes Sleep return at once, so that
   retries cost the campaign no time. The program itself carries nothing of it.

   STOWIT_FAULT=call:N:error:once|always   fail the Nth use of `call` (from 1)
                                           with that Win32 error (an Nt call
                                           returns the matching NTSTATUS),
                                           once or from then on
   STOWIT_FAULT_LOG=path                   append a line per use: the call, then
                                           the name or handle it was given;
                                           "FAULT " before the use that failed */
#include <stdio.h>
#include <string.h>
#include <windows.h>

typedef LONG Status; /* NTSTATUS */

/* Return type, name, parameters, arguments, the name and the handle to log,
   and what the call returns when it fails. */
#define CALLS(X)                                                                                                   \
  X(HANDLE, CreateFileA, (LPCSTR n, DWORD a, DWORD s, LPSECURITY_ATTRIBUTES sa, DWORD d, DWORD f, HANDLE t),       \
    (n, a, s, sa, d, f, t), n, NULL, INVALID_HANDLE_VALUE)                                                         \
  X(BOOL, ReadFile, (HANDLE h, LPVOID b, DWORD n, LPDWORD done, LPOVERLAPPED o), (h, b, n, done, o), NULL, h,       \
    FALSE)                                                                                                         \
  X(BOOL, WriteFile, (HANDLE h, LPCVOID b, DWORD n, LPDWORD done, LPOVERLAPPED o), (h, b, n, done, o), NULL, h,    \
    FALSE)                                                                                                         \
  X(BOOL, SetFilePointerEx, (HANDLE h, LARGE_INTEGER d, PLARGE_INTEGER p, DWORD m), (h, d, p, m), NULL, h, FALSE)  \
  X(BOOL, FlushFileBuffers, (HANDLE h), (h), NULL, h, FALSE)                                                       \
  X(BOOL, CloseHandle, (HANDLE h), (h), NULL, h, FALSE)                                                            \
  X(DWORD, GetFileType, (HANDLE h), (h), NULL, h, FILE_TYPE_UNKNOWN)                                               \
  X(BOOL, GetFileInformationByHandle, (HANDLE h, LPBY_HANDLE_FILE_INFORMATION i), (h, i), NULL, h, FALSE)          \
  X(BOOL, SetFileInformationByHandle, (HANDLE h, FILE_INFO_BY_HANDLE_CLASS c, LPVOID i, DWORD n), (h, c, i, n),    \
    NULL, h, FALSE)                                                                                                \
  X(BOOL, DeleteFileA, (LPCSTR n), (n), n, NULL, FALSE)                                                            \
  X(BOOL, MoveFileExA, (LPCSTR a, LPCSTR b, DWORD f), (a, b, f), a, NULL, FALSE)                                   \
  X(BOOL, CreateDirectoryA, (LPCSTR n, LPSECURITY_ATTRIBUTES sa), (n, sa), n, NULL, FALSE)                         \
  X(HANDLE, FindFirstFileW, (LPCWSTR n, LPWIN32_FIND_DATAW d), (n, d), NULL, NULL, INVALID_HANDLE_VALUE)           \
  X(BOOL, FindNextFileW, (HANDLE h, LPWIN32_FIND_DATAW d), (h, d), NULL, h, FALSE)                                 \
  X(BOOL, FindClose, (HANDLE h), (h), NULL, h, FALSE)                                                              \
  X(Status, NtCreateFile,                                                                                          \
    (PHANDLE h, ACCESS_MASK a, PVOID o, PVOID io, PLARGE_INTEGER sz, ULONG at, ULONG s, ULONG d, ULONG op, PVOID ea, \
     ULONG el),                                                                                                    \
    (h, a, o, io, sz, at, s, d, op, ea, el), NULL, NULL, NtFailure())                                              \
  X(Status, NtSetInformationFile, (HANDLE h, PVOID io, PVOID i, ULONG n, int c), (h, io, i, n, c), NULL, h,         \
    NtFailure())                                                                                                   \
  X(Status, NtQueryInformationFile, (HANDLE h, PVOID io, PVOID i, ULONG n, int c), (h, io, i, n, c), NULL, h,       \
    NtFailure())                                                                                                   \
  X(Status, NtQueryFullAttributesFile, (PVOID o, PVOID i), (o, i), NULL, NULL, NtFailure())                        \
  X(Status, NtClose, (HANDLE h), (h), NULL, h, NtFailure())                                                        \
  X(Status, NtQueryDirectoryFile,                                                                                  \
    (HANDLE h, HANDLE e, PVOID apc, PVOID ctx, PVOID io, PVOID i, ULONG n, int c, BOOLEAN one, PVOID name,         \
     BOOLEAN restart),                                                                                             \
    (h, e, apc, ctx, io, i, n, c, one, name, restart), NULL, h, NtFailure())

#define ID(ret, name, ...) I_##name,
enum { CALLS(ID) CALL_COUNT };

static long uses[CALL_COUNT];
static int fault_call = -1, fault_always;
static long fault_at;
static DWORD fault_error;
static HANDLE log_file = INVALID_HANDLE_VALUE, standard_output;

/* The NTSTATUS that stands for each Win32 error injected. */
static Status NtFailure(void) {
  static const struct { DWORD error; DWORD status; } map[] = {
      {ERROR_ACCESS_DENIED, 0xC0000022},  {ERROR_SHARING_VIOLATION, 0xC0000043}, {ERROR_DISK_FULL, 0xC000007F},
      {ERROR_NETNAME_DELETED, 0xC00000C9}, {ERROR_NOT_ENOUGH_MEMORY, 0xC0000017}, {ERROR_INVALID_HANDLE, 0xC0000008}};
  for (size_t i = 0; i < sizeof map / sizeof map[0]; ++i)
    if (map[i].error == fault_error) return (Status)map[i].status;
  return (Status)0xC0000001; /* STATUS_UNSUCCESSFUL */
}

/* Counts a use; says whether to fail it. */
static int use(int call, const char *call_name, const char *path, HANDLE h) {
  long n = ++uses[call];
  int fail = call == fault_call && (n == fault_at || (fault_always && n > fault_at));
  if (log_file != INVALID_HANDLE_VALUE) {
    DWORD keep = GetLastError(), done;
    char line[400], handle[32];
    snprintf(handle, sizeof handle, "h=%p", (void *)h);
    const char *detail = path ? path : !h ? "" : h == standard_output ? "stdout" : handle;
    int len = snprintf(line, sizeof line, "%s%s %s\n", fail ? "FAULT " : "", call_name, detail);
    if (len > (int)sizeof line - 1) len = sizeof line - 1;
    WriteFile(log_file, line, (DWORD)len, &done, NULL);
    SetLastError(keep);
  }
  return fail;
}

#define HOOK(ret, name, params, args, path, h, failed) \
  static ret(WINAPI *real_##name) params;             \
  static ret WINAPI hook_##name params {              \
    if (use(I_##name, #name, path, h)) {              \
      SetLastError(fault_error);                      \
      return failed;                                  \
    }                                                 \
    return real_##name args;                          \
  }
CALLS(HOOK)

static void(WINAPI *real_Sleep)(DWORD);
static void WINAPI hook_Sleep(DWORD ms) { (void)ms; }

#define ENTRY(ret, name, ...) {#name, (void *)hook_##name, (void **)&real_##name},
static const struct {
  const char *name;
  void *hook, **real;
} hooks[] = {CALLS(ENTRY){"Sleep", (void *)hook_Sleep, (void **)&real_Sleep}};

/* Points each import of a hooked function in the module at its hook. */
static void patch_imports(HMODULE module) {
  BYTE *base = (BYTE *)module;
  IMAGE_NT_HEADERS *nt = (IMAGE_NT_HEADERS *)(base + ((IMAGE_DOS_HEADER *)base)->e_lfanew);
  IMAGE_DATA_DIRECTORY imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (!imports.VirtualAddress) return;
  for (IMAGE_IMPORT_DESCRIPTOR *d = (IMAGE_IMPORT_DESCRIPTOR *)(base + imports.VirtualAddress); d->Name; ++d) {
    const char *dll = (const char *)(base + d->Name);
    if (lstrcmpiA(dll, "kernel32.dll") != 0 && lstrcmpiA(dll, "ntdll.dll") != 0) continue;
    IMAGE_THUNK_DATA *names = (IMAGE_THUNK_DATA *)(base + (d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk));
    IMAGE_THUNK_DATA *slots = (IMAGE_THUNK_DATA *)(base + d->FirstThunk);
    for (; names->u1.AddressOfData; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const char *name = (const char *)((IMAGE_IMPORT_BY_NAME *)(base + names->u1.AddressOfData))->Name;
      for (size_t i = 0; i < sizeof hooks / sizeof hooks[0]; ++i) {
        if (strcmp(name, hooks[i].name) != 0) continue;
        DWORD old;
        VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &old);
        *hooks[i].real = (void *)slots->u1.Function;
        slots->u1.Function = (ULONG_PTR)hooks[i].hook;
        VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &old);
      }
    }
  }
}

static void configure(void) {
  char text[MAX_PATH], name[64], mode[16];
  if (GetEnvironmentVariableA("STOWIT_FAULT_LOG", text, sizeof text) - 1u < sizeof text - 1)
    log_file = CreateFileA(text, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, NULL);
  if (GetEnvironmentVariableA("STOWIT_FAULT", text, sizeof text) - 1u >= sizeof text - 1) return;
  if (sscanf(text, "%63[^:]:%ld:%lu:%15s", name, &fault_at, &fault_error, mode) != 4) return;
  for (int i = 0; i < CALL_COUNT; ++i)
    if (strcmp(name, hooks[i].name) == 0) fault_call = i;
  fault_always = strcmp(mode, "always") == 0;
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  (void)self, (void)reserved;
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  standard_output = GetStdHandle(STD_OUTPUT_HANDLE);
  configure();
  patch_imports(GetModuleHandleA(NULL));
  return TRUE;
}
