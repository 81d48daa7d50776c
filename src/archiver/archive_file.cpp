#include "archiver/archive_file.h"

#include <memory>
#include <new>

#include "runtime/block_file.h"
#include "runtime/console.h"
#include "runtime/failure.h"
#include "runtime/io_status.h"
#include "runtime/progress.h"

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

  OpenExisting(from, 1);
  if (TakeIoStatus() != 0) {
    WriteText(StandardOutput, "Can't Open file : ");
    WriteText(StandardOutput, source);
    EndLine(StandardOutput);
    CheckIoStatus();
    return;
  }

  // The copy carries the original's name only once it is complete: a run cut
  // short leaves a name that says so, never a short file that looks whole.
  std::string partial;
  for (int32_t attempt = 1;; ++attempt) {
    partial = destination + PartialSuffix + (attempt > 1 ? DecimalText(attempt) : "");
    BindName(to, partial);
    CreateNew(to, 1);
    if (IoStatus() != os::ErrorFileExists || attempt == MaxPartialAttempts) break;
    TakeIoStatus();
  }
  CheckIoStatus();
  CopyAccessRights(from, to);
  CheckIoStatus();

  std::unique_ptr<char[]> buffer = TakeCopyBuffer();
  uint64_t copied = 0;
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
    copied += count;
    ReportCopied(count);
  }

  // The state of the original that the copy holds, to compare before deleting
  // it: which file, its last write when the loop ended, and the bytes copied
  // (a write after the last end test makes the file longer than that).
  os::FileStamp copiedState;
  if (deleteAfter) {
    StampOf(from, copiedState);
    CheckIoStatus();
    copiedState.size = copied;
    FlushBlockFile(to);
    CheckIoStatus();
  }
  CloseBlockFile(from);
  CheckIoStatus();
  CloseBlockFile(to);
  CheckIoStatus();
  buffer.reset();
  RenameFile(partial, destination);
  CheckIoStatus();
  if (!deleteAfter) return;

  // The copy's folder entry must be durable too before the original goes.
  FlushFolderOf(destination);
  CheckIoStatus();
  const int32_t removed = RemoveIfUnchanged(source, copiedState);
  if (removed == 0) return;
  // A writer that appended meanwhile keeps its original; the copy stays as the snapshot it is.
  WriteText(StandardOutput,
            removed == os::ErrorChangedMeanwhile ? "Original kept, changed while archiving : " : "Can't Delete file : ");
  WriteText(StandardOutput, source);
  EndLine(StandardOutput);
  CheckIoStatus();
}
