// The per-thread status of file and console operations, and the state markers
// that text files and block files share.
#pragma once

#include <cstdint>

// A failed operation stores its code, overwriting any earlier one; a success
// leaves it alone.
int32_t& IoStatus();
void SetIoStatus(int32_t code);
// Returns the status and clears it in the same step.
int32_t TakeIoStatus();

// The system's own status codes, beside the operating system's numbers.
enum : int32_t {
  StatusShortRead = 100,
  StatusShortWrite = 101,
  StatusNotClosedOrBlocks = 102,
  StatusNotOpenForBlocks = 103,
  StatusNotOpenForOutput = 105,
  StatusInvalidNumericInput = 106,  // nothing here reads numbers; the failure texts keep it
};

enum class FileState : uint32_t {
  Unbound = 0,
  Closed = 0xA55AD7B0,
  OpenForTextInput = 0xA55AD7B1,
  OpenForTextOutput = 0xA55AD7B2,
  OpenForBlocks = 0xA55AD7B3,
};
