#include "runtime/console.h"

#include <algorithm>
#include <cstring>

#include "runtime/paths.h"

TextFile StandardInput;
TextFile StandardOutput;

namespace {

// The buffer holds console text already converted (AppendShown).
int32_t WriteOutBuffer(TextFile& f) {
  uint32_t n = f.position;
  f.position = 0;
  // A system that takes part of the bytes is given the rest: a line goes out
  // whole or the run ends with a report, never cut.
  uint32_t sent = 0;
  do {
    uint32_t done = 0;
    os::Status st = os::Sys().WriteFile(f.handle, f.buffer.data() + sent, n - sent, done);
    if (st != 0) return st;
    if (done == 0 && sent < n) return StatusShortWrite;
    sent += done;
  } while (sent < n);
  return 0;
}

// The run never reads the console; standard input is only opened and closed
// at the ends of the process, and this is its whole reading side.
int32_t FillBuffer(TextFile& f) {
  uint32_t done = 0;
  os::Status st = os::Sys().ReadFile(f.handle, f.buffer.data(), f.bufferSize, done);
  f.end = done;
  f.position = 0;
  return st == os::ErrorBrokenPipe ? 0 : st;
}

int32_t CloseHandleOp(TextFile& f) { return os::Sys().CloseFile(f.handle); }

int32_t OpenStandard(TextFile& f) {
  bool input = f.state == FileState::OpenForTextInput;
  f.handle = os::Sys().StdHandle(input ? os::StdStream::Input : os::StdStream::Output);
  if (input) {
    f.transferOp = FillBuffer;
    f.flushOp = nullptr;
  } else {
    f.transferOp = WriteOutBuffer;
    os::DeviceClass kind = os::Sys().HandleDeviceClass(f.handle);
    bool lineByLine = kind != os::DeviceClass::Disk || f.name.empty();
    f.flushOp = lineByLine ? WriteOutBuffer : nullptr;
    f.terminal = os::Sys().IsTerminal(f.handle);
  }
  f.closeOp = CloseHandleOp;
  return 0;
}

void StoreFailure(int32_t code) {
  if (code != 0) SetIoStatus(code);
}

// Status texts are short; they are written without taking memory, as they may
// be erased while an out-of-memory failure is on its way to its report.
constexpr uint32_t MaxStatusBytes = 64;

// Straight to the handle, past the buffer and IoStatus alike.
void WriteAround(TextFile& f, const char* bytes, uint32_t n) {
  uint32_t done = 0;
  os::Sys().WriteFile(f.handle, bytes, n, done);
}

// The bytes given, or as many spaces (AppendSpaces) when there are none.
void AppendBytes(TextFile& f, const char* bytes, uint32_t n) {
  if (f.statusBytes) EraseStatus(f);
  if (IoStatus() != 0) return;
  if (f.state != FileState::OpenForTextOutput) {
    SetIoStatus(StatusNotOpenForOutput);
    return;
  }
  while (n > 0) {
    uint32_t room = std::min(n, f.bufferSize - f.position);
    if (!bytes) {
      std::memset(f.buffer.data() + f.position, ' ', room);
    } else {
      std::memcpy(f.buffer.data() + f.position, bytes, room);
      bytes += room;
    }
    f.position += room;
    n -= room;
    if (f.position == f.bufferSize) StoreFailure(f.transferOp(f));
  }
}

void AppendSpaces(TextFile& f, uint32_t n) { AppendBytes(f, nullptr, n); }

// A control character in a name (another user chooses names) would reach a
// terminal as a command: on a terminal each of its bytes shows as '?', so the
// name on screen is also a pattern that matches it. Other output is left as
// it is, byte for byte, for the scripts that read it.
bool IsControl(std::string_view text, std::size_t i) {
  unsigned char c = static_cast<unsigned char>(text[i]);
  if (c < 0x20 || c == 0x7F) return true;
  if (!os::Sys().Rules().consoleTextIsUtf8) return false;
  auto next = [&](std::size_t j) { return j < text.size() ? static_cast<unsigned char>(text[j]) : 0u; };
  return (c == 0xC2 && next(i + 1) >= 0x80 && next(i + 1) <= 0x9F) ||
         (c >= 0x80 && c <= 0x9F && i > 0 && static_cast<unsigned char>(text[i - 1]) == 0xC2);
}

void AppendGuarded(TextFile& f, std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t j = i;
    while (j < text.size() && !(f.terminal && IsControl(text, j))) ++j;
    if (j > i) AppendBytes(f, text.data() + i, uint32_t(j - i));
    for (; j < text.size() && f.terminal && IsControl(text, j); ++j) AppendBytes(f, "?", 1);
    i = j;
  }
}

// Text is kept in the form the system gave it (the ANSI code page on
// Windows) and converted to the console's here, a few whole characters at a
// time and without taking memory, before the guard: the guard must see the
// bytes that are written, as a conversion could make a control byte of a letter.
void AppendShown(TextFile& f, std::string_view text) {
  os::Platform& sys = os::Sys();
  char piece[1024];  // a whole line of the report in one piece
  while (!text.empty()) {
    std::size_t n = 0;
    for (std::size_t c; n < text.size() && n + (c = sys.CharLength(text.substr(n))) <= sizeof piece;) n += c;
    if (n == 0) n = std::min(text.size(), sizeof piece);
    std::memcpy(piece, text.data(), n);
    sys.AnsiToOem(piece, n);
    AppendGuarded(f, std::string_view(piece, n));
    text.remove_prefix(n);
  }
}

void Pad(TextFile& f, int32_t width, std::size_t n) {
  if (width > 0 && std::size_t(width) > n) AppendSpaces(f, uint32_t(width - int32_t(n)));
}

void Open(TextFile& f, FileState mode) {
  if (f.state == FileState::OpenForTextInput || f.state == FileState::OpenForTextOutput) {
    CloseText(f);
  } else if (f.state != FileState::Closed) {
    SetIoStatus(StatusNotClosedOrBlocks);
    return;
  }
  f.state = mode;
  f.position = 0;
  f.end = 0;
  int32_t st = f.openOp(f);
  if (st != 0) {
    SetIoStatus(st);
    f.state = FileState::Closed;
  }
}

}  // namespace

void BindText(TextFile& f, std::string_view name) {
  f.handle = 0;
  f.state = FileState::Closed;
  f.bufferSize = uint32_t(f.buffer.size());
  f.position = 0;
  f.end = 0;
  f.openOp = OpenStandard;
  f.transferOp = f.flushOp = f.closeOp = nullptr;
  f.terminal = false;
  f.statusBytes = 0;
  f.name.assign(BoundName(name));
}

void OpenTextInput(TextFile& f) { Open(f, FileState::OpenForTextInput); }
void OpenTextOutput(TextFile& f) { Open(f, FileState::OpenForTextOutput); }

void CloseText(TextFile& f) {
  if (f.statusBytes) EraseStatus(f);
  if (f.state == FileState::OpenForTextOutput) {
    StoreFailure(f.transferOp(f));
  } else if (f.state != FileState::OpenForTextInput) {
    SetIoStatus(StatusNotOpenForBlocks);
    return;
  }
  StoreFailure(f.closeOp(f));
  f.state = FileState::Closed;
}

void CloseStandardFiles() {
  CloseText(StandardInput);
  CloseText(StandardOutput);
}

void ShowStatus(TextFile& f, std::string_view text) {
  // Only at the start of a line: bytes waiting in the buffer belong to the line.
  if (!f.terminal || f.state != FileState::OpenForTextOutput || f.position != 0) return;
  uint32_t n = uint32_t(std::min<std::size_t>(text.size(), MaxStatusBytes));
  char bytes[MaxStatusBytes + 1];
  bytes[0] = '\r';
  std::memcpy(bytes + 1, text.data(), n);
  // A shorter text covers what is left of the longer one before it.
  uint32_t width = std::max(n, f.statusBytes);
  std::memset(bytes + 1 + n, ' ', width - n);
  f.statusBytes = width;
  WriteAround(f, bytes, width + 1);
}

void EraseStatus(TextFile& f) {
  if (f.statusBytes == 0) return;
  char bytes[MaxStatusBytes + 2];
  bytes[0] = '\r';
  std::memset(bytes + 1, ' ', f.statusBytes);
  bytes[f.statusBytes + 1] = '\r';
  WriteAround(f, bytes, f.statusBytes + 2);
  f.statusBytes = 0;
}

void WriteText(TextFile& f, std::string_view text, int32_t width) {
  Pad(f, width, text.size());
  AppendShown(f, text);
}

std::string DecimalText(int64_t value) {
  char digits[24];
  int n = 0;
  // Work on the negative side so that the lowest value needs no special case.
  int64_t v = value < 0 ? value : -value;
  do {
    digits[n++] = char('0' - v % 10);
    v /= 10;
  } while (v != 0);
  std::string text = value < 0 ? "-" : "";
  while (n > 0) text += digits[--n];
  return text;
}

void WriteInteger(TextFile& f, int64_t value, int32_t width) { WriteText(f, DecimalText(value), width); }

void WriteChar(TextFile& f, char c, int32_t width) {
  Pad(f, width, 1);
  AppendShown(f, std::string_view(&c, 1));
}

void EndLine(TextFile& f) {
  const char* end = os::Sys().Rules().lineEnd;
  AppendBytes(f, end, uint32_t(std::strlen(end)));
  if (IoStatus() == 0 && f.flushOp) StoreFailure(f.flushOp(f));
}
