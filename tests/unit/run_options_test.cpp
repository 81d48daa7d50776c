// What the run makes of its arguments: the usage request, the options, the
// source directory and the first usage line.
#include "archiver/run.h"

#include <vector>

#include "runtime/console.h"
#include "runtime/failure.h"
#include "runtime/io_status.h"
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

// The run over scripted arguments, with every file-system call answered here
// so that nothing is made on disk: folders cannot be made and nothing matches.
class ScriptedRun : public ScriptedArguments {
 public:
  // `argv`: the program's name, then its arguments.
  explicit ScriptedRun(std::vector<std::string> argv) {
    arguments.assign(argv.begin() + 1, argv.end());
    path = ProgramPath;
    today = {2026, 12, 7};
  }
  // Every folder is there to hold (a handle of no use), none can be made.
  os::Status OpenFolder(os::Handle, const std::string&, os::Handle& out) override {
    out = 1000;
    return 0;
  }
  os::Status CreateFolder(os::Handle, const std::string& name, os::Handle&) override {
    made.push_back(name);
    return os::ErrorAccessDenied;
  }
  os::Status LookUp(os::Handle, const std::string&, os::FindData&) override { return os::ErrorFileNotFound; }
  os::Status StartSearch(os::Handle, const std::string& pattern, os::Handle&, os::FindData&) override {
    searched.push_back(pattern);
    return os::ErrorFileNotFound;
  }
  os::Status FlushFolder(os::Handle) override { return 0; }
  static constexpr const char* ProgramPath = "/opt/stowbox/stowit";

  std::vector<std::string> made, searched;
};

class RunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedOutput = StandardOutput;
    savedHandler = ExitHandler;
    IoStatus() = 0;
  }
  void TearDown() override {
    StandardOutput = savedOutput;
    ExitHandler = savedHandler;
    IoStatus() = 0;
  }

  struct Outcome {
    int32_t code = -1;
    std::string out;
    std::vector<std::string> made, searched;
  };

  Outcome Run(std::vector<std::string> arguments) {
    Outcome outcome;
    BindText(StandardOutput, "");
    OpenTextOutput(StandardOutput);
    EXPECT_EQ(os::Native().CreateFile(os::CurrentFolder, dir.Path("out"), os::AccessWrite, os::ShareRead | os::ShareWrite,
                                      StandardOutput.handle),
              0u);
    ExitHandler = [] { CloseText(StandardOutput); };
    {
      ScriptedRun run(std::move(arguments));
      try {
        RunArchiver();
      } catch (const CountingPlatform::Ended& ended) {
        outcome.code = ended.code;
      }
      outcome.made = run.made;
      outcome.searched = run.searched;
    }
    if (StandardOutput.state == FileState::OpenForTextOutput) CloseText(StandardOutput);
    outcome.out = dir.Read("out");
    return outcome;
  }

  TempDir dir;
  TextFile savedOutput;
  ExitProcedure savedHandler = nullptr;
};

const std::string EndOfLine = Rules.lineEnd;
std::string Folder(const std::string& root) { return root + Rules.pathDelimiter + "2026120701"; }

TEST_F(RunTest, DeleteSwitchFirstIsThePatternNotTheOption) {
  Outcome r = Run({"prog", "/D", "backup"});
  EXPECT_EQ(r.code, 5);
  EXPECT_EQ(r.searched, std::vector<std::string>{"/D"});
  const std::string root = DirectoryPart("/D") + "backup";
  EXPECT_EQ(r.out, "Archive folder : " + Folder(root) + EndOfLine);
}

TEST_F(RunTest, DeleteSwitchAfterThePatternAnnouncesTheDeletion) {
  Outcome r = Run({"prog", "*.log", "/D", "backup"});
  EXPECT_EQ(r.code, 5);
  EXPECT_EQ(r.made, (std::vector<std::string>{"backup", "2026120701"}));
  EXPECT_EQ(r.searched, std::vector<std::string>{"*.log"});
  EXPECT_EQ(r.out, "Archive folder : " + Folder("backup") + EndOfLine +
                       "Original files will be deleted after archiving" + EndOfLine);
}

TEST_F(RunTest, SlashQuestionMarkFirstShowsOnlyTheUsage) {
  const std::string first = UsageLine1(ScriptedRun::ProgramPath) + EndOfLine;
  Outcome r = Run({"prog", "/?", "backup", "/d"});
  EXPECT_EQ(r.code, 5);
  EXPECT_EQ(r.out.substr(0, first.size()), first);
  EXPECT_TRUE(r.made.empty());
  EXPECT_TRUE(r.searched.empty());
  Outcome none = Run({"prog"});
  EXPECT_EQ(none.code, 5);
  EXPECT_EQ(none.out.substr(0, first.size()), first);
}

TEST_F(RunTest, SlashQuestionMarkWithMoreIsAPattern) {
  Outcome r = Run({"prog", "/?x"});
  EXPECT_EQ(r.code, 5);
  EXPECT_EQ(r.searched, std::vector<std::string>{"/?x"});
  EXPECT_EQ(r.out, "Archive folder : " + Folder(DirectoryPart("/?x") + "Archive") + EndOfLine);
}

}  // namespace
