// Win32 exception codes, written here once: the POSIX layer reports signals
// with them, and the failure table (runtime/failure_kinds.def) names the kind
// and fallback number of each.
#pragma once

#include <cstdint>

namespace os {

enum : uint32_t {
  ExceptionAccessViolation = 0xC0000005,
  ExceptionIllegalInstruction = 0xC000001D,
  ExceptionArrayBoundsExceeded = 0xC000008C,
  ExceptionFltDenormalOperand = 0xC000008D,
  ExceptionFltDivideByZero = 0xC000008E,
  ExceptionFltInexactResult = 0xC000008F,
  ExceptionFltInvalidOperation = 0xC0000090,
  ExceptionFltOverflow = 0xC0000091,
  ExceptionFltStackCheck = 0xC0000092,
  ExceptionFltUnderflow = 0xC0000093,
  ExceptionIntDivideByZero = 0xC0000094,
  ExceptionIntOverflow = 0xC0000095,
  ExceptionPrivInstruction = 0xC0000096,
  ExceptionStackOverflow = 0xC00000FD,
  ExceptionControlCExit = 0xC000013A,
};

}  // namespace os
