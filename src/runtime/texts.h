// Ids of the texts in texts.def, and their loading.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

enum TextId : uint32_t {
#define STOWIT_TEXT(name, id, text) name = id,
#include "runtime/texts.def"
#undef STOWIT_TEXT
};

constexpr std::size_t TextBufferBytes = 1024;

// A text that cannot be loaded is empty.
inline std::string LoadText(TextId id) {
  char buffer[TextBufferBytes];
  std::size_t n = os::Sys().LoadText(id, buffer, sizeof buffer);
  return std::string(buffer, n);
}
