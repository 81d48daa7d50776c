/* Loaded with LD_PRELOAD in front of the Linux program: counts each use of the
   libc calls that the POSIX layer makes and fails one of them on demand.

   STOWIT_FAULT=call:N:errno:once|always   fail the Nth use of `call` (from 1)
                                           with that errno number, once or from
                                           then on
   STOWIT_FAULT_LOG=path                   append a line per use: the call, then
                                           the name or descriptor it was given
                                           ("stdout" for 1);
                                           "FAULT " before the use that failed

   Both are read once, before the program starts. Calls that cannot fail in a
   way the program could notice (time, localtime_r, umask, clock_gettime on
   the monotonic clock, dirfd) are left alone. */
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#define CALLS(X)                                                                                  \
  X(open) X(openat) X(read) X(pread) X(write) X(lseek) X(close) X(fstat) X(stat) X(lstat)        \
  X(fstatat) X(statx) X(fcntl) X(fchmod) X(fsync) X(fdatasync) X(rename) X(renameat)             \
  X(renameat2) X(unlink) X(unlinkat) X(linkat) X(mkdir) X(mkdirat) X(readlink) X(readlinkat)     \
  X(opendir) X(fdopendir) X(readdir) X(closedir) X(dup) X(dup2) X(isatty) X(fchown)               \
  X(fgetxattr) X(fsetxattr) X(ftruncate)

#define ID(name) C_##name,
enum { CALLS(ID) CALL_COUNT };
#define NAME(name) #name,
static const char *const call_names[] = {CALLS(NAME)};

static long uses[CALL_COUNT];
static int fault_call = -1, fault_errno, fault_always, log_fd = -1;
static long fault_at;
static ssize_t (*log_write)(int, const void *, size_t);

/* The function of that name past this library, looked up once. */
#define REAL(name)                                          \
  static __typeof__(&name) real;                            \
  if (!real) real = (__typeof__(&name))dlsym(RTLD_NEXT, #name)

__attribute__((constructor)) static void configure(void) {
  const char *log = getenv("STOWIT_FAULT_LOG");
  int (*open_log)(const char *, int, ...) = dlsym(RTLD_NEXT, "open");
  log_write = dlsym(RTLD_NEXT, "write");
  if (log && *log) log_fd = open_log(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  const char *fault = getenv("STOWIT_FAULT");
  char name[32], mode[16];
  if (!fault || sscanf(fault, "%31[^:]:%ld:%d:%15s", name, &fault_at, &fault_errno, mode) != 4) return;
  for (int i = 0; i < CALL_COUNT; ++i)
    if (strcmp(name, call_names[i]) == 0) fault_call = i;
  fault_always = strcmp(mode, "always") == 0;
}

/* Counts a use; returns the errno to fail it with, or 0. Leaves errno as it
   was: readdir tells its end from a failure by an errno the caller cleared. */
static int use(int call, const char *path, int fd) {
  long n = ++uses[call];
  int fail = call == fault_call && (n == fault_at || (fault_always && n > fault_at));
  if (log_fd >= 0) {
    int saved = errno;
    char line[512], descriptor[16];
    snprintf(descriptor, sizeof descriptor, "fd=%d", fd);
    const char *detail = path ? path : fd == STDOUT_FILENO ? "stdout" : descriptor;
    int len = snprintf(line, sizeof line, "%s%s %s\n", fail ? "FAULT " : "", call_names[call], detail);
    if (len > (int)sizeof line - 1) len = sizeof line - 1;
    log_write(log_fd, line, (size_t)len);
    errno = saved;
  }
  return fail ? fault_errno : 0;
}

#define CHECK(call, path, fd, failed)  \
  do {                                 \
    int e_ = use(C_##call, path, fd);  \
    if (e_) {                          \
      errno = e_;                      \
      return failed;                   \
    }                                  \
  } while (0)

/* The mode argument is there only when a file may be created. */
#define MODE_ARG(flags)                                            \
  mode_t mode = 0;                                                 \
  if (((flags) & O_CREAT) || ((flags) & O_TMPFILE) == O_TMPFILE) { \
    va_list ap;                                                    \
    va_start(ap, flags);                                           \
    mode = va_arg(ap, mode_t);                                     \
    va_end(ap);                                                    \
  }

int open(const char *path, int flags, ...) {
  MODE_ARG(flags);
  CHECK(open, path, -1, -1);
  REAL(open);
  return real(path, flags, mode);
}
int open64(const char *path, int flags, ...) {
  MODE_ARG(flags);
  CHECK(open, path, -1, -1);
  REAL(open64);
  return real(path, flags, mode);
}
int openat(int dir, const char *path, int flags, ...) {
  MODE_ARG(flags);
  CHECK(openat, path, dir, -1);
  REAL(openat);
  return real(dir, path, flags, mode);
}
int openat64(int dir, const char *path, int flags, ...) {
  MODE_ARG(flags);
  CHECK(openat, path, dir, -1);
  REAL(openat64);
  return real(dir, path, flags, mode);
}
int fcntl(int fd, int command, ...) {
  va_list ap;
  va_start(ap, command);
  void *argument = va_arg(ap, void *);  /* an int or a pointer, passed on as it came */
  va_end(ap);
  CHECK(fcntl, NULL, fd, -1);
  REAL(fcntl);
  return real(fd, command, argument);
}

/* The calls with a fixed argument list: signature, arguments, the name or
   descriptor to log, and what the call returns on failure. */
#define WRAP(ret, name, base, params, args, path, fd, failed) \
  ret name params {                                           \
    CHECK(base, path, fd, failed);                            \
    REAL(name);                                               \
    return real args;                                         \
  }

WRAP(ssize_t, read, read, (int fd, void *b, size_t n), (fd, b, n), NULL, fd, -1)
WRAP(ssize_t, pread, pread, (int fd, void *b, size_t n, off_t at), (fd, b, n, at), NULL, fd, -1)
WRAP(ssize_t, pread64, pread, (int fd, void *b, size_t n, off64_t at), (fd, b, n, at), NULL, fd, -1)
WRAP(ssize_t, write, write, (int fd, const void *b, size_t n), (fd, b, n), NULL, fd, -1)
WRAP(off_t, lseek, lseek, (int fd, off_t at, int whence), (fd, at, whence), NULL, fd, -1)
WRAP(off64_t, lseek64, lseek, (int fd, off64_t at, int whence), (fd, at, whence), NULL, fd, -1)
WRAP(int, close, close, (int fd), (fd), NULL, fd, -1)
WRAP(int, fstat, fstat, (int fd, struct stat *st), (fd, st), NULL, fd, -1)
WRAP(int, fstat64, fstat, (int fd, struct stat64 *st), (fd, st), NULL, fd, -1)
WRAP(int, stat, stat, (const char *p, struct stat *st), (p, st), p, -1, -1)
WRAP(int, stat64, stat, (const char *p, struct stat64 *st), (p, st), p, -1, -1)
WRAP(int, lstat, lstat, (const char *p, struct stat *st), (p, st), p, -1, -1)
WRAP(int, lstat64, lstat, (const char *p, struct stat64 *st), (p, st), p, -1, -1)
WRAP(int, fstatat, fstatat, (int d, const char *p, struct stat *st, int f), (d, p, st, f), p, d, -1)
WRAP(int, fstatat64, fstatat, (int d, const char *p, struct stat64 *st, int f), (d, p, st, f), p, d, -1)
WRAP(int, statx, statx, (int d, const char *p, int f, unsigned m, struct statx *st), (d, p, f, m, st), p, d, -1)
WRAP(int, fchmod, fchmod, (int fd, mode_t m), (fd, m), NULL, fd, -1)
WRAP(int, fsync, fsync, (int fd), (fd), NULL, fd, -1)
WRAP(int, fdatasync, fdatasync, (int fd), (fd), NULL, fd, -1)
WRAP(int, rename, rename, (const char *a, const char *b), (a, b), a, -1, -1)
WRAP(int, renameat, renameat, (int da, const char *a, int db, const char *b), (da, a, db, b), a, da, -1)
WRAP(int, renameat2, renameat2, (int da, const char *a, int db, const char *b, unsigned f), (da, a, db, b, f), a,
     da, -1)
WRAP(int, unlink, unlink, (const char *p), (p), p, -1, -1)
WRAP(int, unlinkat, unlinkat, (int d, const char *p, int f), (d, p, f), p, d, -1)
WRAP(int, linkat, linkat, (int da, const char *a, int db, const char *b, int f), (da, a, db, b, f), b, db, -1)
WRAP(int, mkdir, mkdir, (const char *p, mode_t m), (p, m), p, -1, -1)
WRAP(int, mkdirat, mkdirat, (int d, const char *p, mode_t m), (d, p, m), p, d, -1)
WRAP(ssize_t, readlink, readlink, (const char *p, char *b, size_t n), (p, b, n), p, -1, -1)
WRAP(ssize_t, readlinkat, readlinkat, (int d, const char *p, char *b, size_t n), (d, p, b, n), p, d, -1)
WRAP(DIR *, opendir, opendir, (const char *p), (p), p, -1, NULL)
WRAP(DIR *, fdopendir, fdopendir, (int fd), (fd), NULL, fd, NULL)
WRAP(struct dirent *, readdir, readdir, (DIR * d), (d), NULL, dirfd(d), NULL)
WRAP(struct dirent64 *, readdir64, readdir, (DIR * d), (d), NULL, dirfd(d), NULL)
WRAP(int, closedir, closedir, (DIR * d), (d), NULL, dirfd(d), -1)
WRAP(int, dup, dup, (int fd), (fd), NULL, fd, -1)
WRAP(int, dup2, dup2, (int fd, int to), (fd, to), NULL, to, -1)
WRAP(int, isatty, isatty, (int fd), (fd), NULL, fd, 0)
WRAP(int, fchown, fchown, (int fd, uid_t u, gid_t g), (fd, u, g), NULL, fd, -1)
WRAP(ssize_t, fgetxattr, fgetxattr, (int fd, const char *n, void *v, size_t s), (fd, n, v, s), NULL, fd, -1)
WRAP(int, fsetxattr, fsetxattr, (int fd, const char *n, const void *v, size_t s, int f), (fd, n, v, s, f), NULL, fd,
     -1)
WRAP(int, ftruncate, ftruncate, (int fd, off_t at), (fd, at), NULL, fd, -1)
WRAP(int, ftruncate64, ftruncate, (int fd, off64_t at), (fd, at), NULL, fd, -1)
