#include "platform/command_line.h"

#include <type_traits>

namespace os {

namespace {

// The same rules for the command line in the ANSI code page and in UTF-16.
template <class Char>
struct Splitter {
  using String = std::basic_string<Char>;
  using View = std::basic_string_view<Char>;

  static bool IsSeparator(unsigned c) { return c >= 1 && c <= 32; }

  static unsigned At(View line, std::size_t i) {
    return i < line.size() ? static_cast<std::make_unsigned_t<Char>>(line[i]) : 0;
  }

  static String Next(View line, std::size_t& position) {
    for (;;) {
      while (IsSeparator(At(line, position))) ++position;
      if (At(line, position) == '"' && At(line, position + 1) == '"') {
        position += 2;
        continue;
      }
      break;
    }
    String text;
    while (At(line, position) > 32) {
      if (At(line, position) == '"') {
        ++position;
        while (At(line, position) != 0 && At(line, position) != '"') text += Char(At(line, position++));
        if (At(line, position) == '"') ++position;
      } else {
        text += Char(At(line, position++));
      }
    }
    return text;
  }

  static int32_t Count(View line) {
    std::size_t position = 0;
    int32_t count = -1;
    while (!Next(line, position).empty()) ++count;
    return count;
  }

  static String Of(View line, int32_t index) {
    if (index < 0) return {};
    std::size_t position = 0;
    for (int32_t i = 0;; ++i) {
      String text = Next(line, position);
      if (text.empty() || i == index) return text;
    }
  }
};

}  // namespace

std::string NextArgumentToken(std::string_view line, std::size_t& position) { return Splitter<char>::Next(line, position); }
std::wstring NextArgumentToken(std::wstring_view line, std::size_t& position) {
  return Splitter<wchar_t>::Next(line, position);
}
int32_t CountArguments(std::string_view line) { return Splitter<char>::Count(line); }
int32_t CountArguments(std::wstring_view line) { return Splitter<wchar_t>::Count(line); }
std::string ArgumentOf(std::string_view line, int32_t index) { return Splitter<char>::Of(line, index); }
std::wstring ArgumentOf(std::wstring_view line, int32_t index) { return Splitter<wchar_t>::Of(line, index); }

}  // namespace os
