#include "runtime/arguments.h"

#include <cstring>

#include "platform/platform.h"

bool IsConsoleProgram = true;

namespace {

bool IsSeparator(unsigned char c) { return c >= 1 && c <= 32; }

unsigned char At(std::string_view line, std::size_t i) {
  return i < line.size() ? static_cast<unsigned char>(line[i]) : 0;
}

// On POSIX an empty argv entry gives no argument, as an empty quote pair on Windows.
int32_t ArgvCount() {
  int32_t count = 0;
  for (int i = 1; i < os::Sys().ArgvCount(); ++i)
    if (os::Sys().ArgvAt(i) && *os::Sys().ArgvAt(i)) ++count;
  return count;
}

std::string ArgvAt(int32_t index) {
  for (int i = 1; i < os::Sys().ArgvCount(); ++i) {
    const char* a = os::Sys().ArgvAt(i);
    if (a && *a && --index == 0) return a;
  }
  return {};
}

}  // namespace

std::string NextArgumentToken(std::string_view line, std::size_t& position) {
  for (;;) {
    while (IsSeparator(At(line, position))) ++position;
    if (At(line, position) == '"' && At(line, position + 1) == '"') {
      position += 2;
      continue;
    }
    break;
  }
  std::string text;
  while (At(line, position) > 32) {
    if (At(line, position) == '"') {
      ++position;
      while (At(line, position) != 0 && At(line, position) != '"') text += char(At(line, position++));
      if (At(line, position) == '"') ++position;
    } else {
      text += char(At(line, position++));
    }
  }
  return text;
}

int32_t CountArguments(std::string_view line) {
  std::size_t position = 0;
  int32_t count = -1;
  while (!NextArgumentToken(line, position).empty()) ++count;
  return count;
}

std::string ArgumentOf(std::string_view line, int32_t index) {
  if (index < 0) return {};
  std::size_t position = 0;
  for (int32_t i = 0;; ++i) {
    std::string text = NextArgumentToken(line, position);
    if (text.empty() || i == index) return text;
  }
}

int32_t ArgumentCount() {
  if (os::SplitsCommandLine) return CountArguments(os::Sys().CommandLine());
  return ArgvCount();
}

std::string ArgumentAt(int32_t index) {
  if (index == 0) {
    std::string path;
    if (os::Sys().ModuleFileName(path) != 0) return {};
    return path.substr(0, MaxArgumentBytes);
  }
  if (index < 0) return {};
  if (os::SplitsCommandLine) return ArgumentOf(os::Sys().CommandLine(), index);
  return ArgvAt(index);
}

bool IsConsoleImage(const std::string& path) {
  os::Platform& sys = os::Sys();
  os::Handle h;
  if (sys.OpenFile(path, os::AccessRead, os::ShareRead | os::ShareWrite, h) != 0) return false;
  unsigned char buffer[248] = {};
  bool failed = false;
  uint32_t done = 0;
  uint64_t position = 0;
  auto read = [&](uint32_t n) {
    if (sys.ReadFile(h, buffer, n, done) != 0 || done < n) failed = true;
  };
  auto seek = [&](uint64_t to) {
    if (sys.SetPosition(h, int64_t(to), os::MoveMethod::Begin, position) != 0) failed = true;
  };
  uint32_t header = 0;
  read(64);
  if (!failed && buffer[0] == 'M' && buffer[1] == 'Z') {
    std::memcpy(&header, buffer + 60, 4);  // little-endian, like every target of this program
    seek(header);
    read(2);
  }
  seek(header);
  bool console = false;
  if (!failed && buffer[0] == 'P' && buffer[1] == 'E') {
    read(248);
    console = !failed && std::memcmp(buffer, "PE\0\0", 4) == 0 && (buffer[92] | buffer[93] << 8) == 3;
  }
  sys.CloseFile(h);
  return console;
}

void SetProgramKind() {
  if (!os::MarksConsoleInImageHeader) return;
  // The whole path, not argument 0: a path cut to 255 bytes would name no file,
  // and the failure report would then wait in a message box.
  std::string path;
  IsConsoleProgram = os::Sys().ModuleFileName(path) == 0 && IsConsoleImage(path);
}

bool IsHelpSwitch(const std::string& argument) { return os::IsHelpSwitch(argument.c_str()); }

bool IsVersionSwitch(const std::string& argument) {
  return os::VersionSwitch != nullptr && argument == os::VersionSwitch;
}

bool ShellExpandsPatterns() { return os::ShellExpandsPatterns; }
