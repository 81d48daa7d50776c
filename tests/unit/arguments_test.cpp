// Splitting command lines into arguments, the arguments the platform hands over,
// and the console mark in an executable's header.
#include "runtime/arguments.h"

#include <cstring>
#include <vector>

#include "platform/command_line.h"
#include "platform/image_header.h"
#include "runtime/io_status.h"
#include "test_support.h"

namespace {

using os::ArgumentOf;
using os::CountArguments;
using os::IsConsoleImage;
using os::NextArgumentToken;

using namespace std::string_literals;

struct SplitCase {
  const char* what;
  std::string line;
  std::vector<std::string> words;  // the program name first, as the walk sees it
};

const SplitCase SplitCases[] = {
    {"spaces separate", "prog a  b", {"prog", "a", "b"}},
    {"tabs separate", "prog\ta\t\tb", {"prog", "a", "b"}},
    {"bytes 1 to 32 separate, 127 does not", "prog\x01" "a\x1f" "b\x7f" "c"s, {"prog", "a", "b\x7f" "c"}},
    {"bytes from 128 up are ordinary", "prog \xe9t\xe9 \xff", {"prog", "\xe9t\xe9", "\xff"}},
    {"leading and trailing separators", " \t prog a \t ", {"prog", "a"}},
    {"a quoted stretch keeps its space", "prog \"a b\" c", {"prog", "a b", "c"}},
    {"a quoted stretch keeps tabs and control bytes", "prog \"a\tb\x01" "c\"", {"prog", "a\tb\x01" "c"}},
    {"a quoted program name is one word", "\"C:\\Program Files\\prog.exe\" a", {"C:\\Program Files\\prog.exe", "a"}},
    {"quoted pieces join the pieces around them", "prog a\"b c\"d", {"prog", "ab cd"}},
    {"an unclosed quote runs to the end", "prog \"a b", {"prog", "a b"}},
    {"a backslash does not escape a quote", "prog a\\\"b c\"", {"prog", "a\\b c"}},
    {"a backslash is an ordinary byte", "prog a\\b c\\", {"prog", "a\\b", "c\\"}},
    {"an empty pair alone adds no argument", "prog \"\"", {"prog"}},
    {"an empty pair before an argument is passed over", "prog \"\" x", {"prog", "x"}},
    {"empty pairs and separators mix", "prog \"\" \t\"\"\"\" x", {"prog", "x"}},
    {"an empty pair between arguments", "prog x \"\" y", {"prog", "x", "y"}},
    {"an empty pair inside an argument adds nothing", "prog a\"\"b", {"prog", "ab"}},
    {"a quote pair just after an empty pair", "prog \"\"\"x\"", {"prog", "x"}},
    {"a zero byte ends the line", "prog a\0b"s, {"prog", "a"}},
    {"a quoted stretch stops at a zero byte", "prog \"a\0b\" c"s, {"prog", "a"}},
    {"no argument at all", "", {}},
    {"only separators", " \t\r\n", {}},
    {"only an empty pair", "\"\"", {}},
};

TEST(ArgumentsTest, CommandLinesSplitIntoTheirArguments) {
  for (const SplitCase& c : SplitCases) {
    SCOPED_TRACE(c.what);
    const int32_t count = int32_t(c.words.size()) - 1;
    EXPECT_EQ(CountArguments(c.line), count);
    for (int32_t i = 0; i <= count; ++i) EXPECT_EQ(ArgumentOf(c.line, i), c.words[std::size_t(i)]) << "index " << i;
    EXPECT_EQ(ArgumentOf(c.line, count + 1), "");
    EXPECT_EQ(ArgumentOf(c.line, count + 2), "");
    EXPECT_EQ(ArgumentOf(c.line, -1), "");
    EXPECT_EQ(ArgumentOf(c.line, INT32_MIN), "");
  }
}

TEST(ArgumentsTest, EachTokenStopsWhereTheNextSearchGoesOn) {
  const std::string line = "prog  a\"b c\"d\t\"\" e";
  std::size_t position = 0;
  EXPECT_EQ(NextArgumentToken(line, position), "prog");
  EXPECT_EQ(position, 4u);
  EXPECT_EQ(NextArgumentToken(line, position), "ab cd");
  EXPECT_EQ(position, 13u);  // at the tab
  EXPECT_EQ(NextArgumentToken(line, position), "e");
  EXPECT_EQ(position, line.size());
  EXPECT_EQ(NextArgumentToken(line, position), "");
  EXPECT_EQ(position, line.size());
}

TEST(ArgumentsTest, SplittingNeitherCutsLongArgumentsNorTouchesTheStatus) {
  // The run refuses an argument over 255 bytes; it can only if it sees it whole.
  const std::string longOne(300, 'x');
  IoStatus() = 0;
  EXPECT_EQ(ArgumentOf("prog " + longOne + " y", 1), longOne);
  EXPECT_EQ(CountArguments("prog " + longOne + " y"), 2);
  EXPECT_EQ(IoStatus(), 0);
}

TEST(ArgumentsTest, ArgumentsKeepTheirPlacesAndArgumentZeroIsTheProgramPathCutTo255Bytes) {
  ScriptedArguments scripted;
  EXPECT_EQ(ArgumentCount(), 0);
  EXPECT_EQ(ArgumentAt(1), "");
  // Linux passes an empty argument that the user typed (on Windows the
  // quotes add none, as the splitting table shows): it must keep its place.
  scripted.arguments = {"a", "", "b"};
  EXPECT_EQ(ArgumentCount(), 3);
  for (const auto& [i, argument] : std::vector<std::pair<int32_t, std::string>>{{-1, ""}, {1, "a"}, {2, ""}, {3, "b"}, {4, ""}})
    EXPECT_EQ(ArgumentAt(i), argument) << i;
  scripted.path = std::string(255, 'p');
  EXPECT_EQ(ArgumentAt(0), scripted.path);
  scripted.path += "qrs";
  EXPECT_EQ(ArgumentAt(0), std::string(255, 'p'));
  scripted.pathStatus = os::ErrorFilenameExcedRange;
  EXPECT_EQ(ArgumentAt(0), "");
}

TEST(ArgumentsTest, ArgumentZeroIsTheWholePathNotTheNameAsTyped) {
  static char name[] = "arguments_test";
  static char* argv[] = {name, nullptr};
  os::Native().Start(1, argv);  // the POSIX layer learns the program's path here
  std::string path;
  ASSERT_EQ(os::Sys().ModuleFileName(path), 0u);
  EXPECT_EQ(ArgumentAt(0), path.substr(0, MaxArgumentBytes));
  EXPECT_NE(path.find(Rules.pathDelimiter), std::string::npos) << path;
}

// The first bytes of an executable: the stub with its header offset, then the
// signature, the file header and the optional header up to the subsystem.
std::string ImageHeader(uint16_t subsystem, uint32_t headerOffset = 128) {
  std::string image(headerOffset + 248, '\0');
  image[0] = 'M';
  image[1] = 'Z';
  std::memcpy(&image[60], &headerOffset, 4);
  std::memcpy(&image[headerOffset], "PE\0\0", 4);
  image[headerOffset + 92] = char(subsystem & 0xFF);
  image[headerOffset + 93] = char(subsystem >> 8);
  return image;
}

class ProgramKindTest : public ::testing::Test {
 protected:
  void SetUp() override { IoStatus() = 0; }
  void TearDown() override { IoStatus() = 0; }
  // Whether the bytes, written to a file, are taken for a console program; the
  // file must be closed again whenever it was opened.
  bool IsConsole(const std::string& bytes) {
    dir.Write("image.exe", bytes);
    CountingPlatform counting;
    bool console = IsConsoleImage(dir.Path("image.exe"));
    EXPECT_EQ(counting.opens, 1);
    EXPECT_EQ(counting.closes, 1);
    EXPECT_EQ(IoStatus(), 0);
    return console;
  }
  TempDir dir;
};

TEST_F(ProgramKindTest, OnlyAWholeHeaderOfTheConsoleSubsystemCounts) {
  const std::string console = ImageHeader(3);
  auto changed = [&](std::size_t at, const std::string& bytes) { return std::string(console).replace(at, bytes.size(), bytes); };
  const uint32_t far = 1u << 20;
  const struct {
    const char* what;
    std::string bytes;
    bool console;
  } cases[] = {
      {"the console subsystem", console, true},
      {"a header further on, bytes after it", ImageHeader(3, 64) + "trailing bytes", true},
      {"the windowed subsystem", ImageHeader(2), false},
      {"a subsystem past a byte", ImageHeader(0x103), false},
      {"optional header one byte short", console.substr(0, console.size() - 1), false},
      {"shorter than the stub", console.substr(0, 63), false},
      {"empty", "", false},
      {"PE followed by other bytes", changed(130, "X"), false},
      {"no PE", changed(128, "N"), false},
      {"no stub", changed(0, "Z"), false},
      {"a header offset past the end", changed(60, std::string(reinterpret_cast<const char*>(&far), 4)), false},
      {"an ELF program", "\x7f" "ELF" + std::string(400, '\0'), false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsConsole(c.bytes), c.console) << c.what;
}

TEST_F(ProgramKindTest, FilesThatCannotBeReadAreNoConsolePrograms) {
  CountingPlatform counting;
  EXPECT_FALSE(IsConsoleImage(dir.Path("missing.exe")));
  EXPECT_FALSE(IsConsoleImage(dir.Path("missing") + Rules.pathDelimiter + "image.exe"));
  EXPECT_EQ(counting.closes, 0);
  EXPECT_FALSE(IsConsoleImage(dir.Path()));  // a directory

  dir.Write("image.exe", ImageHeader(3));
  counting.readFault = {1, os::ErrorIoDevice};  // the read at the header offset
  EXPECT_EQ(os::ReadImageMark(dir.Path("image.exe")), os::ImageMark::Unreadable);
  counting.positionFault = {0, os::ErrorInvalidParameter};
  EXPECT_EQ(os::ReadImageMark(dir.Path("image.exe")), os::ImageMark::Unreadable);
  EXPECT_EQ(os::ReadImageMark(dir.Path("missing.exe")), os::ImageMark::Unreadable);
  dir.Write("image.exe", ImageHeader(2));
  EXPECT_EQ(os::ReadImageMark(dir.Path("image.exe")), os::ImageMark::Other);
  EXPECT_EQ(IoStatus(), 0);
}

TEST_F(ProgramKindTest, ThisProgramIsAConsoleProgram) {
  const bool saved = IsConsoleProgram;
  SetProgramKind();
  EXPECT_TRUE(IsConsoleProgram);
  {
    // Nor does a program file that cannot be read turn the report into a message box.
    CountingPlatform counting;
    counting.readFault = {0, os::ErrorAccessDenied};
    SetProgramKind();
    EXPECT_TRUE(IsConsoleProgram);
  }
  IsConsoleProgram = saved;
  if (!Posix) {  // Windows reads the mark from the program file
    std::string path;
    ASSERT_EQ(os::Sys().ModuleFileName(path), 0u);
    EXPECT_TRUE(IsConsoleImage(path)) << path;
  }
  EXPECT_EQ(IoStatus(), 0);
}

}  // namespace
