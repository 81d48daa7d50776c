// Paths walked on Linux: a symbolic link is followed only when root or the
// user who runs the program owns it, wherever it stands on the way.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/posix/internal.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

constexpr uid_t OtherUser = 4242;  // a spare uid: lchown needs no passwd entry

TEST(PathsTest, OnlyRootsOrTheUsersOwnLinksAreFollowed) {
  struct Case {
    const char* owner;
    uid_t uid;
    bool followed;
  } cases[] = {
      {"root", 0, true},
      {"the user who runs the program", geteuid(), true},
      {"another user", OtherUser, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.owner);
    if (c.uid != geteuid() && geteuid() != 0) {
      std::cout << "[  SKIPPED ] a link of " << c.owner << ": only root can give a link to another user\n";
      continue;
    }
    TempDir dir;
    fs::create_directories(dir.Path("real/sub"));
    dir.Write("real/sub/file", "x");
    for (const char* link : {"folder", "file"}) {
      fs::create_symlink(dir.Path(std::string(link) == "folder" ? "real" : "real/sub/file"), dir.Path(link));
      ASSERT_EQ(lchown(dir.Path(link).c_str(), c.uid, c.uid), 0);
    }
    os::Platform& sys = os::Native();
    os::Handle h = os::InvalidHandle;
    os::Status opened = sys.OpenFolder(os::CurrentFolder, dir.Path("folder"), h);
    EXPECT_EQ(opened, c.followed ? 0 : os::ErrorPathNotFound);
    if (opened == 0) sys.CloseFile(h);
    // A link on the way to a file, and a file that is a link.
    opened = sys.OpenFile(os::CurrentFolder, dir.Path("folder/sub/file"), os::AccessRead, 0, h, nullptr);
    EXPECT_EQ(opened, c.followed ? 0 : os::ErrorPathNotFound);
    if (opened == 0) sys.CloseFile(h);
    opened = sys.OpenFile(os::CurrentFolder, dir.Path("file"), os::AccessRead, 0, h, nullptr);
    EXPECT_EQ(opened, c.followed ? 0 : os::ErrorAccessDenied);
    if (opened == 0) sys.CloseFile(h);
    // Listed all the same: a link not followed is an entry of its own.
    os::FindData found;
    EXPECT_EQ(sys.LookUp(os::CurrentFolder, dir.Path("file"), found), 0);
    EXPECT_EQ(found.size, c.followed ? 1u : uint64_t(dir.Path("real/sub/file").size()));
  }
}

}  // namespace
