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
bool IsUsageRequest(int count, std::string_view first);
std::string UsageLine1(std::string_view programPath);

[[noreturn]] void RunArchiver();
