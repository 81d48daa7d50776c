#include "archiver/archive_file.h"

#include <memory>
#include <new>

#include "runtime/block_file.h"
#include "runtime/console.h"
#include "runtime/failure.h"
#include "runtime/io_status.h"

namespace {

// Not inlined, so that an out-of-memory failure names the call site in ArchiveFile.
__attribute__((noinline)) std::unique_ptr<char[]> TakeCopyBuffer() {
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[CopyBlockSize]);
  if (!buffer) RaiseFailure(FailureKind::OutOfMemory, reinterpret_cast<uintptr_t>(__builtin_return_address(0)));
  return buffer;
}

}  // namespace

void ArchiveFile(const std::string& source, const std::string& destination, bool deleteAfter) {
  if (!FilePresent(source)) return;
  BlockFile from, to;
  BindName(from, source);
  BindName(to, destination);

  OpenExisting(from, 1);
  if (TakeIoStatus() != 0) {
    WriteText(StandardOutput, "Can't Open file : ");
    WriteText(StandardOutput, source);
    EndLine(StandardOutput);
    CheckIoStatus();
    return;
  }

  CreateEmpty(to, 1);
  CheckIoStatus();
  CopyAccessRights(from, to);
  CheckIoStatus();

  std::unique_ptr<char[]> buffer = TakeCopyBuffer();
  for (;;) {
    bool atEnd = AtEnd(from);
    CheckIoStatus();
    if (atEnd) break;
    uint32_t count = 0;
    ReadRecords(from, buffer.get(), CopyBlockSize, &count);
    CheckIoStatus();
    // A source cut short while it is copied reads nothing before its old end:
    // that is its end, not a reason to ask again forever.
    if (count == 0) break;
    uint32_t written = 0;
    WriteRecords(to, buffer.get(), count, &written);
    CheckIoStatus();
    // A copy cut short (a full disk) must never pass for complete.
    if (written != count) SetIoStatus(StatusShortWrite);
    CheckIoStatus();
  }

  if (deleteAfter) {
    FlushBlockFile(to);
    CheckIoStatus();
  }
  CloseBlockFile(from);
  CheckIoStatus();
  CloseBlockFile(to);
  CheckIoStatus();
  buffer.reset();

  if (deleteAfter) {
    // The copy's folder entry must be durable too before the original goes.
    FlushFolderOf(destination);
    CheckIoStatus();
    RemoveFile(source);
  }
}
