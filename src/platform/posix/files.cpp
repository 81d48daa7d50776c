// Files: open, create, read, write, flush, rename, delete, each
// relative to a held folder (paths.cpp walks a path to one). Each call
// keeps the Win32 contract, which can take more than one system call: a name
// is checked to be a plain file before it is opened, read-only holds for
// root, a write goes on until every byte is written, and a rename never
// replaces. The deletion of an original that may have changed meanwhile is
// deletion.cpp's.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/posix/internal.h"

namespace os {

namespace {

constexpr Status ErrorNegativeSeek = 131;  // Win32's number for a seek before the start

mode_t processUmask = 022;
bool processIsRoot = false;

// The look that opened each plain file still open, so that the copy of its
// rights asks no second time what the open already asked.
std::unordered_map<int, struct stat> openedFiles;

// The files that standard output and error are redirected to, taken once at start.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  bool known = false;
};
FileIdentity standardStreams[2];

// Checks that an open descriptor is a plain file; O_NONBLOCK, which kept its
// open from hanging, changes nothing for a plain file. The same look gives
// the state of the file as it was opened.
Status KeepPlainFile(int fd, Handle& out, FileStamp* openedAs = nullptr) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return ErrorAccessDenied;
  }
  if (openedAs) *openedAs = StampFrom(st);
  openedFiles[fd] = st;
  out = fd;
  return 0;
}

}  // namespace

void NoteSameFile(int opened, int same) {
  auto look = openedFiles.find(opened);
  if (look != openedFiles.end()) openedFiles[same] = look->second;
}

namespace {

int OpenFlags(uint32_t access) {
  bool read = access & AccessRead, write = access & AccessWrite;
  return (read && write) ? O_RDWR : write ? O_WRONLY : O_RDONLY;
}

// The access ACL as the kernel stores it in its extended attribute: a
// version, then entries of a tag, permission bits and an id, in tag order.
constexpr const char* AccessAclName = "system.posix_acl_access";
constexpr uint32_t AclVersion = 2;
enum : uint16_t { AclUserObj = 0x01, AclUser = 0x02, AclGroupObj = 0x04, AclGroup = 0x08, AclMask = 0x10, AclOther = 0x20 };
struct AclEntry {
  uint16_t tag, perm;
  uint32_t id;
};

// A file system without ACLs, or without permission bits.
bool IsUnsupported(int e) { return e == EOPNOTSUPP || e == ENOTSUP || e == ENOSYS; }

// The file's access ACL, left empty where it has none; 0 or an errno.
int ReadAccessAcl(int fd, std::vector<AclEntry>& acl) {
  std::vector<char> bytes(1024);
  ssize_t n;
  while ((n = fgetxattr(fd, AccessAclName, bytes.data(), bytes.size())) < 0 && errno == ERANGE) {
    n = fgetxattr(fd, AccessAclName, nullptr, 0);
    if (n < 0) break;
    bytes.resize(std::size_t(n) + sizeof(AclEntry));
  }
  if (n < 0) return errno == ENODATA || IsUnsupported(errno) ? 0 : errno;
  uint32_t version = 0;
  if (std::size_t(n) < sizeof version || (std::size_t(n) - sizeof version) % sizeof(AclEntry) != 0) return EINVAL;
  std::memcpy(&version, bytes.data(), sizeof version);
  if (version != AclVersion) return EINVAL;
  acl.resize((std::size_t(n) - sizeof version) / sizeof(AclEntry));
  std::memcpy(acl.data(), bytes.data() + sizeof version, acl.size() * sizeof(AclEntry));
  return 0;
}

int WriteAccessAcl(int fd, const std::vector<AclEntry>& acl) {
  std::vector<char> bytes(sizeof AclVersion + acl.size() * sizeof(AclEntry));
  std::memcpy(bytes.data(), &AclVersion, sizeof AclVersion);
  std::memcpy(bytes.data() + sizeof AclVersion, acl.data(), acl.size() * sizeof(AclEntry));
  return fsetxattr(fd, AccessAclName, bytes.data(), bytes.size(), 0) == 0 ? 0 : errno;
}

void SetAclBits(std::vector<AclEntry>& acl, uint16_t perm, uint16_t tags) {
  for (AclEntry& entry : acl)
    if (entry.tag & tags) entry.perm = perm;
}

// The permission bits that hold no more than an ACL gives: the owner's, the
// owning group's within the mask, and others'.
mode_t AclAsBits(const std::vector<AclEntry>& acl) {
  mode_t user = 0, group = 0, mask = 7, other = 0;
  for (const AclEntry& entry : acl) {
    if (entry.tag == AclUserObj) user = entry.perm & 7;
    if (entry.tag == AclGroupObj) group = entry.perm & 7;
    if (entry.tag == AclMask) mask = entry.perm & 7;
    if (entry.tag == AclOther) other = entry.perm & 7;
  }
  return user << 6 | (group & mask) << 3 | other;
}

std::vector<AclEntry> BitsAsAcl(mode_t mode) {
  constexpr uint32_t undefined = uint32_t(-1);
  return {{AclUserObj, uint16_t(mode >> 6 & 7), undefined},
          {AclGroupObj, uint16_t(mode >> 3 & 7), undefined},
          {AclOther, uint16_t(mode & 7), undefined}};
}

// Whether the copy lets anyone read or write who could not on the original.
// Execute is left out: a file system without permission bits shows it on
// every file. In another group, the copy's group and others are each held to
// what both the original's group and its others had. Where the ACL was set,
// the group bits are its mask over entries copied as they stand.
bool MoreOpen(const struct stat& original, const struct stat& copy, bool aclSet) {
  mode_t allowed = original.st_mode & 0777;
  if (copy.st_gid != original.st_gid) {
    mode_t both = (original.st_mode >> 3) & original.st_mode & 7;
    allowed = (allowed & 0700) | both << 3 | both;
  }
  if (aclSet) allowed |= 070;
  return (copy.st_mode & 0666 & ~allowed) != 0;
}

}  // namespace

FileStamp StampFrom(const struct stat& st) {
  FileStamp stamp;
  stamp.volume = uint64_t(st.st_dev);
  stamp.index = uint64_t(st.st_ino);
  stamp.size = uint64_t(st.st_size);
  stamp.writeTime = uint64_t(st.st_mtim.tv_sec) * 1000000000u + uint64_t(st.st_mtim.tv_nsec);
  return stamp;
}

Status WriteAll(int fd, const char* bytes, uint32_t count, uint32_t& done) {
  while (done < count) {
    ssize_t n = write(fd, bytes + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return FromErrno(errno);
    if (n == 0) return ErrorDiskFull;
    done += uint32_t(n);
  }
  return 0;
}

// A file system that cannot rename so (some FUSE ones answer EINVAL) gets a
// look at the name first, then a plain rename: only a program that makes a
// file of that very name in that instant could lose it.
int RenameWithoutReplacing(int fromDir, const std::string& from, int toDir, const std::string& to) {
  if (renameat2(fromDir, from.c_str(), toDir, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  struct stat st;
  if (fstatat(toDir, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
  if (errno != ENOENT) return errno;
  return renameat(fromDir, from.c_str(), toDir, to.c_str()) == 0 ? 0 : errno;
}

// What DeleteFileA refuses: a folder, a read-only file, and (as Windows keeps
// a file in place while it is our redirected output) our own output, or every
// later line would go to a file without a name.
Status RefusedDeletion(const struct stat& st) {
  if (S_ISDIR(st.st_mode)) return ErrorAccessDenied;
  if (S_ISREG(st.st_mode) && !HasWriteBit(st.st_mode)) return ErrorAccessDenied;
  if (IsOwnStandardStream(st)) return ErrorSharingViolation;
  return 0;
}

bool IsOwnStandardStream(const struct stat& st) {
  for (const FileIdentity& stream : standardStreams)
    if (stream.known && stream.device == st.st_dev && stream.inode == st.st_ino) return true;
  return false;
}

void NoteProcessFiles() {
  processUmask = umask(0);
  umask(processUmask);
  processIsRoot = geteuid() == 0;
  for (int fd = 1; fd <= 2; ++fd) {
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) standardStreams[fd - 1] = {st.st_dev, st.st_ino, true};
  }
}

// The name is looked at before it is opened, so that no FIFO, socket or
// device is ever opened (it could hang or have side effects); another user's
// link, which the walk does not follow, is refused here.
Status NativePlatform::OpenFile(Handle folder, const std::string& name, uint32_t access, uint32_t, Handle& out,
                               FileStamp* openedAs) {
  if (name.size() > MaxPathBytes) return ErrorFilenameExcedRange;
  Walk walk(folder);
  struct stat st;
  int e = walk.ToEntry(name, st);
  if (e != 0) return walk.StatusOf(e);
  if (!S_ISREG(st.st_mode)) return ErrorAccessDenied;
  // Read-only holds as on Windows, for root too.
  if ((access & AccessWrite) && !HasWriteBit(st.st_mode)) return ErrorAccessDenied;
  int fd = openat(walk.dir(), walk.name().c_str(), OpenFlags(access) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) return walk.StatusOf(errno, FailedAt::Name);
  return KeepPlainFile(fd, out, openedAs);
}

Status NativePlatform::CreateNewFile(Handle folder, const std::string& name, uint32_t access, uint32_t, Handle& out) {
  if (name.size() > MaxPathBytes) return ErrorFilenameExcedRange;
  Walk walk(folder);
  int e = walk.To(name, Through::AllButLast);
  if (e != 0) return walk.StatusOf(e);
  // Private until the caller widens it: a copy must not be readable by more
  // users than its original. O_EXCL follows no link.
  int fd = openat(walk.dir(), walk.name().c_str(), OpenFlags(access) | O_CLOEXEC | O_NOCTTY | O_CREAT | O_EXCL, 0600);
  if (fd < 0) return errno == EEXIST ? ErrorFileExists : walk.StatusOf(errno);
  out = fd;
  return 0;
}

Status NativePlatform::CreateFile(Handle folder, const std::string& name, uint32_t access, uint32_t share, Handle& out) {
  Status created = CreateNewFile(folder, name, access, share, out);
  if (created != ErrorFileExists) return created;
  // An existing file is emptied, unless it is read-only or no plain file.
  Walk walk(folder);
  struct stat st;
  int e = walk.ToEntry(name, st);
  if (e != 0) return walk.StatusOf(e);
  if (!S_ISREG(st.st_mode) || !HasWriteBit(st.st_mode)) return ErrorAccessDenied;
  int fd = openat(walk.dir(), walk.name().c_str(),
                  OpenFlags(access) | O_CLOEXEC | O_NOCTTY | O_TRUNC | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) return walk.StatusOf(errno, FailedAt::Name);
  return KeepPlainFile(fd, out);
}

Status NativePlatform::SetPosition(Handle h, int64_t distance, MoveMethod method, uint64_t& position) {
  int whence = method == MoveMethod::Begin ? SEEK_SET : method == MoveMethod::Current ? SEEK_CUR : SEEK_END;
  off_t result = lseek(int(h), off_t(distance), whence);
  if (result < 0) return errno == EINVAL ? ErrorNegativeSeek : FromErrno(errno);
  position = uint64_t(result);
  return 0;
}

Status NativePlatform::ReadFile(Handle h, void* buffer, uint32_t count, uint32_t& done) {
  done = 0;
  ssize_t n;
  do n = read(int(h), buffer, count); while (n < 0 && errno == EINTR);
  if (n < 0) return FromErrno(errno);
  done = uint32_t(n);
  return 0;
}

// Writes on after a partial transfer, as Windows' WriteFile does for files
// and consoles: a short count would otherwise cut a line or a copy silently.
Status NativePlatform::WriteFile(Handle h, const void* buffer, uint32_t count, uint32_t& done) {
  done = 0;
  return WriteAll(int(h), static_cast<const char*>(buffer), count, done);
}

Status NativePlatform::FlushFile(Handle h) { return fdatasync(int(h)) == 0 ? 0 : FromErrno(errno); }

// What a copy carries besides its bytes. Root gives it the original's owner
// and group; another user the group where that user may. Then the access ACL
// as it stands, or where there is none the permission bits (less the umask),
// written as the ACL that they stand for: the kernel sets the bits from it
// and drops an ACL that the copy took from its folder's default ACL, in one
// call. A file system without ACLs takes the bits by fchmod instead, and one
// without permission bits keeps its own. Whatever was or was not set, the
// copy is then looked at, and fails unless it is no more open than the original.
Status NativePlatform::CopyAccessRights(Handle from, Handle to, bool& holes) {
  struct stat st;
  auto opened = openedFiles.find(int(from));
  if (opened != openedFiles.end()) st = opened->second;
  else if (fstat(int(from), &st) != 0) return FromErrno(errno);
  // st_blocks counts 512-byte units whatever the file system's block size.
  holes = uint64_t(st.st_blocks) * 512 < uint64_t(st.st_size);
  std::vector<AclEntry> acl;
  int e = ReadAccessAcl(int(from), acl);
  if (e != 0) return FromErrno(e);

  e = fchown(int(to), processIsRoot ? st.st_uid : uid_t(-1), st.st_gid) == 0 ? 0 : errno;
  // Root's failure is the copy's (a quota); a group that this user may not
  // set, or an owner that the file system cannot hold, is not.
  if (e != 0 && !(e == EPERM || e == EINVAL || IsUnsupported(e))) return FromErrno(e);
  const bool groupKept = e == 0;

  mode_t mode = st.st_mode & 0777 & ~processUmask;
  bool aclSet = false, aclsHeld = true;
  if (!acl.empty()) {
    // In another group the owning group's entry would go to the wrong people,
    // and others would take in the original's group members that it shut out.
    if (!groupKept) SetAclBits(acl, 0, AclGroupObj | AclOther);
    e = WriteAccessAcl(int(to), acl);
    if (e != 0 && !IsUnsupported(e)) return FromErrno(e);
    aclSet = e == 0;
    aclsHeld = aclSet;
    // Without ACLs, the group bits are what the owning group had: its entry within the mask.
    if (!aclSet) mode = AclAsBits(acl) & ~processUmask;
  }
  if (!groupKept) mode &= ~mode_t(077);
  if (!aclSet) {
    e = aclsHeld ? WriteAccessAcl(int(to), BitsAsAcl(mode)) : EOPNOTSUPP;
    if (IsUnsupported(e)) e = fchmod(int(to), mode) == 0 ? 0 : errno;
    if (e != 0 && !(e == EPERM || IsUnsupported(e))) return FromErrno(e);
  }

  struct stat made;
  if (fstat(int(to), &made) != 0) return FromErrno(errno);
  return MoreOpen(st, made, aclSet) ? ErrorAccessDenied : 0;
}

Status NativePlatform::SetFileSize(Handle h, uint64_t size) {
  int e;
  do e = ftruncate(int(h), off_t(size)) == 0 ? 0 : errno; while (e == EINTR);
  return e == 0 ? 0 : FromErrno(e);
}

Status NativePlatform::CloseFile(Handle h) {
  openedFiles.erase(int(h));
  if (close(int(h)) == 0 || errno == EINTR) return 0;
  return FromErrno(errno);
}

Status NativePlatform::DeleteFile(Handle folder, const std::string& name) {
  if (name.size() > MaxPathBytes) return ErrorFilenameExcedRange;
  Walk walk(folder);
  int e = walk.To(name, Through::AllButLast);
  if (e != 0) return walk.StatusOf(e);
  struct stat st;
  if (fstatat(walk.dir(), walk.name().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return walk.StatusOf(errno, FailedAt::Name);
  Status refused = RefusedDeletion(st);
  if (refused != 0) return refused;
  return unlinkat(walk.dir(), walk.name().c_str(), 0) == 0 ? 0 : walk.StatusOf(errno, FailedAt::Name);
}

Status NativePlatform::StampOf(Handle h, FileStamp& stamp) {
  struct stat st;
  if (fstat(int(h), &st) != 0) return FromErrno(errno);
  stamp = StampFrom(st);
  return 0;
}

// Without replacing, as a copy must never take another file's place.
Status NativePlatform::RenameFile(Handle folder, const std::string& from, const std::string& to) {
  if (from.size() > MaxPathBytes || to.size() > MaxPathBytes) return ErrorFilenameExcedRange;
  Walk source(folder), target(folder);
  int e = source.To(from, Through::AllButLast);
  if (e != 0) return source.StatusOf(e);
  if ((e = target.To(to, Through::AllButLast)) != 0) return target.StatusOf(e);
  e = RenameWithoutReplacing(source.dir(), source.name(), target.dir(), target.name());
  return e == 0 ? 0 : e == EEXIST ? ErrorAlreadyExists : target.StatusOf(e, FailedAt::Name);
}

}  // namespace os
