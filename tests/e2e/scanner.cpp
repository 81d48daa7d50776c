// Plays a virus scanner over an archive root, as Windows programs meet one:
//
//   scanner ROOT briefly   opens each new file in a folder below ROOT, a
//                          working copy (`.partial`) or a whole one, for
//                          reading, sharing reading only, as soon as it can
//                          (a working copy once its writer has closed it),
//                          and holds it 300 ms;
//   scanner ROOT forever   opens the first `.partial` it sees, sharing
//                          reading and writing but no deletion, and keeps it.
//
// "ready" on standard output says that it watches; it ends with its input,
// and then says how many working and whole copies it held.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <set>
#include <string>

namespace {

volatile bool inputOpen = true;

DWORD WINAPI WatchInput(void*) {
  char buffer[64];
  DWORD n;
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &n, nullptr) && n > 0) {
  }
  inputOpen = false;
  return 0;
}

bool EndsWith(const std::string& text, const char* end) {
  std::size_t n = std::strlen(end);
  return text.size() >= n && text.compare(text.size() - n, n, end) == 0;
}

template <class Visit>
void EachEntry(const std::string& folder, Visit visit) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do
    if (std::strcmp(found.cFileName, ".") != 0 && std::strcmp(found.cFileName, "..") != 0)
      visit(std::string(found.cFileName), (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
  while (FindNextFileA(search, &found));
  FindClose(search);
}

struct Held {
  HANDLE handle;
  ULONGLONG until;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || (std::strcmp(argv[2], "briefly") != 0 && std::strcmp(argv[2], "forever") != 0)) {
    std::fputs("usage: scanner ROOT briefly|forever\n", stderr);
    return 2;
  }
  const std::string root = argv[1];
  const bool forever = std::strcmp(argv[2], "forever") == 0;
  CloseHandle(CreateThread(nullptr, 0, WatchInput, nullptr, 0, nullptr));
  std::puts("ready");
  std::fflush(stdout);
  std::set<std::string> seen, waiting;  // waiting: refused while its writer holds it
  unsigned partials = 0, wholes = 0;
  std::deque<Held> held;
  HANDLE kept = INVALID_HANDLE_VALUE;
  // Whether it is done with the file: held, or gone.
  auto scan = [&](const std::string& path) {
    const bool partial = EndsWith(path, ".partial");
    if (forever && (!partial || kept != INVALID_HANDLE_VALUE)) return true;
    DWORD share = forever ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return GetLastError() != ERROR_SHARING_VIOLATION;
    seen.insert(path);
    ++(partial ? partials : wholes);
    if (forever)
      kept = h;
    else
      held.push_back({h, GetTickCount64() + 300});
    return true;
  };
  while (inputOpen) {
    EachEntry(root, [&](const std::string& folder, bool isFolder) {
      if (!isFolder) return;
      EachEntry(root + "\\" + folder, [&](const std::string& name, bool) {
        const std::string path = root + "\\" + folder + "\\" + name;
        if (!seen.count(path) && !waiting.count(path) && !scan(path)) waiting.insert(path);
      });
    });
    // A working copy is open to the scanner only between its writer's close
    // and its rename: try again and again, as a scanner that waits on the close would.
    for (int spin = 0; spin < 200 && !waiting.empty(); ++spin)
      std::erase_if(waiting, [&](const std::string& path) { return scan(path); });
    while (!held.empty() && held.front().until <= GetTickCount64()) {
      CloseHandle(held.front().handle);
      held.pop_front();
    }
    if (waiting.empty()) Sleep(1);
  }
  std::printf("held %u partial, %u whole\n", partials, wholes);
  return 0;
}
