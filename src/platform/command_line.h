// The splitting of a Windows command line into arguments. Pure code, built and
// tested on both platforms; the Windows build splits GetCommandLineW with it,
// and the narrow form follows the same rules.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace os {

// Splits the next argument off `line` from `position`, and moves `position` to
// where the next call goes on.
std::string NextArgumentToken(std::string_view line, std::size_t& position);
std::wstring NextArgumentToken(std::wstring_view line, std::size_t& position);

// The number of arguments after the program name (-1 for an empty line), and
// each by index, the program name being 0. Nothing is cut.
int32_t CountArguments(std::string_view line);
int32_t CountArguments(std::wstring_view line);
std::string ArgumentOf(std::string_view line, int32_t index);
std::wstring ArgumentOf(std::wstring_view line, int32_t index);

}  // namespace os
