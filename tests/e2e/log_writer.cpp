// Holds a log open for writing, as a service does, appends each line read from
// standard input and answers "ok" once it is written; ends with its input. On
// Windows it shares reading, writing and deleting, as loggers do.
#include <cstdio>
#include <cstring>
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

int main(int argc, char** argv) {
  if (argc != 2) return 2;
#ifdef _WIN32
  HANDLE log = CreateFileA(argv[1], FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) return 1;
#else
  int log = open(argv[1], O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (log < 0) return 1;
#endif
  char line[256];
  while (std::fgets(line, sizeof line, stdin)) {
    std::size_t n = std::strlen(line);
#ifdef _WIN32
    DWORD done = 0;
    if (!WriteFile(log, line, DWORD(n), &done, nullptr) || done != n) return 1;
#else
    if (write(log, line, n) != ssize_t(n)) return 1;
#endif
    std::fputs("ok\n", stdout);
    std::fflush(stdout);
  }
  return 0;
}
