#include "platform/command_line.h"

namespace os {

namespace {

bool IsSeparator(unsigned char c) { return c >= 1 && c <= 32; }

unsigned char At(std::string_view line, std::size_t i) {
  return i < line.size() ? static_cast<unsigned char>(line[i]) : 0;
}

}  // namespace

std::string NextArgumentToken(std::string_view line, std::size_t& position) {
  for (;;) {
    while (IsSeparator(At(line, position))) ++position;
    if (At(line, position) == '"' && At(line, position + 1) == '"') {
      position += 2;
      continue;
    }
    break;
  }
  std::string text;
  while (At(line, position) > 32) {
    if (At(line, position) == '"') {
      ++position;
      while (At(line, position) != 0 && At(line, position) != '"') text += char(At(line, position++));
      if (At(line, position) == '"') ++position;
    } else {
      text += char(At(line, position++));
    }
  }
  return text;
}

int32_t CountArguments(std::string_view line) {
  std::size_t position = 0;
  int32_t count = -1;
  while (!NextArgumentToken(line, position).empty()) ++count;
  return count;
}

std::string ArgumentOf(std::string_view line, int32_t index) {
  if (index < 0) return {};
  std::size_t position = 0;
  for (int32_t i = 0;; ++i) {
    std::string text = NextArgumentToken(line, position);
    if (text.empty() || i == index) return text;
  }
}

}  // namespace os
