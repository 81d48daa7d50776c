#include "runtime/search.h"

namespace {

thread_local int32_t searchStatus = 0;

// The attributes that keep an entry out unless the mask allows them; read-only never does.
constexpr uint32_t Excluding = AnyEntryMask & ~os::AttrReadOnly;

bool Accepted(uint32_t attributes, uint32_t mask) {
  uint32_t required = (mask >> 8) & 0xFF;
  uint32_t excluded = Excluding & ~(mask & 0xFF) & ~required;
  return (attributes & excluded) == 0 && (attributes & required) == required;
}

void Fill(SearchEntry& entry) {
  const os::FindData& r = entry.osRecord;
  entry.writeTime = r.dosWriteTime;
  entry.size = int64_t(r.size);
  entry.attributes = uint8_t(r.attributes & 0xFF);
  entry.name = r.name;
}

}  // namespace

int32_t& SearchStatus() { return searchStatus; }

int32_t SetSearchStatus(int32_t status) {
  searchStatus = status;
  return status;
}

void StartSearch(std::string_view pattern, uint32_t mask, SearchEntry& entry, os::Handle folder) {
  SetSearchStatus(OsStartSearch(std::string(pattern), mask, entry, folder));
}

void ContinueSearch(SearchEntry& entry) { SetSearchStatus(OsContinueSearch(entry)); }

void EndSearch(SearchEntry& entry) { SetSearchStatus(OsEndSearch(entry)); }

int32_t OsStartSearch(const std::string& pattern, uint32_t mask, SearchEntry& entry, os::Handle folder) {
  entry.searchMask = mask;
  os::Handle h = os::InvalidHandle;
  os::Status st = os::Sys().StartSearch(folder, pattern, h, entry.osRecord);
  entry.osHandle = st == 0 ? h : os::InvalidHandle;
  if (st != 0) return st;
  int32_t status = SkipToAcceptedEntry(entry);
  if (status != 0) {
    os::Sys().EndSearch(entry.osHandle);
    entry.osHandle = os::InvalidHandle;
  }
  return status;
}

int32_t OsContinueSearch(SearchEntry& entry) {
  if (entry.osHandle == os::InvalidHandle) return os::ErrorInvalidHandle;
  os::Status st = os::Sys().ContinueSearch(entry.osHandle, entry.osRecord);
  if (st != 0) return st;
  return SkipToAcceptedEntry(entry);
}

int32_t OsEndSearch(SearchEntry& entry) {
  if (entry.osHandle == os::InvalidHandle) return 0;
  os::Status st = os::Sys().EndSearch(entry.osHandle);
  entry.osHandle = os::InvalidHandle;
  return st;
}

int32_t SkipToAcceptedEntry(SearchEntry& entry) {
  while (!Accepted(entry.osRecord.attributes, entry.searchMask)) {
    os::Status st = os::Sys().ContinueSearch(entry.osHandle, entry.osRecord);
    if (st != 0) return st;
  }
  Fill(entry);
  return 0;
}

int32_t OsLookUp(const std::string& name, uint32_t mask, SearchEntry& entry, os::Handle folder) {
  entry.searchMask = mask;
  entry.osHandle = os::InvalidHandle;
  os::Status st = os::Sys().LookUp(folder, name, entry.osRecord);
  if (st != 0) return st;
  if (!Accepted(entry.osRecord.attributes, mask)) return os::ErrorFileNotFound;
  Fill(entry);
  return 0;
}
