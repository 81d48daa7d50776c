#include "runtime/io_status.h"

namespace {
thread_local int32_t status = 0;
}

int32_t& IoStatus() { return status; }

void SetIoStatus(int32_t code) { status = code; }

int32_t TakeIoStatus() {
  int32_t code = status;
  status = 0;
  return code;
}
