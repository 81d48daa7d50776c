// How far a copy has come, shown under its report line on a terminal only, and
// erased before the next line.
#include "runtime/progress.h"

#include <vector>

#include "runtime/console.h"
#include "runtime/io_status.h"
#include "test_support.h"

namespace {

TEST(ProgressTest, PercentIsWholeRightAlignedAndNeverPast100) {
  struct Case {
    uint64_t copied, size;
    const char* text;
  };
  const uint64_t GiB = uint64_t(1) << 30;
  const Case cases[] = {
      {0, 1000, "  0%"},          {70, 1000, "  7%"},
      {429, 1000, " 42%"},        {999, 1000, " 99%"},  // 100 only when complete
      {1000, 1000, "100%"},       {1500, 1000, "100%"},  // a file that grew meanwhile
      {3 * GiB, 5 * GiB, " 60%"}, {UINT64_MAX - 1, UINT64_MAX, " 99%"},  // no overflow
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.copied) + " of " + std::to_string(c.size));
    EXPECT_EQ(PercentText(PercentOf(c.copied, c.size)), c.text);
  }
}

// Standard output on a terminal or not, a clock the test sets, and every byte
// written kept here.
class FakeConsole : public CountingPlatform {
 public:
  os::DeviceClass HandleDeviceClass(os::Handle) override { return device; }
  bool IsTerminal(os::Handle) override { return terminal; }
  uint64_t MonotonicMilliseconds() override {
    ++clockReads;
    return now;
  }
  os::Status WriteFile(os::Handle, const void* b, uint32_t c, uint32_t& done) override {
    done = c;
    if (failWrites) return os::ErrorNoData;
    screen.append(static_cast<const char*>(b), c);
    return 0;
  }
  os::Status CloseFile(os::Handle) override { return 0; }  // the test's own standard output stays
  os::DeviceClass device = os::DeviceClass::Character;
  bool terminal = true;
  uint64_t now = 0;
  int clockReads = 0;
  bool failWrites = false;
  std::string screen;
};

class ProgressOnConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved = StandardOutput;
    IoStatus() = 0;
  }
  void TearDown() override {
    StandardOutput = saved;
    IoStatus() = 0;
  }
  void Open() {
    BindText(StandardOutput, "");
    OpenTextOutput(StandardOutput);
  }
  void Line(const std::string& text) {
    WriteText(StandardOutput, text);
    EndLine(StandardOutput);
  }
  // Blocks of 100 bytes of a 1000-byte file, the clock at each.
  void Copy(std::vector<uint64_t> times) {
    for (uint64_t t : times) {
      fake.now = t;
      ReportCopied(100);
    }
  }

  FakeConsole fake;
  TextFile saved;
  const std::string End = Rules.lineEnd;
  const std::string Erase = "\r    \r";
};

TEST_F(ProgressOnConsoleTest, ShownAfterASecondAtMostFourTimesASecondAndErasedBeforeTheNextLine) {
  Open();
  Line("File 1 big.log (1000 bytes)");
  {
    fake.now = 5000;
    CopyProgress progress(1000);
    Copy({5500, 5999, 6000, 6100, 6249, 6250, 6600});
    EXPECT_EQ(fake.clockReads, 8);  // the start, then one look per block
    Line("Can't Open file : other.log");
  }
  EXPECT_EQ(fake.screen, "File 1 big.log (1000 bytes)" + End + "\r 30%" + "\r 60%" + "\r 70%" + Erase +
                             "Can't Open file : other.log" + End);
  EXPECT_EQ(StandardOutput.statusBytes, 0u);
}

TEST_F(ProgressOnConsoleTest, EndOfTheCopyOrOfTheProcessErasesItAndFailedWritesAreIgnored) {
  Open();
  {
    CopyProgress progress(1000);
    Copy({1500});
  }
  {
    CopyProgress progress(1000);
    Copy({2600});
    CloseText(StandardOutput);  // the end of the process
  }
  EXPECT_EQ(fake.screen, "\r 10%" + Erase + "\r 10%" + Erase);
  Open();
  fake.failWrites = true;
  {
    CopyProgress progress(1000);
    Copy({4000, 5000});
  }
  EXPECT_EQ(IoStatus(), 0);
}

TEST_F(ProgressOnConsoleTest, NoTerminalNoClockAndNotAByteMore) {
  // The null device is a character device, but no terminal.
  for (os::DeviceClass device : {os::DeviceClass::Disk, os::DeviceClass::Pipe, os::DeviceClass::Character}) {
    SCOPED_TRACE(int(device));
    fake.device = device;
    fake.terminal = false;
    fake.screen.clear();
    fake.clockReads = 0;
    Open();
    Line("File 1 big.log (1000 bytes)");
    {
      CopyProgress progress(1000);
      Copy({1000, 2000, 3000});
    }
    CloseText(StandardOutput);
    EXPECT_EQ(fake.clockReads, 0);
    EXPECT_EQ(fake.screen, "File 1 big.log (1000 bytes)" + End);
  }
}

}  // namespace
