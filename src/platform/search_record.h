// The record of a search behind the handle that StartSearch hands out, the
// same for both bodies.
#pragma once

#include "platform/platform.h"

namespace os {

template <class Record>
Record* SearchRecord(Handle search) {
  return search == InvalidHandle ? nullptr : reinterpret_cast<Record*>(search);
}

// Hands out a search whose first look gave `first` (0: a match). One that
// found nothing is closed, its record freed, and says "file not found".
template <class Record, class Close>
Status HandOutSearch(Record* record, Status first, Handle& search, Close close) {
  if (first != 0) {
    close(*record);
    delete record;
    return first == ErrorNoMoreFiles ? ErrorFileNotFound : first;
  }
  search = reinterpret_cast<Handle>(record);
  return 0;
}

}  // namespace os
