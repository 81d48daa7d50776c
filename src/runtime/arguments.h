// The program's arguments: how many follow the program name, and each by index.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Arguments are texts of at most this many bytes; callers refuse longer ones.
constexpr std::size_t MaxArgumentBytes = 255;

// Splits the next argument off a Windows command line from `position`, and
// moves `position` to where the next call goes on.
std::string NextArgumentToken(std::string_view line, std::size_t& position);

// Over a command-line text, as the Windows build does over GetCommandLineA.
int32_t CountArguments(std::string_view line);
std::string ArgumentOf(std::string_view line, int32_t index);

int32_t ArgumentCount();
// Index 0 is the full path of the program file, cut to MaxArgumentBytes; any
// index without an argument gives the empty text. Other arguments are given whole.
std::string ArgumentAt(int32_t index);

// Whether the executable file at `path` is marked as a console program.
bool IsConsoleImage(const std::string& path);

// The platform's own help switch ("--help", "-h" on POSIX; none on Windows).
bool IsHelpSwitch(const std::string& argument);
// The platform's own version switch ("--version" on POSIX; none on Windows).
bool IsVersionSwitch(const std::string& argument);
// Whether the shell may have expanded the pattern before it reached us (POSIX).
bool ShellExpandsPatterns();

extern bool IsConsoleProgram;
void SetProgramKind();
