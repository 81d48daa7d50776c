// Buffered console text: when bytes reach the system, field widths, and what a
// failed or refused write leaves behind.
#include "runtime/console.h"

#include <cstring>
#include <functional>
#include <vector>

#include "runtime/io_status.h"
#include "test_support.h"

namespace {

// A text file opened for output as start-up opens standard output, whose bytes
// go to a temporary file instead; closing it closes that file.
class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    IoStatus() = 0;
    BindText(file, "");
    OpenTextOutput(file);
    ASSERT_EQ(IoStatus(), 0);
    ASSERT_EQ(os::Native().CreateFile(os::CurrentFolder, dir.Path("out"), os::AccessWrite, os::ShareRead | os::ShareWrite, file.handle), 0u);
  }
  void TearDown() override {
    if (file.state == FileState::OpenForTextOutput) CloseText(file);
    IoStatus() = 0;
  }
  // Everything the file received; closes it first.
  std::string Written() {
    CloseText(file);
    return dir.Read("out");
  }
  std::string Pending() const { return std::string(file.buffer.data(), file.position); }

  TempDir dir;
  TextFile file;
};

struct LineCase {
  const char* what;
  std::vector<std::size_t> pieces;  // the line's pieces, of these many bytes
  std::vector<uint32_t> transfers;  // the sizes handed to the system
};

TEST_F(ConsoleTest, EachLineIsHandedOverAtItsEndIn128ByteTransfers) {
  const std::size_t end = LineEnd.size();
  const LineCase cases[] = {
      // 18 bytes of text and a 200-byte path (on Windows) make 220 with the line end.
      {"a line of 220 bytes", {18, 202 - end}, {128, 92}},
      {"a line of exactly 128 bytes", {128 - end}, {128, 0}},
      {"a line end just past the buffer", {127}, {128, uint32_t(end - 1)}},
      {"a line of 300 bytes in one piece", {300 - end}, {128, 128, 44}},
      {"an empty line", {}, {uint32_t(end)}},
      {"a short line", {3, 4}, {uint32_t(7 + end)}},
  };
  std::string expected;
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.what);
    CountingPlatform counting;
    std::string line;
    for (std::size_t n : c.pieces) {
      std::string piece(n, char('a' + line.size() % 26));
      WriteText(file, piece);
      line += piece;
    }
    EndLine(file);
    EXPECT_EQ(counting.writeSizes, c.transfers);
    EXPECT_EQ(file.position, 0u);
    EXPECT_EQ(IoStatus(), 0);
    expected += line + LineEnd;
  }
  EXPECT_EQ(Written(), expected);
}

TEST_F(ConsoleTest, ClosingHandsOverWhatIsPendingAndClosesTheFileEvenIfTheCloseFails) {
  for (os::Status fault : {os::Status(0), os::Status(os::ErrorInvalidHandle)}) {
    SCOPED_TRACE(fault);
    CountingPlatform counting;
    counting.closeFault = {0, fault};
    WriteText(file, "no line end");
    EXPECT_EQ(counting.writes, 0);
    CloseText(file);
    EXPECT_EQ(counting.writeSizes, std::vector<uint32_t>{11});
    EXPECT_EQ(counting.closes, 1);
    EXPECT_EQ(file.state, FileState::Closed);
    EXPECT_EQ(TakeIoStatus(), int32_t(fault));
    EXPECT_EQ(dir.Read("out"), "no line end");
    SetUp();
  }
}

TEST_F(ConsoleTest, ReopeningAnOpenFileClosesItFirst) {
  CountingPlatform counting;
  WriteText(file, "abc");
  OpenTextOutput(file);
  EXPECT_EQ(IoStatus(), 0);
  EXPECT_EQ(counting.writeSizes, std::vector<uint32_t>{3});
  EXPECT_EQ(counting.closes, 1);
  EXPECT_EQ(file.state, FileState::OpenForTextOutput);
  EXPECT_EQ(file.position, 0u);
  EXPECT_EQ(dir.Read("out"), "abc");
  // The reopened file is bound to standard output again; keep it off the test's own.
  ASSERT_EQ(os::Native().CreateFile(os::CurrentFolder, dir.Path("again"), os::AccessWrite, os::ShareRead | os::ShareWrite, file.handle),
            0u);
}

// A failed transfer keeps the system's status, and while a status is pending
// every write is dropped: what reaches the system, the status, what is left.
TEST_F(ConsoleTest, AFailedTransferOrAPendingStatusDropsWhatComesLater) {
  const struct {
    const char* what;
    os::Status fault;  // of the first transfer
    std::function<void()> write;
    std::vector<uint32_t> transfers;
    int32_t status;
    std::string pending;
  } cases[] = {
      {"a piece that fills the buffer, then more", os::ErrorNoData, [&] {
         WriteText(file, std::string(200, 'a'));  // only the rest of this piece is kept
         WriteText(file, std::string(100, 'b'));
         WriteInteger(file, 7);
         WriteChar(file, 'c');
         EndLine(file);
         WriteText(file, "next line");
         EndLine(file);
       }, {128}, int32_t(os::ErrorNoData), std::string(72, 'a')},
      {"later transfers of the failing piece", os::ErrorNoData, [&] { WriteText(file, std::string(300, 'a')); },
       {128, 128}, int32_t(os::ErrorNoData), std::string(44, 'a')},
      {"at the line end: given up, not kept for a retry", os::ErrorInvalidHandle, [&] {
         WriteText(file, "short");
         EndLine(file);
       }, {uint32_t(5 + LineEnd.size())}, int32_t(os::ErrorInvalidHandle), ""},
      {"a status left pending", 0, [&] {
         IoStatus() = 7;
         WriteText(file, "text", 10);
         WriteInteger(file, 5);
         WriteChar(file, 'x', 3);
         EndLine(file);
       }, {}, 7, ""},
      {"padding wider than the buffer, no failure", 0, [&] { WriteText(file, "end", 300); }, {128, 128}, 0,
       std::string(41, ' ') + "end"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CountingPlatform counting;
    counting.writeFault = {0, c.fault};
    c.write();
    EXPECT_EQ(counting.writeSizes, c.transfers);
    EXPECT_EQ(IoStatus(), c.status);
    EXPECT_EQ(Pending(), c.pending);
    IoStatus() = 0;
    file.position = 0;
  }
}

struct WidthCase {
  const char* what;
  std::function<void(TextFile&)> write;
  std::string expected;
};

TEST_F(ConsoleTest, FieldWidthsPadOnTheLeftAndNeverCut) {
  const WidthCase cases[] = {
      {"text with width 0", [](TextFile& f) { WriteText(f, "ab", 0); }, "ab"},
      {"text narrower than its width", [](TextFile& f) { WriteText(f, "ab", 5); }, "   ab"},
      {"text wider than its width", [](TextFile& f) { WriteText(f, "abc", 2); }, "abc"},
      {"text as wide as its width", [](TextFile& f) { WriteText(f, "abc", 3); }, "abc"},
      {"negative width", [](TextFile& f) { WriteText(f, "abc", -5); }, "abc"},
      {"empty text with a width", [](TextFile& f) { WriteText(f, "", 3); }, "   "},
      {"zero", [](TextFile& f) { WriteInteger(f, 0); }, "0"},
      {"a negative number", [](TextFile& f) { WriteInteger(f, -5); }, "-5"},
      {"the lowest 32-bit number", [](TextFile& f) { WriteInteger(f, INT32_MIN); }, "-2147483648"},
      {"the highest 32-bit number", [](TextFile& f) { WriteInteger(f, INT32_MAX); }, "2147483647"},
      {"a size of 5 GiB", [](TextFile& f) { WriteInteger(f, int64_t(5) << 30); }, "5368709120"},
      {"the lowest 64-bit number", [](TextFile& f) { WriteInteger(f, INT64_MIN); }, "-9223372036854775808"},
      {"the highest 64-bit number", [](TextFile& f) { WriteInteger(f, INT64_MAX); }, "9223372036854775807"},
      {"a number with width", [](TextFile& f) { WriteInteger(f, 1234, 6); }, "  1234"},
      {"a negative number with width", [](TextFile& f) { WriteInteger(f, -5, 4); }, "  -5"},
      {"a byte with width 0", [](TextFile& f) { WriteChar(f, 'x', 0); }, "x"},
      {"a byte with width 1", [](TextFile& f) { WriteChar(f, 'x', 1); }, "x"},
      {"a byte with width 3", [](TextFile& f) { WriteChar(f, 'x', 3); }, "  x"},
      {"a byte with negative width", [](TextFile& f) { WriteChar(f, 'x', -3); }, "x"},
      {"a zero byte", [](TextFile& f) { WriteChar(f, '\0'); }, std::string(1, '\0')},
  };
  for (const WidthCase& c : cases) {
    SCOPED_TRACE(c.what);
    file.position = 0;
    c.write(file);
    EXPECT_EQ(Pending(), c.expected);
    EXPECT_EQ(IoStatus(), 0);
  }
  file.position = 0;
}

TEST_F(ConsoleTest, ControlCharactersReachATerminalAsQuestionMarksAndAnythingElseAsTheyAre) {
  const std::string name = "a\x1b]0;x\x07\xc2\x9b\xc3\xa9\x7f.log";
  const std::string onTerminal = std::string("a?]0;x?") + (Rules.consoleTextIsUtf8 ? "??" : "\xc2\x9b") + "\xc3\xa9?.log";
  for (bool terminal : {true, false}) {
    SCOPED_TRACE(terminal);
    file.terminal = terminal;
    WriteText(file, name);
    EndLine(file);
    // Console text leaves in the OEM code page on Windows, as every line does.
    std::string expected = (terminal ? onTerminal : name) + LineEnd;
    os::Native().AnsiToOem(expected.data(), expected.size());
    EXPECT_EQ(Written(), expected);
    SetUp();
  }
}

// A character that the console's code page lacks shows as '?', never as a
// near one: best fit would make BEL of U+2022 and a look-alike of À, after
// the guard had passed them.
TEST_F(ConsoleTest, CharactersTheConsoleLacksShowAsQuestionMarksNeverAsLookAlikesOrControls) {
  std::string probe = "\xE9";  // é in 1252, 0x82 in 437
  os::Native().AnsiToOem(probe.data(), probe.size());
  if (probe != "\x82") GTEST_SKIP() << "needs the ANSI code page 1252 and the OEM code page 437 (Wine's default)";
  file.terminal = true;
  WriteText(file, "report\x95" "final \xA4\xA7\xB6 \xC0\xE9.log");
  EndLine(file);
  EXPECT_EQ(Written(), "report?final ??? ?\x82.log" + LineEnd);
}

}  // namespace
