// What the run makes of its arguments: the usage request, the options, the
// source directory and the first usage line. Whole runs over these arguments
// are end to end (test_usage.py, test_listing.py, test_archive.py).
#include "archiver/run.h"

#include <vector>

#include "runtime/paths.h"
#include "test_support.h"

namespace {

struct OptionsCase {
  std::vector<std::string> later;  // arguments 2 onward
  std::string archiveDir;
  bool deleteOriginals;
};

TEST(RunOptionsTest, DeleteSwitchInAnyCaseAndPlaceAndTheLastOtherArgumentNamesTheFolder) {
  const OptionsCase cases[] = {
      {{}, "Archive", false},
      {{"backup", "/d"}, "backup", true},
      {{"/D", "backup"}, "backup", true},
      {{"/d", "backup", "/d"}, "backup", true},
      {{"/D"}, "Archive", true},
      {{"a", "b"}, "b", false},
      {{"/x"}, "/x", false},
      {{"/?"}, "/?", false},
      {{"/DD"}, "/DD", false},
      {{"D"}, "D", false},
      {{"-d"}, "-d", false},
      {{"\\d"}, "\\d", false},
      {{"/d "}, "/d ", false},
      {{"Old Logs", "/D"}, "Old Logs", true},
      {{"BackUp"}, "BackUp", false},  // kept as typed, not upper-cased
      {{"\xe4" "rchiv"}, "\xe4" "rchiv", false},
  };
  for (const OptionsCase& c : cases) {
    std::string shown;
    for (const std::string& a : c.later) shown += "[" + a + "]";
    SCOPED_TRACE(shown);
    RunOptions options = ReadOptions(c.later);
    EXPECT_EQ(options.archiveDir, c.archiveDir);
    EXPECT_EQ(options.deleteOriginals, c.deleteOriginals);
  }
}

TEST(RunOptionsTest, OnlyNoArgumentOrExactlySlashQuestionMarkFirstAsksForUsage) {
  // The whole table of what a first argument asks for is end to end (test_usage.py).
  EXPECT_TRUE(IsUsageRequest(-1, ""));  // a command line without even the program name
  for (const char* first : {"/? ", " /?", "\\?", "//?"}) EXPECT_FALSE(IsUsageRequest(1, first)) << first;
}

TEST(RunOptionsTest, FirstUsageLineIsCutAfterIts255thByte) {
  const std::string tail = " Filepattern [ArchiveDir] [/D]";
  EXPECT_EQ(UsageLine1("C:\\tools\\stowit.exe"), "Usage: C:\\tools\\stowit.exe" + tail);
  const std::string fits(255 - 7 - tail.size(), 'p');
  EXPECT_EQ(UsageLine1(fits), "Usage: " + fits + tail);
  const std::string line = UsageLine1(fits + "q");
  EXPECT_EQ(line.size(), 255u);
  EXPECT_EQ(line, "Usage: " + fits + "q" + tail.substr(0, tail.size() - 1));
  EXPECT_EQ(UsageLine1(std::string(300, 'p')), "Usage: " + std::string(248, 'p'));
  EXPECT_EQ(UsageLine1(""), "Usage: " + tail);
}

TEST(RunOptionsTest, SourceDirectoryEndsAtTheLastDirectoryByte) {
  struct Case {
    const char* pattern;
    const char* directory;
  };
  const std::vector<Case> posix = {
      {"logs/*.log", "logs/"},
      {"*.log", ""},
      {"a\\b*.log", ""},  // a backslash is an ordinary byte of a name here
      {"C:*.log", ""},
      {"/var/log/*.log", "/var/log/"},
      {"../data/*.txt", "../data/"},
      {"logs/", "logs/"},
      {"", ""},
  };
  const std::vector<Case> windows = {
      {"C:*.log", "C:"},
      {"..\\data\\*.txt", "..\\data\\"},
      {"logs/*.log", "logs/"},
      {"*.log", ""},
      {"C:\\logs\\*.log", "C:\\logs\\"},
      {"a\\b/c*.x", "a\\b/"},
      {"a/b\\c*.x", "a/b\\"},
      {"\\\\server\\share\\*.log", "\\\\server\\share\\"},
      {"", ""},
  };
  for (const Case& c : Posix ? posix : windows) {
    SCOPED_TRACE(c.pattern);
    EXPECT_EQ(DirectoryPart(c.pattern), c.directory);
  }
}

}  // namespace
