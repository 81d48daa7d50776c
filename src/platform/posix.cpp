// Our own layer in place of Win32 on Linux: each call keeps the contract of the
// Win32 call it stands for, with the same error numbers.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace os {

const char PathDelimiter = '/';
const char* const LineEnd = "\n";
const std::size_t MaxPathBytes = PATH_MAX - 1;
const bool SplitsCommandLine = false;
const bool MarksConsoleInImageHeader = false;

bool EndsDirectoryPart(char c) { return c == '/'; }

// A Linux user who asks for help must not get an empty archive folder instead.
bool IsHelpSwitch(const char* argument) {
  return std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0;
}

namespace {

int savedArgc = 0;
char** savedArgv = nullptr;
std::string programPath;
mode_t processUmask = 022;

Status FromErrno(int e) {
  switch (e) {
    case 0: return 0;
    case ENOENT: return ErrorFileNotFound;
    case ENOTDIR: case ELOOP: return ErrorPathNotFound;
    case EACCES: case EPERM: case EISDIR: case EROFS: case ETXTBSY: case ENXIO: case ENODEV: return ErrorAccessDenied;
    case EMFILE: case ENFILE: return ErrorTooManyOpenFiles;
    case EBADF: return ErrorInvalidHandle;
    case ENOMEM: return ErrorNotEnoughMemory;
    case EBUSY: return ErrorSharingViolation;
    case EINVAL: return ErrorInvalidParameter;
    case EPIPE: return ErrorNoData;
    case ENOSPC: case EDQUOT: case EFBIG: return ErrorDiskFull;
    case EEXIST: return ErrorAlreadyExists;
    case ENOTEMPTY: return ErrorDirNotEmpty;
    case ENAMETOOLONG: return ErrorFilenameExcedRange;
    case EIO: return ErrorIoDevice;
    default: return ErrorGeneric;
  }
}

std::string ParentOf(const std::string& name) {
  std::size_t slash = name.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return name.substr(0, slash);
}

// Windows tells a missing name (2) from a missing directory on the way (3).
Status MissingNameStatus(const std::string& name) {
  struct stat st;
  if (name.empty()) return ErrorPathNotFound;
  if (stat(ParentOf(name).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return ErrorPathNotFound;
  return ErrorFileNotFound;
}

// FindFirstFileA answers "invalid name" when the directory it is to list is a
// file, and "path not found" when a file stands further up the path.
Status NotDirectoryStatus(const std::string& dir) {
  struct stat st;
  return (stat(dir.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) ? ErrorInvalidName : ErrorPathNotFound;
}

Status NameStatus(int e, const std::string& name) {
  return e == ENOENT ? MissingNameStatus(name) : FromErrno(e);
}

bool HasWriteBit(mode_t mode) { return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0; }

std::string LastComponent(const std::string& name) {
  std::size_t slash = name.find_last_of('/');
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

uint32_t DosDateTime(time_t t) {
  struct tm tm;
  if (!localtime_r(&t, &tm)) return 0;
  int year = tm.tm_year + 1900;
  if (year < 1980 || year > 2107) return 0;
  uint32_t date = uint32_t((year - 1980) << 9 | (tm.tm_mon + 1) << 5 | tm.tm_mday);
  uint32_t time = uint32_t(tm.tm_hour << 11 | tm.tm_min << 5 | tm.tm_sec / 2);
  return date << 16 | time;
}

void FillFindData(const std::string& name, const struct stat& st, FindData& found) {
  found.name = name;
  found.size = S_ISDIR(st.st_mode) ? 0 : uint64_t(st.st_size);
  found.dosWriteTime = DosDateTime(st.st_mtime);
  if (S_ISDIR(st.st_mode)) {
    found.attributes = AttrDirectory;
  } else {
    found.attributes = AttrArchive;
    if (!HasWriteBit(st.st_mode)) found.attributes |= AttrReadOnly;
  }
  if (name.size() > 1 && name[0] == '.' && name != "..") found.attributes |= AttrHidden;
}

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

// Writes the whole content behind `fd` to a new file of that name.
Status PutBack(int fd, const std::string& name, mode_t mode) {
  int out = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode & 07777);
  if (out < 0) return FromErrno(errno);
  static char buffer[65536];
  Status st = 0;
  for (off_t at = 0;;) {
    ssize_t n = pread(fd, buffer, sizeof buffer, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n < 0) st = FromErrno(errno);
      break;
    }
    uint32_t done = 0;
    st = WriteAll(out, buffer, uint32_t(n), done);
    if (st != 0) break;
    at += n;
  }
  if (st == 0 && fsync(out) != 0) st = FromErrno(errno);
  close(out);
  return st == 0 ? ErrorChangedMeanwhile : st;
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

// '*' any run, '?' one byte, ASCII case ignored: the Windows wildcard rules.
bool WildMatch(const char* name, const char* pattern) {
  const char* starPattern = nullptr;
  const char* starName = nullptr;
  while (*name) {
    if (*pattern == '*') {
      starPattern = ++pattern;
      starName = name;
    } else if (*pattern == '?' || (*pattern && LowerAscii(*pattern) == LowerAscii(*name))) {
      ++pattern;
      ++name;
    } else if (starPattern) {
      pattern = starPattern;
      name = ++starName;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == 0;
}

bool PatternMatches(const std::string& name, const std::string& pattern) {
  if (WildMatch(name.c_str(), pattern.c_str())) return true;
  // "x.*" also matches a name without any dot, as on Windows ("*.*" matches everything).
  if (pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, ".*") == 0 &&
      name.find('.') == std::string::npos)
    return WildMatch(name.c_str(), pattern.substr(0, pattern.size() - 2).c_str());
  return false;
}

struct Search {
  DIR* dir = nullptr;  // null for a single name looked up
  std::string pattern;
};

Status StatEntry(int dirFd, const char* name, struct stat& st) {
  if (fstatat(dirFd, name, &st, 0) == 0) return 0;
  if (fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0) return 0;  // a dangling link
  return FromErrno(errno);
}

// Reads on to the next entry whose name fits the pattern; one stat per match.
Status NextMatch(Search& s, FindData& found) {
  for (;;) {
    errno = 0;
    struct dirent* e = readdir(s.dir);
    if (!e) return errno ? FromErrno(errno) : ErrorNoMoreFiles;
    if (!PatternMatches(e->d_name, s.pattern)) continue;
    struct stat st;
    Status looked = StatEntry(dirfd(s.dir), e->d_name, st);
    if (looked == ErrorFileNotFound) continue;  // gone since the listing
    if (looked != 0) return looked;
    FillFindData(e->d_name, st, found);
    return 0;
  }
}

// The files that standard output and error are redirected to, taken once at start.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  bool known = false;
};
FileIdentity standardStreams[2];

bool IsOwnStandardStream(const struct stat& st) {
  for (const FileIdentity& stream : standardStreams)
    if (stream.known && stream.device == st.st_dev && stream.inode == st.st_ino) return true;
  return false;
}

// Checks that an open descriptor is a plain file; O_NONBLOCK, which kept its
// open from hanging, changes nothing for a plain file.
Status KeepPlainFile(int fd, Handle& out) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return ErrorAccessDenied;
  }
  out = fd;
  return 0;
}

int OpenFlags(uint32_t access) {
  bool read = access & AccessRead, write = access & AccessWrite;
  return (read && write) ? O_RDWR : write ? O_WRONLY : O_RDONLY;
}

// Fault handling runs on a stack of its own, so a stack overflow can be reported.
alignas(16) char alternateStack[64 * 1024];
FaultHandler faultHandler = nullptr;
uintptr_t stackLow = 0;

void OnFault(int sig, siginfo_t* info, void* context) {
  FaultInfo fault;
  uintptr_t accessed = reinterpret_cast<uintptr_t>(info->si_addr);
  fault.address = accessed;
  bool write = false;
#if defined(__x86_64__)
  auto* uc = static_cast<ucontext_t*>(context);
  fault.address = uintptr_t(uc->uc_mcontext.gregs[REG_RIP]);
  write = (uc->uc_mcontext.gregs[REG_ERR] & 2) != 0;
#else
  (void)context;
#endif
  switch (sig) {
    case SIGFPE:
      switch (info->si_code) {
        case FPE_INTDIV: fault.code = 0xC0000094; break;
        case FPE_INTOVF: fault.code = 0xC0000095; break;
        case FPE_FLTDIV: fault.code = 0xC000008E; break;
        case FPE_FLTOVF: fault.code = 0xC0000091; break;
        case FPE_FLTUND: fault.code = 0xC0000093; break;
        case FPE_FLTRES: fault.code = 0xC000008F; break;
        case FPE_FLTSUB: fault.code = 0xC000008C; break;
        default: fault.code = 0xC0000090; break;
      }
      break;
    case SIGILL:
      fault.code = (info->si_code == ILL_PRVOPC || info->si_code == ILL_PRVREG) ? 0xC0000096 : 0xC000001D;
      break;
    default:  // SIGSEGV, SIGBUS
      if (stackLow && accessed < stackLow + 64 * 1024 && accessed + 1024 * 1024 > stackLow) {
        fault.code = 0xC00000FD;
      } else {
        fault.code = 0xC0000005;
        fault.info[0] = write ? 1 : 0;
        fault.info[1] = accessed;
      }
      break;
  }
  if (faultHandler) faultHandler(fault);
  _exit(1);
}

class PosixPlatform final : public Platform {
 public:
  const char* CommandLine() override { return ""; }
  int ArgvCount() override { return savedArgc; }
  const char* ArgvAt(int index) override {
    return (index >= 0 && index < savedArgc && savedArgv) ? savedArgv[index] : nullptr;
  }
  Status ModuleFileName(std::string& path) override {
    if (programPath.empty()) return ErrorFileNotFound;
    path = programPath;
    return 0;
  }

  Handle StdHandle(StdStream which) override {
    return which == StdStream::Input ? 0 : which == StdStream::Output ? 1 : 2;
  }
  DeviceClass HandleDeviceClass(Handle h) override {
    struct stat st;
    if (fstat(int(h), &st) != 0) return DeviceClass::Disk;
    if (S_ISCHR(st.st_mode)) return DeviceClass::Character;
    if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) return DeviceClass::Pipe;
    return DeviceClass::Disk;
  }

  Status OpenFile(const std::string& name, uint32_t access, uint32_t, Handle& out) override {
    if (name.size() > MaxPathBytes) return ErrorFilenameExcedRange;
    struct stat st;
    if (stat(name.c_str(), &st) != 0) return NameStatus(errno, name);
    // Never open a FIFO, socket or device: it could hang or have side effects.
    if (!S_ISREG(st.st_mode)) return ErrorAccessDenied;
    // Read-only holds as on Windows, for root too.
    if ((access & AccessWrite) && !HasWriteBit(st.st_mode)) return ErrorAccessDenied;
    int fd = open(name.c_str(), OpenFlags(access) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return NameStatus(errno, name);
    return KeepPlainFile(fd, out);
  }

  Status CreateNewFile(const std::string& name, uint32_t access, uint32_t, Handle& out) override {
    if (name.size() > MaxPathBytes) return ErrorFilenameExcedRange;
    // Private until the caller widens it: a copy must not be readable by more users than its original.
    int fd = open(name.c_str(), OpenFlags(access) | O_CLOEXEC | O_NOCTTY | O_CREAT | O_EXCL, 0600);
    if (fd < 0) return errno == EEXIST ? ErrorFileExists : NameStatus(errno, name);
    out = fd;
    return 0;
  }

  Status CreateFile(const std::string& name, uint32_t access, uint32_t share, Handle& out) override {
    Status created = CreateNewFile(name, access, share, out);
    if (created != ErrorFileExists) return created;
    // An existing file is emptied, unless it is read-only or no plain file.
    struct stat st;
    if (stat(name.c_str(), &st) == 0) {
      if (!S_ISREG(st.st_mode)) return ErrorAccessDenied;
      if (!HasWriteBit(st.st_mode)) return ErrorAccessDenied;
    }
    int fd = open(name.c_str(), OpenFlags(access) | O_CLOEXEC | O_NOCTTY | O_CREAT | O_TRUNC | O_NONBLOCK, 0600);
    if (fd < 0) return NameStatus(errno, name);
    return KeepPlainFile(fd, out);
  }

  Status SetPosition(Handle h, int64_t distance, MoveMethod method, uint64_t& position) override {
    int whence = method == MoveMethod::Begin ? SEEK_SET : method == MoveMethod::Current ? SEEK_CUR : SEEK_END;
    off_t result = lseek(int(h), off_t(distance), whence);
    if (result < 0) return errno == EINVAL ? 131 /* negative seek */ : FromErrno(errno);
    position = uint64_t(result);
    return 0;
  }

  Status ReadFile(Handle h, void* buffer, uint32_t count, uint32_t& done) override {
    done = 0;
    ssize_t n;
    do n = read(int(h), buffer, count); while (n < 0 && errno == EINTR);
    if (n < 0) return FromErrno(errno);
    done = uint32_t(n);
    return 0;
  }

  // Writes on after a partial transfer, as Windows' WriteFile does for files
  // and consoles: a short count would otherwise cut a line or a copy silently.
  Status WriteFile(Handle h, const void* buffer, uint32_t count, uint32_t& done) override {
    done = 0;
    return WriteAll(int(h), static_cast<const char*>(buffer), count, done);
  }

  Status FlushFile(Handle h) override { return fdatasync(int(h)) == 0 ? 0 : FromErrno(errno); }

  Status CopyAccessRights(Handle from, Handle to) override {
    struct stat st;
    if (fstat(int(from), &st) != 0) return FromErrno(errno);
    return fchmod(int(to), st.st_mode & 0777 & ~processUmask) == 0 ? 0 : FromErrno(errno);
  }

  Status CloseFile(Handle h) override {
    if (close(int(h)) == 0 || errno == EINTR) return 0;
    return FromErrno(errno);
  }

  Status DeleteFile(const std::string& name) override {
    if (name.size() > MaxPathBytes) return ErrorFilenameExcedRange;
    struct stat st;
    if (lstat(name.c_str(), &st) != 0) return NameStatus(errno, name);
    if (S_ISDIR(st.st_mode)) return ErrorAccessDenied;
    if (S_ISREG(st.st_mode) && !HasWriteBit(st.st_mode)) return ErrorAccessDenied;
    // Windows keeps a file in place while it is our redirected output; so do we,
    // or every later line would go to a file without a name.
    if (IsOwnStandardStream(st)) return ErrorSharingViolation;
    return unlink(name.c_str()) == 0 ? 0 : NameStatus(errno, name);
  }

  Status StampOf(Handle h, FileStamp& stamp) override {
    struct stat st;
    if (fstat(int(h), &st) != 0) return FromErrno(errno);
    stamp = StampFrom(st);
    return 0;
  }

  // POSIX cannot keep writers out while it looks: it looks, unlinks, and looks
  // again through its own descriptor. A file that changed in that instant is
  // still whole behind the descriptor and is put back under its name.
  Status DeleteIfUnchanged(const std::string& name, const FileStamp& expected) override {
    if (name.size() > MaxPathBytes) return ErrorFilenameExcedRange;
    int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return NameStatus(errno, name);
    struct stat st;
    Status result = fstat(fd, &st) != 0 ? FromErrno(errno) : StampFrom(st) == expected ? Status(0) : Status(ErrorChangedMeanwhile);
    if (result == 0) result = DeleteFile(name);
    if (result == 0 && fstat(fd, &st) == 0 && st.st_nlink == 0 && !(StampFrom(st) == expected))
      result = PutBack(fd, name, st.st_mode);
    close(fd);
    return result;
  }

  Status RenameFile(const std::string& from, const std::string& to) override {
    if (from.size() > MaxPathBytes || to.size() > MaxPathBytes) return ErrorFilenameExcedRange;
    return rename(from.c_str(), to.c_str()) == 0 ? 0 : NameStatus(errno, to);
  }

  Status CreateDirectory(const std::string& name) override {
    if (name.size() > MaxPathBytes) return ErrorFilenameExcedRange;
    if (mkdir(name.c_str(), 0777) == 0) return 0;
    return errno == ENOENT ? ErrorPathNotFound : FromErrno(errno);
  }

  Status FlushDirectory(const std::string& name) override {
    int fd = open(name.empty() ? "." : name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return NameStatus(errno, name);
    int rc = fsync(fd);
    int e = errno;
    close(fd);
    // Some file systems cannot sync a directory; they have nothing to flush then.
    return (rc == 0 || e == EINVAL) ? 0 : FromErrno(e);
  }

  Status StartSearch(const std::string& pattern, Handle& search, FindData& found) override {
    search = InvalidHandle;
    if (pattern.size() > MaxPathBytes) return ErrorFilenameExcedRange;
    std::string last = LastComponent(pattern);
    if (last.empty()) return ErrorFileNotFound;
    // A name without wildcards is one look-up, never a scan of its directory.
    if (last.find_first_of("*?") == std::string::npos) {
      Status st = LookUp(pattern, found);
      if (st == 0) search = reinterpret_cast<Handle>(new Search);
      return st;
    }
    std::size_t slash = pattern.find_last_of('/');
    std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : pattern.substr(0, slash);
    auto* s = new Search;
    s->dir = opendir(dir.c_str());
    if (!s->dir) {
      int e = errno;
      delete s;
      return e == ENOENT ? ErrorPathNotFound : e == ENOTDIR ? NotDirectoryStatus(dir) : FromErrno(e);
    }
    s->pattern = last;
    Status st = NextMatch(*s, found);
    if (st != 0) {
      closedir(s->dir);
      delete s;
      return st == ErrorNoMoreFiles ? ErrorFileNotFound : st;
    }
    search = reinterpret_cast<Handle>(s);
    return 0;
  }

  Status ContinueSearch(Handle search, FindData& found) override {
    auto* s = reinterpret_cast<Search*>(search);
    if (search == InvalidHandle || !s) return ErrorInvalidHandle;
    if (!s->dir) return ErrorNoMoreFiles;  // a single name looked up
    return NextMatch(*s, found);
  }

  Status EndSearch(Handle search) override {
    auto* s = reinterpret_cast<Search*>(search);
    if (search == InvalidHandle || !s) return ErrorInvalidHandle;
    if (s->dir) closedir(s->dir);
    delete s;
    return 0;
  }

  Status LookUp(const std::string& name, FindData& found) override {
    if (name.size() > MaxPathBytes) return ErrorFilenameExcedRange;
    struct stat st;
    if (StatEntry(AT_FDCWD, name.c_str(), st) != 0)
      return errno == ENOTDIR ? NotDirectoryStatus(ParentOf(name)) : NameStatus(errno, name);
    FillFindData(LastComponent(name), st, found);
    return 0;
  }

  LocalDate Today() override {
    time_t now = time(nullptr);
    struct tm tm {};
    localtime_r(&now, &tm);
    return LocalDate{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
  }

  void AnsiToOem(char*, std::size_t) override {}

  std::size_t LoadText(uint32_t id, char* buffer, std::size_t size) override {
    struct Entry {
      uint32_t id;
      const char* text;
    };
    static const Entry table[] = {
#define STOWIT_TEXT(id, text) {id, text},
#include "runtime/texts.def"
#undef STOWIT_TEXT
    };
    if (size == 0) return 0;
    for (const Entry& e : table) {
      if (e.id != id) continue;
      std::size_t n = strnlen(e.text, size - 1);
      memcpy(buffer, e.text, n);
      buffer[n] = 0;
      return n;
    }
    buffer[0] = 0;
    return 0;
  }

  void InstallFaultHandler(FaultHandler handler) override {
    faultHandler = handler;
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
      void* addr = nullptr;
      size_t size = 0;
      if (pthread_attr_getstack(&attr, &addr, &size) == 0) stackLow = reinterpret_cast<uintptr_t>(addr);
      pthread_attr_destroy(&attr);
    }
    stack_t ss{};
    ss.ss_sp = alternateStack;
    ss.ss_size = sizeof alternateStack;
    sigaltstack(&ss, nullptr);
    struct sigaction sa {};
    sa.sa_sigaction = OnFault;
    // SA_NODEFER: a fault while reporting comes back here instead of killing the process.
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) sigaction(sig, &sa, nullptr);
  }

  bool LocateCode(uintptr_t address, char* moduleName, std::size_t size, uintptr_t& offset) override {
    Dl_info info{};
    if (size == 0 || !dladdr(reinterpret_cast<void*>(address), &info) || !info.dli_fbase) return false;
    offset = address - reinterpret_cast<uintptr_t>(info.dli_fbase);
    Dl_info own{};
    std::string path = info.dli_fname ? info.dli_fname : "";
    if (dladdr(reinterpret_cast<void*>(&FromErrno), &own) && own.dli_fbase == info.dli_fbase) path = programPath;
    std::string base = LastComponent(path);
    std::size_t n = base.size() < size - 1 ? base.size() : size - 1;
    memcpy(moduleName, base.data(), n);
    moduleName[n] = 0;
    return true;
  }

  void ShowMessage(const char* text, const char* caption, uint32_t) override {
    std::string line = std::string(caption) + ": " + text + "\n";
    ssize_t ignored = write(2, line.data(), line.size());
    (void)ignored;
  }

  [[noreturn]] void ExitProcess(int32_t code) override { _exit(code); }
};

}  // namespace

Platform& Native() {
  static PosixPlatform platform;
  return platform;
}

void StartPlatform(int argc, char** argv) {
  savedArgc = argc;
  savedArgv = argv;
  // A failed write must come back as a status, not end the process.
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  // A standard descriptor closed at start must stay unusable: left free, the
  // next file the run opens would get its number and receive console text.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    int placeholder = open("/dev/null", O_RDONLY);
    if (placeholder >= 0 && placeholder != fd) {
      dup2(placeholder, fd);
      close(placeholder);
    }
  }
  char path[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n > 0) programPath.assign(path, std::size_t(n));
  processUmask = umask(0);
  umask(processUmask);
  for (int fd = 1; fd <= 2; ++fd) {
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) standardStreams[fd - 1] = {st.st_dev, st.st_ino, true};
  }
}

}  // namespace os
