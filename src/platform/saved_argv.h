// The argv that main received, kept by StartPlatform for the platform's
// ArgvCount and ArgvAt; the same on both platforms, so kept in platform.cpp.
#pragma once

namespace os {

void SaveArgv(int argc, char** argv);
int SavedArgvCount();
const char* SavedArgvAt(int index);  // nullptr outside the list

}  // namespace os
