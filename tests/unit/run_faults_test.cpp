// Whole runs with /D over real files, with one system call made to fail: each
// failure is named on a line of its own or ends the run with exit code 1, and
// no original is lost.
#include <filesystem>
#include <map>
#include <regex>

#include "archiver/run.h"
#include "runtime/failure.h"
#include "runtime/startup.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

class FaultyRun : public ScriptedArguments {
 public:
  os::Handle StdHandle(os::StdStream which) override { return which == os::StdStream::Output ? console : input; }
  os::Status LookUp(os::Handle d, const std::string& n, os::FindData& f) override {
    if (lookUpFault != 0 && n.ends_with("b.log")) return lookUpFault;
    return ScriptedArguments::LookUp(d, n, f);
  }
  os::Status StartSearch(os::Handle d, const std::string& p, os::Handle& s, os::FindData& f) override {
    if (startFault != 0) return startFault;
    return ScriptedArguments::StartSearch(d, p, s, f);
  }
  os::Status ContinueSearch(os::Handle s, os::FindData& f) override {
    if (continueFault.Hit()) return continueFault.status;
    return ScriptedArguments::ContinueSearch(s, f);
  }
  os::Status WriteFile(os::Handle h, const void* b, uint32_t c, uint32_t& done) override {
    if (h == console && halfConsoleWrites && c > 1) c /= 2;
    return ScriptedArguments::WriteFile(h, b, c, done);
  }

  os::Handle input = os::InvalidHandle, console = os::InvalidHandle;
  os::Status lookUpFault = 0, startFault = 0;
  Fault continueFault;
  bool halfConsoleWrites = false;
};

struct Case {
  const char* what;
  void (*arm)(FaultyRun&);
  int32_t code;
  std::string lineStart;  // a line the run must write, followed by a source path
  int originalsLeft;
};

TEST(RunFaultsTest, EachFailureIsNamedOrEndsTheRunAndNoOriginalIsLost) {
  const Case cases[] = {
      {"deletion refused", [](FaultyRun& p) { p.deleteFault = {0, os::ErrorAccessDenied}; }, 0,
       "Can't Delete file : ", 1},
      {"look-up fails with an I/O error", [](FaultyRun& p) { p.lookUpFault = os::ErrorIoDevice; }, 0, "", 0},
      {"listing breaks off", [](FaultyRun& p) { p.continueFault = {0, os::ErrorIoDevice}; }, 1, "I/O error 1117.", 2},
      // A folder that may be entered but not read must not pass for an empty one.
      {"listing cannot start", [](FaultyRun& p) { p.startFault = os::ErrorAccessDenied; }, 1, "File access denied.", 3},
      {"console takes half of each write", [](FaultyRun& p) { p.halfConsoleWrites = true; }, 0, "", 0},
  };
  const std::map<std::string, std::string> files = {{"a.log", "alpha"}, {"b.log", "bravo!"}, {"c.log", "charlie"}};
  const std::regex wholeLine(
      "Archive folder : .*|Original files will be deleted after archiving|File [123] .*\\.log \\([567] bytes\\)|"
      "Can't Delete file : .*|Exception EInOutError in module .*|File: .*\\.cpp Line#: \\d+|I/O error 1117\\.|"
      "File access denied\\.|");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    for (const auto& [name, bytes] : files) dir.Write(name, bytes);
    std::string pattern = dir.Path("*.log");
    FaultyRun run;
    c.arm(run);
    run.today = {2026, 12, 7};
    run.arguments = {pattern, "/D"};
    // Windows reads the console mark from the test program's own header.
    if (os::Native().ModuleFileName(run.path) != 0) run.path = "stowit";
    ASSERT_EQ(os::Native().CreateFile(os::CurrentFolder, dir.Path("input"), os::AccessRead, 0, run.input), 0u);
    ASSERT_EQ(os::Native().CreateFile(os::CurrentFolder, dir.Path("console"), os::AccessWrite, 0, run.console), 0u);
    int32_t code = -1;
    try {
      char* argv[] = {nullptr};
      RunProgram(0, argv, RunArchiver);
    } catch (const CountingPlatform::Ended& ended) {
      code = ended.code;
    }
    std::string out = dir.Read("console");
    EXPECT_EQ(code, c.code) << out;
    if (!c.lineStart.empty()) {
      EXPECT_NE(out.find(c.lineStart), std::string::npos) << out;
    }
    // Every line is whole: none cut, none run into the next.
    std::size_t start = 0;
    for (std::size_t end; (end = out.find(Rules.lineEnd, start)) != std::string::npos; start = end + strlen(Rules.lineEnd)) {
      EXPECT_TRUE(std::regex_match(out.substr(start, end - start), wholeLine)) << out.substr(start, end - start);
    }
    int left = 0;
    for (const auto& [name, bytes] : files) {
      if (fs::exists(dir.Path(name))) {
        ++left;
        EXPECT_EQ(dir.Read(name), bytes);
      } else {
        EXPECT_EQ(dir.Read(std::string("Archive") + Rules.pathDelimiter + "2026120701" + Rules.pathDelimiter + name), bytes);
      }
    }
    EXPECT_EQ(left, c.originalsLeft);
  }
}

}  // namespace
