// The console mark in an executable's header. Pure reading through the
// platform in use, built and tested on both platforms; the Windows build asks
// it of its own program file.
#pragma once

#include <string>

namespace os {

// Whether the executable file at `path` is marked as a console program; false
// for a file that cannot be read or is no executable.
bool IsConsoleImage(const std::string& path);

}  // namespace os
