/* fault_launch PROGRAM [ARGUMENTS]: starts the program suspended, loads
   fault_inject.dll (beside this launcher) into it before its C runtime runs,
   lets it run with this launcher's standard handles, and ends with its exit
   code. An exit code beyond 255, which a Unix parent would see cut to its low
   byte (0xC0000005 as 5), is written out and ends this launcher with 255. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

static int fail(const char *what) {
  fprintf(stderr, "fault_launch: %s failed (error %lu)\n", what, GetLastError());
  return 254;
}

/* The command line after this launcher's own name, as Windows splits argument 0. */
static char *rest_of_command_line(void) {
  char *p = GetCommandLineA();
  if (*p == '"') {
    for (++p; *p && *p != '"'; ++p) {}
    if (*p) ++p;
  } else {
    while (*p && *p != ' ' && *p != '\t') ++p;
  }
  while (*p == ' ' || *p == '\t') ++p;
  return p;
}

int main(void) {
  char dll[MAX_PATH + 32];
  DWORD n = GetModuleFileNameA(NULL, dll, MAX_PATH);
  while (n > 0 && dll[n - 1] != '\\' && dll[n - 1] != '/') --n;
  strcpy(dll + n, "fault_inject.dll");

  STARTUPINFOA startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  SetHandleInformation(startup.hStdInput, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  SetHandleInformation(startup.hStdOutput, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  SetHandleInformation(startup.hStdError, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  PROCESS_INFORMATION child;
  if (!CreateProcessA(NULL, rest_of_command_line(), NULL, NULL, TRUE, CREATE_SUSPENDED, NULL, NULL, &startup, &child))
    return fail("CreateProcess");

  /* LoadLibraryA(dll) on a thread of the child; kernel32 sits at the same address in both. */
  size_t size = strlen(dll) + 1;
  void *remote = VirtualAllocEx(child.hProcess, NULL, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  FARPROC load = GetProcAddress(GetModuleHandleA("kernel32.dll"), "LoadLibraryA");
  HANDLE thread = NULL;
  DWORD loaded = 0, code = 0;
  if (!remote || !WriteProcessMemory(child.hProcess, remote, dll, size, NULL) ||
      !(thread = CreateRemoteThread(child.hProcess, NULL, 0, (LPTHREAD_START_ROUTINE)(void *)load, remote, 0, NULL)) ||
      WaitForSingleObject(thread, INFINITE) != WAIT_OBJECT_0 || !GetExitCodeThread(thread, &loaded) || !loaded) {
    TerminateProcess(child.hProcess, 254);
    return fail("loading fault_inject.dll into the program");
  }
  CloseHandle(thread);

  ResumeThread(child.hThread);
  WaitForSingleObject(child.hProcess, INFINITE);
  GetExitCodeProcess(child.hProcess, &code);
  if (code > 255) {
    fprintf(stderr, "fault_launch: the program ended with 0x%08lX\n", code);
    return 255;
  }
  return (int)code;
}
