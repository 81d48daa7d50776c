// Which names a pattern lists: the rewrite of the pattern and the matching,
// checked together. Pure code, so the same table runs natively and under Wine.
#include "platform/wildcard.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Case {
  const char* pattern;
  std::vector<std::string> listed, notListed;
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
    // Bytes from 0x80 match only themselves; '?' takes one byte of UTF-8.
    {"\xC3\xA9*", {"\xC3\xA9t\xC3\xA9"}, {"\xC3\x89t\xC3\xA9"}},
    {"?", {"e"}, {"\xC3\xA9"}},
    {"??", {"\xC3\xA9"}, {}},
};

TEST(WildcardTest, PatternsListTheNamesWindowsLists) {
  for (const Case& c : cases) {
    os::NamePattern pattern(c.pattern);
    for (const std::string& name : c.listed) EXPECT_TRUE(pattern.Matches(name)) << c.pattern << " vs " << name;
    for (const std::string& name : c.notListed) EXPECT_FALSE(pattern.Matches(name)) << c.pattern << " vs " << name;
  }
}

// A backtracking matcher would not finish this in a lifetime.
TEST(WildcardTest, ManyStarsAgainstALongNameStayFast) {
  std::string name(20000, 'a');
  std::string stars;
  for (int i = 0; i < 40; ++i) stars += "*a";
  EXPECT_FALSE(os::NamePattern(stars + "*b").Matches(name));
  EXPECT_TRUE(os::NamePattern(stars + "*").Matches(name));
  EXPECT_FALSE(os::NamePattern(stars + "*.b").Matches(name + ".c"));
}

}  // namespace
