// The names a FindFirstFileA pattern lists, as Windows decides it for long
// names: the pattern's last component is first rewritten, then matched against
// the whole name with the case of ASCII letters ignored (other letters match
// only themselves). Pure code, used by the search on both platforms, so that
// a script lists the same files on each, whatever names the file system keeps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace os {

// How many bytes the character at the start of a text takes (at least 1 for a
// text that is not empty), as the platform's CharLength says.
using CharLengthOf = std::size_t (*)(std::string_view text);

// A well-formed UTF-8 sequence, or one stray byte.
std::size_t Utf8CharLength(std::string_view text);

class NamePattern {
 public:
  // The rewrite: trailing spaces and dots go; "*.*" becomes a plain "*"; '?' becomes
  // a DOS question mark; '*' before a dot (or before a trailing dot that went)
  // a DOS star; '.' before '*' or '?' a DOS dot. A '?' takes one character,
  // however many bytes `length` says it has.
  NamePattern(std::string_view component, CharLengthOf length);

  // The matching, in time proportional to pattern length times name length.
  bool Matches(std::string_view name) const;

 private:
  enum class Kind : uint8_t { Char, Star, DosStar, DosQuestion, DosDot };
  struct Step {
    Kind kind;
    uint8_t size;   // for Kind::Char: the character's bytes
    char bytes[4];
  };
  CharLengthOf length_;
  std::vector<Step> steps_;
  // Scratch for Matches, kept so that a folder's names take no allocation each.
  mutable std::vector<char> live_, next_;
};

}  // namespace os
