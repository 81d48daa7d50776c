// How the process ends: EndProcess with an exit code, or a failure that
// travels as a C++ exception to the one outermost handler, is reported once
// and ends the process with exit code 1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <source_location>
#include <string>

class Exception {
 public:
  explicit Exception(std::string text) : message(std::move(text)) {}
  virtual ~Exception() = default;
  virtual const char* ClassName() const { return "Exception"; }
  std::string message;
};

#define STOWIT_FAILURE_CLASS(Name, Base)                          \
  class Name : public Base {                                      \
   public:                                                        \
    using Base::Base;                                             \
    const char* ClassName() const override { return #Name; }      \
  };
STOWIT_FAILURE_CLASS(EOutOfMemory, Exception)
STOWIT_FAILURE_CLASS(EInvalidPointer, Exception)
STOWIT_FAILURE_CLASS(EIntError, Exception)
STOWIT_FAILURE_CLASS(EDivByZero, EIntError)
STOWIT_FAILURE_CLASS(ERangeError, EIntError)
STOWIT_FAILURE_CLASS(EIntOverflow, EIntError)
STOWIT_FAILURE_CLASS(EMathError, Exception)
STOWIT_FAILURE_CLASS(EInvalidOp, EMathError)
STOWIT_FAILURE_CLASS(EZeroDivide, EMathError)
STOWIT_FAILURE_CLASS(EOverflow, EMathError)
STOWIT_FAILURE_CLASS(EUnderflow, EMathError)
STOWIT_FAILURE_CLASS(EAccessViolation, Exception)
STOWIT_FAILURE_CLASS(EPrivilege, Exception)
STOWIT_FAILURE_CLASS(EControlC, Exception)
STOWIT_FAILURE_CLASS(EStackOverflow, Exception)
#undef STOWIT_FAILURE_CLASS

class EInOutError : public Exception {
 public:
  EInOutError(std::string text, int32_t code) : Exception(std::move(text)), status(code) {}
  const char* ClassName() const override { return "EInOutError"; }
  int32_t status;
};

class EExternalException : public Exception {
 public:
  EExternalException(std::string text, uint32_t code) : Exception(std::move(text)), exceptionCode(code) {}
  const char* ClassName() const override { return "EExternalException"; }
  uint32_t exceptionCode;
};

enum class FailureKind : int32_t {
  InOut = 0,
  OutOfMemory = 1,
  InvalidPointer = 2,
  DivByZero = 3,
  RangeError = 4,
  IntOverflow = 5,
  InvalidOp = 6,
  ZeroDivide = 7,
  Overflow = 8,
  Underflow = 9,
  AccessViolation = 11,
  Privilege = 12,
  ControlC = 13,
  StackOverflow = 14,
  External = 15,
};

// The statement a failure comes from; `file` is empty when none is known.
struct SourceLocation {
  const char* file = nullptr;
  uint32_t line = 0;
};

// What travels from a failed check to the outermost handler.
struct FailureException {
  std::shared_ptr<Exception> object;
  uintptr_t address = 0;
  SourceLocation location;
};

using ExitProcedure = void (*)();
extern ExitProcedure ExitHandler;

[[noreturn]] void EndProcess(int32_t code);

// Returns only when IoStatus is 0; otherwise the run ends with the report.
void CheckIoStatus(std::source_location where = std::source_location::current());

[[noreturn]] void RaiseFailure(FailureKind kind, uintptr_t address, SourceLocation location = {});
[[noreturn]] void UnhandledFailure(const Exception& object, uintptr_t address, const SourceLocation& location);
void ReportFailure(const Exception& object, uintptr_t address, const SourceLocation& location);

// The object made for a kind; kind 0 takes (and clears) IoStatus.
std::shared_ptr<Exception> MakeFailureObject(FailureKind kind);
FailureKind KindOfFault(uint32_t exceptionCode);
int32_t FallbackNumber(uint32_t exceptionCode);

// Fills `format` into a fixed buffer without taking memory: %s, %d, %x (upper-case
// hex) and %p (at least 8 upper-case hex digits). Returns the length the whole
// text needs; what does not fit in `size` - 1 bytes is cut.
struct FormatArg {
  enum Kind { Text, Number, Hex, Address } kind;
  const char* text = nullptr;
  int64_t number = 0;
  FormatArg(const char* s) : kind(Text), text(s ? s : "") {}
  FormatArg(int32_t n) : kind(Number), number(n) {}
  static FormatArg HexOf(uint64_t v) { FormatArg a(0); a.kind = Hex; a.number = int64_t(v); return a; }
  static FormatArg AddressOf(uint64_t v) { FormatArg a(0); a.kind = Address; a.number = int64_t(v); return a; }
};
std::size_t FormatInto(char* out, std::size_t size, const char* format, std::initializer_list<FormatArg> args);

// The line written to standard error for a failure before reporting is set up.
std::size_t FallbackErrorLine(char (&out)[256], int32_t exitCode, uintptr_t address,
                              const SourceLocation& location, uint32_t faultCode);

// Start-up in the documented order, then `run`; every road ends in EndProcess.
[[noreturn]] void RunProgram(int argc, char** argv, void (*run)());
