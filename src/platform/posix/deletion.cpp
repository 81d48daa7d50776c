// The deletion of an original once its copy is safe: HoldForDeletion, then
// DeleteIfUnchanged.
//
// Linux can delete a name but not the file behind a descriptor, and has no
// lock that keeps writers out; the clock of many file systems (FAT, exFAT,
// SMB and NFS servers, ext4 with small inodes, and any on older kernels)
// cannot tell a write from the state before it when both fall in one tick.
// So no decision rests on a time stamp where the kernel can say more, and
// the file is held from the copy's open to the unlink:
//  1. At the copy's open (HoldForDeletion), the same file is opened again
//     read-only through the descriptor (/proc/self/fd), the read-write one
//     closed, and a read lease asked for on the read-only one before the
//     first read. The kernel grants it only while no process has the file
//     open for writing (EAGAIN: the file is copied, then kept with a sharing
//     violation), and from then on tells us with SIGIO when any process opens
//     it for writing or cuts it; a thread that waits for nothing else gives
//     the lease up at once, so the writer waits no longer than that thread
//     takes to wake, and the original is kept as "changed meanwhile". Another user's file, and file systems
//     without leases (NFS, FUSE), go on without one. The copy reads that
//     descriptor, and it stays open until the deletion is done: the inode
//     cannot be freed, so no new file can take its number meanwhile.
//  2. At the deletion, the descriptor is looked at: a folder, a read-only
//     file or our own redirected output is refused as DeleteFileA refuses it;
//     without a lease, a stamp that differs already keeps the file.
//  3. Rename the name aside, to `name.deleting` (`.deleting2`, ...; a short
//     name of our own where that would be too long), never over another file.
//  4. The entry under the aside name must be the file held (device and inode;
//     without a lease looked up with AT_STATX_FORCE_SYNC, so that NFS asks the
//     server). A file that another program put under the name (an editor's
//     save, a log rotation, a delete-then-create) has been moved aside
//     instead: it gets its name back, and the answer is "changed meanwhile".
//  5. With the lease: it must still be ours (F_GETLEASE, and no break seen).
//     Without one: the content behind the descriptor is compared, byte for
//     byte, with the finished copy, read past the page cache (O_DIRECT, or the
//     cached pages dropped first) so that NFS gives the server's content; then
//     a last look at the stamp, with AT_STATX_FORCE_SYNC. The link count is
//     never trusted: an NFS client keeps an open file under `.nfsXXXX`.
//  6. Unlink the aside name; then the descriptor is closed.
// Nothing is ever written back or re-created: a file that may have changed
// keeps its own inode, its owner and its rights. A name that goes back but
// finds itself taken leaves the file under its aside name, and `keptAs` says
// which: every original keeps a name that the report gives. A killed run can
// leave `name.deleting` behind, a whole file whose copy is in the archive; a
// later run lists it like any other.
//
// Windows that remain:
//  - with a lease, a writer whose open looked the name up before step 3 but
//    reaches the kernel's lease check only after step 5: a few instructions;
//  - without a lease, a write after the last look, or one during the content
//    comparison to a part already compared that the clock cannot show, is
//    lost with the file; so is a write through a descriptor that was open
//    before the run, at any time, as with every tool of this kind;
//  - between 4 and 6, a program that renames a file onto the aside name (a
//    name of ours, that no other program has a use for) has that file deleted.
// Where the file system cannot rename without replacing, step 3 looks at the
// aside name before a plain rename; only a program that makes that very name
// in that instant could lose a file.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "platform/posix/internal.h"

namespace os {

namespace {

constexpr const char* AsideSuffix = ".deleting";
constexpr const char* ShortAsideName = "stowit-original.deleting";
constexpr int MaxAsideAttempts = 100;

int LeaseFcntl(int fd, int command, int argument) { return fcntl(fd, command, argument); }

// A user, or a file system, that cannot have a lease.
bool NoLeaseHere(int e) { return e == EACCES || e == EINVAL || e == ENOLCK || e == EOPNOTSUPP; }

// The one original held at a time, and how its lease went: 0 granted, or the
// errno it was refused with.
struct Held {
  int fd = -1;
  int refusal = ENOLCK;
};
Held held;
// What the lease's watcher reads: the descriptor under a lease (-1 when none),
// and whether a writer has come for it.
std::mutex leaseLock;
std::atomic<int> leasedFd{-1};
std::atomic<bool> leaseBroken{false};

void SetLeased(int fd) {
  std::lock_guard<std::mutex> guard(leaseLock);
  leasedFd = fd;
  leaseBroken = false;
}

// A writer waits on our lease: give it up now, and remember that it came.
void GiveUpLease() {
  int fd = leasedFd;
  if (fd < 0) return;
  fcntl(fd, F_SETLEASE, F_UNLCK);
  leaseBroken = true;
}

// SIGIO is taken by a thread of its own that does nothing else, so that the
// writer waits no longer than that thread takes to wake, even while the copy
// sits in a write or a flush that no signal interrupts.
void* WatchLeases(void*) {
  sigset_t io;
  sigemptyset(&io);
  sigaddset(&io, SIGIO);
  for (;;) {
    if (sigwaitinfo(&io, nullptr) != SIGIO) continue;
    std::lock_guard<std::mutex> guard(leaseLock);
    GiveUpLease();
  }
  return nullptr;
}

// Where no thread can be had, the handler does the same between the copy's calls.
void OnSigio(int) {
  int saved = errno;
  GiveUpLease();
  errno = saved;
}

// Once, before the first lease: the program starts with SIGIO ignored (an
// ignored signal is dropped, not waited for), and its default would end the
// process.
void CatchLeaseBreaks() {
  static bool done = false;
  if (done) return;
  done = true;
  struct sigaction action {};
  action.sa_handler = OnSigio;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(SIGIO, &action, nullptr);
  sigset_t io;
  sigemptyset(&io);
  sigaddset(&io, SIGIO);
  pthread_sigmask(SIG_BLOCK, &io, nullptr);
  pthread_attr_t attributes;
  pthread_t watcher;
  bool started = pthread_attr_init(&attributes) == 0 &&
                 pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED) == 0 &&
                 pthread_attr_setstacksize(&attributes, 64 * 1024) == 0 &&
                 pthread_create(&watcher, &attributes, WatchLeases, nullptr) == 0;
  if (!started) pthread_sigmask(SIG_UNBLOCK, &io, nullptr);
}

bool SameFile(uint64_t device, uint64_t inode, const FileStamp& expected) {
  return device == expected.volume && inode == expected.index;
}

// The aside entry as the file system's server has it (following a link of
// ours to the file it leads to).
bool LookAside(int dir, const std::string& aside, FileStamp& stamp) {
  struct statx sx;
  if (statx(dir, aside.c_str(), AT_STATX_FORCE_SYNC, STATX_BASIC_STATS, &sx) != 0) return false;
  stamp.volume = uint64_t(makedev(sx.stx_dev_major, sx.stx_dev_minor));
  stamp.index = sx.stx_ino;
  stamp.size = sx.stx_size;
  stamp.writeTime = uint64_t(sx.stx_mtime.tv_sec) * 1000000000u + sx.stx_mtime.tv_nsec;
  return true;
}

std::string AsideName(const std::string& name, int attempt) {
  return WorkingName(name, AsideSuffix, ShortAsideName, attempt);
}

// Step 3: `aside` is the name the file lies under now.
Status MoveAside(int dir, const std::string& name, std::string& aside) {
  for (int attempt = 1; attempt <= MaxAsideAttempts; ++attempt) {
    aside = AsideName(name, attempt);
    int e = RenameWithoutReplacing(dir, name, dir, aside);
    if (e == 0) return 0;
    if (e != EEXIST) return FromErrno(e);
  }
  return ErrorAlreadyExists;
}

void PutNameBack(int dir, const std::string& aside, const std::string& name, std::string& keptAs) {
  if (RenameWithoutReplacing(dir, aside, dir, name) != 0) keptAs = aside;
}

ssize_t ReadAt(int fd, char* buffer, std::size_t count, off_t at) {
  std::size_t done = 0;
  while (done < count) {
    ssize_t n = pread(fd, buffer + done, count - done, at + off_t(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += std::size_t(n);
  }
  return ssize_t(done);
}

// Step 5 without a lease: whether the content behind `fd` is the copy's, as
// the file system's storage (or server) has it rather than our page cache.
Status SameContent(int fd, const Original& original) {
  Walk walk(original.copyFolder);
  int e = walk.To(original.copyName, Through::AllButLast);
  if (e != 0) return walk.StatusOf(e);
  int copy = openat(walk.dir(), walk.name().c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW);
  if (copy < 0) return walk.StatusOf(errno, FailedAt::Name);
  const int flags = fcntl(fd, F_GETFL);
  bool direct = flags >= 0 && fcntl(fd, F_SETFL, flags | O_DIRECT) == 0;
  if (!direct) posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  constexpr std::size_t Chunk = 1 << 20;
  std::unique_ptr<char, decltype(&std::free)> buffers(static_cast<char*>(std::aligned_alloc(4096, 2 * Chunk)),
                                                     &std::free);
  Status result = buffers ? 0 : ErrorNotEnoughMemory;
  for (off_t at = 0; result == 0;) {
    char* mine = buffers.get();
    char* theirs = mine + Chunk;
    ssize_t n = ReadAt(fd, mine, Chunk, at);
    // A file system that takes the flag but not the read (or a short read
    // that left the offset unaligned): the cached pages are dropped instead.
    if (n < 0 && errno == EINVAL && direct) {
      fcntl(fd, F_SETFL, flags);
      direct = false;
      posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
      continue;
    }
    if (n < 0) {
      result = FromErrno(errno);
      break;
    }
    ssize_t m = ReadAt(copy, theirs, std::size_t(n ? n : 1), at);
    if (m < 0) result = FromErrno(errno);
    else if (m != n || std::memcmp(mine, theirs, std::size_t(n)) != 0) result = ErrorChangedMeanwhile;
    if (n == 0) break;
    at += n;
  }
  if (direct) fcntl(fd, F_SETFL, flags);
  close(copy);
  return result;
}

// Steps 2 to 6, on the descriptor that the copy read.
Status DeleteHeld(const Original& original, int fd, bool leased, std::string& keptAs) {
  if (original.name.size() > MaxPathBytes) return ErrorFilenameExcedRange;
  Walk walk(original.folder);
  int e = walk.To(original.name, Through::AllButLast);
  if (e != 0) return walk.StatusOf(e);
  struct stat st;
  if (fstat(fd, &st) != 0) return FromErrno(errno);
  if (!SameFile(st.st_dev, st.st_ino, original.opened)) return ErrorChangedMeanwhile;
  if (Status refused = RefusedDeletion(st); refused != 0) return refused;
  if (!leased && !(StampFrom(st) == original.opened)) return ErrorChangedMeanwhile;

  const int dir = walk.dir();
  const std::string& name = walk.name();
  std::string aside;
  Status result = MoveAside(dir, name, aside);
  if (result != 0) return result;
  FileStamp there;
  if (!LookAside(dir, aside, there))
    result = FromErrno(errno);
  else if (!SameFile(there.volume, there.index, original.opened))
    result = ErrorChangedMeanwhile;
  else if (leased)
    result = leaseControl(fd, F_GETLEASE, 0) == F_RDLCK && !leaseBroken ? 0 : ErrorChangedMeanwhile;
  else if (!(there == original.opened))
    result = ErrorChangedMeanwhile;
  else if ((result = SameContent(fd, original)) == 0)
    result = !LookAside(dir, aside, there) ? FromErrno(errno) : there == original.opened ? 0 : ErrorChangedMeanwhile;
  if (result == 0 && unlinkat(dir, aside.c_str(), 0) != 0) result = FromErrno(errno);
  if (result != 0) PutNameBack(dir, aside, name, keptAs);
  return result;
}

}  // namespace

int (*leaseControl)(int fd, int command, int argument) = LeaseFcntl;

Status NativePlatform::HoldForDeletion(Handle& h, bool& kept) {
  kept = true;
  char path[32];
  snprintf(path, sizeof path, "/proc/self/fd/%d", int(h));
  int reader = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  held = Held{int(h), ENOLCK};
  // Without /proc the copy reads the descriptor it opened, and the deletion
  // compares the content.
  if (reader < 0) return 0;
  NoteSameFile(int(h), reader);
  Status closed = CloseFile(h);
  h = reader;
  held.fd = reader;
  if (closed != 0) return closed;
  CatchLeaseBreaks();
  SetLeased(reader);
  held.refusal = leaseControl(reader, F_SETLEASE, F_RDLCK) == 0 ? 0 : errno;
  if (held.refusal != 0) SetLeased(-1);
  return 0;
}

Status NativePlatform::DeleteIfUnchanged(const Original& original, std::string& keptAs, Status& closed) {
  keptAs.clear();
  const int fd = int(original.held);
  const int refusal = held.fd == fd ? held.refusal : ENOLCK;
  Status result = refusal == EAGAIN               ? Status(ErrorSharingViolation)
                  : refusal == 0 && leaseBroken  ? Status(ErrorChangedMeanwhile)
                  : refusal == 0 || NoLeaseHere(refusal) ? DeleteHeld(original, fd, refusal == 0, keptAs)
                                                         : FromErrno(refusal);
  if (held.fd == fd) held = Held{};
  SetLeased(-1);
  closed = CloseFile(original.held);
  if (!keptAs.empty()) keptAs.insert(0, FolderPart(original.name));
  return result;
}

}  // namespace os
