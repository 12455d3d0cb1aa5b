// The inspect command over setup files the packer wrote, and over files
// that hold no valid package.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <nlohmann/json.hpp>
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

TEST(PackerInspect, JsonHoldsWhatTheListingShows) {
  PackageContents c = SmallContents();
  c.Files[0].Flags = 0x2 | (32 | 64) << 4 | FE_NO_EXTRACT;
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

// extract: writes what an installation on the given system would write.
class ExtractTest : public testing::Test {
 protected:
  int Extract(const PackageContents& c, std::vector<std::string> extra = {}, const BlockOverrides& overrides = {}) {
    std::vector<uint8_t> image = MakeImage(c, {}, overrides);
    std::string setup = dir_.Write("setup.exe", std::string(image.begin(), image.end()));
    std::vector<std::string> args = {"extract", setup, Out()};
    args.insert(args.end(), extra.begin(), extra.end());
    std::ostringstream out;
    err_.str("");
    int code = RunPacker(args, out, err_);
    EXPECT_EQ(out.str(), "");
    return code;
  }
  std::string Out() const { return (dir_.Path / "out").string(); }
  std::string Read(const std::string& relative) const {
    std::ifstream in(dir_.Path / "out" / relative, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::vector<std::string> Listing() const {
    std::vector<std::string> names;
    if (!std::filesystem::exists(Out())) return names;
    for (auto& entry : std::filesystem::recursive_directory_iterator(Out()))
      names.push_back(entry.path().lexically_relative(Out()).generic_string() + (entry.is_directory() ? "/" : ""));
    std::sort(names.begin(), names.end());
    return names;
  }

  TempDir dir_;
  std::ostringstream err_;
};

PackageContents Variants() {
  PackageContents c = SmallContents();
  c.Files.clear();
  c.LicenseEntry = NO_LICENSE_ENTRY;
  c.Files.push_back({"bin\\app.exe", Bytes("x86 app"), 0x1, 1, {}, 0});
  c.Files.push_back({"bin\\app.exe", Bytes("x64 app"), 0x2, 2, {}, 0});
  c.Files.push_back({"bin\\app.exe", Bytes("arm64 app"), 0x4, 3, {}, 0});
  c.Files.push_back({"Docs\\Read.txt", Bytes("old"), 0, 4, {}, 0});
  c.Files.push_back({"docs\\read.TXT", Bytes("new"), 0, (1577934245ull + 11644473600ull) * 10000000ull + 1234567, {}, 0});
  c.Files.push_back({"win7\\only.dll", Bytes("7"), 8 << 4, 6, {}, 0});
  c.Files.push_back({"logs\\placeholder", Bytes("not written"), FE_NO_EXTRACT, 7, {}, 0});
  c.Files.push_back({"empty.dat", {}, 0, 8, {}, 0});
  return c;
}

TEST_F(ExtractTest, WritesWhatTheSystemInstallsWithStoredTimes) {
  ASSERT_EQ(Extract(Variants(), {"--os", "win10", "--arch", "x64"}), 0) << err_.str();
  EXPECT_EQ(Listing(), (std::vector<std::string>{"Docs/", "Docs/Read.txt", "bin/", "bin/app.exe", "empty.dat",
                                                 "logs/"}))
      << "names compared without case keep their first spelling";
  EXPECT_EQ(Read("bin/app.exe"), "x64 app");
  EXPECT_EQ(Read("Docs/Read.txt"), "new") << "the later entry wins";
  EXPECT_EQ(Read("empty.dat"), "");
  struct stat st;
  ASSERT_EQ(stat((dir_.Path / "out/Docs/Read.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1577934245);
  EXPECT_EQ(st.st_mtim.tv_nsec, 123456700);

  std::filesystem::remove_all(Out());
  ASSERT_EQ(Extract(Variants(), {"--os", "win7"}), 0) << err_.str();
  EXPECT_EQ(Read("bin/app.exe"), "arm64 app") << "every architecture: the last variant wins";
  EXPECT_EQ(Read("win7/only.dll"), "7");

  std::filesystem::remove_all(Out());
  ASSERT_EQ(Extract(Variants(), {"--arch", "x86"}), 0) << err_.str();
  EXPECT_EQ(Read("bin/app.exe"), "x86 app");
  EXPECT_EQ(Read("win7/only.dll"), "7") << "every OS";
}

TEST_F(ExtractTest, RefusesWhatTheStubRefuses) {
  PackageContents c = Variants();
  c.OsMask = 32 | 64;
  c.ArchMask = 2 | 4;
  EXPECT_EQ(Extract(c, {"--os", "win7"}), 1);
  EXPECT_TRUE(Has(err_.str(), "does not install on win7 (it installs on win10,win11+)")) << err_.str();
  EXPECT_EQ(Extract(c, {"--os", "win10", "--arch", "x86"}), 1);
  EXPECT_TRUE(Has(err_.str(), "does not install on x86 (it installs on x64,arm64)")) << err_.str();
  EXPECT_EQ(Listing(), std::vector<std::string>{});
  EXPECT_EQ(Extract(c), 0) << "no system given: the package's masks are not checked";

  std::filesystem::remove_all(Out());
  SetupOptions corrupt;
  corrupt.CorruptChecksum = true;
  std::vector<uint8_t> image = MakeImage(c, corrupt);
  std::ostringstream out;
  EXPECT_EQ(RunPacker({"extract", dir_.Write("bad.exe", std::string(image.begin(), image.end())), Out()}, out, err_),
            1);
  EXPECT_TRUE(Has(err_.str(), "no valid package: ")) << err_.str();
  EXPECT_EQ(Listing(), std::vector<std::string>{});
}

TEST_F(ExtractTest, NeverWritesOutsideTheFolder) {
  // Names the loader refuses: the whole package is refused, nothing written.
  for (const char* name : {"..\\escape.txt", "a\\..\\..\\escape.txt", "\\root.txt", "C:\\x.txt", "a/../../x"}) {
    PackageContents c = Variants();
    c.Files.push_back({name, Bytes("evil"), 0, 1, {}, 0});
    EXPECT_NE(Extract(c), 0) << name;
    EXPECT_EQ(Listing(), std::vector<std::string>{}) << name;
    EXPECT_FALSE(std::filesystem::exists(dir_.Path / "escape.txt")) << name;
  }
  // A link planted in the folder is not followed.
  std::filesystem::create_directories(dir_.Path / "elsewhere");
  std::filesystem::create_directories(Out());
  std::filesystem::create_directory_symlink(dir_.Path / "elsewhere", dir_.Path / "out" / "bin");
  EXPECT_EQ(Extract(Variants()), 2);
  EXPECT_TRUE(Has(err_.str(), "is a symbolic link")) << err_.str();
  EXPECT_TRUE(std::filesystem::is_empty(dir_.Path / "elsewhere"));
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
