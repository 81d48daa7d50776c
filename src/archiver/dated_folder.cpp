#include "archiver/dated_folder.h"

#include <climits>

#include "runtime/console.h"
#include "runtime/paths.h"
#include "runtime/search.h"

namespace {

std::string TwoDigits(int32_t value) {
  std::string text = DecimalText(value);
  if (value < 10) text.insert(text.begin(), '0');
  return text;
}

}  // namespace

LocalDate ReadLocalDate() {
  os::LocalDate today = os::Sys().Today();
  return LocalDate{today.year, today.month, today.day};
}

bool FolderExists(const std::string& name) {
  std::string copy = name;
  if (EndsWithDelimiter(copy)) copy.pop_back();
  return EntryExists(copy, AnyEntryMask);
}

bool CreateFolder(const std::string& path) { return os::Sys().CreateDirectory(path) == 0; }

std::string MakeDatedFolder(const std::string& root) {
  LocalDate date = ReadLocalDate();
  std::string prefix = root + PathDelimiter() + DecimalText(date.year) + TwoDigits(date.month) + TwoDigits(date.day);
  for (int32_t sequence = 1;; ++sequence) {
    std::string candidate = prefix + TwoDigits(sequence);
    if (FolderExists(candidate) && sequence < INT32_MAX) continue;
    // Another run may take the name between the test and the creation: then
    // the number is taken, and runs never share a folder.
    if (os::Sys().CreateDirectory(candidate) == os::ErrorAlreadyExists && sequence < INT32_MAX) continue;
    return candidate;
  }
}
