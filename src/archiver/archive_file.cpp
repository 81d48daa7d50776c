#include "archiver/archive_file.h"

#include <cstring>
#include <memory>
#include <new>

#include "runtime/block_file.h"
#include "runtime/console.h"
#include "runtime/failure.h"
#include "runtime/io_status.h"
#include "runtime/paths.h"
#include "runtime/progress.h"

namespace {

// Not inlined, so that an out-of-memory failure names the call site in ArchiveFile.
__attribute__((noinline)) std::unique_ptr<char[]> TakeCopyBuffer() {
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[CopyBlockSize]);
  if (!buffer) RaiseFailure(FailureKind::OutOfMemory, reinterpret_cast<uintptr_t>(__builtin_return_address(0)));
  return buffer;
}

bool AllZeros(const char* bytes, uint32_t count) {
  return count == 0 || (bytes[0] == 0 && std::memcmp(bytes, bytes + 1, count - 1) == 0);
}

void WriteLine(const char* what, const std::string& path) {
  WriteText(StandardOutput, what);
  WriteText(StandardOutput, path);
  EndLine(StandardOutput);
  CheckIoStatus();
}

// Creates the copy exclusively under a working name that no file has yet,
// and returns that name.
std::string CreatePartial(BlockFile& to, const HeldName& destination) {
  // A folder that could not be had fails the copy with its own reason (a
  // name that Windows cannot hold), not with a missing folder's.
  if (!destination.folder.Held()) SetIoStatus(destination.folder.status);
  CheckIoStatus();
  std::string partial;
  for (int32_t attempt = 1;; ++attempt) {
    partial = WorkingName(destination.name, PartialSuffix, ShortPartialName, attempt);
    BindName(to, partial, destination.folder.handle);
    CreateNew(to, 1);
    if (IoStatus() != os::ErrorFileExists || attempt == MaxPartialAttempts) break;
    TakeIoStatus();
  }
  CheckIoStatus();
  return partial;
}

// Removes a copy that did not reach its name, on any way out: a copy that
// failed is useless, as its original is whole, and it may hold the very
// space whose lack ended the run. It goes before the failure report; only a
// killed run leaves a .partial behind.
class UnfinishedCopy {
 public:
  UnfinishedCopy(BlockFile& to, const std::string& partial, os::Handle folder)
      : to_(to), partial_(partial), folder_(folder) {}
  ~UnfinishedCopy() {
    if (done_) return;
    const int32_t status = TakeIoStatus();  // the failure's, if not yet taken
    if (to_.state == FileState::OpenForBlocks) CloseBlockFile(to_);
    TakeIoStatus();
    RemoveFile(partial_, folder_);
    if (status != 0) SetIoStatus(status);
  }
  UnfinishedCopy(const UnfinishedCopy&) = delete;
  UnfinishedCopy& operator=(const UnfinishedCopy&) = delete;
  void Finished() { done_ = true; }

 private:
  BlockFile& to_;
  const std::string& partial_;
  os::Handle folder_;
  bool done_ = false;
};

}  // namespace

void ArchiveFile(const HeldName& source, const HeldName& destination, bool deleteAfter) {
  if (!FilePresent(source.name, source.folder.handle)) return;
  BlockFile from, to;
  BindName(from, source.name, source.folder.handle);

  // The state of the original that the copy will hold, taken as it is opened,
  // before its first byte is read: any write from then on (in place,
  // appended, cut) shows as a change, and the original is then kept. With
  // /D the original stays open until its deletion, so that the file deleted
  // is the file read.
  os::FileStamp opened;
  OpenExisting(from, 1, deleteAfter ? &opened : nullptr);
  if (TakeIoStatus() != 0) {
    WriteLine("Can't Open file : ", source.Shown());
    return;
  }
  bool heldToDeletion = false;
  if (deleteAfter) {
    heldToDeletion = HoldForDeletion(from);
    CheckIoStatus();
  }

  // The copy carries the original's name only once it is complete: a run cut
  // short leaves a name that says so, never a short file that looks whole.
  const std::string partial = CreatePartial(to, destination);
  UnfinishedCopy unfinished(to, partial, destination.folder.handle);
  bool holes = false;
  CopyAccessRights(from, to, &holes);
  CheckIoStatus();

  std::unique_ptr<char[]> buffer = TakeCopyBuffer();
  // Only an original with holes has its blocks looked at: a block of zeros
  // becomes a hole in the copy, which gets its full size at the end.
  uint64_t size = 0;
  bool endsInHole = false;
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
    size += count;
    endsInHole = holes && AllZeros(buffer.get(), count);
    if (endsInHole) {
      SkipRecords(to, count);
      CheckIoStatus();
      ReportCopied(count);
      continue;
    }
    uint32_t written = 0;
    WriteRecords(to, buffer.get(), count, &written);
    CheckIoStatus();
    // A copy cut short (a full disk) must never pass for complete.
    if (written != count) SetIoStatus(StatusShortWrite);
    CheckIoStatus();
    ReportCopied(count);
  }
  if (endsInHole) {
    SetFileSize(to, size);
    CheckIoStatus();
  }

  if (deleteAfter) {
    FlushBlockFile(to);
    CheckIoStatus();
  }
  if (!heldToDeletion) {
    CloseBlockFile(from);
    CheckIoStatus();
  }
  CloseBlockFile(to);
  CheckIoStatus();
  buffer.reset();
  RenameFile(partial, destination.name, destination.folder.handle);
  // Never in another file's place: on a folder that ignores case, A.LOG and
  // a.log are one name, and the second copy would take the first one's place.
  if (IoStatus() == os::ErrorAlreadyExists) {
    TakeIoStatus();
    RemoveFile(partial, destination.folder.handle);
    unfinished.Finished();
    if (heldToDeletion) {
      CloseBlockFile(from);
      CheckIoStatus();
    }
    WriteLine("Original kept, name taken in archive : ", source.Shown());
    return;
  }
  CheckIoStatus();
  unfinished.Finished();
  if (!deleteAfter) return;

  // The copy's folder entry must be durable too before the original goes.
  FlushFolder(destination.folder.handle);
  CheckIoStatus();
  std::string keptAs;
  const int32_t removed = DeleteIfUnchanged(from, opened, destination.name, destination.folder.handle, keptAs);
  CheckIoStatus();
  if (removed == 0) return;
  // A writer that changed the original keeps it; the copy stays as the snapshot it is.
  WriteLine(removed == os::ErrorChangedMeanwhile ? "Original kept, changed while archiving : " : "Can't Delete file : ",
            source.Shown() + (keptAs.empty() ? "" : " (kept as " + source.shownFolder + keptAs + ")"));
}
