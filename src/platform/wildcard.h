// The names a FindFirstFileA pattern lists, as Windows decides it for long
// names: the pattern's last component is first rewritten, then matched against
// the whole name with the case of ASCII letters ignored. Pure code, so that
// the POSIX search lists what the Windows build lists.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace os {

class NamePattern {
 public:
  // The rewrite: trailing spaces and dots go; "*.*" becomes a plain "*"; '?' becomes
  // a DOS question mark; '*' before a dot (or before a trailing dot that went)
  // a DOS star; '.' before '*' or '?' a DOS dot.
  explicit NamePattern(std::string_view component);

  // The matching, in time proportional to pattern length times name length.
  bool Matches(std::string_view name) const;

 private:
  enum class Kind : uint8_t { Byte, Star, DosStar, DosQuestion, DosDot };
  struct Step {
    Kind kind;
    char byte;  // for Kind::Byte
  };
  std::vector<Step> steps_;
  // Scratch for Matches, kept so that a folder's names take no allocation each.
  mutable std::vector<char> live_, next_;
};

}  // namespace os
