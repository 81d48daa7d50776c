// Deleting an original on Linux while other processes hold it open, open it,
// or put another file in its place: the read lease that tells a writer, the
// name moved aside and checked before it goes, and the behaviour where no
// lease can be had.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <vector>

#include "platform/posix/internal.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

// Opens an original as the copy does, holds it for its deletion, and deletes
// it; `copy` is what the copy read. The seam's lease call acts in between.
os::Status HoldAndDelete(const TempDir& dir, const std::string& name, const std::string& copy, std::string& keptAs) {
  dir.Write("copy", copy);
  os::Original original{os::CurrentFolder, dir.Path(name), os::InvalidHandle, {}, os::CurrentFolder, dir.Path("copy")};
  os::Platform& sys = os::Native();
  EXPECT_EQ(sys.OpenFile(os::CurrentFolder, original.name, os::AccessRead | os::AccessWrite,
                         os::ShareRead | os::ShareWrite, original.held, &original.opened), 0);
  bool held = false;
  EXPECT_EQ(sys.HoldForDeletion(original.held, held), 0);
  EXPECT_TRUE(held);
  os::Status closed = -1;
  os::Status status = sys.DeleteIfUnchanged(original, keptAs, closed);
  EXPECT_EQ(closed, 0);
  return status;
}

// Puts a lease call of the test's in place, and the real one back afterwards.
class LeaseSeam {
 public:
  explicit LeaseSeam(int (*call)(int, int, int)) : saved_(os::leaseControl) { os::leaseControl = call; }
  ~LeaseSeam() { os::leaseControl = saved_; }

 private:
  int (*saved_)(int, int, int);
};

// The process-wide settings of the program's start, SIGIO ignored among them.
class DeletionEnvironment : public testing::Environment {
  void SetUp() override { os::Native().Start(0, nullptr); }
};
const auto* environment = testing::AddGlobalTestEnvironment(new DeletionEnvironment);

int refusal = 0;  // the errno that a lease is refused with; 0 asks the kernel

int RefusingLease(int fd, int command, int argument) {
  if (command == F_SETLEASE && argument == F_RDLCK && refusal != 0) return errno = refusal, -1;
  return fcntl(fd, command, argument);
}

TEST(LeaseTest, AnOriginalOpenForWritingIsKeptWhereALeaseCanTellIt) {
  struct Case {
    int refusal;
    bool writer;
    os::Status status;
  } cases[] = {
      {0, true, os::ErrorSharingViolation},
      {0, false, 0},
      // No lease to be had: a writer that held the file before the run and
      // has written nothing yet cannot be told.
      {EACCES, true, 0},
      {EINVAL, true, 0},
      {ENOLCK, true, 0},
      {EOPNOTSUPP, true, 0},
      {ENOMEM, true, os::ErrorNotEnoughMemory},
  };
  LeaseSeam seam(RefusingLease);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "refused with " << c.refusal << ", writer " << c.writer);
    TempDir dir;
    dir.Write("app.log", "line 1\n");
    dir.Write("app.log.deleting", "a file of that name");
    std::string path = dir.Path("app.log");
    int writer = c.writer ? open(path.c_str(), O_WRONLY | O_APPEND) : -1;
    refusal = c.refusal;
    std::string keptAs;
    EXPECT_EQ(HoldAndDelete(dir, "app.log", "line 1\n", keptAs), c.status);
    bool kept = c.status != 0;
    EXPECT_EQ(fs::exists(path), kept);
    if (writer >= 0) {
      EXPECT_EQ(write(writer, "line 2\n", 7), 7);
      close(writer);
    }
    if (kept) {
      EXPECT_EQ(dir.Read("app.log"), c.writer ? "line 1\nline 2\n" : "line 1\n");
    }
    EXPECT_EQ(dir.Read("app.log.deleting"), "a file of that name");
    EXPECT_FALSE(fs::exists(dir.Path("app.log.deleting2")));
  }
  refusal = 0;
}

std::string arriving;  // the file a second process opens while the lease is held
pid_t arrivingWriter = -1;
bool waitSeen = false;

// Once the lease is granted, starts a process that opens the file for writing
// and appends a line, and goes on only when that open waits on the lease.
int LeaseWithArrivingWriter(int fd, int command, int argument) {
  int result = fcntl(fd, command, argument);
  if (command != F_SETLEASE || argument != F_RDLCK || result != 0) return result;
  arrivingWriter = fork();
  if (arrivingWriter == 0) {
    int w = open(arriving.c_str(), O_WRONLY | O_APPEND);
    _exit(w >= 0 && write(w, "line 2\n", 7) == 7 && close(w) == 0 ? 0 : 1);
  }
  for (int i = 0; i < 10000 && !waitSeen; ++i) {
    waitSeen = fcntl(fd, F_GETLEASE) != F_RDLCK;
    if (!waitSeen) usleep(1000);
  }
  return result;
}

TEST(LeaseTest, AWriterThatOpensWhileTheOriginalIsHeldWritesToANamedFile) {
  TempDir dir;
  dir.Write("app.log", "line 1\n");
  arriving = dir.Path("app.log");
  arrivingWriter = -1;
  waitSeen = false;
  os::Status status;
  {
    LeaseSeam seam(LeaseWithArrivingWriter);
    std::string keptAs;
    status = HoldAndDelete(dir, "app.log", "line 1\n", keptAs);
  }
  int exit = -1;
  ASSERT_EQ(waitpid(arrivingWriter, &exit, 0), arrivingWriter);
  EXPECT_TRUE(waitSeen);
  EXPECT_EQ(exit, 0);
  EXPECT_EQ(status, os::ErrorChangedMeanwhile);
  EXPECT_EQ(dir.Read("app.log"), "line 1\nline 2\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 2);  // and the copy
}

// What another program does while the original is held: after the copy's
// open (at the lease's request) or with the name aside (at the look at the
// lease), and what the lease call then answers. The act runs in a process of
// its own, as a writer would: its open waits on our lease.
struct Meddling {
  int command;                   // F_SETLEASE or F_GETLEASE
  int refusal;                   // the errno of a refused lease, or 0
  void (*act)(const TempDir&);
};
const TempDir* meddled = nullptr;
const Meddling* meddling = nullptr;
struct timespec stamped[2];  // the original's times as it was opened: a clock that stands still

void ActElsewhere(const TempDir& dir) {
  pid_t child = fork();
  if (child == 0) {
    meddling->act(dir);
    _exit(0);
  }
  int ignored;
  waitpid(child, &ignored, 0);
}

int MeddlingLease(int fd, int command, int argument) {
  if (meddling && command == meddling->command && (command == F_GETLEASE || argument == F_RDLCK)) {
    struct stat st;
    fstat(fd, &st);
    stamped[0] = st.st_atim;
    stamped[1] = st.st_mtim;
    if (meddling->refusal) {
      ActElsewhere(*meddled);
      return errno = meddling->refusal, -1;
    }
    int result = fcntl(fd, command, argument);
    ActElsewhere(*meddled);
    return command == F_GETLEASE ? F_UNLCK : result;  // a writer waits
  }
  return fcntl(fd, command, argument);
}

void SaveOverTheName(const TempDir& dir) {
  dir.Write("doc.new", "saved by an editor");
  fs::rename(dir.Path("doc.new"), dir.Path("doc.txt"));
}
void AppendALine(const TempDir& dir) {
  std::ofstream(dir.Path("doc.txt"), std::ios::app) << "line 2\n";
}
void TakeTheName(const TempDir& dir) { dir.Write("doc.txt", "a new log"); }
// Same size, same time: a clock that counts coarsely shows no change.
void WriteInPlace(const TempDir& dir) {
  int fd = open(dir.Path("doc.txt").c_str(), O_WRONLY);
  if (pwrite(fd, "LINE", 4, 0) != 4 || futimens(fd, stamped) != 0) _exit(1);
  close(fd);
}
void DeleteThenCreate(const TempDir& dir) {
  fs::remove(dir.Path("doc.txt"));
  int fd = open(dir.Path("doc.txt").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (write(fd, "other!\n", 7) != 7 || futimens(fd, stamped) != 0) _exit(1);
  close(fd);
}

TEST(DeleteTest, OnlyTheFileThatWasCopiedAsItWasIsDeletedAndEveryFileKeepsAName) {
  struct Case {
    const char* what;
    int command;
    void (*act)(const TempDir&);
    std::string left;   // doc.txt afterwards
    std::string aside;  // what the report names, and what lies there
  } cases[] = {
      {"a file saved over the name", F_SETLEASE, SaveOverTheName, "saved by an editor", ""},
      {"a line appended after the copy's open", F_SETLEASE, AppendALine, "line 1\nline 2\n", ""},
      {"a same-size write in place, the clock still", F_SETLEASE, WriteInPlace, "LINE 1\n", ""},
      {"deleted and created anew at the same time", F_SETLEASE, DeleteThenCreate, "other!\n", ""},
      {"the name taken while the original is aside", F_GETLEASE, TakeTheName, "a new log", "doc.txt.deleting"},
  };
  LeaseSeam seam(MeddlingLease);
  for (const Case& c : cases) {
    // With a lease, and without one to be had.
    for (int refusal : c.command == F_SETLEASE ? std::vector<int>{0, EINVAL, EACCES} : std::vector<int>{0}) {
      SCOPED_TRACE(testing::Message() << c.what << ", lease refused with " << refusal);
      TempDir dir;
      dir.Write("doc.txt", "line 1\n");
      struct stat before;
      ASSERT_EQ(stat(dir.Path("doc.txt").c_str(), &before), 0);
      const Meddling m{c.command, refusal, c.act};
      meddled = &dir;
      meddling = &m;
      std::string keptAs;
      EXPECT_EQ(HoldAndDelete(dir, "doc.txt", "line 1\n", keptAs), os::ErrorChangedMeanwhile);
      meddling = nullptr;
      EXPECT_EQ(dir.Read("doc.txt"), c.left);
      EXPECT_EQ(keptAs, c.aside.empty() ? "" : dir.Path(c.aside));
      if (!c.aside.empty()) {
        EXPECT_EQ(dir.Read(c.aside), "line 1\n");
      } else {
        EXPECT_FALSE(fs::exists(dir.Path("doc.txt.deleting")));
      }
      // A file kept is the file itself, never a copy written back in its place.
      struct stat after;
      if (c.left.starts_with("line 1") && stat(dir.Path("doc.txt").c_str(), &after) == 0) {
        EXPECT_EQ(after.st_ino, before.st_ino);
      }
    }
  }
}

}  // namespace
