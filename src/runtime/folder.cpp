#include "runtime/folder.h"

#include "runtime/io_status.h"

namespace {

Folder Held(os::Status status, os::Handle handle) {
  Folder folder;
  folder.status = status;
  if (status == 0) folder.handle = handle;
  return folder;
}

}  // namespace

Folder OpenFolder(os::Handle parent, const std::string& path) {
  os::Handle h = os::InvalidHandle;
  os::Status st = os::Sys().OpenFolder(parent, path, h);
  return Held(st, h);
}

Folder CreateFolder(os::Handle parent, const std::string& name) {
  os::Handle h = os::InvalidHandle;
  os::Status st = os::Sys().CreateFolder(parent, name, h);
  return Held(st, h);
}

void FlushFolder(os::Handle folder) {
  os::Status st = os::Sys().FlushFolder(folder);
  if (st != 0) SetIoStatus(st);
}

void CloseFolder(Folder& folder) {
  if (folder.Held()) os::Sys().CloseFile(folder.handle);
  folder = Folder{};
}
