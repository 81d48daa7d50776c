// Directory search with attribute filtering, in a record the caller owns.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

// Low byte: attributes allowed; second byte: attributes an entry must have.
// Files of every kind, but no directories and no volume labels:
constexpr uint32_t FileMask = os::AttrReadOnly | os::AttrHidden | os::AttrSystem | os::AttrArchive;
constexpr uint32_t AnyEntryMask = FileMask | os::AttrVolume | os::AttrDirectory;  // every entry

struct SearchEntry {
  os::Handle osHandle = os::InvalidHandle;  // InvalidHandle when no search is open
  uint8_t attributes = 0;
  uint32_t writeTime = 0;  // MS-DOS form, local time
  int64_t size = 0;        // the whole size: the report line shows it
  std::string name;        // without directory
  uint32_t searchMask = 0;
  os::FindData osRecord;
};

// The status of the calling thread's last StartSearch, ContinueSearch or EndSearch.
int32_t& SearchStatus();
int32_t SetSearchStatus(int32_t status);

// With a held folder, the search lists that folder (see the platform's StartSearch).
void StartSearch(std::string_view pattern, uint32_t mask, SearchEntry& entry, os::Handle folder = os::CurrentFolder);
void ContinueSearch(SearchEntry& entry);
void EndSearch(SearchEntry& entry);

// The lower level returns its status and leaves SearchStatus alone.
int32_t OsStartSearch(const std::string& pattern, uint32_t mask, SearchEntry& entry,
                      os::Handle folder = os::CurrentFolder);
int32_t OsContinueSearch(SearchEntry& entry);
int32_t OsEndSearch(SearchEntry& entry);
int32_t SkipToAcceptedEntry(SearchEntry& entry);
// One entry named literally (never a wildcard reading of the name), when
// `mask` accepts it; holds no handle. The one existence test, beneath FilePresent:
// any failure is no entry, and neither status changes.
int32_t OsLookUp(const std::string& name, uint32_t mask, SearchEntry& entry, os::Handle folder = os::CurrentFolder);
