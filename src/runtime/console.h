// Buffered console text output. A write never stops the run: it leaves its
// failure in IoStatus, and the caller checks after each line.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "runtime/io_status.h"

struct TextFile {
  using Op = int32_t (*)(TextFile&);

  os::Handle handle = 0;
  FileState state = FileState::Unbound;
  uint32_t bufferSize = 128;
  uint32_t position = 0;  // output: bytes waiting; input: next byte to read
  uint32_t end = 0;       // input: bytes in the buffer
  Op openOp = nullptr;
  Op transferOp = nullptr;
  Op flushOp = nullptr;  // run after each line end; may be empty
  Op closeOp = nullptr;
  std::string name;  // empty for the standard files
  std::array<char, 128> buffer{};
  bool terminal = false;      // output to a terminal or console
  uint32_t statusBytes = 0;   // width of the status text on screen, 0 when none
};

extern TextFile StandardInput;
extern TextFile StandardOutput;

void BindText(TextFile& file, std::string_view name);
void OpenTextInput(TextFile& file);
void OpenTextOutput(TextFile& file);
void CloseText(TextFile& file);
void CloseStandardFiles();

// Field width: a value of n bytes is preceded by width - n spaces when width > n.
void WriteText(TextFile& file, std::string_view text, int32_t width = 0);
void WriteInteger(TextFile& file, int64_t value, int32_t width = 0);
void WriteChar(TextFile& file, char c, int32_t width = 0);
void EndLine(TextFile& file);

// A passing status text (how far a copy has come) on the line after the last
// one, on a terminal only: written around the buffer, replacing the status
// shown before, and erased (CR, spaces, CR) before anything else is written to
// the file or it is closed. Neither touches IoStatus; failed writes are ignored.
void ShowStatus(TextFile& file, std::string_view text);
void EraseStatus(TextFile& file);

// The decimal text of a value: "-" for a negative one, no leading zeros.
std::string DecimalText(int64_t value);
