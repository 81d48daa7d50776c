// Which names a pattern lists: the rewrite of the pattern and the matching,
// checked together. Pure code, so the same table runs natively and under Wine.
#include "platform/wildcard.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

// A double-byte code page: these lead bytes take the byte after them, whatever it is.
std::size_t DoubleByte(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text.empty() ? 0 : text[0]);
  return text.size() >= 2 && ((lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC)) ? 2 : text.size() ? 1 : 0;
}

struct Case {
  const char* pattern;
  std::vector<std::string> listed, notListed;
  os::CharLengthOf length = os::Utf8CharLength;
};

const Case cases[] = {
    // "*.*" is "*"; both list every name, dots or not.
    {"*.*", {"a", "a.b", "a.", ".hidden", "x.y.z"}, {}},
    {"*", {"a", "a.b", "a."}, {}},
    {"*.*.", {"a", "a.b", "a.", ".hidden", "x.y.z"}, {}},
    // A trailing dot makes the star before it a DOS star: no dot but a last one.
    {"*.", {"a", "aa", "a.", "a.b.", "."}, {"a.b", "a.b.c"}},
    {"x*.", {"x", "xa", "xa.b."}, {"xa.b", "a"}},
    // Trailing spaces go as well; without a dot at the very end the star stays plain.
    {"*. ", {"a", "a.b"}, {}},
    {"a* ", {"ab", "a.b"}, {"b"}},
    {"a*. .", {"ab"}, {"a.b"}},
    // DOS question marks take nothing at a dot or at the end, and may take a last dot.
    {"?.?", {"a", "a.b", "a."}, {"ab", "a.bc", "ab.c"}},
    {"??.tmp", {"h.tmp", "hh.tmp"}, {"hhh.tmp", ".tmp.tmp"}},
    {"??tmp", {"hhtmp"}, {"h.tmp", "htmp.x"}},
    {"a?", {"a", "ab", "a."}, {"a.b", "abc"}},
    {"a??.*", {"a.one", "ab.two", "abc.x", "a"}, {"abcd.x", "b.one"}},
    // A DOS dot takes a dot, or nothing at the end.
    {"a.*", {"a", "a.b", "a.b.c"}, {"ab", "ba"}},
    // A DOS star before a literal dot: the dot may be any but the name's last dot.
    {"*.log", {"a.log", "A.LOG", "a.b.log", "a.log.log", ".log"}, {"a.logx", "log", "a.log.x"}},
    // Plain stars take dots too; other characters are themselves, case ignored.
    {"A*C", {"abc", "ac", "a.c", "AxC"}, {"ab", "abd"}},
    {"<*", {"<a"}, {"a"}},
    {"*\"", {"a\""}, {"a"}},
    // Other letters match only themselves, case and all; '?' takes one
    // character: a UTF-8 sequence, or a stray byte on its own.
    {"\xC3\xA9*", {"\xC3\xA9t\xC3\xA9"}, {"\xC3\x89t\xC3\xA9"}},
    {"?", {"e", "\xC3\xA9", "\xE6\x97\xA5", "\xF0\x9F\x93\x84", "\xC3"}, {"ab", "\xC3\x28", "\xE6\x97"}},
    {"?.log", {"x.log", "\xC3\xA9.log"}, {"\xE6\x97\xA5\xE6\x9C\xAC.log"}},
    {"??.log", {"\xE6\x97\xA5\xE6\x9C\xAC.log", "\xC3\xA9.log"}, {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.log"}},
    {"*\xA9.log", {"\xA9.log", "a\xA9.log"}, {"\xC3\xA9.log"}},  // a stray byte is no part of another character
    // In a double-byte code page a lead byte and its trail are one character,
    // also where the trail is the byte of '.' or a letter.
    {"?.log", {"\x82\xA0.log", "\x95\x5C.log"}, {"\x82\xA0\x82\xA0.log"}, DoubleByte},
    {"\x82" "a*", {"\x82\x61x"}, {"\x82\x41x"}, DoubleByte},
};

TEST(WildcardTest, PatternsListTheNamesWindowsLists) {
  for (const Case& c : cases) {
    os::NamePattern pattern(c.pattern, c.length);
    for (const std::string& name : c.listed) EXPECT_TRUE(pattern.Matches(name)) << c.pattern << " vs " << name;
    for (const std::string& name : c.notListed) EXPECT_FALSE(pattern.Matches(name)) << c.pattern << " vs " << name;
  }
}

// A backtracking matcher would not finish this in a lifetime.
TEST(WildcardTest, ManyStarsAgainstALongNameStayFast) {
  std::string name(20000, 'a');
  std::string stars;
  for (int i = 0; i < 40; ++i) stars += "*a";
  EXPECT_FALSE(os::NamePattern(stars + "*b", os::Utf8CharLength).Matches(name));
  EXPECT_TRUE(os::NamePattern(stars + "*", os::Utf8CharLength).Matches(name));
  EXPECT_FALSE(os::NamePattern(stars + "*.b", os::Utf8CharLength).Matches(name + ".c"));
}

}  // namespace
