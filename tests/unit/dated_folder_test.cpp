// Choosing and making the run's dated folder, over real directories.
#include "archiver/dated_folder.h"

#include <filesystem>
#include <vector>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;

// One run's choice: the root held (made if missing), then the dated folder in it.
std::string MakeDatedFolder(std::string root) {
  ::Folder parent, dated;
  ::Folder held = OpenArchiveRoot(root, parent);
  std::string made = ::MakeDatedFolder(root, held, dated);
  for (::Folder* f : {&parent, &held, &dated}) CloseFolder(*f);
  return made;
}

TEST(DatedFolderTest, EachRunTakesTheLowestFreeNumberOfItsDay) {
  struct Case {
    const char* what;
    std::vector<std::string> folders, files;  // already in the root
    os::LocalDate today;
    std::string rootEnd;            // after the root's name, as the run is given it
    std::vector<std::string> made;  // by runs one after another
  };
  std::vector<std::string> ninetyNine;
  for (int n = 1; n <= 99; ++n) ninetyNine.push_back("20261207" + std::string(n < 10 ? "0" : "") + std::to_string(n));
  const os::LocalDate day = {2026, 12, 7};
  const Case cases[] = {
      {"an empty root", {}, {}, day, "", {"2026120701", "2026120702"}},
      {"a gap", {"2026120701", "2026120703"}, {}, day, "", {"2026120702", "2026120704"}},
      {"a plain file in a number's place", {}, {"2026120701"}, day, "", {"2026120702"}},
      {"numbers past two digits", ninetyNine, {}, day, "", {"20261207100", "20261207101"}},
      {"a month and a day of one digit", {}, {}, {2027, 1, 5}, "", {"2027010501"}},
      {"a root ending in a separator, kept whole", {}, {}, day, std::string(1, Rules.pathDelimiter),
       {"2026120701", "2026120702"}},
  };
  for (const Case& c : cases) {
    CountingPlatform platform;
    platform.today = c.today;
    TempDir dir;
    const std::string root = dir.Path("Archive");
    fs::create_directory(root);
    for (const std::string& name : c.folders) fs::create_directory(root + Rules.pathDelimiter + name);
    for (const std::string& name : c.files) std::ofstream(root + Rules.pathDelimiter + name) << "x";
    for (const std::string& name : c.made) {
      // The case named in the message, not by SCOPED_TRACE: its trace stack
      // crashes 32-bit Wine under qemu-i386 here.
      EXPECT_EQ(MakeDatedFolder(root + c.rootEnd), root + c.rootEnd + Rules.pathDelimiter + name) << c.what;
      EXPECT_TRUE(fs::is_directory(root + Rules.pathDelimiter + name)) << c.what << ": " << name;
    }
  }
}

TEST(DatedFolderTest, MissingRootGivesTheFirstNumberSilently) {
  CountingPlatform platform;
  platform.today = {2026, 12, 7};
  TempDir dir;
  std::string missing = dir.Path("gone") + Rules.pathDelimiter + "Archive";
  EXPECT_EQ(MakeDatedFolder(missing), missing + Rules.pathDelimiter + "2026120701");
  EXPECT_FALSE(fs::exists(dir.Path("gone")));
  EXPECT_EQ(platform.writes, 0);
}

}  // namespace
