// Shared by the unit tests: a fresh temporary directory, and a platform that
// counts calls and fails them on demand.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "platform/native.h"

// The tests run on our POSIX layer rather than on Windows.
// The real platform's conventions, whatever platform a test puts in front of it.
inline const os::Conventions& Rules = os::Native().Rules();
inline const bool Posix = Rules.pathDelimiter == '/';
inline const std::string LineEnd = Rules.lineEnd;

class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() / ("stowit-test-" + std::to_string(rd()) + std::to_string(rd()));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  // A path below the directory, in the platform's own form.
  std::string Path(const std::string& name = "") const {
    std::string base = path_.string();
    return name.empty() ? base : base + Rules.pathDelimiter + name;
  }
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream out(Path(name), std::ios::binary);
    out << bytes;
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  std::filesystem::path path_;
};

// Counts the calls that tests look at, records write sizes, and makes the
// n-th call of a kind fail with a given status.
class CountingPlatform : public os::NativePlatform {
 public:
  CountingPlatform() { os::SetPlatform(this); }
  ~CountingPlatform() override { os::SetPlatform(nullptr); }

  struct Fault {
    int remaining = 0;  // fail the call when this many calls of the kind have gone by
    os::Status status = 0;
    bool Hit() { return status != 0 && remaining-- == 0; }
  };

  os::Status ReadFile(os::Handle h, void* b, uint32_t c, uint32_t& done) override {
    ++reads;
    if (readFault.Hit()) return done = 0, readFault.status;
    return NativePlatform::ReadFile(h, b, c, done);
  }
  os::Status WriteFile(os::Handle h, const void* b, uint32_t c, uint32_t& done) override {
    ++writes;
    writeSizes.push_back(c);
    if (writeFault.Hit()) return done = 0, writeFault.status;
    if (shortWrites && c > 0) return NativePlatform::WriteFile(h, b, c - 1, done);
    return NativePlatform::WriteFile(h, b, c, done);
  }
  os::Status SetPosition(os::Handle h, int64_t d, os::MoveMethod m, uint64_t& p) override {
    ++positions;
    if (positionFault.Hit()) return positionFault.status;
    return NativePlatform::SetPosition(h, d, m, p);
  }
  os::Status CreateFile(os::Handle d, const std::string& n, uint32_t a, uint32_t s, os::Handle& out) override {
    ++creates;
    if (createFault.Hit()) return createFault.status;
    return NativePlatform::CreateFile(d, n, a, s, out);
  }
  os::Status CreateNewFile(os::Handle d, const std::string& n, uint32_t a, uint32_t s, os::Handle& out) override {
    ++creates;
    if (createFault.Hit()) return createFault.status;
    return NativePlatform::CreateNewFile(d, n, a, s, out);
  }
  os::Status OpenFile(os::Handle d, const std::string& n, uint32_t a, uint32_t s, os::Handle& out,
                      os::FileStamp* o) override {
    ++opens;
    if (openFault.Hit()) return openFault.status;
    return NativePlatform::OpenFile(d, n, a, s, out, o);
  }
  os::Status CloseFile(os::Handle h) override {
    ++closes;
    os::Status st = NativePlatform::CloseFile(h);
    return closeFault.Hit() ? closeFault.status : st;
  }
  os::Status FlushFile(os::Handle h) override {
    ++flushes;
    if (flushFault.Hit()) return flushFault.status;
    return NativePlatform::FlushFile(h);
  }
  os::Status FlushFolder(os::Handle d) override {
    ++folderFlushes;
    if (folderFlushFault.Hit()) return folderFlushFault.status;
    return NativePlatform::FlushFolder(d);
  }
  os::Status DeleteFile(os::Handle d, const std::string& n) override {
    ++removes;
    return NativePlatform::DeleteFile(d, n);
  }
  os::Status DeleteIfUnchanged(const os::Original& o, std::string& k, os::Status& closed) override {
    ++deletes;
    if (deleteFault.Hit()) return closed = NativePlatform::CloseFile(o.held), deleteFault.status;
    return NativePlatform::DeleteIfUnchanged(o, k, closed);
  }
  os::Status RenameFile(os::Handle d, const std::string& from, const std::string& to) override {
    if (renameFault.Hit()) return renameFault.status;
    return NativePlatform::RenameFile(d, from, to);
  }
  os::Status EndSearch(os::Handle s) override {
    ++searchEnds;
    return NativePlatform::EndSearch(s);
  }
  os::LocalDate Today() override { return today.year ? today : NativePlatform::Today(); }
  // A test's process must not end: ExitProcess comes back as this exception.
  struct Ended {
    int32_t code;
  };
  [[noreturn]] void ExitProcess(int32_t code) override { throw Ended{code}; }

  int reads = 0, writes = 0, positions = 0, creates = 0, opens = 0, closes = 0, flushes = 0, folderFlushes = 0,
      deletes = 0, removes = 0, searchEnds = 0;  // deletes: of originals; removes: by name
  std::vector<uint32_t> writeSizes;
  bool shortWrites = false;
  Fault readFault, writeFault, positionFault, createFault, openFault, closeFault, flushFault, folderFlushFault,
      deleteFault, renameFault;
  os::LocalDate today;
};

// Hands out given arguments and program path.
class ScriptedArguments : public CountingPlatform {
 public:
  std::vector<std::string> Arguments() override { return arguments; }
  int32_t InexactArgument() override { return inexact; }
  os::Status ModuleFileName(std::string& out) override {
    out = path;
    return pathStatus;
  }
  std::vector<std::string> arguments;
  int32_t inexact = 0;
  std::string path;
  os::Status pathStatus = 0;
};

// A file the platform counts as hidden: a name starting with "." on POSIX, the
// hidden attribute on Windows. Returns the name it was given.
inline std::string MakeHiddenFile(const TempDir& dir, const std::string& name, const std::string& bytes = "") {
  bool windows = Rules.pathDelimiter == '\\';
  std::string used = windows ? name : "." + name;
  dir.Write(used, bytes);
  if (windows && std::system(("attrib +h \"" + dir.Path(used) + "\" >nul").c_str()) != 0)
    ADD_FAILURE() << "attrib +h failed on " << used;
  return used;
}

// Read-only as each platform knows it: no write bits on POSIX, the read-only
// attribute on Windows.
inline void SetReadOnly(const std::string& path, bool readOnly) {
  namespace fs = std::filesystem;
  fs::perms write = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  fs::permissions(path, readOnly ? write : fs::perms::owner_write,
                  readOnly ? fs::perm_options::remove : fs::perm_options::add);
}

// Windows refuses to open a read-only file for writing; Wine run by root does
// not, so tests of that refusal skip there. The POSIX layer refuses for root too.
inline bool ReadOnlyIgnoredHere(const std::string& readOnlyPath) {
  if (Rules.pathDelimiter == '/') return false;
  os::Handle h;
  if (os::Native().OpenFile(os::CurrentFolder, readOnlyPath, os::AccessWrite, 0, h, nullptr) != 0) return false;
  os::Native().CloseFile(h);
  return true;
}
