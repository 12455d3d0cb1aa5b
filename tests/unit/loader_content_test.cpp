// What the loader builds from a verified block, and the blocks it must
// refuse although their checksum matches.
#include <gtest/gtest.h>

#include "package/installable_name.h"
#include "package/package_loader.h"
#include "packer/package_writer.h"
#include "packer_test_support.h"

using namespace packer_test;

namespace {

// Four entries of sizes 1, 2, 4 and 8 bytes: ApplicableTotal names the set
// of applicable entries.
PackageContents FlagContents(const uint32_t flags[4]) {
  PackageContents c = SmallContents();
  c.Files.clear();
  c.LicenseEntry = NO_LICENSE_ENTRY;
  for (uint32_t i = 0; i < 4; ++i)
    c.Files.push_back({"f" + std::to_string(i), std::vector<uint8_t>(1u << i, 'x'), flags[i], 0, {}, 0});
  return c;
}

TEST(LoaderContent, NormalisesFlagsAndSumsApplicableSizes) {
  const uint32_t flags[4] = {0, 0x2, 0x201, FE_NO_EXTRACT | 0x2};
  const uint32_t normalised[4] = {0xFFFFF, 0xFFFF2, 0x201, FE_NO_EXTRACT | 0xFFFF2};
  struct Case {
    uint32_t OsClass, ArchClass;
    uint64_t Total;  // bit i: entry i applies
  } cases[] = {
      {32, 2, 1 + 2 + 8},  // x64 Windows 10: everything but the x86 file
      {32, 1, 1 + 4},      // x86 Windows 10
      {8, 1, 1},           // x86 Windows 7: 0x201 needs OsClass 32
      {64, 4, 1},          // arm64
      {0, 2, 1},           // unknown OS: nothing applies, the total is 1 anyway
      {32, 0, 1},          // unknown architecture
      {1, 2, 1 + 2 + 8},
  };
  for (const Case& k : cases) {
    Loaded loaded;
    LoadImage(MakeImage(FlagContents(flags)), &loaded, k.OsClass, k.ArchClass);
    ASSERT_EQ(loaded.Result, LOAD_OK);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(loaded.Package.Entries[i].Flags, normalised[i]) << i;
    uint64_t expected = k.Total;
    if (k.OsClass == 0 || k.ArchClass == 0) expected = 1;
    EXPECT_EQ(loaded.Package.ApplicableTotal, expected) << "os " << k.OsClass << " arch " << k.ArchClass;
  }
}

TEST(LoaderContent, ApplicableTotalIsNeverZero) {
  PackageContents empty = SmallContents();
  for (PackageFileEntry& f : empty.Files) f.Data.clear();
  PackageContents none = SmallContents();
  none.Files.clear();
  none.LicenseEntry = NO_LICENSE_ENTRY;
  PackageContents elsewhere = SmallContents();
  for (PackageFileEntry& f : elsewhere.Files) f.Flags = 0x4;  // arm64 only
  for (const PackageContents* c : {&empty, &none, &elsewhere}) {
    Loaded loaded;
    LoadImage(MakeImage(*c), &loaded, 32, 2);
    ASSERT_EQ(loaded.Result, LOAD_OK);
    EXPECT_EQ(loaded.Package.ApplicableTotal, 1u);
  }
}

TEST(LoaderContent, ConfigStringsAndLanguageTexts) {
  PackageContents c = SmallContents();
  c.Config[CFG_UNINSTALL_ARGS] = u"/uninstall";
  c.Languages.push_back(EnglishLanguage());
  c.Languages[1].LangId = 0x407;
  c.Languages[1].Strings[1 + TXT_BACK] = u"";
  Loaded loaded;
  LoadImage(MakeImage(c), &loaded);
  ASSERT_EQ(loaded.Result, LOAD_OK);
  const LoadedPackage& p = loaded.Package;

  EXPECT_EQ(WideToAscii(p.Config[CFG_MAIN_PROGRAM]), "Sample.exe") << "defaulted from ProductName";
  EXPECT_TRUE(p.MainProgramDefaulted);
  EXPECT_EQ(WideToAscii(p.Config[CFG_UNINSTALL_ARGS]), "/uninstall");
  for (int i : {CFG_LAUNCH_COMMAND, CFG_RUNNING_MUTEX, CFG_RUNNING_WINDOW_CLASS, CFG_RUNNING_WINDOW_TITLE,
                CFG_DEFAULT_INSTALL_DIR, CFG_CONFIGURE_ARGS, CFG_UNSUPPORTED_OS_TARGET})
    EXPECT_EQ(p.Config[i], nullptr) << "empty config string " << i << " is absent";

  ASSERT_EQ(p.Header->LanguageCount, 2);
  EXPECT_EQ(p.Languages[1].LangId, 0x407);
  ASSERT_NE(p.Languages[1].Strings[1 + TXT_BACK], nullptr) << "empty texts are present";
  EXPECT_EQ(p.Languages[1].Strings[1 + TXT_BACK][0], 0);
  EXPECT_EQ(WideToAscii(p.Languages[0].Strings[1 + TXT_BACK]), "< &Back");
  EXPECT_EQ(WideToAscii(p.Languages[1].Strings[0]), "English");
  EXPECT_EQ(std::string(p.NamesArea + p.Entries[2].NameOffset), "data\\empty.dat");
  EXPECT_EQ(memcmp(p.Block + p.Entries[0].DataOffset, "MZ main program", 15), 0);

  c.Config[CFG_MAIN_PROGRAM] = u"bin\\Main.exe";
  Loaded named;
  LoadImage(MakeImage(c), &named);
  ASSERT_EQ(named.Result, LOAD_OK);
  EXPECT_EQ(WideToAscii(named.Package.Config[CFG_MAIN_PROGRAM]), "bin\\Main.exe");
  EXPECT_FALSE(named.Package.MainProgramDefaulted);
}

TEST(LoaderContent, RefusesBlocksThatBreakTheInvariants) {
  PackageContents base = SmallContents();
  BlockLayout at;
  const uint32_t blockEnd = static_cast<uint32_t>(BuildBlock(base, &at).size());
  PackageHeader header = {};
  header.FileCount = 3;
  header.LanguageCount = 1;
  header.LicenseEntry = NO_LICENSE_ENTRY;
  auto withHeader = [&](void (*change)(PackageHeader*)) {
    BlockOverrides o;
    o.Header = header;
    change(&*o.Header);
    return o;
  };
  auto withEntry = [&](void (*change)(FileEntry*)) {
    BlockOverrides o;
    FileEntry e = {};
    e.NameOffset = at.NameOffsets[2];
    e.DataOffset = blockEnd;  // the empty entry's data, placed at the very end
    change(&e);
    o.Entries[2] = e;
    return o;
  };
  auto truncated = [](uint32_t size) {
    BlockOverrides o;
    o.TruncateAt = size;
    return o;
  };
  struct Case {
    const char* What;
    BlockOverrides Overrides;
    LoadResult Expected;
  } cases[] = {
      {"licence entry 3 of 3", withHeader([](PackageHeader* h) { h->LicenseEntry = 3; }), LOAD_BAD_CONTENT},
      {"licence entry 2 of 3", withHeader([](PackageHeader* h) { h->LicenseEntry = 2; }), LOAD_OK},
      {"no language", withHeader([](PackageHeader* h) { h->LanguageCount = 0; }), LOAD_BAD_CONTENT},
      {"file table beyond the block", withHeader([](PackageHeader* h) { h->FileCount = 0x10000000; }),
       LOAD_BAD_CONTENT},
      {"more languages than records", withHeader([](PackageHeader* h) { h->LanguageCount = 200; }),
       LOAD_BAD_CONTENT},
      {"name outside the block", withEntry([](FileEntry* e) { e->NameOffset = 0x100000; }), LOAD_BAD_CONTENT},
      {"name offset wraps", withEntry([](FileEntry* e) { e->NameOffset = 0xFFFFFFFF; }), LOAD_BAD_CONTENT},
      {"data beyond the block", withEntry([](FileEntry* e) { e->DataSize = 1; e->DataOffset += 1; }),
       LOAD_BAD_CONTENT},
      {"data range wraps", withEntry([](FileEntry* e) { e->DataSize = 0xFFFFFFFF; e->DataOffset = 2; }),
       LOAD_BAD_CONTENT},
      {"empty data at the very end", withEntry([](FileEntry*) {}), LOAD_OK},
      {"unterminated language text", truncated(at.LanguagesAt + 11), LOAD_BAD_CONTENT},
      {"unterminated config string", truncated(at.ConfigAt + 3), LOAD_BAD_CONTENT},
      {"block ends inside the names", truncated(at.NamesAt + 4), LOAD_BAD_CONTENT},
      {"header only", truncated(12), LOAD_BAD_CONTENT},
  };
  for (Case& k : cases) {
    Loaded loaded;
    LoadImage(MakeBlockImage(BuildOverriddenBlock(base, k.Overrides)), &loaded);
    EXPECT_EQ(loaded.Result, k.Expected) << k.What;
  }
}

TEST(LoaderContent, RefusesMissingOrOverlongConfigStrings) {
  struct Case {
    ConfigIndex Index;
    std::u16string Value;
    LoadResult Expected;
  } cases[] = {
      {CFG_PRODUCT_NAME, u"", LOAD_BAD_CONTENT},
      {CFG_PRODUCT_VERSION, u"", LOAD_BAD_CONTENT},
      {CFG_PUBLISHER_NAME, u"", LOAD_BAD_CONTENT},
      {CFG_PRODUCT_NAME, std::u16string(76, u'N'), LOAD_BAD_CONTENT},
      {CFG_PRODUCT_NAME, std::u16string(75, u'N'), LOAD_OK},
      {CFG_MAIN_PROGRAM, u"", LOAD_OK},
  };
  for (const Case& k : cases) {
    PackageContents c = SmallContents();
    c.Config[k.Index] = k.Value;
    Loaded loaded;
    LoadImage(MakeImage(c), &loaded);
    EXPECT_EQ(loaded.Result, k.Expected) << "config " << k.Index << " of length " << k.Value.size();
  }
}

TEST(LoaderContent, RefusesNamesAnInstallationCannotWrite) {
  struct Case {
    const char* Name;
    NameProblem Problem;
  } cases[] = {
      {"", NAME_EMPTY},
      {"C:x", NAME_COLON},
      {"\\a", NAME_LEADING_SEPARATOR},
      {"/a", NAME_LEADING_SEPARATOR},
      {"a:b", NAME_COLON},
      {".\\a", NAME_DOT_COMPONENT},
      {"a\\..\\b", NAME_DOT_COMPONENT},
      {"a/../b", NAME_DOT_COMPONENT},
      {"..", NAME_DOT_COMPONENT},
      {".", NAME_DOT_COMPONENT},
      {"a\\.", NAME_DOT_COMPONENT},
      {"a\\..", NAME_DOT_COMPONENT},
      {"a\\", NAME_EMPTY_COMPONENT},
      {"a//b", NAME_EMPTY_COMPONENT},
      {"a<b", NAME_RESERVED_CHARACTER},
      {"a\"b", NAME_RESERVED_CHARACTER},
      {"a|b", NAME_RESERVED_CHARACTER},
      {"a?", NAME_RESERVED_CHARACTER},
      {"*.txt", NAME_RESERVED_CHARACTER},
      {"a\tb", NAME_CONTROL_CHARACTER},
      {"\x1b[31mred", NAME_CONTROL_CHARACTER},
      {"a.", NAME_TRAILING_DOT_OR_SPACE},
      {"a \\b", NAME_TRAILING_DOT_OR_SPACE},
      {"..a\\b..", NAME_TRAILING_DOT_OR_SPACE},
      {"...", NAME_TRAILING_DOT_OR_SPACE},
      {"CON", NAME_DEVICE},
      {"bin\\prn.txt", NAME_DEVICE},
      {"Aux.tar.gz", NAME_DEVICE},
      {"nul .txt", NAME_DEVICE},
      {"COM1", NAME_DEVICE},
      {"lpt9.log\\a", NAME_DEVICE},
      {"COM\xB9", NAME_DEVICE},
      {"a", NAME_OK},
      {"a\\b.c", NAME_OK},
      {"..a\\b..c", NAME_OK},
      {"a/b", NAME_OK},
      {"COM10", NAME_OK},
      {"LPT0", NAME_OK},
      {"CONSOLE", NAME_OK},
      {"x.CON", NAME_OK},
      {"a\x7f", NAME_OK},
      {"\xC3\x9C", NAME_OK},  // 8-bit in the ANSI code page: not looked at
  };
  for (const Case& k : cases) {
    EXPECT_EQ(CheckInstallableName(k.Name, false), k.Problem) << '"' << k.Name << '"';
    PackageContents c = SmallContents();
    c.Files[2].Name = k.Name;
    Loaded loaded;
    LoadImage(MakeImage(c), &loaded);
    EXPECT_EQ(loaded.Result, k.Problem == NAME_OK ? LOAD_OK : LOAD_BAD_CONTENT) << '"' << k.Name << '"';
  }
}

TEST(LoaderContent, Utf8NamesMustBeValid) {
  struct Case {
    const char* Name;
    NameProblem Problem;
  } cases[] = {
      {"\xC3\x9C" "bersicht.txt", NAME_OK},
      {"\xD0\x9F\xD1\x80\xD0\xB8/\xE6\x97\xA5.txt", NAME_OK},
      {"\xF0\x9F\x98\x80", NAME_OK},
      {"COM\xC2\xB9", NAME_DEVICE},
      {"lpt\xC2\xB3.txt", NAME_DEVICE},
      {"COM\xC2\xBC", NAME_OK},
      {"\xC3", NAME_INVALID_UTF8},
      {"\xC3(", NAME_INVALID_UTF8},
      {"\xC0\xAF", NAME_INVALID_UTF8},          // overlong '/'
      {"\xE0\x80\xAF", NAME_INVALID_UTF8},     // overlong '/'
      {"\xED\xA0\x80", NAME_INVALID_UTF8},     // a surrogate
      {"\xF4\x90\x80\x80", NAME_INVALID_UTF8},  // above U+10FFFF
      {"\x9C", NAME_INVALID_UTF8},
      {"\xC3\x9C\\..", NAME_DOT_COMPONENT},
  };
  for (const Case& k : cases) EXPECT_EQ(CheckInstallableName(k.Name, true), k.Problem) << '"' << k.Name << '"';
}

TEST(LoaderContent, PrefixMustHoldAllButTheOtherData) {
  // A record with a matching CRC-32 whose prefix ends too early: the wizard
  // would read past what is verified.
  PackageContents c = BigContents();
  BlockLayout at;
  std::vector<uint8_t> block = BuildBlock(c, &at);
  std::vector<uint8_t> image = MakeImage(c);
  const size_t recordAt = FakePeStub().size();
  struct Case {
    const char* What;
    uint32_t PrefixSize;
    LoadResult Expected;
  } cases[] = {
      {"as written", at.DataAt + 12, LOAD_OK},
      {"one byte past the licence", at.DataAt + 13, LOAD_OK},
      {"licence cut", at.DataAt + 11, LOAD_BAD_CONTENT},
      {"no licence", at.DataAt, LOAD_BAD_CONTENT},
      {"last name cut", at.DataAt - 1, LOAD_BAD_CONTENT},
      {"config cut", at.NamesAt - 2, LOAD_BAD_CONTENT},
      {"languages cut", at.ConfigAt - 2, LOAD_BAD_CONTENT},
      {"table cut", at.LanguagesAt - 1, LOAD_BAD_CONTENT},
  };
  for (const Case& k : cases) {
    std::vector<uint8_t> bytes = image;
    PutU32At(bytes, recordAt + 4, k.PrefixSize);
    PutU32At(bytes, recordAt + 8, Crc32(block.data(), k.PrefixSize));
    Loaded loaded;
    LoadResult first;
    LoadImageStaged(bytes, &loaded, &first);
    EXPECT_EQ(first, k.Expected) << k.What;
  }
}

}  // namespace
