// The process: start-up, the arguments, the console, the clock and the texts.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "platform/posix/internal.h"
#include "platform/wildcard.h"

namespace os {

namespace {

int savedArgc = 0;
char** savedArgv = nullptr;

const Conventions rules = {
    '/', "/", "\n",
    true,  // console text is UTF-8
    MaxPathBytes,
    // A Linux user who asks for help must not get an empty archive folder instead.
    {"--help", "-h"}, "--version",
    true,  // the shell expands an unquoted pattern before the program sees it
};

}  // namespace

std::string programPath;

void NativePlatform::Start(int argc, char** argv) {
  savedArgc = argc;
  savedArgv = argv;
  // A failed write must come back as a status, not end the process.
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  // The kernel tells the holder of a lease with SIGIO that a writer waits,
  // which would end the process; ignored until the first lease puts its
  // handler in place (deletion.cpp).
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
  if (n > 0) programPath.assign(path, std::size_t(n));
  NoteProcessFiles();
}

const Conventions& NativePlatform::Rules() { return rules; }

// argv as the shell split it, empty entries too: dropped, one would shift the
// rest, and a pattern that a script left empty would make its archive folder the pattern.
// Linux hands over the bytes themselves.
int32_t NativePlatform::InexactArgument() { return 0; }

std::vector<std::string> NativePlatform::Arguments() {
  std::vector<std::string> arguments;
  for (int i = 1; i < savedArgc && savedArgv; ++i) arguments.emplace_back(savedArgv[i] ? savedArgv[i] : "");
  return arguments;
}

Status NativePlatform::ModuleFileName(std::string& path) {
  if (programPath.empty()) return ErrorFileNotFound;
  path = programPath;
  return 0;
}

// No mark to read: a program started here writes to its terminal, or wherever its output goes.
bool NativePlatform::MarkedAsConsoleProgram() { return true; }

// Names are bytes, taken as UTF-8 where they are well formed: a character is a
// lead byte and its continuation bytes; any other byte is one of its own.
std::size_t NativePlatform::CharLength(std::string_view text) { return Utf8CharLength(text); }

Handle NativePlatform::StdHandle(StdStream which) {
  return which == StdStream::Input ? 0 : which == StdStream::Output ? 1 : 2;
}
DeviceClass NativePlatform::HandleDeviceClass(Handle h) {
  struct stat st;
  if (fstat(int(h), &st) != 0) return DeviceClass::Disk;
  if (S_ISCHR(st.st_mode)) return DeviceClass::Character;
  if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) return DeviceClass::Pipe;
  return DeviceClass::Disk;
}

bool NativePlatform::IsTerminal(Handle h) { return isatty(int(h)) == 1; }

LocalDate NativePlatform::Today() {
  time_t now = time(nullptr);
  struct tm tm {};
  localtime_r(&now, &tm);
  return LocalDate{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
}

void NativePlatform::AnsiToOem(char*, std::size_t) {}

std::size_t NativePlatform::LoadText(uint32_t id, char* buffer, std::size_t size) {
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

void NativePlatform::ShowMessage(const char* text, const char* caption, uint32_t) {
  std::string line = std::string(caption) + ": " + text + "\n";
  ssize_t ignored = write(2, line.data(), line.size());
  (void)ignored;
}

void NativePlatform::ExitProcess(int32_t code) { _exit(code); }

uint64_t NativePlatform::MonotonicMilliseconds() {
  struct timespec now {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return uint64_t(now.tv_sec) * 1000 + uint64_t(now.tv_nsec) / 1000000;
}

Platform& Native() {
  static NativePlatform platform;
  return platform;
}

}  // namespace os
