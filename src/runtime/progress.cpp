#include "runtime/progress.h"

#include <algorithm>

#include "platform/platform.h"
#include "runtime/console.h"

namespace {

// The copy under way, if it is shown at all; one file is archived at a time.
CopyProgress* current = nullptr;

}  // namespace

CopyProgress::CopyProgress(int64_t size) {
  // Without a terminal nothing is shown and the clock is never read.
  if (!StandardOutput.terminal || size <= 0 || current) return;
  size_ = uint64_t(size);
  started_ = os::Sys().MonotonicMilliseconds();
  current = this;
}

CopyProgress::~CopyProgress() {
  if (current != this) return;
  current = nullptr;
  EraseStatus(StandardOutput);
}

void CopyProgress::Advance(uint32_t bytes) {
  copied_ += bytes;
  uint64_t now = os::Sys().MonotonicMilliseconds();
  if (now - started_ < ShowAfterMs) return;
  if (shownPercent_ >= 0 && now - shownAt_ < UpdateEveryMs) return;
  int32_t percent = PercentOf(copied_, size_);
  if (percent == shownPercent_) return;
  shownAt_ = now;
  shownPercent_ = percent;
  ShowStatus(StandardOutput, PercentText(percent));
}

void ReportCopied(uint32_t bytes) {
  if (current) current->Advance(bytes);
}

int32_t PercentOf(uint64_t copied, uint64_t size) {
  if (size == 0 || copied >= size) return 100;
  // copied < size here, so size / 100 is not 0 when copied * 100 would overflow.
  if (copied > UINT64_MAX / 100) return int32_t(std::min<uint64_t>(99, copied / (size / 100)));
  return int32_t(copied * 100 / size);
}

std::string PercentText(int32_t percent) {
  std::string text = DecimalText(percent) + "%";
  return std::string(text.size() < 4 ? 4 - text.size() : 0, ' ') + text;
}
