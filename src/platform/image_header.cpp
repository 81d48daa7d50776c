#include "platform/image_header.h"

#include <cstring>

#include "platform/platform.h"

namespace os {

ImageMark ReadImageMark(const std::string& path) {
  Platform& sys = Sys();
  Handle h;
  if (sys.OpenFile(CurrentFolder, path, AccessRead, ShareRead | ShareWrite, h, nullptr) != 0) return ImageMark::Unreadable;
  unsigned char buffer[248] = {};
  bool failed = false;
  uint32_t done = 0;
  uint64_t position = 0;
  bool unreadable = false;  // a call failed, as against a file too short
  auto read = [&](uint32_t n) {
    if (sys.ReadFile(h, buffer, n, done) != 0) unreadable = true;
    if (unreadable || done < n) failed = true;
  };
  auto seek = [&](uint64_t to) {
    if (sys.SetPosition(h, int64_t(to), MoveMethod::Begin, position) != 0) unreadable = failed = true;
  };
  uint32_t header = 0;
  read(64);
  if (!failed && buffer[0] == 'M' && buffer[1] == 'Z') {
    std::memcpy(&header, buffer + 60, 4);  // little-endian, like every target of this program
    seek(header);
    read(2);
  }
  seek(header);
  bool console = false;
  if (!failed && buffer[0] == 'P' && buffer[1] == 'E') {
    read(248);
    console = !failed && std::memcmp(buffer, "PE\0\0", 4) == 0 && (buffer[92] | buffer[93] << 8) == 3;
  }
  sys.CloseFile(h);
  return console ? ImageMark::Console : unreadable ? ImageMark::Unreadable : ImageMark::Other;
}

}  // namespace os
