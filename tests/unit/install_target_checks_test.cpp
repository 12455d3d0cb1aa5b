// The decisions behind the checks of where the elevated install run writes:
// a handle's final path against the path asked for, the owners accepted for
// an existing folder, and what lies below a program-files folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
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

// The binary SID of an SDDL alias or an "S-1-..." string.
std::vector<uint8_t> SddlSid(const std::string& text) {
  static const std::map<std::string, std::string> kAliases = {
      {"SY", "S-1-5-18"},     {"BA", "S-1-5-32-544"}, {"BU", "S-1-5-32-545"},
      {"AU", "S-1-5-11"},     {"WD", "S-1-1-0"},      {"CO", "S-1-3-0"},
      {"TI", "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"}};
  auto alias = kAliases.find(text);
  std::string s = alias == kAliases.end() ? text : alias->second;
  std::vector<uint32_t> parts;
  for (size_t at = 4; at < s.size();) {  // past "S-1-"
    size_t end = s.find('-', at);
    parts.push_back(static_cast<uint32_t>(std::stoul(s.substr(at, end - at))));
    at = end == std::string::npos ? s.size() : end + 1;
  }
  std::vector<uint8_t> sid = {1, static_cast<uint8_t>(parts.size() - 1), 0, 0, 0, 0, 0, static_cast<uint8_t>(parts[0])};
  for (size_t i = 1; i < parts.size(); ++i)
    for (int b = 0; b < 4; ++b) sid.push_back(static_cast<uint8_t>(parts[i] >> (8 * b)));
  return sid;
}

// Owner and DACL of an SDDL string of the form "O:owner D:flags(ace)..."
// (ace: A or D; OI, CI, IO, ID; rights as hex or two-letter codes; sid), as
// Windows would hand them to the install run. "D:NO_ACCESS_CONTROL": no DACL.
struct Descriptor {
  std::vector<uint8_t> Owner, Dacl;
  bool HasDacl = true;
  FolderRules Rules() const {
    return {Owner.data(), static_cast<uint32_t>(Owner.size()), HasDacl ? Dacl.data() : nullptr,
            static_cast<uint32_t>(Dacl.size())};
  }
};

Descriptor ParseSddl(const std::string& sddl) {
  static const std::map<std::string, uint32_t> kRights = {
      {"FA", 0x1F01FF}, {"FR", 0x120089},   {"FW", 0x120116},     {"FX", 0x1200A0},
      {"GA", 0x10000000}, {"GW", 0x40000000}, {"GR", 0x80000000}, {"WD", 0x40000},
      {"WO", 0x80000},  {"SD", 0x10000},    {"RC", 0x20000}};
  static const std::map<std::string, uint8_t> kFlags = {{"OI", 1}, {"CI", 2}, {"IO", 8}, {"ID", 0x10}};
  Descriptor d;
  size_t dacl = sddl.find("D:");
  d.Owner = SddlSid(sddl.substr(2, dacl - 2));
  if (sddl.compare(dacl, std::string::npos, "D:NO_ACCESS_CONTROL") == 0) {
    d.HasDacl = false;
    return d;
  }
  std::vector<uint8_t> aces;
  uint16_t count = 0;
  for (size_t open = sddl.find('(', dacl); open != std::string::npos; open = sddl.find('(', open + 1), ++count) {
    std::vector<std::string> f;
    std::string body = sddl.substr(open + 1, sddl.find(')', open) - open - 1);
    for (size_t at = 0;;) {
      size_t semi = body.find(';', at);
      f.push_back(body.substr(at, semi - at));
      if (semi == std::string::npos) break;
      at = semi + 1;
    }
    uint8_t flags = 0;
    for (size_t i = 0; i + 1 < f[1].size(); i += 2) flags |= kFlags.at(f[1].substr(i, 2));
    uint32_t mask = 0;
    if (f[2].rfind("0x", 0) == 0) mask = static_cast<uint32_t>(std::strtoul(f[2].c_str(), nullptr, 16));
    else
      for (size_t i = 0; i + 1 < f[2].size(); i += 2) mask |= kRights.at(f[2].substr(i, 2));
    std::vector<uint8_t> sid = SddlSid(f[5]);
    uint16_t size = static_cast<uint16_t>(8 + sid.size());
    std::vector<uint8_t> ace = {static_cast<uint8_t>(f[0] == "A" ? 0 : 1), flags, static_cast<uint8_t>(size),
                                static_cast<uint8_t>(size >> 8)};
    for (int b = 0; b < 4; ++b) ace.push_back(static_cast<uint8_t>(mask >> (8 * b)));
    ace.insert(ace.end(), sid.begin(), sid.end());
    aces.insert(aces.end(), ace.begin(), ace.end());
  }
  uint16_t size = static_cast<uint16_t>(8 + aces.size());
  d.Dacl = {2, 0, static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(count), 0, 0, 0};
  d.Dacl.insert(d.Dacl.end(), aces.begin(), aces.end());
  return d;
}

TEST(TargetChecks, FolderAccessRules) {
  const std::string runner = "S-1-5-21-1-2-3-1000";
  const std::string inheritedFromProgramFiles =
      "(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIIOID;GA;;;CO)(A;OICIID;0x1200a9;;;BU)(A;CIID;FA;;;TI)";
  struct Case {
    const char* What;
    std::string Sddl;
    FolderAccess Fresh, Upgrade;  // a foreign owner: refused, or taken back
  } cases[] = {
      {"below Program Files", "O:TID:AI" + inheritedFromProgramFiles, ACCESS_KEEP, ACCESS_KEEP},
      {"Authenticated Users' Modify, inherited from C:\\",
       "O:BAD:AI(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIID;0x1301bf;;;AU)(A;OICIID;0x1200a9;;;BU)",
       ACCESS_TAKE_BACK, ACCESS_TAKE_BACK},
      {"Users' create rights under ProgramData",
       "O:SYD:AI(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIIOID;GA;;;CO)(A;OICIID;0x1200a9;;;BU)(A;CIID;0x116;;;BU)",
       ACCESS_TAKE_BACK, ACCESS_TAKE_BACK},
      {"Everyone may change the rules", "O:BAD:(A;;FA;;;BA)(A;;RCWD;;;WD)", ACCESS_TAKE_BACK, ACCESS_TAKE_BACK},
      {"Users' full control, for what is made below only", "O:BAD:P(A;OICI;FA;;;BA)(A;OICIIO;FA;;;BU)",
       ACCESS_TAKE_BACK, ACCESS_TAKE_BACK},
      {"generic write, unmapped", "O:BAD:P(A;OICI;FA;;;BA)(A;OICIIO;GW;;;AU)", ACCESS_TAKE_BACK,
       ACCESS_TAKE_BACK},
      {"Everyone denied every write right before Users' Modify",
       "O:BAD:P(D;OICI;0xd0046;;;WD)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;BU)", ACCESS_KEEP, ACCESS_KEEP},
      {"the same denial after the grant", "O:BAD:P(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;BU)(D;OICI;0xd0046;;;WD)",
       ACCESS_TAKE_BACK, ACCESS_TAKE_BACK},
      {"a denial to another trustee", "O:BAD:P(D;OICI;0xd0046;;;AU)(A;OICI;0x1301bf;;;BU)", ACCESS_TAKE_BACK,
       ACCESS_TAKE_BACK},
      {"read and execute for Users, full control for the account running the setup",
       "O:" + runner + "D:P(A;OICI;FA;;;" + runner + ")(A;OICI;FX;;;BU)", ACCESS_KEEP, ACCESS_KEEP},
      {"another account's folder", "O:S-1-5-21-1-2-3-1001D:P(A;OICI;FA;;;S-1-5-21-1-2-3-1001)(A;OICI;FA;;;BA)",
       ACCESS_REFUSE, ACCESS_TAKE_BACK},
      {"another account owns an admin-only folder", "O:S-1-5-21-1-2-3-1001D:P(A;OICI;FA;;;BA)", ACCESS_REFUSE,
       ACCESS_TAKE_BACK},
      {"no DACL at all", "O:BAD:NO_ACCESS_CONTROL", ACCESS_TAKE_BACK, ACCESS_TAKE_BACK},
  };
  std::vector<uint8_t> token = SddlSid(runner);
  for (const Case& c : cases) {
    Descriptor d = ParseSddl(c.Sddl);
    FolderRules rules = d.Rules();
    EXPECT_EQ(JudgeFolderAccess(&rules, token.data(), token.size(), false), c.Fresh) << c.What;
    EXPECT_EQ(JudgeFolderAccess(&rules, token.data(), token.size(), true), c.Upgrade) << c.What;
  }

  // An ACL cut short (as a corrupt descriptor would be) is never read past.
  Descriptor d = ParseSddl("O:BAD:(A;;FA;;;BA)(A;;FA;;;BU)");
  FolderRules cut = d.Rules();
  cut.DaclSize -= 4;
  EXPECT_EQ(JudgeFolderAccess(&cut, token.data(), token.size(), true), ACCESS_REFUSE);
  // A grant whose trustee lies where this reader does not look (an object
  // entry) counts as foreign.
  d.Dacl[8 + 24] = 5;  // the second entry (after BA's 24 bytes): ACCESS_ALLOWED_OBJECT
  FolderRules object = d.Rules();
  EXPECT_EQ(JudgeFolderAccess(&object, token.data(), token.size(), true), ACCESS_TAKE_BACK);
}

TEST(TargetChecks, SystemFoldersAreNeverTakenBack) {
  const char16_t* shared[] = {u"C:\\Program Files", u"C:\\ProgramData\\", u"C:\\Users", nullptr};
  struct Case {
    const char16_t* Path;
    bool May;
  } cases[] = {
      {u"C:\\", false},           {u"D:\\", false},
      {u"\\\\server\\share\\", false}, {u"\\\\server\\share\\App", true},
      {u"C:\\Windows", false},    {u"c:\\windows\\Temp\\", false},
      {u"C:\\ProgramData", false}, {u"C:\\programdata\\Vendor\\App", true},
      {u"C:\\Program Files\\", false}, {u"C:\\Users", false},
      {u"C:\\Tools", true},       {u"C:\\WindowsApp", true},
  };
  for (const Case& c : cases) {
    std::u16string path(c.Path);
    EXPECT_EQ(MayTakeBackFolder(c.Path, u"C:\\Windows", shared, 4), c.May) << std::string(path.begin(), path.end());
  }
}

TEST(TargetChecks, OnlyNameSurrogatesAreLinks) {
  EXPECT_TRUE(IsLinkReparseTag(0xA0000003));   // junction
  EXPECT_TRUE(IsLinkReparseTag(0xA000000C));   // symbolic link
  EXPECT_FALSE(IsLinkReparseTag(0x80000013));  // deduplicated
  EXPECT_FALSE(IsLinkReparseTag(0x9000601A));  // cloud placeholder
  EXPECT_FALSE(IsLinkReparseTag(0x80000017));  // WOF-compressed
}

}  // namespace
