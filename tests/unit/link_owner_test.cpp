// Whose link a Windows run reads through: the user's own, the Administrators
// group's and SYSTEM's, no one else's. Wine shows no file links at all, so
// this table is what tells a wrong rule there.
#include "test_support.h"

#ifdef _WIN32
#include "platform/win32/internal.h"  // windows.h, which sddl.h needs first

#include <sddl.h>
#endif

namespace {

TEST(LinkOwnerTest, OnlyTheUserAdministratorsAndSystemAreTrusted) {
#ifndef _WIN32
  GTEST_SKIP() << "the owner rule of Windows links; the Linux rule is tested with the POSIX paths";
#else
  struct Row {
    const char* owner;
    bool trusted;
  };
  const char* user = "S-1-5-21-1-2-3-1001";
  const Row rows[] = {
      {user, true},
      {"S-1-5-32-544", true},         // Administrators
      {"S-1-5-18", true},             // SYSTEM
      {"S-1-1-0", false},             // Everyone
      {"S-1-5-11", false},            // Authenticated Users
      {"S-1-5-32-545", false},        // Users
      {"S-1-5-21-1-2-3-1002", false}, // another user of the same machine
  };
  auto sid = [](const char* text) {
    PSID made = nullptr;
    EXPECT_TRUE(ConvertStringSidToSidA(text, &made)) << text;
    return made;
  };
  PSID self = sid(user);
  for (const Row& row : rows) {
    PSID owner = sid(row.owner);
    EXPECT_EQ(os::TrustedOwner(owner, self), row.trusted) << row.owner;
    // A process whose user cannot be told trusts only the two groups.
    EXPECT_EQ(os::TrustedOwner(owner, nullptr), row.trusted && row.owner != user) << row.owner;
    LocalFree(owner);
  }
  EXPECT_FALSE(os::TrustedOwner(nullptr, self));
  LocalFree(self);
#endif
}

}  // namespace
