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

#include "platform/platform.h"

class Exception {
 public:
  explicit Exception(std::string text) : message(std::move(text)) {}
  virtual ~Exception() = default;
  virtual const char* ClassName() const { return "Exception"; }
  std::string message;
};

class EInOutError : public Exception {
 public:
  EInOutError(std::string text, int32_t code) : Exception(std::move(text)), status(code) {}
  const char* ClassName() const override { return "EInOutError"; }
  int32_t status;
};

// The kinds, with their classes, texts and fault codes, are listed in failure_kinds.def.
enum class FailureKind : int32_t {
#define STOWIT_FAILURE_KIND(Kind, number, Class, Base, text) Kind = number,
#define STOWIT_FAILURE_KIND_OWN(Kind, number, Class, text) Kind = number,
#include "runtime/failure_kinds.def"
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

// Runtime error numbers for a failure that comes before reporting is set up,
// where the fault table gives none.
constexpr int32_t FallbackOutOfMemory = 203;
constexpr int32_t FallbackRaisedFailure = 204;  // any other kind the program raises
constexpr int32_t FallbackOtherFault = 217;     // a fault code the table does not list

// A processor or system fault, from the platform's handler: reported
// without taking memory, and the process ends.
void ReportFault(const os::FaultInfo& fault);
// Makes what the report needs in advance (the out-of-memory object); until
// then a failure takes the fallback road of one line on standard error.
void PrepareReporting();
[[noreturn]] void ReportOutOfMemory(uintptr_t address);

// The line written to standard error for a failure before reporting is set up.
std::size_t FallbackErrorLine(char (&out)[256], int32_t exitCode, uintptr_t address,
                              const SourceLocation& location, uint32_t faultCode);

// The classes made from the table. A fault is reported by its class name
// alone, and of these the program makes only EOutOfMemory; the rest are kept
// for completeness, and for tests.
#define STOWIT_FAILURE_CLASS(Name, Base)                          \
  class Name : public Base {                                      \
   public:                                                        \
    using Base::Base;                                             \
    const char* ClassName() const override { return #Name; }      \
  };
STOWIT_FAILURE_CLASS(EIntError, Exception)
STOWIT_FAILURE_CLASS(EMathError, Exception)
#define STOWIT_FAILURE_KIND(Kind, number, Class, Base, text) STOWIT_FAILURE_CLASS(Class, Base)
#include "runtime/failure_kinds.def"
#undef STOWIT_FAILURE_CLASS

class EExternalException : public Exception {
 public:
  EExternalException(std::string text, uint32_t code) : Exception(std::move(text)), exceptionCode(code) {}
  const char* ClassName() const override { return "EExternalException"; }
  uint32_t exceptionCode;
};
