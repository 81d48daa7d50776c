#include "runtime/format.h"

namespace {

void AppendHex(char* out, std::size_t size, std::size_t& n, uint64_t value, int minDigits) {
  char digits[16];
  int count = 0;
  do {
    digits[count++] = "0123456789ABCDEF"[value & 15];
    value >>= 4;
  } while (value != 0);
  while (count < minDigits) digits[count++] = '0';
  while (count > 0) {
    if (n + 1 < size) out[n] = digits[count - 1];
    ++n;
    --count;
  }
}

}  // namespace

std::size_t FormatInto(char* out, std::size_t size, const char* format, std::initializer_list<FormatArg> args) {
  std::size_t n = 0;
  const FormatArg* arg = args.begin();
  auto put = [&](char c) {
    if (n + 1 < size) out[n] = c;
    ++n;
  };
  for (const char* p = format; *p; ++p) {
    if (*p != '%' || p[1] == 0) {
      put(*p);
      continue;
    }
    char conversion = *++p;
    if (conversion == '%') {
      put('%');
      continue;
    }
    if (arg == args.end()) continue;
    const FormatArg& a = *arg++;
    switch (conversion) {
      case 's':
        for (const char* s = a.kind == FormatArg::Text ? a.text : ""; *s; ++s) put(*s);
        break;
      case 'd': {
        int64_t v = a.number;
        if (v < 0) put('-');
        char digits[24];
        int count = 0;
        do {
          int64_t d = v % 10;
          digits[count++] = char('0' + (d < 0 ? -d : d));
          v /= 10;
        } while (v != 0);
        while (count > 0) put(digits[--count]);
        break;
      }
      case 'x': AppendHex(out, size, n, uint64_t(a.number), 1); break;
      case 'p': AppendHex(out, size, n, uint64_t(a.number), 8); break;
      default: break;
    }
  }
  if (size > 0) out[n < size ? n : size - 1] = 0;
  return n;
}
