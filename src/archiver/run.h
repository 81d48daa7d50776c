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
// No argument, "/?" first, or the platform's own help switch first.
bool IsUsageRequest(int count, const std::string& first);
std::string UsageLine1(std::string_view programPath);

[[noreturn]] void RunArchiver();
