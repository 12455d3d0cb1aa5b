// The inspect command over setup files the packer wrote, and over files
// that hold no valid package.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "packer/commands.h"
#include "package/sha256.h"
#include "packer/package_listing.h"
#include "packer/stub_capabilities.h"
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

TEST(PackerInspect, PrintsEveryPartOfAPackage) {
  PackageContents c = SmallContents();
  c.Files[0].Flags = MakeEntryFlags(OS_WIN10 | OS_WIN11_LATER, ARCH_X64, FE_NO_EXTRACT);
  c.Files[1].Flags = MakeEntryFlags(OS_WIN8, ARCH_X86, FE_REPLACE_LOCKED);
  c.Files[0].LastWriteTime = (1577934245ull + 11644473600ull) * 10000000ull;
  c.OsMask = 8 | 32;
  c.ArchMask = 2;
  c.HeaderFlags = PH_REGISTRY_64;
  c.Config[CFG_RUNNING_MUTEX] = u"Line\r\nBreak";
  c.Languages.push_back(EnglishLanguage());
  c.Languages[1].LangId = 0x407;
  c.Languages[1].Strings[0] = u"Deutsch";
  c.Languages[1].Strings[1 + TXT_CANCEL] = u"Abbrechen \u00fc";
  c.Languages.push_back(EnglishLanguage());
  c.Languages[2].LangId = 0x492;
  c.Languages[2].Strings[0] = u"\u200Fx";
  SetupOptions options;
  options.Slack = 2;
  TempDir dir;
  Inspected r = Inspect(dir, MakeImage(c, options));
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.Err, "");
  const std::string& o = r.Out;
  EXPECT_TRUE(Has(o, "slack 2")) << o;
  EXPECT_TRUE(Has(o, "files 3, languages 3, os win7,win10 (0x0028), arch x64 (0x02), flags 0x01 registry_64, "
                     "licence entry 1 \"license.txt\"\n"))
      << o;
  EXPECT_TRUE(Has(o, "0: \"Sample.exe\" flags 0x00400602 os=win10,win11+ arch=x64 no_extract, size 15,")) << o;
  EXPECT_TRUE(Has(o, "time 2020-01-02T03:04:05Z")) << o;
  EXPECT_TRUE(Has(o, "1: \"license.txt\" flags 0x00800101 os=win8 arch=x86 replace_locked, size 12")) << o;
  EXPECT_TRUE(Has(o, "2: \"data\\\\empty.dat\" flags 0x00000022 os=xp arch=x64, size 0")) << o;
  EXPECT_TRUE(Has(o, "1: 0x0407 \"Deutsch\"\n")) << o;
  EXPECT_TRUE(Has(o, "2: 0x0492 \"\u200Fx\" right to left\n")) << o;
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

TEST(PackerInspect, JsonHoldsWhatTheListingShows) {
  PackageContents c = SmallContents();
  c.Files[0].Flags = MakeEntryFlags(OS_WIN10 | OS_WIN11_LATER, ARCH_X64, FE_NO_EXTRACT);
  c.Files[0].LastWriteTime = (1577934245ull + 11644473600ull) * 10000000ull + 5;
  c.Files[1].Name = "caf\xE9.txt";  // 8-bit, not UTF-8
  c.OsMask = 8 | 32;
  c.HeaderFlags = PH_REGISTRY_64;
  c.Config[CFG_RUNNING_MUTEX] = u"Line\r\nBreak \"q\"";
  c.Languages[0].Strings[1 + TXT_CANCEL] = u"Abbrechen \u00fc";
  SetupOptions options;
  options.Slack = 2;
  options.Lzma.Dictionary = 1 << 16;
  TempDir dir;
  std::string path = dir.Write("setup.exe", "");
  std::vector<uint8_t> image = MakeImage(c, options);
  dir.Write("setup.exe", std::string(image.begin(), image.end()));
  for (const std::vector<std::string>& args : {std::vector<std::string>{"inspect", "--json", path},
                                               std::vector<std::string>{"inspect", path, "--json"}}) {
    std::ostringstream out, err;
    ASSERT_EQ(RunPacker(args, out, err), 0) << err.str();
    nlohmann::json j = nlohmann::json::parse(out.str());
    EXPECT_EQ(j["setup_file"]["size"], image.size());
    EXPECT_EQ(j["trailer"]["slack"], 2);
    EXPECT_EQ(j["trailer"]["offset"], image.size() - 2 - TRAILER_SIZE);
    EXPECT_EQ(j["trailer"]["properties"], 0x5D);
    EXPECT_EQ(j["trailer"]["dictionary"], 65536);
    EXPECT_EQ(j["trailer"]["magic_offset"], image.size() - 2 - 4);
    EXPECT_EQ(j["trailer"]["packed_offset"], FakePeStub().size() + sizeof(PrefixRecord))
        << "an extra region of the prefix record alone";
    EXPECT_EQ(j["prefix_record"]["offset"], FakePeStub().size());
    EXPECT_EQ(j["prefix_record"]["prefix_size"], U32At(image, FakePeStub().size() + 4));
    EXPECT_EQ(j["prefix_record"]["crc32"], U32At(image, FakePeStub().size() + 8));
    EXPECT_EQ(j["trailer"]["packed_offset"].get<uint32_t>() + j["trailer"]["packed_size"].get<uint32_t>(),
              j["trailer"]["offset"].get<uint32_t>());
    EXPECT_EQ(j["trailer"]["package_end"], image.size()) << "unsigned: the file's end";
    EXPECT_EQ(j["trailer"]["unpacked_size"], U32At(image, image.size() - 2 - 16));
    EXPECT_EQ(j["trailer"]["checksum"], U32At(image, image.size() - 2 - 20));
    EXPECT_TRUE(j["certificate_table"].is_null());
    EXPECT_EQ(j["header"]["files"], 3);
    EXPECT_EQ(j["header"]["os_mask"], 40);
    EXPECT_EQ(j["header"]["os"], nlohmann::json({"win7", "win10"}));
    EXPECT_EQ(j["header"]["arch"], nlohmann::json({"x86", "x64", "arm64"})) << "0: every architecture";
    EXPECT_EQ(j["header"]["registry_64"], true);
    EXPECT_EQ(j["header"]["license_entry"], 1);
    EXPECT_EQ(j["header"]["license_name"], "caf\uFFFD.txt") << "unknown code page: replaced";
    EXPECT_EQ(j["data_total"], 15 + 12);
    ASSERT_EQ(j["entries"].size(), 3u);
    const nlohmann::json& e = j["entries"][0];
    EXPECT_EQ(e["name"], "Sample.exe");
    EXPECT_EQ(e["flags"], 0x00400602);
    EXPECT_EQ(e["os"], nlohmann::json({"win10", "win11+"}));
    EXPECT_EQ(e["arch"], nlohmann::json({"x64"}));
    EXPECT_EQ(e["no_extract"], true);
    EXPECT_EQ(e["replace_locked"], false);
    EXPECT_EQ(e["size"], 15);
    EXPECT_EQ(e["time"], "2020-01-02T03:04:05.0000005Z");
    EXPECT_EQ(j["entries"][2]["name"], "data\\empty.dat");
    std::ostringstream text, ignored;
    ASSERT_EQ(RunPacker({"inspect", path}, text, ignored), 0);
    EXPECT_TRUE(Has(text.str(), "size 0, offset " + std::to_string(j["entries"][2]["offset"].get<uint32_t>()) +
                                    ", time 1601-01-01T00:00:00.0000003Z"))
        << text.str();
    ASSERT_EQ(j["languages"].size(), 1u);
    EXPECT_EQ(j["languages"][0]["id"], 0x409);
    EXPECT_EQ(j["languages"][0]["name"], "English");
    EXPECT_EQ(j["languages"][0]["rtl"], false);
    EXPECT_EQ(j["languages"][0]["texts"].size(), size_t{TXT_COUNT});
    EXPECT_EQ(j["languages"][0]["texts"]["TXT_CANCEL"], "Abbrechen \xC3\xBC");
    EXPECT_EQ(j["config"]["RunningMutex"], "Line\r\nBreak \"q\"");
    EXPECT_TRUE(j["config"]["LaunchCommand"].is_null());
    EXPECT_EQ(j["config"]["MainProgram"], "Sample.exe");
    EXPECT_EQ(j["config_defaults"], nlohmann::json({"MainProgram"}));
  }
  std::ostringstream out, err;
  EXPECT_EQ(RunPacker({"inspect", "--json", (dir.Path / "missing.exe").string()}, out, err), 2);
  EXPECT_EQ(RunPacker({"inspect", "--json", dir.Write("stub.exe", "MZ")}, out, err), 1);
  EXPECT_EQ(out.str(), "");
}

TEST(PackerInspect, ShowsTheBoundHashAndWhetherItMatches) {
  const std::vector<uint8_t> stub = FakePeStubWithHashSlot();
  uint64_t slot = 0;
  ASSERT_TRUE(FindPackageHashSlot(stub, &slot));
  PackageContents other = SmallContents();
  other.Config[CFG_PRODUCT_NAME] = u"Other";
  std::vector<uint8_t> bound = MakeImageWith(stub, SmallContents());
  std::vector<uint8_t> splice(bound.begin(), bound.begin() + stub.size());
  std::vector<uint8_t> otherImage = MakeImageWith(stub, other);
  splice.insert(splice.end(), otherImage.begin() + stub.size(), otherImage.end());
  std::string hex;
  for (size_t i = 0; i < SHA256_SIZE; ++i) {
    char pair[3];
    snprintf(pair, sizeof pair, "%02x", bound[slot + i]);
    hex += pair;
  }
  struct Case {
    const char* What;
    std::vector<uint8_t> Image;
    const char* Line;  // after "bound hash: "
  } cases[] = {
      {"a stub without the slot", MakeImage(SmallContents()), "none"},
      {"bound", bound, "(matches)"},
      {"another package", splice, "(does not match)"},
  };
  TempDir dir;
  for (const Case& k : cases) {
    std::string path = dir.Write("setup.exe", std::string(k.Image.begin(), k.Image.end()));
    std::ostringstream text, json, err;
    // Listed either way; a package the stub would refuse is a failure.
    const int code = std::string(k.Line) == "(does not match)" ? 1 : 0;
    ASSERT_EQ(RunPacker({"inspect", path}, text, err), code) << k.What << err.str();
    ASSERT_EQ(RunPacker({"inspect", "--json", path}, json, err), code) << k.What << err.str();
    nlohmann::json j = nlohmann::json::parse(json.str())["bound_hash"];
    const std::string shown = std::string(k.Line) == "none" ? "none" : hex + " " + k.Line;
    EXPECT_TRUE(Has(text.str(), "\nbound hash: " + shown + "\nheader: ")) << k.What << text.str();
    if (std::string(k.Line) == "none") {
      EXPECT_TRUE(j.is_null()) << k.What;
    } else {
      EXPECT_EQ(j["offset"], slot) << k.What;
      EXPECT_EQ(j["sha256"], hex) << k.What;
      EXPECT_EQ(j["matches"], std::string(k.Line) == "(matches)") << k.What;
    }
  }
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
