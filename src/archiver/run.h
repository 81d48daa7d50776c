// The run sequence: usage screen or one archiving run, ending the process.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct RunOptions {
  std::string archiveDir = "Archive";
  bool deleteOriginals = false;
};

// Arguments 2 onward, in order: "/D" in any case sets the deletion, every other
// argument names the archive directory and the last one wins.
RunOptions ReadOptions(const std::vector<std::string>& laterArguments);
// "/D" in any case.
bool IsDeleteSwitch(const std::string& argument);
// The first later argument other than "/D" that names a plain file, as given or
// below `sourceDir`: the sign of a pattern the shell expanded. Empty when none.
std::string ExpandedPatternArgument(const std::vector<std::string>& laterArguments, const std::string& sourceDir);
// No argument, "/?" first, or the platform's own help switch first.
bool IsUsageRequest(int count, const std::string& first);
std::string UsageLine1(std::string_view programPath);
std::string VersionLine();

[[noreturn]] void RunArchiver();
