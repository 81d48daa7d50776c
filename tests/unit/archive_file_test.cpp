// Archiving one file over real files, natively and under Wine, with faults
// injected where the system cannot be made to fail.
#include "archiver/archive_file.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <set>
#include <thread>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "runtime/console.h"
#include "runtime/failure.h"
#include "runtime/startup.h"
#include "runtime/folder.h"
#include "runtime/io_status.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

// The names in these tests are paths.
const Folder ByPath{os::CurrentFolder, 0};

// The standard handles are files of the test's own, so that console lines can
// be read back and closing them never touches the test program's own output.
// Handles that a failed copy leaves open are tracked, to be closed afterwards.
class ArchivePlatform : public CountingPlatform {
 public:
  os::Handle StdHandle(os::StdStream which) override {
    return which == os::StdStream::Input ? input : console;
  }
  os::Status OpenFile(os::Handle d, const std::string& n, uint32_t a, uint32_t s, os::Handle& out,
                      os::FileStamp* o) override {
    os::Status st = CountingPlatform::OpenFile(d, n, a, s, out, o);
    if (st == 0) open.insert(out);
    return st;
  }
  os::Status CreateNewFile(os::Handle d, const std::string& n, uint32_t a, uint32_t s, os::Handle& out) override {
    os::Status st = CountingPlatform::CreateNewFile(d, n, a, s, out);
    if (st == 0) open.insert(out);
    return st;
  }
  os::Status CloseFile(os::Handle h) override {
    open.erase(h);
    return CountingPlatform::CloseFile(h);
  }
  os::Status ReadFile(os::Handle h, void* b, uint32_t c, uint32_t& done) override {
    if (beforeRead) beforeRead(reads + 1);
    return CountingPlatform::ReadFile(h, b, c, done);
  }
  os::Status HoldForDeletion(os::Handle& h, bool& held) override {
    open.erase(h);
    os::Status st = CountingPlatform::HoldForDeletion(h, held);
    open.insert(h);
    return st;
  }
  os::Status DeleteIfUnchanged(const os::Original& o, std::string& k, os::Status& closed) override {
    flushesAtDelete = flushes;
    folderFlushesAtDelete = folderFlushes;
    open.erase(o.held);
    if (beforeDelete) beforeDelete();
    return CountingPlatform::DeleteIfUnchanged(o, k, closed);
  }
  void CloseLeftovers() {
    for (os::Handle h : open) os::Native().CloseFile(h);
    open.clear();
  }

  os::Handle input = os::InvalidHandle, console = os::InvalidHandle;
  std::set<os::Handle> open;
  int flushesAtDelete = -1, folderFlushesAtDelete = -1;
  std::function<void(int)> beforeRead;  // given the number of the read about to be made
  std::function<void()> beforeDelete;
};

os::Handle CreateForTest(const std::string& path) {
  os::Handle h = os::InvalidHandle;
  EXPECT_EQ(os::Native().CreateFile(os::CurrentFolder, path, os::AccessRead | os::AccessWrite, os::ShareRead | os::ShareWrite, h), 0u);
  return h;
}

// The program's own start-up and end, run once: afterwards a failed check
// raises a FailureException, as in the real program.
void StartRuntimeOnce() {
  static bool started = false;
  if (started) return;
  started = true;
  TempDir dir;
  ArchivePlatform platform;
  platform.input = CreateForTest(dir.Path("input"));
  platform.console = CreateForTest(dir.Path("console"));
  static char name[] = "archive_file_test";
  char* argv[] = {name, nullptr};
  try {
    RunProgram(1, argv, [] {});
  } catch (const CountingPlatform::Ended& end) {
    EXPECT_EQ(end.code, 0);
  }
}

std::string RandomBytes(std::size_t n) {
  std::mt19937 generator{uint32_t(n)};
  std::string bytes(n, '\0');
  for (char& c : bytes) c = char(generator());
  return bytes;
}

class ArchiveFileTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { StartRuntimeOnce(); }
  void SetUp() override {
    IoStatus() = 0;
    fs::create_directory(dir.Path("copies"));
    platform.console = CreateForTest(dir.Path("console"));
    BindText(StandardOutput, "");
    OpenTextOutput(StandardOutput);
    ASSERT_EQ(IoStatus(), 0);
  }
  void TearDown() override {
    Console();
    platform.CloseLeftovers();
    IoStatus() = 0;
  }
  // What the copy wrote on the console; closes it.
  std::string Console() {
    if (StandardOutput.state == FileState::OpenForTextOutput) CloseText(StandardOutput);
    IoStatus() = 0;
    return dir.Read("console");
  }
  std::string Copy() { return dir.Read("copies" + std::string(1, Rules.pathDelimiter) + "app.log"); }
  // The status of the failure that the copy raised, or 0.
  int32_t Archive(bool deleteAfter) {
    try {
      ArchiveFile(HeldName{ByPath, source, ""}, HeldName{ByPath, destination, ""}, deleteAfter);
    } catch (const FailureException& failure) {
      auto* io = dynamic_cast<const EInOutError*>(failure.object.get());
      return io ? io->status : -1;
    }
    return 0;
  }

  ArchivePlatform platform;
  TempDir dir;
  std::string source = dir.Path("app.log");
  std::string destination = dir.Path("copies") + Rules.pathDelimiter + "app.log";
};

TEST_F(ArchiveFileTest, CopyIsByteIdenticalAndReadsEachBlockOnce) {
  for (std::size_t size : {std::size_t(0), std::size_t(16384), std::size_t(16385), std::size_t(3 << 20) + 123}) {
    SCOPED_TRACE(size);
    std::string bytes = RandomBytes(size);
    dir.Write("app.log", bytes);
    fs::remove(destination);
    platform.reads = platform.positions = 0;
    platform.writeSizes.clear();

    ASSERT_EQ(Archive(false), 0);
    EXPECT_EQ(Copy(), bytes);
    EXPECT_EQ(dir.Read("app.log"), bytes);
    int blocks = int((size + CopyBlockSize - 1) / CopyBlockSize);
    EXPECT_EQ(platform.reads, blocks);
    EXPECT_EQ(platform.positions, 3 * (blocks + 1));  // one end test before each read, one at the end
    if (size == 16385) {
      EXPECT_EQ(platform.writeSizes, (std::vector<uint32_t>{16384, 1}));
    }
  }
  EXPECT_EQ(platform.flushes + platform.folderFlushes + platform.deletes, 0);
  EXPECT_EQ(Console(), "");
}

// Zeros where the original has holes stay holes; zeros that an original
// without holes holds are written (the rows above).
TEST_F(ArchiveFileTest, HolesStayHolesAndTheContentIsKept) {
#ifdef _WIN32
  GTEST_SKIP() << "the Windows layer copies holes as zeros";
#else
  struct Case {
    const char* shape;
    std::vector<std::pair<uint64_t, std::size_t>> data;  // where, how many bytes
    uint64_t size;
  } cases[] = {
      {"all hole", {}, 1 << 20},
      {"data, then a hole to the end", {{0, 5000}}, 1 << 20},
      {"a hole, then data to the end", {{(1 << 20) - 100, 100}}, 1 << 20},
      {"data, a hole, data in a block's middle", {{0, 10}, {700000, 20000}}, 1 << 20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shape);
    fs::remove(source);
    fs::remove(destination);
    std::string expected(c.size, '\0');
    {
      std::ofstream out(source, std::ios::binary);
      for (auto [at, n] : c.data) {
        std::string bytes = RandomBytes(n);
        expected.replace(at, n, bytes);
        out.seekp(std::streamoff(at)).write(bytes.data(), std::streamsize(n));
      }
    }
    fs::resize_file(source, c.size);
    platform.writes = 0;
    ASSERT_EQ(Archive(false), 0);
    EXPECT_EQ(Copy(), expected);
    struct stat st;
    ASSERT_EQ(stat(destination.c_str(), &st), 0);
    // The blocks that hold data, and a block either side of each for the file system's rounding.
    EXPECT_LE(uint64_t(st.st_blocks) * 512, 3 * CopyBlockSize * c.data.size());
    EXPECT_LE(platform.writes, int(2 * c.data.size()));
  }
#endif
}

TEST_F(ArchiveFileTest, DeleteAfterFlushesTheCopyBeforeTheOriginalGoes) {
  std::string bytes = RandomBytes(20000);
  dir.Write("app.log", bytes);
  ASSERT_EQ(Archive(true), 0);
  EXPECT_FALSE(fs::exists(source));
  EXPECT_EQ(Copy(), bytes);
  EXPECT_EQ(platform.deletes, 1);
  EXPECT_EQ(platform.flushesAtDelete, 1);
  EXPECT_EQ(platform.folderFlushesAtDelete, 1);
}

// Named on the console, kept, and the run goes on: no failure is raised.
TEST_F(ArchiveFileTest, SourceThatCannotBeOpenedIsReportedAndKept) {
  dir.Write("app.log", "keep");
  const std::string original = source;
  const struct {
    const char* why;
    std::function<bool()> arm;  // whether the case can be made here
  } cases[] = {
      {"shared without reading", [&] { return platform.openFault = {0, os::ErrorSharingViolation}, true; }},
      {"named past the platform's limit", [&] { return source = dir.Path(std::string(Rules.maxPathBytes, 'n')), true; }},
      {"read-only", [&] { return SetReadOnly(source, true), !ReadOnlyIgnoredHere(source); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    if (!c.arm()) {
      SetReadOnly(original, false);
      GTEST_SKIP() << "all but the read-only source checked: this Windows layer (Wine run by root) opens "
                      "read-only files for writing";
    }
    EXPECT_EQ(Archive(true), 0);
    EXPECT_EQ(IoStatus(), 0);
    EXPECT_EQ(Console(), "Can't Open file : " + source + Rules.lineEnd);
    EXPECT_EQ(platform.creates + platform.deletes, 0);
    platform.openFault = {};
    source = original;
    SetUp();
  }
  SetReadOnly(original, false);
  EXPECT_EQ(dir.Read("app.log"), "keep");
  EXPECT_FALSE(fs::exists(destination));
}

TEST_F(ArchiveFileTest, VanishedSourceOrDirectoryIsPassedOverSilently) {
  EXPECT_EQ(Archive(true), 0);
  fs::create_directory(source);
  EXPECT_EQ(Archive(true), 0);
  EXPECT_TRUE(fs::is_directory(source));
  EXPECT_EQ(platform.opens + platform.creates + platform.deletes, 0);
  EXPECT_TRUE(fs::is_empty(dir.Path("copies")));
  EXPECT_EQ(Console(), "");
}

TEST_F(ArchiveFileTest, EveryFailingStepRaisesItsStatusAndKeepsTheOriginal) {
  using Fault = CountingPlatform::Fault;
  struct Case {
    const char* step;
    Fault CountingPlatform::*fault;
    int remaining;
    os::Status status;
  } cases[] = {
      {"create", &CountingPlatform::createFault, 0, os::ErrorAccessDenied},
      {"first end test, current position", &CountingPlatform::positionFault, 0, os::ErrorIoDevice},
      {"first end test, end position", &CountingPlatform::positionFault, 1, os::ErrorIoDevice},
      {"first end test, position put back", &CountingPlatform::positionFault, 2, os::ErrorIoDevice},
      {"second end test", &CountingPlatform::positionFault, 3, os::ErrorIoDevice},
      {"first read", &CountingPlatform::readFault, 0, os::ErrorIoDevice},
      {"second read", &CountingPlatform::readFault, 1, os::ErrorIoDevice},
      {"first write", &CountingPlatform::writeFault, 0, os::ErrorDiskFull},
      {"second write", &CountingPlatform::writeFault, 1, os::ErrorDiskFull},
      {"flush of the copy", &CountingPlatform::flushFault, 0, os::ErrorIoDevice},
      {"flush of its folder", &CountingPlatform::folderFlushFault, 0, os::ErrorIoDevice},
      {"close of the source", &CountingPlatform::closeFault, 0, os::ErrorInvalidHandle},
      {"close of the copy", &CountingPlatform::closeFault, 1, os::ErrorDiskFull},
      {"rename of the copy", &CountingPlatform::renameFault, 0, os::ErrorAccessDenied},
  };
  std::string bytes = RandomBytes(16385);
  dir.Write("app.log", bytes);
  auto fails = [&](os::Status status) {
    EXPECT_EQ(Archive(true), int32_t(status));
    EXPECT_EQ(IoStatus(), 0);  // taken by the failure
    EXPECT_EQ(dir.Read("app.log"), bytes);
    // No .partial: a half copy may hold the very space that ran out.
    for (const auto& entry : fs::directory_iterator(dir.Path("copies")))
      EXPECT_EQ(entry.path().string() + ":" + Copy(), destination + ":" + bytes);
    platform.CloseLeftovers();
    fs::remove(destination);
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.step);
    platform.*c.fault = Fault{c.remaining, c.status};
    fails(c.status);
    platform.*c.fault = Fault{};
  }
  {
    SCOPED_TRACE("a write that comes back short");
    platform.shortWrites = true;
    fails(101);
    platform.shortWrites = false;
  }
  SCOPED_TRACE("no folder for the copy");
  destination = dir.Path("gone") + Rules.pathDelimiter + "app.log";
  fails(3);
  EXPECT_EQ(platform.deletes, 0);
}

TEST_F(ArchiveFileTest, AnOriginalRewrittenInPlaceDuringItsCopyIsKept) {
  const std::string bytes = RandomBytes(3 * CopyBlockSize);
  dir.Write("app.log", bytes);
  platform.beforeRead = [&](int read) {
    if (read != 3) return;
    // Past a tick of the file system's clock, as a real rewrite comes a while later.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::fstream(source, std::ios::in | std::ios::out | std::ios::binary).write("NEW!", 4);
  };
  EXPECT_EQ(Archive(true), 0);
  EXPECT_EQ(Console(), "Original kept, changed while archiving : " + source + Rules.lineEnd);
  EXPECT_EQ(dir.Read("app.log"), "NEW!" + bytes.substr(4));
  EXPECT_EQ(Copy(), bytes);
}

TEST_F(ArchiveFileTest, ACopyNeverTakesAnotherFilesPlace) {
  dir.Write("app.log", "the original");
  dir.Write("copies" + std::string(1, Rules.pathDelimiter) + "app.log", "another file");
  EXPECT_EQ(Archive(true), 0);
  EXPECT_EQ(Console(), "Original kept, name taken in archive : " + source + Rules.lineEnd);
  EXPECT_EQ(dir.Read("app.log"), "the original");
  EXPECT_EQ(Copy(), "another file");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path("copies")), fs::directory_iterator()), 1);
}

// What a held folder holds under a name, read through the platform: a path to
// it may be longer than Windows' path calls take.
std::string ReadHeld(const Folder& folder, const std::string& name) {
  os::Handle h = os::InvalidHandle;
  if (os::Native().OpenFile(folder.handle, name, os::AccessRead, os::ShareRead, h, nullptr) != 0) return "(none)";
  std::string bytes(64, '\0');
  uint32_t done = 0;
  os::Native().ReadFile(h, bytes.data(), uint32_t(bytes.size()), done);
  os::Native().CloseFile(h);
  return bytes.substr(0, done);
}

TEST_F(ArchiveFileTest, ALongestLegalNameIsArchivedAndDeletedThroughWorkingNamesOfItsOwn) {
  const std::string name = std::string(os::MaxNameBytes - 5, 'l') + ".log";  // 254 bytes: no room for a suffix
  Folder from = OpenFolder(os::CurrentFolder, dir.Path()), to = OpenFolder(os::CurrentFolder, dir.Path("copies"));
  ASSERT_TRUE(from.Held() && to.Held());
  os::Handle h = os::InvalidHandle;
  ASSERT_EQ(os::Native().CreateNewFile(from.handle, name, os::AccessWrite, 0, h), 0);
  uint32_t done = 0;
  os::Native().WriteFile(h, "long", 4, done);
  os::Native().CloseFile(h);
  try {
    ArchiveFile(HeldName{from, name, ""}, HeldName{to, name, ""}, true);
  } catch (const FailureException&) {
    ADD_FAILURE() << "a legal name must not end the run";
  }
  EXPECT_EQ(Console(), "");
  EXPECT_EQ(ReadHeld(to, name), "long");
  EXPECT_EQ(ReadHeld(from, name), "(none)");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path("copies")), fs::directory_iterator()), 1);
  CloseFolder(from);
  CloseFolder(to);
}

}  // namespace
