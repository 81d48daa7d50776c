// Folders held open while the run uses them: what is made, renamed or deleted
// in a held folder stays in it, wherever its path points later.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

struct Folder {
  os::Handle handle = os::InvalidHandle;
  int32_t status = os::ErrorPathNotFound;  // why it is not held, when it is not
  bool Held() const { return handle != os::InvalidHandle; }
};

// The folder at `path` below `parent` (os::CurrentFolder: a path as the
// system takes it, "" the working folder).
Folder OpenFolder(os::Handle parent, const std::string& path);
// Creates one level below `parent` and holds it; status 183, not held, when the name is taken.
Folder CreateFolder(os::Handle parent, const std::string& name);
// Makes the held folder's new entries durable; IoStatus on failure, for the caller to check.
void FlushFolder(os::Handle folder);
void CloseFolder(Folder& folder);
