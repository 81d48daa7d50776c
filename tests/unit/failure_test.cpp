// Failure objects and their texts, the fault tables, the fixed-buffer
// formatting, the report's text, and what EndProcess does before the end.
#include "runtime/failure.h"
#include "runtime/format.h"

#include <cstdio>
#include <cstring>
#include <regex>
#include <vector>

#include "platform/exception_codes.h"
#include "runtime/arguments.h"
#include "runtime/console.h"
#include "runtime/io_status.h"
#include "test_support.h"

namespace {

TEST(FailureObjectTest, FailedIoTakesItsMessageFromTheStatusAndClearsIt) {
  std::vector<std::pair<int32_t, std::string>> cases = {
      {2, "File not found"},  {3, "Invalid filename"}, {4, "Too many open files"}, {5, "File access denied"},
      {100, "Read beyond end of file"}, {101, "Disk full"}, {106, "Invalid numeric input"}};
  for (int32_t other : {1, 32, 102, 112, -7, INT32_MAX, INT32_MIN})
    cases.emplace_back(other, "I/O error " + std::to_string(other));
  for (const auto& [status, message] : cases) {
    SCOPED_TRACE(status);
    IoStatus() = status;
    std::shared_ptr<Exception> object = MakeFailureObject(FailureKind::InOut);
    EXPECT_EQ(IoStatus(), 0);
    EXPECT_STREQ(object->ClassName(), "EInOutError");
    EXPECT_EQ(object->message, message);
    auto* io = dynamic_cast<EInOutError*>(object.get());
    ASSERT_NE(io, nullptr);
    EXPECT_EQ(io->status, status);
  }
}

// What holds of every kind the table lists, read from the table itself, and
// the few texts and numbers that the report's readers rely on.
TEST(FailureObjectTest, EveryKindMakesItsOwnClassWithoutTakingTheStatus) {
  const FailureKind kinds[] = {
#define STOWIT_FAILURE_KIND(Kind, number, Class, Base, text) FailureKind::Kind,
#include "runtime/failure_kinds.def"
      FailureKind::External};
  std::set<std::string> classes, messages;
  for (FailureKind kind : kinds) {
    SCOPED_TRACE(int(kind));
    IoStatus() = 9;  // only a failed check takes the status
    std::shared_ptr<Exception> object = MakeFailureObject(kind);
    EXPECT_EQ(IoStatus(), 9);
    EXPECT_EQ(dynamic_cast<EInOutError*>(object.get()), nullptr);
    EXPECT_EQ(object->ClassName()[0], 'E');
    EXPECT_FALSE(object->message.empty());
    EXPECT_TRUE(classes.insert(object->ClassName()).second) << "a class twice: " << object->ClassName();
    EXPECT_TRUE(messages.insert(object->message).second) << "a text twice: " << object->message;
  }
  IoStatus() = 0;
  struct Fixed {
    FailureKind kind;
    const char* className;
    const char* message;
    bool integer, math;
  } fixed[] = {
      {FailureKind::DivByZero, "EDivByZero", "Division by zero", true, false},
      {FailureKind::ZeroDivide, "EZeroDivide", "Floating point division by zero", false, true},
      {FailureKind::AccessViolation, "EAccessViolation", "Access violation at address %p. %s of address %p", false,
       false},
      {FailureKind::External, "EExternalException", "External exception %x", false, false},
  };
  for (const Fixed& c : fixed) {
    std::shared_ptr<Exception> object = MakeFailureObject(c.kind);
    EXPECT_STREQ(object->ClassName(), c.className);
    EXPECT_EQ(object->message, c.message);
    EXPECT_EQ(dynamic_cast<EIntError*>(object.get()) != nullptr, c.integer) << c.className;
    EXPECT_EQ(dynamic_cast<EMathError*>(object.get()) != nullptr, c.math) << c.className;
  }
  // Out of memory is one object, made in advance.
  EXPECT_EQ(MakeFailureObject(FailureKind::OutOfMemory).get(), MakeFailureObject(FailureKind::OutOfMemory).get());
}

TEST(FaultTableTest, SystemFaultsMapToTheirKindAndFallbackNumber) {
  // Every code the table lists is reported as a kind of its own with a
  // runtime error number; any other code is an external exception.
  struct Listed {
    uint32_t code;
    FailureKind kind;
  } listed[] = {
#define STOWIT_FAULT(code, Kind, fallback) {code, FailureKind::Kind},
#include "runtime/failure_kinds.def"
  };
  for (const Listed& c : listed) {
    SCOPED_TRACE(testing::Message() << std::hex << c.code);
    EXPECT_EQ(KindOfFault(c.code), c.kind);
    EXPECT_NE(c.kind, FailureKind::External);
    EXPECT_GE(FallbackNumber(c.code), 200);
    EXPECT_LE(FallbackNumber(c.code), 218);
  }
  for (uint32_t other : {0xC0000001u, 0xC000008Bu, 0xC0000097u, 0x0EEDFACEu, 0x80000003u, 0u}) {
    EXPECT_EQ(KindOfFault(other), FailureKind::External);
    EXPECT_EQ(FallbackNumber(other), FallbackOtherFault);
  }
  // The numbers that scripts read in a fallback line.
  EXPECT_EQ(KindOfFault(0xC0000094), FailureKind::DivByZero);
  EXPECT_EQ(FallbackNumber(0xC0000094), 200);
  EXPECT_EQ(FallbackNumber(0xC0000005), 216);
  EXPECT_EQ(FallbackNumber(0xC00000FD), 202);
  // Three floating-point codes share one kind, but not one number.
  EXPECT_EQ(KindOfFault(0xC000008F), KindOfFault(0xC0000090));
  EXPECT_NE(FallbackNumber(0xC000008F), FallbackNumber(0xC0000090));
}

TEST(FormatTest, PlaceholdersAreFilledInOrder) {
  char out[64];
  auto format = [&](const char* f, std::initializer_list<FormatArg> args) {
    std::size_t n = FormatInto(out, sizeof out, f, args);
    EXPECT_EQ(n, std::strlen(out)) << f;
    return std::string(out);
  };
  EXPECT_EQ(format("%s-%d", {"ab", -42}), "ab--42");
  EXPECT_EQ(format("I/O error %d", {INT32_MIN}), "I/O error -2147483648");
  EXPECT_EQ(format("%d", {0}), "0");
  EXPECT_EQ(format("%x", {FormatArg::HexOf(0xC0000005u)}), "C0000005");
  EXPECT_EQ(format("%x", {FormatArg::HexOf(0xabc)}), "ABC");
  EXPECT_EQ(format("%x", {FormatArg::HexOf(0)}), "0");
  EXPECT_EQ(format("at %p.", {FormatArg::AddressOf(0xABCD)}), "at 0000ABCD.");
  EXPECT_EQ(format("%p", {FormatArg::AddressOf(0)}), "00000000");
  EXPECT_EQ(format("%p", {FormatArg::AddressOf(0xFFFFFFFFu)}), "FFFFFFFF");
  EXPECT_EQ(format("%s|%s|", {"", static_cast<const char*>(nullptr)}), "||");
  EXPECT_EQ(format("100%%", {}), "100%");
  EXPECT_EQ(format("", {"unused"}), "");
  EXPECT_EQ(format("Access violation at address %p. %s of address %p",
                   {FormatArg::AddressOf(0x401000), "Write", FormatArg::AddressOf(0x10)}),
            "Access violation at address 00401000. Write of address 00000010");
}

TEST(FormatTest, TextIsCutAtTheBufferEndAndTheNeededLengthReturned) {
  const struct {
    std::size_t size;
    const char* format;
    std::initializer_list<FormatArg> args;
    std::size_t needed;
    const char* written;
  } cases[] = {
      {6, "abcdefgh", {}, 8, "abcde"},
      {5, "%p!", {FormatArg::AddressOf(0xABCD)}, 9, "0000"},
      {4, "%s and %d", {"long text", 12345}, 19, "lon"},
      {1, "abc", {}, 3, ""},
  };
  for (const auto& c : cases) {
    char out[12];
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(FormatInto(out, c.size, c.format, c.args), c.needed) << c.format;
    EXPECT_STREQ(out, c.written);
    EXPECT_EQ(out[c.size], '#') << c.format;
  }
  char untouched = '#';  // a buffer of no bytes takes none, not even the zero
  EXPECT_EQ(FormatInto(&untouched, 0, "abc", {}), 3u);
  EXPECT_EQ(untouched, '#');
}

TEST(FallbackLineTest, PiecesInParenthesesAppearOnlyWhenKnownAndTheLineStaysWithin255Bytes) {
  const std::string longName(300, 'f');
  const struct {
    int32_t number;
    uintptr_t address;
    SourceLocation location;
    uint32_t code;
    std::string line;
  } cases[] = {
      {5, 0x0040ABCD, {"file.cpp", 12}, 0xC0000005, "Runtime error 5 at 0040ABCD (file.cpp#12) (Exception C0000005) TID=1." + LineEnd},
      {203, 0x1000, {}, 0, "Runtime error 203 at 00001000 TID=1." + LineEnd},
      {-3, 0x1000, {"", 7}, 0, "Runtime error -3 at 00001000 TID=1." + LineEnd},
      {216, 0xDEAD, {}, 0xC00000FD, "Runtime error 216 at 0000DEAD (Exception C00000FD) TID=1." + LineEnd},
      {5, 0x0040ABCD, {longName.c_str(), 12}, 0xC0000005, "Runtime error 5 at 0040ABCD (" + longName.substr(0, 226)},
  };
  for (const auto& c : cases) {
    char line[256];
    std::size_t n = FallbackErrorLine(line, c.number, c.address, c.location, c.code);
    EXPECT_EQ(std::string(line, n), c.line);
    EXPECT_EQ(std::strlen(line), n);
  }
}

// Standard input and output of the process as start-up opens them, bound to
// temporary files; the exit handler and the standard files are put back after.
class EndProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedInput = StandardInput;
    savedOutput = StandardOutput;
    savedHandler = ExitHandler;
    IoStatus() = 0;
    dir.Write("in", "unread");
    BindText(StandardInput, "");
    OpenTextInput(StandardInput);
    ASSERT_EQ(os::Native().OpenFile(os::CurrentFolder, dir.Path("in"), os::AccessRead, os::ShareRead | os::ShareWrite,
                                    StandardInput.handle, nullptr),
              0u);
    BindText(StandardOutput, "");
    OpenTextOutput(StandardOutput);
    ASSERT_EQ(os::Native().CreateFile(os::CurrentFolder, dir.Path("out"), os::AccessWrite, os::ShareRead | os::ShareWrite,
                                      StandardOutput.handle),
              0u);
    ExitHandler = CloseStandardFiles;
  }
  void TearDown() override {
    for (TextFile* f : {&StandardInput, &StandardOutput})
      if (f->state != FileState::Closed) CloseText(*f);
    StandardInput = savedInput;
    StandardOutput = savedOutput;
    ExitHandler = savedHandler;
    IoStatus() = 0;
  }
  // The exit code EndProcess ends with.
  static int32_t End(int32_t code) {
    try {
      EndProcess(code);
    } catch (const CountingPlatform::Ended& ended) {
      return ended.code;
    }
  }

  TempDir dir;
  TextFile savedInput, savedOutput;
  ExitProcedure savedHandler = nullptr;
};

TEST_F(EndProcessTest, PendingOutputIsWrittenOnceAndTheStandardFilesClosed) {
  WriteText(StandardOutput, "done");
  EndLine(StandardOutput);
  WriteText(StandardOutput, "pending");
  CountingPlatform counting;
  IoStatus() = 5;  // a status left behind must not keep the pending bytes back
  EXPECT_EQ(End(0), 0);
  EXPECT_EQ(counting.writeSizes, std::vector<uint32_t>{7});
  EXPECT_EQ(counting.closes, 2);
  EXPECT_EQ(StandardInput.state, FileState::Closed);
  EXPECT_EQ(StandardOutput.state, FileState::Closed);
  EXPECT_EQ(ExitHandler, nullptr);
  EXPECT_EQ(dir.Read("out"), "done" + LineEnd + "pending");
}

TEST_F(EndProcessTest, ExitCodeIsHandedOverUnchanged) {
  CountingPlatform counting;
  EXPECT_EQ(End(5), 5);
  EXPECT_EQ(counting.writeSizes, std::vector<uint32_t>{0});
  ExitHandler = nullptr;
  EXPECT_EQ(End(1), 1);
  EXPECT_EQ(End(-1), -1);
  EXPECT_EQ(counting.writes, 1) << "nothing is written without a handler";
}

std::vector<std::string> handlerLog;

void SecondHandler() {
  handlerLog.push_back("second, status " + std::to_string(IoStatus()) + (ExitHandler ? ", slot full" : ""));
}

void FirstHandler() {
  handlerLog.push_back("first, status " + std::to_string(IoStatus()) + (ExitHandler ? ", slot full" : ""));
  IoStatus() = 9;
  ExitHandler = SecondHandler;
}

TEST_F(EndProcessTest, HandlerThatSetsAnotherRunsItNextEachWithAClearStatus) {
  CloseStandardFiles();
  handlerLog.clear();
  ExitHandler = FirstHandler;
  IoStatus() = 32;
  CountingPlatform counting;
  EXPECT_EQ(End(0), 0);
  EXPECT_EQ(handlerLog, (std::vector<std::string>{"first, status 0", "second, status 0"}));
  EXPECT_EQ(ExitHandler, nullptr);
  EXPECT_EQ(counting.writes, 0);
}

// Standard output and error of the process go to files of the test, and every
// address lies in a module named "stowit" loaded at 0x400000.
class ReportPlatform : public CountingPlatform {
 public:
  explicit ReportPlatform(const TempDir& dir) {
    EXPECT_EQ(NativePlatform::CreateFile(os::CurrentFolder, dir.Path("stdout"), os::AccessWrite, os::ShareRead | os::ShareWrite, out), 0u);
    EXPECT_EQ(NativePlatform::CreateFile(os::CurrentFolder, dir.Path("stderr"), os::AccessWrite, os::ShareRead | os::ShareWrite, err), 0u);
  }
  ~ReportPlatform() override {
    NativePlatform::CloseFile(out);
    NativePlatform::CloseFile(err);
  }
  os::Handle StdHandle(os::StdStream which) override {
    return which == os::StdStream::Output ? out : which == os::StdStream::Error ? err : NativePlatform::StdHandle(which);
  }
  bool LocateCode(uintptr_t address, char* module, std::size_t size, uintptr_t& offset) override {
    std::snprintf(module, size, "stowit");
    offset = address - 0x400000;
    return true;
  }
  os::Handle out = os::InvalidHandle, err = os::InvalidHandle;
};

class ReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedKind = IsConsoleProgram;
    IsConsoleProgram = true;
    IoStatus() = 0;
  }
  void TearDown() override {
    IsConsoleProgram = savedKind;
    IoStatus() = 0;
  }
  std::string Report(const Exception& object, const SourceLocation& location = {}) {
    {
      ReportPlatform platform(dir);
      ReportFailure(object, 0x40ABCD, location);
      EXPECT_EQ(platform.writes, 1);
    }
    return dir.Read("stdout");
  }
  TempDir dir;
  bool savedKind = true;
};

// A message gets one dot at its end: none where it has one, and an empty message none.
TEST_F(ReportTest, ReportNamesClassModuleAddressLocationAndMessageWithOneDot) {
  const std::string head = " in module stowit at 0000ABCD." + LineEnd;
  EXPECT_EQ(Report(EInOutError("File access denied", 5), {"run.cpp", 42}),
            "Exception EInOutError" + head + "File: run.cpp Line#: 42" + LineEnd + "File access denied.");
  EXPECT_EQ(Report(Exception("Stopped.")), "Exception Exception" + head + "Stopped.");
  EXPECT_EQ(Report(EControlC("")), "Exception EControlC" + head);
}

TEST_F(ReportTest, FailedCheckBeforeStartUpEndsWithTheStatusAsExitCode) {
  // The unit tests never run start-up, so a failed check takes the road of a
  // failure before the failure reporting is set up.
  const ExitProcedure savedHandler = ExitHandler;
  handlerLog.clear();
  ExitHandler = SecondHandler;
  int32_t code = -1;
  uint32_t line = 0;
  {
    ReportPlatform platform(dir);
    IoStatus() = 32;
    try {
      line = __LINE__; CheckIoStatus();
    } catch (const CountingPlatform::Ended& ended) {
      code = ended.code;
    }
    EXPECT_EQ(platform.writes, 1);
  }
  ExitHandler = savedHandler;
  EXPECT_EQ(code, 32);
  EXPECT_EQ(IoStatus(), 0);
  EXPECT_EQ(handlerLog, std::vector<std::string>{"second, status 0"});
  const std::string expected = "Runtime error 32 at [0-9A-F]{8,16} \\(failure_test\\.cpp#" + std::to_string(line) +
                               "\\) TID=1\\." + (LineEnd == "\n" ? "\n" : "\r\n");
  const std::string written = dir.Read("stderr");
  EXPECT_TRUE(std::regex_match(written, std::regex(expected))) << written;
  EXPECT_EQ(dir.Read("stdout"), "");

  IoStatus() = 0;
  CheckIoStatus();  // a clear status passes
}

}  // namespace
