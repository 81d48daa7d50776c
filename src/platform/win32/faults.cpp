// Processor faults: the unhandled-exception filter that hands each to the
// failure report, a stack overflow reported from a thread of its own, and the
// module and offset of a code address.
#include <cstring>
#include <string>

#include "platform/win32/internal.h"

namespace os {

namespace {

FaultHandler faultHandler = nullptr;

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  FaultInfo fault;
  fault.code = record->ExceptionCode;
  fault.address = reinterpret_cast<uintptr_t>(record->ExceptionAddress);
  if (record->NumberParameters >= 2) {
    fault.info[0] = record->ExceptionInformation[0];
    fault.info[1] = record->ExceptionInformation[1];
  }
  if (faultHandler) faultHandler(fault);
  ::ExitProcess(1);
}

FaultInfo overflow;

DWORD WINAPI ReportOverflow(void*) {
  if (faultHandler) faultHandler(overflow);
  ::ExitProcess(1);
}

// A stack overflow leaves too little stack to report it on: the report is made
// on a thread of its own while the overflowed one waits. Other codes are left
// to whatever handles them further on.
LONG WINAPI OnStackOverflow(EXCEPTION_POINTERS* pointers) {
  if (pointers->ExceptionRecord->ExceptionCode != EXCEPTION_STACK_OVERFLOW) return EXCEPTION_CONTINUE_SEARCH;
  overflow.code = EXCEPTION_STACK_OVERFLOW;
  overflow.address = reinterpret_cast<uintptr_t>(pointers->ExceptionRecord->ExceptionAddress);
  HANDLE thread = CreateThread(nullptr, 256 * 1024, ReportOverflow, nullptr, 0, nullptr);
  if (thread) WaitForSingleObject(thread, INFINITE);
  ::ExitProcess(1);
}

}  // namespace

void NativePlatform::InstallFaultHandler(FaultHandler handler) {
  faultHandler = handler;
  SetUnhandledExceptionFilter(OnUnhandledException);
  AddVectoredExceptionHandler(1, OnStackOverflow);
}

bool NativePlatform::LocateCode(uintptr_t address, char* moduleName, std::size_t size, uintptr_t& offset) {
  MEMORY_BASIC_INFORMATION region;
  if (size == 0 || !VirtualQuery(reinterpret_cast<void*>(address), &region, sizeof region)) return false;
  if (region.State != MEM_COMMIT) return false;
  char path[MAX_PATH + 1];
  DWORD n = GetModuleFileNameA(static_cast<HMODULE>(region.AllocationBase), path, sizeof path);
  if (n == 0) return false;
  offset = address - reinterpret_cast<uintptr_t>(region.AllocationBase);
  std::string_view base = LastName(std::string_view(path, n));
  std::size_t len = base.size() < size - 1 ? base.size() : size - 1;
  memcpy(moduleName, base.data(), len);
  moduleName[len] = 0;
  return true;
}

}  // namespace os
