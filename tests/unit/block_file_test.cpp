// Block file access over real files, natively and under Wine.
#include "runtime/block_file.h"
#include "runtime/console.h"

#include <filesystem>
#include <utility>

#include "runtime/folder.h"
#include "runtime/io_status.h"
#include "runtime/search.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

class BlockFileTest : public ::testing::Test {
 protected:
  void SetUp() override { IoStatus() = 0; }
  void TearDown() override {
    IoStatus() = 0;
    OpenMode() = 0x42;
  }
  // Opens an existing file of the temporary directory with record size `size`.
  void Open(BlockFile& file, const std::string& name, uint32_t size = 1) {
    BindName(file, dir.Path(name));
    OpenExisting(file, size);
  }
  TempDir dir;
  char buffer[16384] = {};
};

TEST_F(BlockFileTest, ReadWithCountDoneTakesShortReadAndReachesTheEnd) {
  dir.Write("ten", "0123456789");
  BlockFile file;
  Open(file, "ten");
  ASSERT_EQ(IoStatus(), 0);
  CountingPlatform counting;
  EXPECT_FALSE(AtEnd(file));
  EXPECT_EQ(counting.positions, 3);
  uint32_t done = 99;
  ReadRecords(file, buffer, 16384, &done);
  EXPECT_EQ(done, 10u);
  EXPECT_EQ(IoStatus(), 0);
  EXPECT_EQ(std::string(buffer, 10), "0123456789");
  EXPECT_TRUE(AtEnd(file));
  CloseBlockFile(file);
  EXPECT_EQ(IoStatus(), 0);
  // Records of four bytes: the partial third is not counted.
  Open(file, "ten", 4);
  ReadRecords(file, buffer, 4, &done);
  EXPECT_EQ(done, 2u);
  CloseBlockFile(file);
  EXPECT_EQ(IoStatus(), 0);
}

TEST_F(BlockFileTest, ShortTransfersWithoutCountDoneSetTheirStatus) {
  dir.Write("ten", "0123456789");
  BlockFile file;
  Open(file, "ten");
  ReadRecords(file, buffer, 16384);
  EXPECT_EQ(TakeIoStatus(), 100);
  CloseBlockFile(file);

  CountingPlatform counting;
  counting.shortWrites = true;
  BindName(file, dir.Path("out"));
  CreateEmpty(file, 1);
  WriteRecords(file, "abcd", 4);
  EXPECT_EQ(TakeIoStatus(), 101);
  uint32_t done = 0;
  WriteRecords(file, "abcd", 4, &done);
  EXPECT_EQ(done, 3u);
  EXPECT_EQ(IoStatus(), 0);
  CloseBlockFile(file);
}

TEST_F(BlockFileTest, CountZeroCallsNothingAndLeavesTheStatus) {
  dir.Write("ten", "0123456789");
  BlockFile file;
  Open(file, "ten");
  CountingPlatform counting;
  IoStatus() = 7;
  uint32_t done = 99;
  ReadRecords(file, buffer, 0, &done);
  EXPECT_EQ(done, 0u);
  WriteRecords(file, buffer, 0);
  EXPECT_EQ(IoStatus(), 7);
  EXPECT_EQ(counting.reads + counting.writes, 0);
  CloseBlockFile(file);
}

// Each operation on a record in a state that it does not take: its status,
// the record's state unchanged, and no call to the system. A taken status is
// cleared.
TEST_F(BlockFileTest, EachOperationRefusesARecordOfTheWrongState) {
  dir.Write("ten", "0123456789");
  struct Case {
    const char* what;
    FileState state;
    std::function<void(BlockFile&, TextFile&)> operation;
    int32_t status;
  } cases[] = {
      {"read a closed block file", FileState::Closed, [&](BlockFile& b, TextFile&) { ReadRecords(b, buffer, 1); }, 103},
      {"write a closed block file", FileState::Closed, [&](BlockFile& b, TextFile&) { WriteRecords(b, buffer, 1); }, 103},
      {"seek a closed block file", FileState::Closed, [](BlockFile& b, TextFile&) { SeekRecord(b, 0); }, 103},
      {"end of a closed block file", FileState::Closed, [](BlockFile& b, TextFile&) { EXPECT_FALSE(AtEnd(b)); }, 103},
      {"close a closed block file", FileState::Closed, [](BlockFile& b, TextFile&) { CloseBlockFile(b); }, 103},
      {"open an unbound block file", FileState::Unbound, [](BlockFile& b, TextFile&) { OpenExisting(b, 1); }, 102},
      {"create over a text input", FileState::OpenForTextInput, [](BlockFile& b, TextFile&) { CreateEmpty(b, 1); }, 102},
      {"open a text output", FileState::OpenForTextOutput, [](BlockFile& b, TextFile&) { OpenExisting(b, 1); }, 102},
      {"write text to a closed file", FileState::Closed, [](BlockFile&, TextFile& t) { WriteText(t, "x"); }, 105},
      {"pad a closed file", FileState::Closed, [](BlockFile&, TextFile& t) { WriteText(t, "", 2); }, 105},
      {"write a number to a closed file", FileState::Closed, [](BlockFile&, TextFile& t) { WriteInteger(t, 1); }, 105},
      {"write a byte to a closed file", FileState::Closed, [](BlockFile&, TextFile& t) { WriteChar(t, 'x'); }, 105},
      {"end a line of a closed file", FileState::Closed, [](BlockFile&, TextFile& t) { EndLine(t); }, 105},
      {"write text to a block file", FileState::OpenForBlocks, [](BlockFile&, TextFile& t) { WriteText(t, "x"); }, 105},
      {"close a closed text file", FileState::Closed, [](BlockFile&, TextFile& t) { CloseText(t); }, 103},
      {"close an unbound text file", FileState::Unbound, [](BlockFile&, TextFile& t) { CloseText(t); }, 103},
      {"open an unbound text output", FileState::Unbound, [](BlockFile&, TextFile& t) { OpenTextOutput(t); }, 102},
      {"open an unbound text input", FileState::Unbound, [](BlockFile&, TextFile& t) { OpenTextInput(t); }, 102},
      {"open a block file as text", FileState::OpenForBlocks, [](BlockFile&, TextFile& t) { OpenTextOutput(t); }, 102},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    BlockFile block;
    BindName(block, dir.Path("ten"));
    TextFile text;
    BindText(text, "");
    block.state = text.state = c.state;
    CountingPlatform counting;
    c.operation(block, text);
    EXPECT_EQ(TakeIoStatus(), c.status);
    EXPECT_EQ(IoStatus(), 0);
    EXPECT_EQ(block.state, c.state);
    EXPECT_EQ(text.state, c.state);
    EXPECT_EQ(counting.opens + counting.creates + counting.reads + counting.writes + counting.positions + counting.closes, 0);
  }
  EXPECT_EQ(dir.Read("ten"), "0123456789");
}

TEST_F(BlockFileTest, OpeningAnOpenRecordClosesItFirst) {
  dir.Write("ten", "0123456789");
  BlockFile file;
  Open(file, "ten");
  ReadRecords(file, buffer, 4);
  CountingPlatform counting;
  OpenExisting(file, 1);
  EXPECT_EQ(counting.closes, 1);
  EXPECT_EQ(counting.opens, 1);
  EXPECT_EQ(file.state, FileState::OpenForBlocks);
  ReadRecords(file, buffer, 2);
  EXPECT_EQ(std::string(buffer, 2), "01");  // reopened at the start
  EXPECT_EQ(IoStatus(), 0);
  CloseBlockFile(file);
}

TEST_F(BlockFileTest, EmptyNameOpensTheStandardHandlesWithoutTheSystem) {
  CountingPlatform counting;
  BlockFile input, output;  // left open: closing them would close the test's own streams
  BindName(input, "");
  OpenExisting(input, 1);
  BindName(output, "");
  CreateEmpty(output, 1);
  EXPECT_EQ(IoStatus(), 0);
  EXPECT_EQ(input.handle, os::Sys().StdHandle(os::StdStream::Input));
  EXPECT_EQ(output.handle, os::Sys().StdHandle(os::StdStream::Output));
  EXPECT_EQ(output.state, FileState::OpenForBlocks);
  EXPECT_EQ(counting.opens + counting.creates, 0);
}

// The Win32 numbers for names that lead to no file: opened, then created.
TEST_F(BlockFileTest, MissingNamesDirectoriesAndFilesInTheWrongPlaceGiveTheWin32Numbers) {
  fs::create_directory(dir.Path("sub"));
  dir.Write("plain", "x");
  std::string underFile = dir.Path("plain") + Rules.pathDelimiter + "x";
  const struct {
    std::string path;
    int32_t open, create;
  } cases[] = {
      {dir.Path("missing"), 2, 0},
      {dir.Path("nowhere") + Rules.pathDelimiter + "file", 3, 3},
      {dir.Path("sub"), 5, 5},
      {underFile, 3, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    BlockFile file;
    BindName(file, c.path);
    OpenExisting(file, 1);
    EXPECT_EQ(TakeIoStatus(), c.open);
    EXPECT_EQ(file.state, FileState::Closed);
    if (c.create == 0) continue;
    CreateEmpty(file, 1);
    EXPECT_EQ(TakeIoStatus(), c.create);
  }
  EXPECT_EQ(os::Sys().DeleteFile(os::CurrentFolder, dir.Path("sub")), 5u);
  EXPECT_EQ(os::Sys().DeleteFile(os::CurrentFolder, dir.Path("missing")), 2u);
  EXPECT_EQ(os::Sys().DeleteFile(os::CurrentFolder, underFile), 3u);
  EXPECT_EQ(CreateFolder(os::CurrentFolder, dir.Path("sub")).status, 183);
  EXPECT_EQ(CreateFolder(os::CurrentFolder, dir.Path("plain")).status, 183);
  EXPECT_EQ(CreateFolder(os::CurrentFolder, dir.Path("gone") + Rules.pathDelimiter + "sub").status, 3);
  EXPECT_EQ(CreateFolder(os::CurrentFolder, underFile).status, 3);
  SearchEntry entry;
  // The search calls a file in its directory's place an invalid name, unlike the file calls.
  EXPECT_EQ(OsStartSearch(underFile, AnyEntryMask, entry), 123);
  EXPECT_EQ(OsLookUp(underFile, AnyEntryMask, entry), 123);
  EXPECT_EQ(OsStartSearch(dir.Path("plain") + Rules.pathDelimiter + "*", AnyEntryMask, entry), 123);
  EXPECT_EQ(OsStartSearch(underFile + Rules.pathDelimiter + "*", AnyEntryMask, entry), 3);
  EXPECT_EQ(OsStartSearch(dir.Path("sub") + Rules.pathDelimiter, AnyEntryMask, entry), 2);
  EXPECT_TRUE(fs::is_directory(dir.Path("sub")));
}

// Read-only: refused for writing (with 5, for root too on POSIX), opened in the read access mode.
TEST_F(BlockFileTest, ReadOnlyFileRefusesWriteAccessWith5AndOpensForReading) {
  dir.Write("locked", "abc");
  SetReadOnly(dir.Path("locked"), true);
  BlockFile file;
  OpenMode() = 0x40;
  Open(file, "locked");
  EXPECT_EQ(IoStatus(), 0);
  ReadRecords(file, buffer, 3);
  EXPECT_EQ(std::string(buffer, 3), "abc");
  CloseBlockFile(file);
  EXPECT_EQ(IoStatus(), 0);
  OpenMode() = 0x42;
  if (ReadOnlyIgnoredHere(dir.Path("locked"))) {
    SetReadOnly(dir.Path("locked"), false);
    GTEST_SKIP() << "all but the refusal checked: this Windows layer (Wine run by root) opens read-only files for writing";
  }
  Open(file, "locked");
  EXPECT_EQ(TakeIoStatus(), 5);
  EXPECT_EQ(file.state, FileState::Closed);
  CreateEmpty(file, 1);
  EXPECT_EQ(TakeIoStatus(), 5);
  EXPECT_EQ(dir.Read("locked"), "abc");
  SetReadOnly(dir.Path("locked"), false);
}

TEST_F(BlockFileTest, CreateEmptyEmptiesAnExistingFile) {
  dir.Write("full", "0123456789");
  BlockFile file;
  BindName(file, dir.Path("full"));
  CreateEmpty(file, 1);
  EXPECT_EQ(IoStatus(), 0);
  EXPECT_TRUE(AtEnd(file));
  WriteRecords(file, "new", 3);
  CloseBlockFile(file);
  EXPECT_EQ(IoStatus(), 0);
  EXPECT_EQ(dir.Read("full"), "new");
}

// Builds a path of exactly `length` bytes below the directory, its folders made.
std::string PathOfLength(const TempDir& dir, std::size_t length) {
  std::string path = dir.Path();
  while (length - path.size() > 200) {
    path += Rules.pathDelimiter + std::string(100, 'd');
    fs::create_directory(path);
  }
  return path + Rules.pathDelimiter + std::string(length - path.size() - 1, 'f');
}

TEST_F(BlockFileTest, NameOverThePlatformLimitIsRefusedNotCut) {
  std::string longest = PathOfLength(dir, Rules.maxPathBytes);
  { std::ofstream(longest, std::ios::binary) << "keep"; }
  ASSERT_TRUE(FilePresent(longest));
  std::string tooLong = longest + "x";  // cut to the limit, it would name `longest`

  BlockFile file;
  BindName(file, tooLong);
  OpenExisting(file, 1);
  EXPECT_EQ(TakeIoStatus(), 206);
  CreateEmpty(file, 1);
  EXPECT_EQ(TakeIoStatus(), 206);
  EXPECT_EQ(file.state, FileState::Closed);
  EXPECT_FALSE(RemoveFile(tooLong));
  std::ifstream in(longest, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep");
}

TEST_F(BlockFileTest, FilePresentAndRemoveFileAnswerByTheirResultAndKeepBothStatuses) {
  fs::create_directory(dir.Path("sub"));
  std::string hidden = MakeHiddenFile(dir, "secret", "x");
  dir.Write("locked", "y");
  SetReadOnly(dir.Path("locked"), true);
  IoStatus() = 7;
  SetSearchStatus(9);

  EXPECT_FALSE(FilePresent(dir.Path("sub")));
  EXPECT_TRUE(FilePresent(dir.Path(hidden)));
  EXPECT_TRUE(FilePresent(dir.Path("locked")));
  EXPECT_FALSE(FilePresent(dir.Path("missing")));
  EXPECT_FALSE(FilePresent(dir.Path("nowhere") + Rules.pathDelimiter + "file"));
  if (Posix) {  // wildcard bytes in a name are taken literally (Windows names cannot hold them)
    dir.Write("aXb", "");
    EXPECT_FALSE(FilePresent(dir.Path("a*b")));
    EXPECT_FALSE(FilePresent(dir.Path("a?b")));
    dir.Write("a*b", "");
    EXPECT_TRUE(FilePresent(dir.Path("a*b")));
  }
  SetReadOnly(dir.Path("locked"), false);
  // RemoveFile reports only by its result too.
  EXPECT_FALSE(RemoveFile(dir.Path("missing")));
  EXPECT_TRUE(RemoveFile(dir.Path("locked")));
  EXPECT_FALSE(fs::exists(dir.Path("locked")));
  EXPECT_EQ(IoStatus(), 7);
  EXPECT_EQ(SearchStatus(), 9);
}

TEST_F(BlockFileTest, CreateNewRenameAndDeleteIfUnchangedKeepTheirContracts) {
  BlockFile file;
  dir.Write("taken", "old");
  BindName(file, dir.Path("taken"));
  CreateNew(file, 1);
  EXPECT_EQ(TakeIoStatus(), int32_t(os::ErrorFileExists));
  EXPECT_EQ(dir.Read("taken"), "old");

  BindName(file, dir.Path("new"));
  CreateNew(file, 1);
  WriteRecords(file, "abc", 3);
  os::FileStamp stamp;
  StampOf(file, stamp);
  CloseBlockFile(file);
  ASSERT_EQ(TakeIoStatus(), 0);
  EXPECT_EQ(stamp.size, 3u);
  RenameFile(dir.Path("new"), dir.Path("taken"));  // never in another file's place
  EXPECT_EQ(TakeIoStatus(), int32_t(os::ErrorAlreadyExists));
  EXPECT_EQ(dir.Read("taken"), "old");
  fs::remove(dir.Path("taken"));
  RenameFile(dir.Path("new"), dir.Path("taken"));
  ASSERT_EQ(TakeIoStatus(), 0);
  EXPECT_EQ(dir.Read("taken"), "abc");
  EXPECT_FALSE(fs::exists(dir.Path("new")));

  // An original held from its open is deleted only as the copy has it: one
  // grown meanwhile is kept, and so is its name.
  dir.Write("copy", "abc");
  for (bool grown : {true, false}) {
    SCOPED_TRACE(grown ? "grown" : "unchanged");
    BindName(file, dir.Path("taken"));
    OpenExisting(file, 1, &stamp);
    if (!HoldForDeletion(file)) CloseBlockFile(file);
    ASSERT_EQ(TakeIoStatus(), 0);
    if (grown) std::ofstream(dir.Path("taken"), std::ios::app) << "d";
    std::string keptAs;
    EXPECT_EQ(DeleteIfUnchanged(file, stamp, dir.Path("copy"), os::CurrentFolder, keptAs),
              grown ? int32_t(os::ErrorChangedMeanwhile) : 0);
    EXPECT_EQ(TakeIoStatus(), 0);
    EXPECT_EQ(keptAs, "");
    if (grown) {
      EXPECT_EQ(dir.Read("taken"), "abcd");
      dir.Write("taken", "abc");
    }
  }
  EXPECT_FALSE(fs::exists(dir.Path("taken")));
}

TEST_F(BlockFileTest, CallsInAHeldFolderKeepTheContractOfTheCallsByPath) {
  fs::create_directory(dir.Path("sub"));
  dir.Write("plain", "x");
  ::Folder held = OpenFolder(os::CurrentFolder, dir.Path());
  ASSERT_TRUE(held.Held());
  os::Platform& sys = os::Sys();
  const os::Handle folder = held.handle;
  os::Handle h = os::InvalidHandle;
  os::FindData found;
  const struct {
    const char* what;
    os::Status status, expected;
  } refusals[] = {
      {"open a missing name", sys.OpenFile(folder, "missing", os::AccessRead, 0, h, nullptr), 2},
      {"open a folder as a file", sys.OpenFile(folder, "sub", os::AccessRead, 0, h, nullptr), 5},
      {"create a taken name anew", sys.CreateNewFile(folder, "plain", os::AccessWrite, 0, h), 80},
      {"rename onto a taken name", sys.RenameFile(folder, "plain", "sub"), 183},
      {"make a folder of a taken name", sys.CreateFolder(folder, "plain", h), 183},
      {"hold a file as a folder", sys.OpenFolder(folder, "plain", h), 3},
      {"hold a missing folder", sys.OpenFolder(folder, "missing", h), 3},
      {"delete a folder", sys.DeleteFile(folder, "sub"), 5},
      {"delete a missing name", sys.DeleteFile(folder, "missing"), 2},
      {"look up a missing name", sys.LookUp(folder, "missing", found), 2},
  };
  for (const auto& refusal : refusals) EXPECT_EQ(refusal.status, refusal.expected) << refusal.what;

  // Made, renamed, looked up, stamped and deleted by name within the folder.
  ASSERT_EQ(sys.CreateNewFile(folder, "new", os::AccessWrite, 0, h), 0);
  uint32_t done = 0;
  EXPECT_EQ(sys.WriteFile(h, "abc", 3, done), 0);
  EXPECT_EQ(sys.CloseFile(h), 0);
  EXPECT_EQ(sys.RenameFile(folder, "new", "done"), 0);
  EXPECT_EQ(sys.LookUp(folder, "done", found), 0);
  EXPECT_EQ(found.name, "done");
  EXPECT_EQ(found.size, 3u);
  os::Original original{folder, "done", os::InvalidHandle, {}, folder, "plain"};
  ASSERT_EQ(sys.OpenFile(folder, "done", os::AccessRead | os::AccessWrite, os::ShareRead | os::ShareWrite,
                         original.held, &original.opened), 0);
  bool kept = false;
  EXPECT_EQ(sys.HoldForDeletion(original.held, kept), 0);
  if (!kept) {
    EXPECT_EQ(sys.CloseFile(std::exchange(original.held, os::InvalidHandle)), 0);
  }
  EXPECT_EQ(original.opened.size, 3u);
  dir.Write("plain", "abc");  // the copy, as the deletion may compare it
  std::string keptAs;
  os::Status closed = -1;
  EXPECT_EQ(sys.DeleteIfUnchanged(original, keptAs, closed), 0);
  EXPECT_EQ(closed, 0);
  EXPECT_EQ(keptAs, "");
  EXPECT_FALSE(fs::exists(dir.Path("done")));
  EXPECT_EQ(dir.Read("plain"), "abc");
  CloseFolder(held);
}

}  // namespace
