// Choosing and making the run's dated folder, over real directories.
#include "archiver/dated_folder.h"

#include <cstdio>
#include <filesystem>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;

class DatedFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform.today = {2026, 12, 7};
    fs::create_directory(root);
  }
  std::string Folder(const std::string& suffix) const { return root + Rules.pathDelimiter + "20261207" + suffix; }
  // One run's choice: the root held (made if missing), then the dated folder in it.
  std::string MakeDatedFolder(std::string rootPath) {
    ::Folder parent, dated;
    ::Folder held = OpenArchiveRoot(rootPath, parent);
    std::string made = ::MakeDatedFolder(rootPath, held, dated);
    for (::Folder* f : {&parent, &held, &dated}) CloseFolder(*f);
    return made;
  }

  CountingPlatform platform;
  TempDir dir;
  std::string root = dir.Path("Archive");
};

TEST_F(DatedFolderTest, EachCallMakesTheNextNumber) {
  EXPECT_EQ(MakeDatedFolder(root), Folder("01"));
  EXPECT_TRUE(fs::is_directory(Folder("01")));
  EXPECT_EQ(MakeDatedFolder(root), Folder("02"));
  EXPECT_TRUE(fs::is_directory(Folder("02")));
}

TEST_F(DatedFolderTest, LowestFreeNumberIsTaken) {
  fs::create_directory(Folder("01"));
  fs::create_directory(Folder("03"));
  EXPECT_EQ(MakeDatedFolder(root), Folder("02"));
}

TEST_F(DatedFolderTest, PlainFileTakesItsNumber) {
  std::ofstream(Folder("01")) << "x";
  EXPECT_EQ(MakeDatedFolder(root), Folder("02"));
}

TEST_F(DatedFolderTest, NumbersGrowPastTwoDigits) {
  for (int n = 1; n <= 99; ++n) {
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, "%02d", n);
    fs::create_directory(Folder(suffix));
  }
  EXPECT_EQ(MakeDatedFolder(root), Folder("100"));
  EXPECT_EQ(MakeDatedFolder(root), Folder("101"));
}

TEST_F(DatedFolderTest, MonthAndDayHaveTwoDigits) {
  platform.today = {2027, 1, 5};
  EXPECT_EQ(MakeDatedFolder(root), root + Rules.pathDelimiter + "2027010501");
}

TEST_F(DatedFolderTest, RootEndingInSeparatorIsKeptWhole) {
  std::string slashed = root + Rules.pathDelimiter;
  EXPECT_EQ(MakeDatedFolder(slashed), slashed + Rules.pathDelimiter + "2026120701");
  EXPECT_TRUE(fs::is_directory(Folder("01")));
  EXPECT_EQ(MakeDatedFolder(slashed), slashed + Rules.pathDelimiter + "2026120702");
}

TEST_F(DatedFolderTest, MissingRootGivesTheFirstNumberSilently) {
  std::string missing = dir.Path("gone") + Rules.pathDelimiter + "Archive";
  EXPECT_EQ(MakeDatedFolder(missing), missing + Rules.pathDelimiter + "2026120701");
  EXPECT_FALSE(fs::exists(dir.Path("gone")));
  EXPECT_EQ(platform.writes, 0);
}

}  // namespace
