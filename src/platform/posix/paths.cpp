// Paths walked one name at a time, from a held folder or the working one.
//
// Run as root over a folder that another user can write, a name is whatever
// that user makes it: a symbolic link planted or swapped in at the right
// moment would send root's writes, renames and deletions anywhere. So a link
// is followed only when root or the user who runs the program owns it (as a
// link an administrator made to a bigger disk); another user's link ends the
// walk as a folder that is not there. Each link is read through a descriptor
// on the link that was checked, never by its name again, and each folder on
// the way is entered through the descriptor that was opened, so no swap
// between two steps changes where the walk goes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <deque>
#include <string>

#include "platform/posix/internal.h"

namespace os {

namespace {

constexpr int MaxLinks = 40;  // as the kernel allows in one path

std::deque<std::string> Names(const std::string& path) {
  std::deque<std::string> names;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end > start && path.compare(start, end - start, ".") != 0) names.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

}  // namespace

bool MayFollow(const struct stat& link) { return link.st_uid == 0 || link.st_uid == geteuid(); }

Walk::~Walk() {
  if (owned_) close(dir_);
}

void Walk::Enter(int fd) {
  if (owned_) close(dir_);
  dir_ = fd;
  owned_ = fd != AT_FDCWD;
  fromRoot_ = false;
}

int Walk::Release() {
  int fd = dir_;
  if (dir_ == AT_FDCWD)
    fd = open(fromRoot_ ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  else if (!owned_)
    fd = fcntl(dir_, F_DUPFD_CLOEXEC, 0);
  owned_ = false;
  return fd;
}

// Puts a link's target in front of the names still to walk. A full path
// starts again at "/", whose first name is then opened by its full path
// rather than relative to "/" itself: emulators that keep a system tree of
// their own (qemu-user's -L) take "/" for the root of that tree.
bool Walk::Splice(const std::string& target, std::deque<std::string>& names) {
  std::deque<std::string> more = Names(target);
  if (!target.empty() && target[0] == '/') {
    Enter(AT_FDCWD);
    fromRoot_ = true;
    if (more.empty() && names.empty()) {
      int root = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
      if (root < 0) return false;
      Enter(root);
    }
  }
  names.insert(names.begin(), more.begin(), more.end());
  return true;
}

int Walk::ReadAllowedLink(const std::string& name, std::string& target) {
  int fd = openat(dir_, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno;
  struct stat st;
  int e = ++links_ > MaxLinks ? ELOOP : fstat(fd, &st) == 0 ? 0 : errno;
  if (e == 0 && !S_ISLNK(st.st_mode)) e = EAGAIN;  // swapped since it was looked at: look again
  if (e == 0 && !MayFollow(st)) e = ELOOP;
  char buffer[PATH_MAX];
  ssize_t n = e == 0 ? readlinkat(fd, "", buffer, sizeof buffer) : 0;
  if (e == 0 && n < 0) e = errno;
  close(fd);
  if (e == 0) target.assign(buffer, std::size_t(n));
  return e;
}

int Walk::To(const std::string& path, Through through) {
  const bool last = through == Through::All;
  std::deque<std::string> names;
  name_.clear();
  if (!Splice(path, names)) return errno;
  while (!names.empty()) {
    std::string name = fromRoot_ ? std::string("/").append(names.front()) : names.front();
    names.pop_front();
    if (names.empty() && !last) {
      name_ = std::move(name);
      return 0;
    }
    atNamesFolder_ = !last && names.size() == 1;
    int fd = openat(dir_, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return errno;
    struct stat st;
    if (fstat(fd, &st) != 0 || !(S_ISDIR(st.st_mode) || S_ISLNK(st.st_mode))) {
      close(fd);
      return ENOTDIR;
    }
    if (S_ISDIR(st.st_mode)) {
      Enter(fd);
      continue;
    }
    close(fd);
    std::string target;
    int e = ReadAllowedLink(name, target);
    if (e == EAGAIN) {
      names.push_front(fromRoot_ ? name.substr(1) : std::move(name));
      continue;
    }
    if (e != 0 || !Splice(target, names)) return e ? e : errno;
  }
  return 0;
}

int Walk::ToEntry(const std::string& path, struct stat& st) {
  int e = To(path, Through::AllButLast);
  if (e != 0) return e;
  if (name_.empty()) return StatFolder(st);  // the folder itself: "", ".", "/"
  for (;;) {
    atName_ = true;
    if (fstatat(dir_, name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
    atName_ = false;
    if (!S_ISLNK(st.st_mode) || !MayFollow(st)) return 0;
    std::string target;
    e = ReadAllowedLink(name_, target);
    if (e == EAGAIN) continue;
    if (e != 0) return e;
    Walk next(dir_, links_);
    next.fromRoot_ = fromRoot_;
    struct stat reached;
    e = next.ToEntry(target, reached);
    links_ = next.links_;
    // A link to nothing is an entry of its own, as a listing shows it.
    if (e == ENOENT) return 0;
    atName_ = next.atName_;
    atNamesFolder_ = next.atNamesFolder_;
    if (e != 0) return e;
    if (next.owned_) {
      Enter(next.dir_);
      next.owned_ = false;
    }
    name_ = std::move(next.name_);
    st = reached;
    return 0;
  }
}

int Walk::StatFolder(struct stat& st) const {
  int rc = fromRoot_ ? stat("/", &st) : fstatat(dir_, "", &st, AT_EMPTY_PATH);
  return rc == 0 ? 0 : errno;
}

Status Walk::StatusOf(int e, FailedAt where, Asker asker) const {
  const bool atName = where == FailedAt::Name, search = asker == Asker::Search;
  if (e == ENOENT) return (atName || atName_) ? ErrorFileNotFound : ErrorPathNotFound;
  if (e == ENOTDIR) return (search && atNamesFolder_) ? ErrorInvalidName : ErrorPathNotFound;
  // A link on the way that may not be followed: as if no folder were there.
  if (e == ELOOP && !(atName || atName_)) return ErrorPathNotFound;
  return FromErrno(e);
}

}  // namespace os
