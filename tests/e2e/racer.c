/* Plays the other user who owns the folders that a run of stowit works in,
 * and changes them under it as fast as the kernel tells of each change.
 *
 *   racer UID GID COUNT swap-dated ROOT VICTIM
 *     each new folder NAME in ROOT becomes NAME.moved, and a symlink
 *     NAME -> VICTIM takes its place;
 *   racer UID GID COUNT flip A B
 *     swaps the entries A and B (a file and a symlink) over and over.
 *
 * UID and GID are those to act as (-1: stay who we are); COUNT is the number
 * of swaps after which it ends (0: run until killed). "ready" on standard
 * output says that it watches, so that the run it races can start. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/inotify.h>
#include <unistd.h>

static void fail(const char *what) {
  perror(what);
  exit(2);
}

static void ready(void) {
  if (puts("ready") < 0 || fflush(stdout) != 0) fail("stdout");
}

/* Supplementary groups first, then the group, then the user: once the user
 * is no longer root, the rest could not be dropped. */
static void act_as(long uid, long gid) {
  if (uid < 0) return;
  if (setgroups(0, NULL) != 0 || setgid((gid_t)gid) != 0 || setuid((uid_t)uid) != 0) fail("dropping to the other user");
}

static void swap_dated(const char *root, const char *victim, long count) {
  int root_fd = open(root, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  int watch = inotify_init1(IN_CLOEXEC);
  if (root_fd < 0) fail(root);
  if (watch < 0 || inotify_add_watch(watch, root, IN_CREATE | IN_ONLYDIR) < 0) fail("inotify");
  ready();
  char events[8192] __attribute__((aligned(__alignof__(struct inotify_event))));
  for (long done = 0; count == 0 || done < count;) {
    ssize_t n = read(watch, events, sizeof events);
    if (n <= 0) fail("reading events");
    for (char *at = events; at < events + n;) {
      const struct inotify_event *event = (const struct inotify_event *)at;
      at += sizeof *event + event->len;
      /* Our own symlink is a creation too, but no folder. */
      if (!(event->mask & IN_ISDIR) || event->len == 0) continue;
      char moved[NAME_MAX + 16];
      snprintf(moved, sizeof moved, "%s.moved", event->name);
      if (renameat(root_fd, event->name, root_fd, moved) != 0) {
        perror(moved);
        continue;
      }
      if (symlinkat(victim, root_fd, event->name) != 0) perror(event->name);
      ++done;
    }
  }
}

static void flip(const char *a, const char *b, long count) {
  ready();
  /* Fails while the run has one of them renamed aside; it goes on regardless. */
  for (long done = 0; count == 0 || done < count;)
    if (renameat2(AT_FDCWD, a, AT_FDCWD, b, RENAME_EXCHANGE) == 0) ++done;
}

int main(int argc, char **argv) {
  int swap = argc == 7 && strcmp(argv[4], "swap-dated") == 0;
  if (argc != 7 || (!swap && strcmp(argv[4], "flip") != 0)) {
    fprintf(stderr, "usage: racer UID GID COUNT swap-dated ROOT VICTIM | flip A B\n");
    return 2;
  }
  act_as(strtol(argv[1], NULL, 10), strtol(argv[2], NULL, 10));
  long count = strtol(argv[3], NULL, 10);
  if (swap)
    swap_dated(argv[5], argv[6], count);
  else
    flip(argv[5], argv[6], count);
  return 0;
}
