// The directory search over real directories; the same expectations natively
// and under Wine show that the POSIX layer answers as FindFirstFileA does.
#include "runtime/search.h"

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <sys/utime.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "runtime/block_file.h"
#include "runtime/io_status.h"
#include "runtime/progress.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

struct Listing {
  std::vector<std::string> names;  // sorted: the system's order is its own
  int32_t endStatus = 0;
};

Listing List(const std::string& pattern, uint32_t mask) {
  Listing listing;
  SearchEntry entry;
  for (StartSearch(pattern, mask, entry); SearchStatus() == 0; ContinueSearch(entry))
    listing.names.push_back(entry.name);
  listing.endStatus = SearchStatus();
  EndSearch(entry);
  std::sort(listing.names.begin(), listing.names.end());
  return listing;
}

using Names = std::vector<std::string>;

class SearchTest : public ::testing::Test {
 protected:
  void SetUp() override { SetSearchStatus(0); }
  TempDir dir;
};

// What a pattern lists, and the status that ends the listing. A name without
// wildcards is one look-up: the file system's own rule for case (case-blind on
// Windows, exact on Linux), never a scan of the directory.
TEST_F(SearchTest, PatternsListTheirEntriesAndEndWithTheirStatus) {
  const Names files = {"Mixed.LOG", "a.b", "abbc", "abc", "ac", "noext"};
  for (const std::string& name : files) dir.Write(name, "");
  fs::create_directory(dir.Path("sub"));
  Names all = {".", ".."};
  all.insert(all.end(), files.begin(), files.end());
  all.push_back("sub");
  const struct {
    std::string pattern;
    Names names;
    int32_t endStatus;
    uint32_t mask = FileMask;
  } cases[] = {
      {"*", files, 18},
      {"*", all, 18, AnyEntryMask},
      {"*.*", files, 18},
      {"a?c", {"abc"}, 18},
      {"*.log", {"Mixed.LOG"}, 18},
      {"A*C", {"abbc", "abc", "ac"}, 18},
      {"Mixed.LOG", {"Mixed.LOG"}, 18},
      {"MIXED.log", Posix ? Names{} : Names{"Mixed.LOG"}, Posix ? 2 : 18},
      {"gone.txt", {}, 2},
      {"zz*", {}, 2},
      {std::string("nowhere") + Rules.pathDelimiter + "gone.txt", {}, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pattern);
    Listing listing = List(dir.Path(c.pattern), c.mask);
    EXPECT_EQ(listing.names, c.names);
    EXPECT_EQ(listing.endStatus, c.endStatus);
  }
}

// Hidden and read-only files are files all the same, and say so.
TEST_F(SearchTest, EntryCarriesAttributesSizeAndLocalWriteDate) {
  dir.Write("one.txt", "12345");
  fs::create_directory(dir.Path("sub"));
  std::string hidden = MakeHiddenFile(dir, "secret.txt", "x");
  dir.Write("locked.txt", "y");
  SetReadOnly(dir.Path("locked.txt"), true);
  Names expected{hidden, "locked.txt", "one.txt"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(List(dir.Path("*"), FileMask).names, expected);
  const struct {
    std::string name;
    uint32_t attributes;
  } cases[] = {{"one.txt", 0}, {"sub", os::AttrDirectory}, {hidden, os::AttrHidden}, {"locked.txt", os::AttrReadOnly}};
  SearchEntry entry;
  for (const auto& c : cases) {
    StartSearch(dir.Path(c.name), AnyEntryMask, entry);
    ASSERT_EQ(SearchStatus(), 0) << c.name;
    EXPECT_EQ(entry.name, c.name);
    EXPECT_EQ(entry.attributes & (os::AttrDirectory | os::AttrReadOnly | os::AttrHidden), c.attributes) << c.name;
    EndSearch(entry);
  }
  SetReadOnly(dir.Path("locked.txt"), false);
  StartSearch(dir.Path("one.txt"), AnyEntryMask, entry);
  EXPECT_EQ(entry.size, 5);
  // MS-DOS form, local time: the date word of a file written just now is today.
  os::LocalDate today = os::Native().Today();
  uint32_t date = entry.writeTime >> 16;
  EXPECT_EQ(int32_t(date >> 9) + 1980, today.year);
  EXPECT_EQ(int32_t(date >> 5 & 15), today.month);
  EXPECT_EQ(int32_t(date & 31), today.day);
  EndSearch(entry);
}

// A search that finds nothing releases its handle at once; an exhausted one
// keeps it until ended. Ending twice ends the system's search once, or never.
TEST_F(SearchTest, TheSystemsSearchIsEndedOnceWhateverTheListingsEnd) {
  fs::create_directory(dir.Path("sub1"));
  fs::create_directory(dir.Path("sub2"));
  dir.Write("only.txt", "");
  const struct {
    std::string pattern;
    bool found;  // then listed to its end
    int32_t status;
    bool held;
    int endsBefore, endsAfter;
  } cases[] = {
      {std::string("nowhere") + Rules.pathDelimiter + "*", false, 3, false, 0, 0},
      {"sub*", false, 18, false, 1, 1},  // only directories match
      {"*.txt", true, 18, true, 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pattern);
    CountingPlatform counting;
    SearchEntry entry;
    StartSearch(dir.Path(c.pattern), FileMask, entry);
    if (c.found) {
      ASSERT_EQ(SearchStatus(), 0);
      ContinueSearch(entry);
    }
    EXPECT_EQ(SearchStatus(), c.status);
    EXPECT_EQ(entry.osHandle != os::InvalidHandle, c.held);
    EXPECT_EQ(counting.searchEnds, c.endsBefore);
    for (int twice = 0; twice < 2; ++twice) {
      EndSearch(entry);
      EXPECT_EQ(SearchStatus(), 0);
    }
    EXPECT_EQ(counting.searchEnds, c.endsAfter);
  }
}

// What a 32-bit build without 64-bit offsets and times gets wrong at once: a
// listing (readdir's EOVERFLOW), a size past 4 GiB, a date after 2038.
TEST_F(SearchTest, FileOfFiveGigabytesDatedAfter2038IsListedStampedAndReadToItsEnd) {
  IoStatus() = 0;
  const uint64_t size = 5000000000;
  BlockFile file;
  BindName(file, dir.Path("big.bin"));
  CreateEmpty(file, 1);
  SeekRecord(file, size - 3);
  WriteRecords(file, "end", 3);  // sparse up to here
  CloseBlockFile(file);
  if (int32_t status = TakeIoStatus())
    GTEST_SKIP() << "the file system refuses a sparse file of 5,000,000,000 bytes: status " << status;
  // 15 June 2040, 12:00 UTC: the same date in every time zone's local time.
  const time_t june2040 = 2223374400;
#ifdef _WIN32
  struct __utimbuf64 times = {june2040, june2040};
  ASSERT_EQ(_utime64(dir.Path("big.bin").c_str(), &times), 0) << std::strerror(errno);
  struct __stat64 st;
  // 32-bit Wine keeps the host's file times in 32 bits.
  const bool dated = _stat64(dir.Path("big.bin").c_str(), &st) == 0 && st.st_mtime == june2040;
#else
  const struct timespec times[2] = {{june2040, 0}, {june2040, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, dir.Path("big.bin").c_str(), times, 0), 0) << std::strerror(errno);
  const bool dated = true;
#endif
  dir.Write("now.bin", "n");

  SearchEntry entry;
  StartSearch(dir.Path("b*.bin"), FileMask, entry);
  ASSERT_EQ(SearchStatus(), 0);
  EXPECT_EQ(entry.name, "big.bin");
  EXPECT_EQ(uint64_t(entry.size), size);
  if (dated) {
    EXPECT_EQ(entry.writeTime >> 16, uint32_t((2040 - 1980) << 9 | 6 << 5 | 15));
  }
  EXPECT_EQ(PercentOf(uint64_t(entry.size) - 1, uint64_t(entry.size)), 99);
  ContinueSearch(entry);
  EXPECT_EQ(SearchStatus(), 18);
  EndSearch(entry);

  os::FileStamp now, big;
  BindName(file, dir.Path("now.bin"));
  OpenExisting(file, 1);
  StampOf(file, now);
  CloseBlockFile(file);
  BindName(file, dir.Path("big.bin"));
  OpenExisting(file, 1);
  StampOf(file, big);
  ASSERT_EQ(IoStatus(), 0);
  EXPECT_EQ(big.size, size);
  if (dated) {
    EXPECT_GT(big.writeTime, now.writeTime);
  }
  SeekRecord(file, size - 3);
  EXPECT_FALSE(AtEnd(file));
  char tail[3] = {};
  ReadRecords(file, tail, 3);
  EXPECT_EQ(std::string(tail, 3), "end");
  EXPECT_TRUE(AtEnd(file));
  CloseBlockFile(file);
  EXPECT_EQ(IoStatus(), 0);
  if (!dated) GTEST_SKIP() << "all but the date checked: this Wine cannot give a file a date after 2038";
}

TEST_F(SearchTest, ThousandsOfEntriesAreAllListed) {
  for (int i = 0; i < 2000; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "f%d", i);
    dir.Write(name, "");
  }
  Listing files = List(dir.Path("*"), FileMask);
  EXPECT_EQ(files.names.size(), 2000u);
  EXPECT_EQ(files.endStatus, 18);
}

}  // namespace
