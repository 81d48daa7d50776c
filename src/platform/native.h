// The real platform, declared once for both bodies: posix/ and win32/ each
// define every method, one file per concern. Tests derive from it and
// override the calls they count or fail.
#pragma once

#include "platform/platform.h"

namespace os {

class NativePlatform : public Platform {
 public:
  void Start(int argc, char** argv) override;
  const Conventions& Rules() override;
  std::vector<std::string> Arguments() override;
  int32_t InexactArgument() override;
  Status ModuleFileName(std::string& path) override;
  bool MarkedAsConsoleProgram() override;
  std::size_t CharLength(std::string_view text) override;

  Handle StdHandle(StdStream which) override;
  DeviceClass HandleDeviceClass(Handle h) override;
  bool IsTerminal(Handle h) override;

  LocalDate Today() override;
  uint64_t MonotonicMilliseconds() override;
  void AnsiToOem(char* bytes, std::size_t count) override;
  std::size_t LoadText(uint32_t id, char* buffer, std::size_t size) override;

  void InstallFaultHandler(FaultHandler handler) override;
  bool LocateCode(uintptr_t address, char* moduleName, std::size_t size, uintptr_t& offset) override;
  void ShowMessage(const char* text, const char* caption, uint32_t style) override;
  [[noreturn]] void ExitProcess(int32_t code) override;

  Status OpenFile(Handle folder, const std::string& name, uint32_t access, uint32_t share, Handle& out,
                  FileStamp* openedAs) override;
  Status CreateFile(Handle folder, const std::string& name, uint32_t access, uint32_t share, Handle& out) override;
  Status CreateNewFile(Handle folder, const std::string& name, uint32_t access, uint32_t share, Handle& out) override;
  Status SetPosition(Handle h, int64_t distance, MoveMethod method, uint64_t& position) override;
  Status ReadFile(Handle h, void* buffer, uint32_t count, uint32_t& done) override;
  Status WriteFile(Handle h, const void* buffer, uint32_t count, uint32_t& done) override;
  Status FlushFile(Handle h) override;
  Status CopyAccessRights(Handle from, Handle to, bool& holes) override;
  Status SetFileSize(Handle h, uint64_t size) override;
  Status CloseFile(Handle h) override;
  Status StampOf(Handle h, FileStamp& stamp) override;
  Status DeleteFile(Handle folder, const std::string& name) override;
  Status HoldForDeletion(Handle& h, bool& held) override;
  Status DeleteIfUnchanged(const Original& original, std::string& keptAs, Status& closed) override;
  Status RenameFile(Handle folder, const std::string& from, const std::string& to) override;
  Status OpenFolder(Handle parent, const std::string& name, Handle& out) override;
  Status CreateFolder(Handle parent, const std::string& name, Handle& out) override;
  Status FlushFolder(Handle folder) override;
  Status TypedName(const std::string& path, std::string& name) override;

  Status StartSearch(Handle folder, const std::string& pattern, Handle& search, FindData& found) override;
  Status ContinueSearch(Handle search, FindData& found) override;
  Status EndSearch(Handle search) override;
  Status LookUp(Handle folder, const std::string& name, FindData& found) override;
};

}  // namespace os
