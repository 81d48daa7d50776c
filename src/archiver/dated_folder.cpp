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

Folder OpenArchiveRoot(std::string& root, Folder& parent) {
  // A root written with a delimiter at its end names the folder before it.
  std::string_view trimmed = root;
  while (trimmed.size() > 1 && EndsWithDelimiter(trimmed)) trimmed.remove_suffix(1);
  // The name is made in the held parent, where it is taken literally: it is
  // first read as the system reads what a user types, so that the folder made
  // is the one that the same path names later.
  std::string name;
  const int32_t typed = TypedName(std::string(trimmed), name);
  if (typed != 0) {
    parent = Folder{};
    parent.status = typed;
    return parent;
  }
  if (name != NamePart(trimmed)) root = DirectoryPart(trimmed) + name + root.substr(trimmed.size());
  parent = OpenFolder(os::CurrentFolder, DirectoryPart(trimmed));
  if (!parent.Held()) return parent;
  Folder made = CreateFolder(parent.handle, name);
  return made.Held() ? made : OpenFolder(parent.handle, name);
}

std::string MakeDatedFolder(const std::string& root, const Folder& held, Folder& dated) {
  LocalDate date = ReadLocalDate();
  std::string prefix = DecimalText(date.year) + TwoDigits(date.month) + TwoDigits(date.day);
  std::string name = prefix + "01";
  dated = Folder{};
  dated.status = held.status;
  // Creating is the test: any entry of the name (a folder, a file, a link)
  // takes its number, and another run that makes it first moves this one on.
  // A name said to be taken that no look-up finds ends the choice: the file
  // system answers nonsense, and would keep the run counting for ever.
  for (int32_t sequence = 1; held.Held(); ++sequence) {
    name = prefix + TwoDigits(sequence);
    dated = CreateFolder(held.handle, name);
    if (dated.status != os::ErrorAlreadyExists || sequence == INT32_MAX) break;
    SearchEntry taken;
    if (OsLookUp(name, AnyEntryMask, taken, held.handle) != 0) break;
  }
  return root + PathDelimiter() + name;
}
