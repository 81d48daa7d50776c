// How far the copy of one file has come, shown under its report line while
// standard output is a terminal and the copy has run for a second.
#pragma once

#include <cstdint>
#include <string>

// Lives while one file is archived: made after its report line, with the size
// that line shows. Its end erases what it showed, also when a failure passes
// through on its way to the report.
class CopyProgress {
 public:
  explicit CopyProgress(int64_t size);
  ~CopyProgress();
  CopyProgress(const CopyProgress&) = delete;
  CopyProgress& operator=(const CopyProgress&) = delete;

  static constexpr uint64_t ShowAfterMs = 1000;
  static constexpr uint64_t UpdateEveryMs = 250;

 private:
  friend void ReportCopied(uint32_t bytes);
  void Advance(uint32_t bytes);

  uint64_t size_ = 0;
  uint64_t copied_ = 0;
  uint64_t started_ = 0;
  uint64_t shownAt_ = 0;
  int32_t shownPercent_ = -1;
};

// The copy loop's hook, once per block: without a terminal it returns at once,
// with one it looks at the clock once.
void ReportCopied(uint32_t bytes);

// "  7%", " 42%", "100%": the whole percent of `size` that `copied` makes, never past 100.
int32_t PercentOf(uint64_t copied, uint64_t size);
std::string PercentText(int32_t percent);
