/* The least a copy by stowit's algorithm can cost on this machine: the same
 * system calls and nothing else. Before every block three lseek calls ask the
 * position, the end and go back; then one read and one write of at most
 * 16,384 bytes; open, create and close around them. scripts/bench times it
 * beside the tool.
 *
 *   bench-floor SOURCE DEST          copy one file
 *   bench-floor -d DIR DEST [-D]     copy every plain file of DIR into the
 *                                    existing folder DEST, one report line
 *                                    per file on standard output; with -D
 *                                    flush each copy (fdatasync, fsync of
 *                                    DEST) and delete the original
 *   bench-floor -m CMD [ARG...]      run CMD and print on standard error
 *                                    "wall user system peak-KiB exit-code"
 *
 * -m is here because a program started from a large process (the Python of
 * scripts/bench) inherits that process's peak resident size, and wait4 then
 * reports the larger figure; started from this small program it reports the
 * command's own.
 *
 * No error is forgiven: the first failing call ends it with exit code 1.
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

enum { BlockSize = 16384 };

static char block[BlockSize];

static void fail(const char *what, const char *name) {
  perror(name ? name : what);
  exit(1);
}

static void copy_fd(int from, int to, const char *name) {
  for (;;) {
    off_t current = lseek(from, 0, SEEK_CUR);
    off_t end = lseek(from, 0, SEEK_END);
    if (current < 0 || end < 0 || lseek(from, current, SEEK_SET) < 0) fail("lseek", name);
    if (current == end) return;
    ssize_t n = read(from, block, BlockSize);
    if (n < 0) fail("read", name);
    if (n == 0) return;
    if (write(to, block, (size_t)n) != n) fail("write", name);
  }
}

static int copy_one(const char *source, const char *dest) {
  int from = open(source, O_RDONLY | O_CLOEXEC);
  if (from < 0) fail("open", source);
  int to = open(dest, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (to < 0) fail("create", dest);
  copy_fd(from, to, source);
  if (close(from) != 0) fail("close", source);
  return to;
}

static int copy_folder(const char *dir, const char *dest, int flush_and_delete) {
  DIR *d = opendir(dir);
  if (!d) fail("opendir", dir);
  int dest_fd = -1;
  if (flush_and_delete) {
    dest_fd = open(dest, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dest_fd < 0) fail("open", dest);
  }
  char source[4096], target[4096], line[4200];
  long count = 0;
  struct dirent *e;
  while ((e = readdir(d)) != NULL) {
    if (e->d_type != DT_REG) continue;
    snprintf(source, sizeof source, "%s/%s", dir, e->d_name);
    snprintf(target, sizeof target, "%s/%s", dest, e->d_name);
    int n = snprintf(line, sizeof line, "File %ld %s\n", ++count, source);
    if (write(1, line, (size_t)n) != n) fail("write", "standard output");
    int to = copy_one(source, target);
    if (flush_and_delete && fdatasync(to) != 0) fail("fdatasync", target);
    if (close(to) != 0) fail("close", target);
    if (flush_and_delete) {
      if (fsync(dest_fd) != 0) fail("fsync", dest);
      if (unlink(source) != 0) fail("unlink", source);
    }
  }
  closedir(d);
  if (dest_fd >= 0) close(dest_fd);
  return 0;
}

static double seconds(struct timeval t) { return (double)t.tv_sec + (double)t.tv_usec / 1e6; }

static int measure(char **command) {
  struct timespec start, stop;
  clock_gettime(CLOCK_MONOTONIC, &start);
  pid_t pid = fork();
  if (pid < 0) fail("fork", NULL);
  if (pid == 0) {
    execvp(command[0], command);
    perror(command[0]);
    _exit(127);
  }
  int status;
  struct rusage usage;
  if (wait4(pid, &status, 0, &usage) < 0) fail("wait4", NULL);
  clock_gettime(CLOCK_MONOTONIC, &stop);
  double wall = (double)(stop.tv_sec - start.tv_sec) + (double)(stop.tv_nsec - start.tv_nsec) / 1e9;
  int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  fprintf(stderr, "%.6f %.6f %.6f %ld %d\n", wall, seconds(usage.ru_utime), seconds(usage.ru_stime),
          usage.ru_maxrss, code);
  return 0;
}

int main(int argc, char **argv) {
  if (argc >= 3 && strcmp(argv[1], "-m") == 0) return measure(argv + 2);
  if (argc >= 4 && strcmp(argv[1], "-d") == 0)
    return copy_folder(argv[2], argv[3], argc == 5 && strcmp(argv[4], "-D") == 0);
  if (argc != 3) {
    fprintf(stderr, "usage: %s SOURCE DEST | -d DIR DEST [-D]\n", argv[0]);
    return 2;
  }
  int to = copy_one(argv[1], argv[2]);
  if (close(to) != 0) fail("close", argv[2]);
  return 0;
}
