// The decisions behind the checks of where the elevated install run writes:
// a handle's final path against the path asked for, the owners accepted for
// an existing folder, and what lies below a program-files folder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "install/target_checks.h"

namespace {

TEST(TargetChecks, FinalPathEqualsTheAskedPathOnlyWithoutALinkOnTheWay) {
  struct Case {
    const char16_t* Asked;
    const char16_t* Final;
    bool Same;
  } cases[] = {
      {u"C:\\ProgramData\\Vendor\\App\\", u"\\\\?\\C:\\ProgramData\\Vendor\\App", true},
      {u"C:\\ProgramData\\Vendor\\App", u"\\\\?\\C:\\ProgramData\\Vendor\\App", true},
      {u"c:\\programdata\\vendor\\app", u"\\\\?\\C:\\ProgramData\\Vendor\\App", true},  // ASCII case
      {u"C:\\ProgramData\\Vendor\\App", u"C:\\ProgramData\\Vendor\\App", true},           // no prefix
      {u"\\\\server\\share\\App", u"\\\\?\\UNC\\server\\share\\App", true},
      {u"C:\\", u"\\\\?\\C:\\", true},
      // The planted link: the handle ends up in system32.
      {u"C:\\ProgramData\\Vendor\\App\\", u"\\\\?\\C:\\windows\\system32", false},
      // A link higher up: same last name, another place.
      {u"C:\\ProgramData\\Vendor\\App", u"\\\\?\\C:\\Users\\Bob\\App", false},
      {u"C:\\ProgramData\\Vendor\\App", u"\\\\?\\C:\\ProgramData\\Vendor\\App\\Sub", false},
      {u"C:\\ProgramData\\Vendor\\App\\Sub", u"\\\\?\\C:\\ProgramData\\Vendor\\App", false},
      {u"C:\\App", u"\\\\?\\D:\\App", false},
      {u"C:\\share\\App", u"\\\\?\\UNC\\server\\share\\App", false},
      {u"\\\\server\\share\\App", u"\\\\?\\UNC\\other\\share\\App", false},
      // Only ASCII letters are folded: another case of a non-ASCII letter is
      // refused rather than taken for the same name.
      {u"C:\\\u00e4pp", u"\\\\?\\C:\\\u00c4pp", false},
      {u"C:\\\u00e4pp", u"\\\\?\\C:\\\u00e4pp", true},
  };
  for (const Case& c : cases) {
    std::u16string asked(c.Asked), final(c.Final);
    EXPECT_EQ(IsSameFinalPath(c.Asked, c.Final), c.Same)
        << std::string(asked.begin(), asked.end()) << " / " << std::string(final.begin(), final.end());
  }
}

std::vector<uint8_t> Sid(std::vector<uint32_t> parts) {  // 5, then the sub-authorities
  std::vector<uint8_t> sid = {1, static_cast<uint8_t>(parts.size()), 0, 0, 0, 0, 0, 5};
  for (uint32_t p : parts)
    for (int i = 0; i < 4; ++i) sid.push_back(static_cast<uint8_t>(p >> (8 * i)));
  return sid;
}

TEST(TargetChecks, OwnersAccepted) {
  std::vector<uint8_t> runner = Sid({21, 100, 200, 300, 1000});
  struct Case {
    const char* What;
    std::vector<uint8_t> Owner;
    bool Accepted;
  } cases[] = {
      {"SYSTEM", Sid({18}), true},
      {"Administrators", Sid({32, 544}), true},
      {"TrustedInstaller", Sid({80, 956008885, 3418522649, 1831038044, 1853292631, 2271478464}), true},
      {"the account running the setup", runner, true},
      {"Users", Sid({32, 545}), false},
      {"another account of the domain", Sid({21, 100, 200, 300, 1001}), false},
      {"Authenticated Users", Sid({11}), false},
      {"Everyone (S-1-1-0)", {1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0}, false},
      {"CREATOR OWNER (S-1-3-0)", {1, 1, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0}, false},
      {"a TrustedInstaller prefix only", Sid({80, 956008885}), false},
      {"Administrators with a sub-authority too many", Sid({32, 544, 1}), false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(IsAcceptedOwner(c.Owner.data(), c.Owner.size(), runner.data(), runner.size()), c.Accepted) << c.What;

  // Without a token user only the system's own accounts pass; a SID longer
  // than its buffer says is never read past the buffer.
  EXPECT_FALSE(IsAcceptedOwner(runner.data(), runner.size(), nullptr, 0));
  std::vector<uint8_t> admins = Sid({32, 544});
  EXPECT_TRUE(IsAcceptedOwner(admins.data(), admins.size(), nullptr, 0));
  EXPECT_FALSE(IsAcceptedOwner(admins.data(), admins.size() - 1, nullptr, 0));
  EXPECT_FALSE(IsAcceptedOwner(runner.data(), runner.size(), runner.data(), runner.size() - 4));
}

TEST(TargetChecks, BelowFolder) {
  struct Case {
    const char16_t* Path;
    const char16_t* Folder;
    bool Below;
  } cases[] = {
      {u"C:\\Program Files\\App", u"C:\\Program Files", true},
      {u"c:\\program files\\App\\Sub", u"C:\\Program Files\\", true},
      {u"C:\\Program Files (x86)\\App", u"C:\\Program Files (x86)", true},
      {u"C:\\Program Files (x86)\\App", u"C:\\Program Files", false},  // a longer name, not a level
      {u"C:\\Program Files", u"C:\\Program Files", false},
      {u"C:\\Program Files\\", u"C:\\Program Files", false},
      {u"C:\\ProgramData\\App", u"C:\\Program Files", false},
      {u"C:\\App", u"C:\\", true},
      {u"C:\\App", u"", false},
  };
  for (const Case& c : cases) {
    std::u16string path(c.Path);
    EXPECT_EQ(IsBelowFolder(c.Path, c.Folder), c.Below) << std::string(path.begin(), path.end());
  }
}

}  // namespace
