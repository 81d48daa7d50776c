#include "runtime/failure.h"

#include <cstring>
#include <new>

#include "platform/exception_codes.h"
#include "platform/platform.h"
#include "runtime/arguments.h"
#include "runtime/console.h"
#include "runtime/format.h"
#include "runtime/io_status.h"
#include "runtime/texts.h"

ExitProcedure ExitHandler = nullptr;

namespace {

int32_t PendingExitCode = 0;
uintptr_t FailureAddress = 0;
SourceLocation FailureLocation;
uint32_t FaultCode = 0;
bool ReportInProgress = false;
bool ReportingReady = false;
std::shared_ptr<Exception> PreparedOutOfMemory;
constexpr uint32_t ThreadNumber = 1;  // the main thread; the tool runs no other
constexpr uint32_t MessageStyle = 0x10 | 0x2000;  // MB_ICONHAND | MB_TASKMODAL

[[noreturn]] void FinishProcess() {
  while (ExitHandler) {
    ExitProcedure procedure = ExitHandler;
    ExitHandler = nullptr;
    IoStatus() = 0;
    procedure();
  }
  if (FailureAddress != 0) {
    char line[256];
    std::size_t n = FallbackErrorLine(line, PendingExitCode, FailureAddress, FailureLocation, FaultCode);
    uint32_t done;
    os::Sys().WriteFile(os::Sys().StdHandle(os::StdStream::Error), line, uint32_t(n), done);
  }
  os::Exit(PendingExitCode);
}

[[noreturn]] void FallbackRoad(int32_t exitCode, uintptr_t address, const SourceLocation& location, uint32_t faultCode) {
  PendingExitCode = exitCode;
  FailureAddress = address ? address : 1;
  FailureLocation = location;
  FaultCode = faultCode;
  FinishProcess();
}

// The class name and text of each kind, and the kind and fallback number of
// each fault code, from the table.
struct FaultClass {
  FailureKind kind;
  const char* name;
  TextId text;
};

constexpr FaultClass FaultClasses[] = {
#define STOWIT_FAILURE_KIND(Kind, number, Class, Base, text) {FailureKind::Kind, #Class, text},
#define STOWIT_FAILURE_KIND_OWN(Kind, number, Class, text) {FailureKind::Kind, #Class, text},
#include "runtime/failure_kinds.def"
};

// A kind not listed is reported as an external exception.
const FaultClass& ClassOf(FailureKind kind) {
  for (const FaultClass& c : FaultClasses)
    if (c.kind == kind) return c;
  return ClassOf(FailureKind::External);
}

struct Fault {
  uint32_t code;
  FailureKind kind;
  int32_t fallback;
};

constexpr Fault Faults[] = {
#define STOWIT_FAULT(code, Kind, fallback) {code, FailureKind::Kind, fallback},
#include "runtime/failure_kinds.def"
};

const Fault* FaultOf(uint32_t code) {
  for (const Fault& f : Faults)
    if (f.code == code) return &f;
  return nullptr;
}

// An object of a kind whose class holds only its message.
std::shared_ptr<Exception> NewPlainObject(FailureKind kind) {
  switch (kind) {
#define STOWIT_FAILURE_KIND(Kind, number, Class, Base, text) \
  case FailureKind::Kind: return std::make_shared<Class>(LoadText(text));
#include "runtime/failure_kinds.def"
    default: return std::make_shared<Exception>(std::string());
  }
}

TextId IoMessage(int32_t status) {
  switch (status) {
    case os::ErrorFileNotFound: return TextFileNotFound;
    case os::ErrorPathNotFound: return TextInvalidFilename;
    case os::ErrorTooManyOpenFiles: return TextTooManyOpenFiles;
    case os::ErrorAccessDenied: return TextFileAccessDenied;
    case StatusShortRead: return TextReadBeyondEnd;
    case StatusShortWrite: return TextDiskFull;
    case StatusInvalidNumericInput: return TextInvalidNumericInput;
    default: return TextIoError;
  }
}

// The report's core; works in fixed buffers so that a fault handler can use it.
void ReportText(const char* className, const char* message, uintptr_t address, const SourceLocation& location) {
  if (ReportInProgress) return;
  ReportInProgress = true;
  os::Platform& sys = os::Sys();

  char locationLine[260] = "";
  if (location.file && *location.file)
    FormatInto(locationLine, sizeof locationLine, "File: %s Line#: %d\n", {location.file, int32_t(location.line)});

  char module[260] = "";
  uintptr_t offset = 0;
  if (!sys.LocateCode(address, module, sizeof module, offset)) offset = address;

  std::size_t length = std::strlen(message);
  const char* dot = (length > 0 && message[length - 1] != '.') ? "." : "";

  char format[TextBufferBytes];
  sys.LoadText(TextReportFormat, format, sizeof format);
  char text[260];
  auto fill = [&] {
    return FormatInto(text, sizeof text, format,
                      {className, module, FormatArg::AddressOf(uint32_t(offset)), locationLine, message, dot});
  };
  std::size_t needed = fill();
  // A long program name gives way, so that the message stays whole.
  if (needed >= sizeof text) {
    std::size_t moduleLength = std::strlen(module);
    std::size_t over = needed - (sizeof text - 1);
    module[moduleLength > over ? moduleLength - over : 0] = 0;
    fill();
  }

  char lines[2 * sizeof text];
  std::size_t n = 0;
  const char* lineEnd = os::Sys().Rules().lineEnd;
  std::size_t endLength = std::strlen(lineEnd);
  for (const char* p = text; *p; ++p) {
    if (*p == '\n') {
      std::memcpy(lines + n, lineEnd, endLength);
      n += endLength;
    } else {
      lines[n++] = *p;
    }
  }
  lines[n] = 0;

  if (IsConsoleProgram) {
    // A processor fault ends the run without unwinding: the copy's progress
    // text would still stand where the report begins.
    EraseStatus(StandardOutput);
    sys.AnsiToOem(lines, n);
    uint32_t done;
    sys.WriteFile(sys.StdHandle(os::StdStream::Output), lines, uint32_t(n), done);
  } else {
    char caption[TextBufferBytes];
    sys.LoadText(TextReportCaption, caption, sizeof caption);
    sys.ShowMessage(lines, caption, MessageStyle);
  }
  ReportInProgress = false;
}

}  // namespace

std::size_t FallbackErrorLine(char (&out)[256], int32_t exitCode, uintptr_t address,
                              const SourceLocation& location, uint32_t faultCode) {
  std::size_t n = FormatInto(out, sizeof out, "Runtime error %d at %p", {exitCode, FormatArg::AddressOf(address)});
  auto more = [&](const char* format, std::initializer_list<FormatArg> args) {
    if (n < sizeof out - 1) n += FormatInto(out + n, sizeof out - n, format, args);
  };
  if (location.file && *location.file) more(" (%s#%d)", {location.file, int32_t(location.line)});
  if (faultCode != 0) more(" (Exception %p)", {FormatArg::AddressOf(faultCode)});
  more(" TID=%d.", {int32_t(ThreadNumber)});
  more("%s", {os::Sys().Rules().lineEnd});
  return n < sizeof out ? n : sizeof out - 1;
}

[[noreturn]] void EndProcess(int32_t code) {
  PendingExitCode = code;
  FailureAddress = 0;
  FinishProcess();
}

__attribute__((noinline)) void CheckIoStatus(std::source_location where) {
  if (IoStatus() == 0) return;
  RaiseFailure(FailureKind::InOut, reinterpret_cast<uintptr_t>(__builtin_return_address(0)),
               // The last name of a NUL-terminated path ends with it, NUL and all.
               SourceLocation{os::LastName(where.file_name()).data(), where.line()});
}

std::shared_ptr<Exception> MakeFailureObject(FailureKind kind) {
  switch (kind) {
    case FailureKind::InOut: {
      int32_t status = TakeIoStatus();
      TextId id = IoMessage(status);
      std::string text = LoadText(id);
      if (id == TextIoError) {
        char filled[TextBufferBytes];
        FormatInto(filled, sizeof filled, text.c_str(), {status});
        text = filled;
      }
      return std::make_shared<EInOutError>(std::move(text), status);
    }
    case FailureKind::OutOfMemory:
      if (!PreparedOutOfMemory) PreparedOutOfMemory = NewPlainObject(kind);
      return PreparedOutOfMemory;
    case FailureKind::External: return std::make_shared<EExternalException>(LoadText(ClassOf(kind).text), 0);
    default: return NewPlainObject(kind);
  }
}

FailureKind KindOfFault(uint32_t code) {
  const Fault* f = FaultOf(code);
  return f ? f->kind : FailureKind::External;
}

int32_t FallbackNumber(uint32_t code) {
  const Fault* f = FaultOf(code);
  return f ? f->fallback : FallbackOtherFault;
}

[[noreturn]] void RaiseFailure(FailureKind kind, uintptr_t address, SourceLocation location) {
  if (!ReportingReady) {
    int32_t code = kind == FailureKind::InOut         ? TakeIoStatus()
                   : kind == FailureKind::OutOfMemory ? FallbackOutOfMemory
                                                      : FallbackRaisedFailure;
    FallbackRoad(code, address, location, 0);
  }
  throw FailureException{MakeFailureObject(kind), address, location};
}

void ReportFailure(const Exception& object, uintptr_t address, const SourceLocation& location) {
  ReportText(object.ClassName(), object.message.c_str(), address, location);
}

[[noreturn]] void UnhandledFailure(const Exception& object, uintptr_t address, const SourceLocation& location) {
  ReportFailure(object, address, location);
  EndProcess(1);
}

// A processor or system fault, from the platform's handler: no memory is taken.
void ReportFault(const os::FaultInfo& fault) {
  if (!ReportingReady) FallbackRoad(FallbackNumber(fault.code), fault.address, {}, fault.code);
  if (ReportInProgress) EndProcess(1);
  const FaultClass& c = ClassOf(KindOfFault(fault.code));
  char format[TextBufferBytes];
  os::Sys().LoadText(c.text, format, sizeof format);
  static char message[TextBufferBytes];
  if (c.kind == FailureKind::AccessViolation) {
    char access[TextBufferBytes];
    os::Sys().LoadText(fault.info[0] == 0 ? TextRead : TextWrite, access, sizeof access);
    FormatInto(message, sizeof message, format,
               {FormatArg::AddressOf(fault.address), access, FormatArg::AddressOf(fault.info[1])});
  } else if (c.kind == FailureKind::External) {
    FormatInto(message, sizeof message, format, {FormatArg::HexOf(fault.code)});
  } else {
    FormatInto(message, sizeof message, format, {});
  }
  ReportText(c.name, message, fault.address, {});
  EndProcess(1);
}

void PrepareReporting() {
  MakeFailureObject(FailureKind::OutOfMemory);
  IoStatus() = 0;
  ReportingReady = true;
}

[[noreturn]] void ReportOutOfMemory(uintptr_t address) {
  if (!ReportingReady) FallbackRoad(FallbackOutOfMemory, 1, {}, 0);
  UnhandledFailure(*PreparedOutOfMemory, address, {});
}
