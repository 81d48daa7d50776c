// The run's archive folders: the root, made if it is missing, and in it each
// run's own folder, YYYYMMDDnn with the lowest free nn. Both are held open,
// so that every copy lands in the folder that was made for it.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/clock.h"
#include "runtime/folder.h"

// The archive root held, made first if it is missing (one level; the result
// of that creation is ignored). `parent` holds the folder that it is in.
// `root` is the path as typed; it becomes the path of the folder that the
// system takes it for (Windows drops trailing dots and spaces).
Folder OpenArchiveRoot(std::string& root, Folder& parent);
// Chooses and creates the run's folder in the held root, and holds it in
// `dated`; returns its path below `root`, also when it could not be made.
std::string MakeDatedFolder(const std::string& root, const Folder& held, Folder& dated);
