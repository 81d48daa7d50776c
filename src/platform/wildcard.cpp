#include "platform/wildcard.h"

#include <algorithm>
#include <cstddef>

namespace os {

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

}  // namespace

NamePattern::NamePattern(std::string_view component) {
  bool endedInDot = !component.empty() && component.back() == '.';
  while (!component.empty() && (component.back() == '.' || component.back() == ' ')) component.remove_suffix(1);
  // "*.*" is "*" before the trailing dot's rule can make a DOS star of it: "*.*." lists every name too.
  if (component == "*.*") {
    component = "*";
    endedInDot = false;
  }
  for (std::size_t i = 0; i < component.size(); ++i) {
    char c = component[i];
    char next = i + 1 < component.size() ? component[i + 1] : 0;
    bool last = i + 1 == component.size();
    if (c == '?')
      steps_.push_back({Kind::DosQuestion, 0});
    else if (c == '*')
      steps_.push_back({(next == '.' || (last && endedInDot)) ? Kind::DosStar : Kind::Star, 0});
    else if (c == '.' && (next == '*' || next == '?'))
      steps_.push_back({Kind::DosDot, 0});
    else
      steps_.push_back({Kind::Byte, LowerAscii(c)});
  }
}

// A simulation of all the ways at once: live[k] says that the first k steps
// can have taken the name read so far. Steps only ever pass on to the next
// one, so a single forward sweep adds those that may take nothing here.
bool NamePattern::Matches(std::string_view name) const {
  const std::size_t count = steps_.size();
  const std::size_t lastDot = name.rfind('.');  // npos when there is none
  std::vector<char>& live = live_;
  std::vector<char>& next = next_;
  live.assign(count + 1, 0);
  next.assign(count + 1, 0);
  live[0] = 1;
  for (std::size_t at = 0;; ++at) {
    const bool atEnd = at == name.size();
    const char c = atEnd ? 0 : name[at];
    for (std::size_t k = 0; k < count; ++k) {
      if (!live[k]) continue;
      Kind kind = steps_[k].kind;
      bool takesNothing = kind == Kind::Star || kind == Kind::DosStar ||
                          (kind == Kind::DosQuestion && (atEnd || c == '.')) || (kind == Kind::DosDot && atEnd);
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
        // Any byte but the name's last dot, which it may take as its last.
        case Kind::DosStar: to = at == lastDot ? k + 1 : k; break;
        case Kind::DosQuestion:
          if (c != '.' || at + 1 == name.size()) to = k + 1;
          break;
        case Kind::DosDot:
          if (c == '.') to = k + 1;
          break;
        case Kind::Byte:
          if (LowerAscii(c) == step.byte) to = k + 1;
          break;
      }
      if (to <= count) {
        next[to] = 1;
        any = true;
      }
    }
    if (!any) return false;
    live.swap(next);
  }
}

}  // namespace os
