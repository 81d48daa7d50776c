// Our own layer in place of Win32 on Linux. Each call keeps the contract of the
// Win32 call it stands for, with the same error numbers, in as many system
// calls as that takes. This file holds the process, console, clock and texts;
// the rest is in posix_errors.cpp, posix_paths.cpp, posix_files.cpp,
// posix_delete.cpp, posix_search.cpp and posix_faults.cpp.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "platform/posix_internal.h"
#include "platform/saved_argv.h"

namespace os {

const char PathDelimiter = '/';
const char* const LineEnd = "\n";
const bool ConsoleTextIsUtf8 = true;
const std::size_t MaxPathBytes = PATH_MAX - 1;

bool EndsDirectoryPart(char c) { return c == '/'; }
bool IsLeadByte(char) { return false; }  // names are bytes; in UTF-8 no byte of a longer character is ASCII

// argv as the shell split it, empty entries too: dropped, one would shift the
// rest, and a pattern that a script left empty would make its archive folder the pattern.
int32_t ArgumentCount() { return Sys().ArgvCount() > 1 ? Sys().ArgvCount() - 1 : 0; }

std::string ArgumentAt(int32_t index) {
  const char* a = index > 0 && index < Sys().ArgvCount() ? Sys().ArgvAt(index) : nullptr;
  return a ? a : "";
}

// No mark to read: a program started here writes to its terminal, or wherever its output goes.
bool IsConsoleProgram() { return true; }

// A Linux user who asks for help must not get an empty archive folder instead.
bool IsHelpSwitch(std::string_view argument) { return argument == "--help" || argument == "-h"; }
bool IsVersionSwitch(std::string_view argument) { return argument == "--version"; }

// The shell expands an unquoted pattern before the program sees it.
bool ShellMayHaveExpanded() { return true; }

namespace posix {

std::string programPath;

const char* PosixPlatform::CommandLine() { return ""; }
int PosixPlatform::ArgvCount() { return SavedArgvCount(); }
const char* PosixPlatform::ArgvAt(int index) { return SavedArgvAt(index); }
Status PosixPlatform::ModuleFileName(std::string& path) {
  if (programPath.empty()) return ErrorFileNotFound;
  path = programPath;
  return 0;
}

Handle PosixPlatform::StdHandle(StdStream which) {
  return which == StdStream::Input ? 0 : which == StdStream::Output ? 1 : 2;
}
DeviceClass PosixPlatform::HandleDeviceClass(Handle h) {
  struct stat st;
  if (fstat(int(h), &st) != 0) return DeviceClass::Disk;
  if (S_ISCHR(st.st_mode)) return DeviceClass::Character;
  if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) return DeviceClass::Pipe;
  return DeviceClass::Disk;
}

bool PosixPlatform::IsTerminal(Handle h) { return isatty(int(h)) == 1; }

LocalDate PosixPlatform::Today() {
  time_t now = time(nullptr);
  struct tm tm {};
  localtime_r(&now, &tm);
  return LocalDate{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
}

void PosixPlatform::AnsiToOem(char*, std::size_t) {}

std::size_t PosixPlatform::LoadText(uint32_t id, char* buffer, std::size_t size) {
  struct Entry {
    uint32_t id;
    const char* text;
  };
  static const Entry table[] = {
#define STOWIT_TEXT(name, id, text) {id, text},
#include "runtime/texts.def"
#undef STOWIT_TEXT
  };
  if (size == 0) return 0;
  for (const Entry& e : table) {
    if (e.id != id) continue;
    std::size_t n = strnlen(e.text, size - 1);
    memcpy(buffer, e.text, n);
    buffer[n] = 0;
    return n;
  }
  buffer[0] = 0;
  return 0;
}

void PosixPlatform::ShowMessage(const char* text, const char* caption, uint32_t) {
  std::string line = std::string(caption) + ": " + text + "\n";
  ssize_t ignored = write(2, line.data(), line.size());
  (void)ignored;
}

void PosixPlatform::ExitProcess(int32_t code) { _exit(code); }

uint64_t PosixPlatform::MonotonicMilliseconds() {
  struct timespec now {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return uint64_t(now.tv_sec) * 1000 + uint64_t(now.tv_nsec) / 1000000;
}

}  // namespace posix

Platform& Native() {
  static posix::PosixPlatform platform;
  return platform;
}

void StartPlatform(int argc, char** argv) {
  SaveArgv(argc, argv);
  // A failed write must come back as a status, not end the process.
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  // The kernel tells the holder of a lease with SIGIO that a writer waits,
  // which would end the process; the deletion asks the lease's state itself
  // (posix_delete.cpp), and the signal may come after the lease is gone.
  signal(SIGIO, SIG_IGN);
  // A standard descriptor closed at start must stay unusable: left free, the
  // next file the run opens would get its number and receive console text.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    int placeholder = open("/dev/null", O_RDONLY);
    if (placeholder >= 0 && placeholder != fd) {
      dup2(placeholder, fd);
      close(placeholder);
    }
  }
  char path[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n > 0) posix::programPath.assign(path, std::size_t(n));
  posix::NoteProcessFiles();
}

}  // namespace os
