#include "platform/platform.h"

namespace os {

namespace {
Platform* current = nullptr;
}

Platform& Sys() { return current ? *current : Native(); }

void SetPlatform(Platform* p) { current = p; }

}  // namespace os
