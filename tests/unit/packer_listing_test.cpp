// The inspect command over setup files the packer wrote, and over files
// that hold no valid package.
#include <gtest/gtest.h>

#include <sstream>

#include "packer/commands.h"
#include "packer/package_listing.h"
#include "packer_test_support.h"

using namespace packer_test;

namespace {

struct Inspected {
  int Code;
  std::string Out, Err;
};

Inspected Inspect(const TempDir& dir, const std::vector<uint8_t>& image) {
  std::string path = dir.Write("setup.exe", std::string(image.begin(), image.end()));
  std::ostringstream out, err;
  int code = RunPacker({"inspect", path}, out, err);
  return {code, out.str(), err.str()};
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(PackerInspect, PrintsEveryPartOfAPackage) {
  PackageContents c = SmallContents();
  c.Files[0].Flags = 0x2 | (32 | 64) << 4 | FE_NO_EXTRACT;  // x64 on Windows 10 and later
  c.Files[1].Flags = 0x1 | 0x10 << 4 | FE_REPLACE_LOCKED;   // x86 on Windows 8
  c.Files[0].LastWriteTime = (1577934245ull + 11644473600ull) * 10000000ull;
  c.OsMask = 8 | 32;
  c.ArchMask = 2;
  c.HeaderFlags = PH_REGISTRY_64;
  c.Config[CFG_RUNNING_MUTEX] = u"Line\r\nBreak";
  c.Languages.push_back(EnglishLanguage());
  c.Languages[1].LangId = 0x407;
  c.Languages[1].Strings[0] = u"Deutsch";
  c.Languages[1].Strings[1 + TXT_CANCEL] = u"Abbrechen \u00fc";
  SetupOptions options;
  options.Slack = 2;
  TempDir dir;
  Inspected r = Inspect(dir, MakeImage(c, options));
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.Err, "");
  const std::string& o = r.Out;
  EXPECT_TRUE(Has(o, "slack 2")) << o;
  EXPECT_TRUE(Has(o, "files 3, languages 2, os win7,win10 (0x0028), arch x64 (0x02), flags 0x01 registry_64, "
                     "licence entry 1 \"license.txt\"\n"))
      << o;
  EXPECT_TRUE(Has(o, "0: \"Sample.exe\" flags 0x00400602 os=win10,win11+ arch=x64 no_extract, size 15,")) << o;
  EXPECT_TRUE(Has(o, "time 2020-01-02T03:04:05Z")) << o;
  EXPECT_TRUE(Has(o, "1: \"license.txt\" flags 0x00800101 os=win8 arch=x86 replace_locked, size 12")) << o;
  EXPECT_TRUE(Has(o, "2: \"data\\\\empty.dat\" flags 0x00000022 os=xp arch=x64, size 0")) << o;
  EXPECT_TRUE(Has(o, "1: 0x0407 \"Deutsch\"\n")) << o;
  EXPECT_TRUE(Has(o, "TXT_CANCEL = \"Abbrechen \xC3\xBC\"")) << o;
  EXPECT_TRUE(Has(o, "TXT_FOLDER_EXISTS_FMT = \"The folder:\\r\\n\\r\\n%s")) << o;
  EXPECT_TRUE(Has(o, "MainProgram = \"Sample.exe\" (default)")) << o;
  EXPECT_TRUE(Has(o, "RunningMutex = \"Line\\r\\nBreak\"")) << o;
  EXPECT_TRUE(Has(o, "LaunchCommand = (absent)")) << o;
}

TEST(PackerInspect, ExplainsFilesWithoutAValidPackage) {
  SetupOptions corrupt;
  corrupt.CorruptChecksum = true;
  SetupOptions farSlack;
  farSlack.Slack = 40;
  struct Case {
    const char* What;
    std::vector<uint8_t> Image;
    LoadResult Reason;
  } cases[] = {
      {"the bare stub", FakePeStub(), LOAD_NO_TRAILER},
      {"an empty file", {}, LOAD_NO_TRAILER},
      {"a wrong checksum", MakeImage(SmallContents(), corrupt), LOAD_BAD_DATA},
      {"a trailer too far from the end", MakeImage(SmallContents(), farSlack), LOAD_NO_TRAILER},
  };
  TempDir dir;
  for (const Case& k : cases) {
    Inspected r = Inspect(dir, k.Image);
    EXPECT_EQ(r.Code, 1) << k.What;
    EXPECT_EQ(r.Out, "") << k.What;
    EXPECT_TRUE(Has(r.Err, "no valid package: " + std::string(LoadResultText(k.Reason)))) << k.What << ": " << r.Err;
  }
  std::ostringstream out, err;
  EXPECT_EQ(RunPacker({"inspect", (dir.Path / "missing.exe").string()}, out, err), 2);
  EXPECT_EQ(err.str().rfind("error: ", 0), 0u);
}

TEST(PackerInspect, NamesMasksAndTimes) {
  struct FlagCase {
    uint32_t Flags;
    const char* Text;
  } flags[] = {
      {0xFFFFF, "os=all arch=all"},
      {0x10 | 0x1, "os=win2000 arch=x86"},
      {0x7F0 | 0x7, "os=win2000,xp,vista,win7,win8,win10,win11+ arch=x86,x64,arm64"},
      {0x800 | 0x8, "os=0x80 arch=0x8"},
      {0x220 | 0x4 | FE_NO_EXTRACT | FE_REPLACE_LOCKED, "os=xp,win10 arch=arm64 no_extract replace_locked"},
      {0xFFFFF | 0x100000, "os=all arch=all other=0x00100000"},
  };
  for (const FlagCase& k : flags) EXPECT_EQ(DescribeEntryFlags(k.Flags), k.Text);

  struct TimeCase {
    uint64_t FileTime;
    const char* Text;
  } times[] = {
      {0, "1601-01-01T00:00:00Z"},
      {116444736000000000ull, "1970-01-01T00:00:00Z"},
      {(951782400ull + 11644473600ull) * 10000000ull, "2000-02-29T00:00:00Z"},
      {(1577934245ull + 11644473600ull) * 10000000ull + 5, "2020-01-02T03:04:05.0000005Z"},
  };
  for (const TimeCase& k : times) EXPECT_EQ(FormatFileTime(k.FileTime), k.Text);
}

}  // namespace
