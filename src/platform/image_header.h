// The console mark in an executable's header. Pure reading through the
// platform in use, built and tested on both platforms; the Windows build asks
// it of its own program file.
#pragma once

#include <string>

namespace os {

// What the executable file at `path` says of itself: a console program,
// something else (another subsystem, a damaged or foreign file), or nothing,
// as it could not be opened, read or sought.
enum class ImageMark { Console, Other, Unreadable };
ImageMark ReadImageMark(const std::string& path);
// Whether it is marked as a console program.
inline bool IsConsoleImage(const std::string& path) { return ReadImageMark(path) == ImageMark::Console; }

}  // namespace os
