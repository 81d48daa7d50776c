#include "platform/wildcard.h"

#include <algorithm>
#include <cstring>

namespace os {

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

// At least one byte, at most what is left and what a step holds.
std::size_t Bounded(CharLengthOf length, std::string_view text) {
  return std::clamp<std::size_t>(length(text), 1, std::min<std::size_t>(text.size(), 4));
}

}  // namespace

std::size_t Utf8CharLength(std::string_view text) {
  if (text.empty()) return 0;
  const auto lead = static_cast<unsigned char>(text[0]);
  const std::size_t n = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? (lead <= 0xEF ? 3 : 1) : lead >= 0xC2 ? 2 : 1;
  if (n > text.size()) return 1;
  for (std::size_t i = 1; i < n; ++i)
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) return 1;
  return n;
}

NamePattern::NamePattern(std::string_view component, CharLengthOf length) : length_(length) {
  bool endedInDot = !component.empty() && component.back() == '.';
  while (!component.empty() && (component.back() == '.' || component.back() == ' ')) component.remove_suffix(1);
  // "*.*" is "*" before the trailing dot's rule can make a DOS star of it: "*.*." lists every name too.
  if (component == "*.*") {
    component = "*";
    endedInDot = false;
  }
  for (std::size_t i = 0; i < component.size();) {
    const std::size_t n = Bounded(length_, component.substr(i));
    const char c = component[i];
    const char next = i + n < component.size() ? component[i + n] : 0;
    const bool last = i + n == component.size();
    if (n == 1 && c == '?')
      steps_.push_back({Kind::DosQuestion, 0, {}});
    else if (n == 1 && c == '*')
      steps_.push_back({(next == '.' || (last && endedInDot)) ? Kind::DosStar : Kind::Star, 0, {}});
    else if (n == 1 && c == '.' && (next == '*' || next == '?'))
      steps_.push_back({Kind::DosDot, 0, {}});
    else {
      Step step{Kind::Char, uint8_t(n), {}};
      std::memcpy(step.bytes, component.data() + i, n);
      if (n == 1) step.bytes[0] = LowerAscii(c);
      steps_.push_back(step);
    }
    i += n;
  }
}

// A simulation of all the ways at once: live[k] says that the first k steps
// can have taken the name read so far. Steps only ever pass on to the next
// one, so a single forward sweep adds those that may take nothing here. The
// name is read a character at a time.
bool NamePattern::Matches(std::string_view name) const {
  const std::size_t count = steps_.size();
  const std::size_t lastDot = name.rfind('.');  // npos when there is none
  std::vector<char>& live = live_;
  std::vector<char>& next = next_;
  live.assign(count + 1, 0);
  next.assign(count + 1, 0);
  live[0] = 1;
  for (std::size_t at = 0;;) {
    const bool atEnd = at == name.size();
    const std::size_t n = atEnd ? 0 : Bounded(length_, name.substr(at));
    const char c = atEnd ? 0 : name[at];
    const bool dot = n == 1 && c == '.';
    for (std::size_t k = 0; k < count; ++k) {
      if (!live[k]) continue;
      Kind kind = steps_[k].kind;
      bool takesNothing = kind == Kind::Star || kind == Kind::DosStar ||
                          (kind == Kind::DosQuestion && (atEnd || dot)) || (kind == Kind::DosDot && atEnd);
      if (takesNothing) live[k + 1] = 1;
    }
    if (atEnd) return live[count] != 0;

    bool any = false;
    std::fill(next.begin(), next.end(), 0);
    for (std::size_t k = 0; k < count; ++k) {
      if (!live[k]) continue;
      const Step& step = steps_[k];
      std::size_t to = count + 1;  // none
      switch (step.kind) {
        case Kind::Star: to = k; break;
        // Any character but the name's last dot, which it may take as its last.
        case Kind::DosStar: to = at == lastDot ? k + 1 : k; break;
        case Kind::DosQuestion:
          if (!dot || at + 1 == name.size()) to = k + 1;
          break;
        case Kind::DosDot:
          if (dot) to = k + 1;
          break;
        case Kind::Char:
          if (step.size == n && (n == 1 ? LowerAscii(c) == step.bytes[0] : std::memcmp(step.bytes, name.data() + at, n) == 0))
            to = k + 1;
          break;
      }
      if (to <= count) {
        next[to] = 1;
        any = true;
      }
    }
    if (!any) return false;
    live.swap(next);
    at += n;
  }
}

}  // namespace os
