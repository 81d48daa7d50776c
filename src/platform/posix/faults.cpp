// Processor faults: signals turned into the Win32 exception codes that the
// failure report names, and the module and offset of a code address.
#include <dlfcn.h>
#include <pthread.h>
#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstring>

#include "platform/exception_codes.h"
#include "platform/posix/internal.h"

namespace os {

namespace {

// Fault handling runs on a stack of its own, so a stack overflow can be reported.
alignas(16) char alternateStack[64 * 1024];
FaultHandler faultHandler = nullptr;
uintptr_t stackLow = 0;

void OnFault(int sig, siginfo_t* info, void* context) {
  FaultInfo fault;
  uintptr_t accessed = reinterpret_cast<uintptr_t>(info->si_addr);
  fault.address = accessed;
  bool write = false;
#if defined(__x86_64__)
  auto* uc = static_cast<ucontext_t*>(context);
  fault.address = uintptr_t(uc->uc_mcontext.gregs[REG_RIP]);
  write = (uc->uc_mcontext.gregs[REG_ERR] & 2) != 0;
#elif defined(__aarch64__)
  // The kernel appends the fault's syndrome to the frame's records; bit 6 (WnR) marks a write.
  auto* uc = static_cast<ucontext_t*>(context);
  fault.address = uintptr_t(uc->uc_mcontext.pc);
  for (auto* record = reinterpret_cast<const _aarch64_ctx*>(uc->uc_mcontext.__reserved);
       record->magic != 0 && record->size != 0;
       record = reinterpret_cast<const _aarch64_ctx*>(reinterpret_cast<const char*>(record) + record->size))
    if (record->magic == ESR_MAGIC) write = (reinterpret_cast<const esr_context*>(record)->esr & (1u << 6)) != 0;
#elif defined(__arm__)
  // The fault status register of a data abort: bit 11 (WnR) marks a write.
  auto* uc = static_cast<ucontext_t*>(context);
  fault.address = uintptr_t(uc->uc_mcontext.arm_pc);
  write = (uc->uc_mcontext.error_code & (1u << 11)) != 0;
#else
  (void)context;
#endif
  switch (sig) {
    case SIGFPE:
      switch (info->si_code) {
        case FPE_INTDIV: fault.code = ExceptionIntDivideByZero; break;
        case FPE_INTOVF: fault.code = ExceptionIntOverflow; break;
        case FPE_FLTDIV: fault.code = ExceptionFltDivideByZero; break;
        case FPE_FLTOVF: fault.code = ExceptionFltOverflow; break;
        case FPE_FLTUND: fault.code = ExceptionFltUnderflow; break;
        case FPE_FLTRES: fault.code = ExceptionFltInexactResult; break;
        case FPE_FLTSUB: fault.code = ExceptionArrayBoundsExceeded; break;
#if defined(__arm__)
        // Base ARMv7 has no division instruction: the runtime's helper raises
        // SIGFPE itself on a zero divisor.
        case SI_TKILL: fault.code = ExceptionIntDivideByZero; break;
#endif
        default: fault.code = ExceptionFltInvalidOperation; break;
      }
      break;
    case SIGILL:
      fault.code = (info->si_code == ILL_PRVOPC || info->si_code == ILL_PRVREG) ? ExceptionPrivInstruction
                                                                                : ExceptionIllegalInstruction;
      break;
    default:  // SIGSEGV, SIGBUS
      if (stackLow && accessed < stackLow + 64 * 1024 && accessed + 1024 * 1024 > stackLow) {
        fault.code = ExceptionStackOverflow;
      } else {
        fault.code = ExceptionAccessViolation;
        fault.info[0] = write ? 1 : 0;
        fault.info[1] = accessed;
      }
      break;
  }
  if (faultHandler) faultHandler(fault);
  _exit(1);
}

}  // namespace

void NativePlatform::InstallFaultHandler(FaultHandler handler) {
  faultHandler = handler;
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) == 0) {
    void* addr = nullptr;
    size_t size = 0;
    if (pthread_attr_getstack(&attr, &addr, &size) == 0) stackLow = reinterpret_cast<uintptr_t>(addr);
    pthread_attr_destroy(&attr);
  }
  stack_t ss{};
  ss.ss_sp = alternateStack;
  ss.ss_size = sizeof alternateStack;
  sigaltstack(&ss, nullptr);
  struct sigaction sa {};
  sa.sa_sigaction = OnFault;
  // SA_NODEFER: a fault while reporting comes back here instead of killing the process.
  sa.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) sigaction(sig, &sa, nullptr);
}

bool NativePlatform::LocateCode(uintptr_t address, char* moduleName, std::size_t size, uintptr_t& offset) {
  Dl_info info{};
  if (size == 0 || !dladdr(reinterpret_cast<void*>(address), &info) || !info.dli_fbase) return false;
  offset = address - reinterpret_cast<uintptr_t>(info.dli_fbase);
  // Code of the program itself is named by the program's path, not the loader's name for it.
  Dl_info own{};
  std::string path = info.dli_fname ? info.dli_fname : "";
  if (dladdr(reinterpret_cast<void*>(&OnFault), &own) && own.dli_fbase == info.dli_fbase) path = programPath;
  std::string_view base = LastName(path);
  std::size_t n = base.size() < size - 1 ? base.size() : size - 1;
  memcpy(moduleName, base.data(), n);
  moduleName[n] = 0;
  return true;
}

}  // namespace os
