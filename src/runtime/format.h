// Text filled in without taking memory, so that a fault handler can use it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

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
