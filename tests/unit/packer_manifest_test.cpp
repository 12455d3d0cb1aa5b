// Manifest reading: what a valid manifest yields, and that every bad one is
// refused with the file, line and key of the problem and no output file.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <sstream>

#include <nlohmann/json.hpp>

#include "packer/commands.h"
#include "packer/manifest.h"
#include "packer/packer_error.h"
#include "packer/product_files.h"
#include "packer/shipped_languages.h"
#include "packer_test_support.h"

using namespace packer_test;

namespace {

class ManifestTest : public PackerBuildTest {
 protected:
  Manifest Read(const std::string& text) { return ReadManifest(dir_.Write("m.toml", text), Product()); }
};

std::string Text(char c, size_t n) { return std::string(n, c); }
std::string Repeated(const std::string& text, size_t n) {
  std::string out;
  while (n--) out += text;
  return out;
}

TEST_F(ManifestTest, BadManifestsNameFileLineAndKeyAndWriteNothing) {
  const std::string p = kProduct;  // lines 1 to 4
  const std::string file = "[[file]]\nsource = \"app.exe\"\n";  // lines 5 and 6
  struct Case {
    std::string Manifest;
    int Line;  // 0: none
    std::string Key;
    std::string Problem;
  } cases[] = {
      {"colour = 1\n" + p, 1, "colour", "unknown key"},
      {p + "nmae = \"x\"\n", 5, "product.nmae", "unknown key"},
      {"[product]\nversion = \"1\"\npublisher = \"P\"\n", 1, "product.name", "required key is missing"},
      {"[running]\nmutex = \"m\"\n", 0, "product", "missing"},
      {"product = 3\n", 1, "product", "must be a table"},
      {"[product]\nname = \"S\"\nversion = \"\"\npublisher = \"P\"\n", 3, "product.version", "must not be empty"},
      {"[product]\nname = \"S\"\nversion = \"1\"\n", 1, "product.publisher", "required key is missing"},
      {"[product]\nname = 3\nversion = \"1\"\npublisher = \"P\"\n", 2, "product.name", "must be a string"},
      {"[product]\nname = \"" + Text('N', 76) + "\"\nversion = \"1\"\npublisher = \"P\"\n", 2, "product.name",
       "76 characters"},
      {"[product]\nname = \"" + Text('N', 70) + "\"\nversion = \"" + Text('1', 57) + "\"\npublisher = \"P\"\n", 3,
       "product.version", "at most 126"},
      {"[product]\nname = \"a\\\\b\"\nversion = \"1\"\npublisher = \"P\"\n", 2, "product.name", "folder name"},
      {"[product]\nname = \"S\"\nversion = \"1\"\npublisher = \"P\\u0000Q\"\n", 4, "product.publisher", "NUL"},
      {p + "[running]\ntitle = \"t\"\n", 6, "running.title", "unknown key"},
      {p + "[[file]]\nsource = \"missing.exe\"\n", 6, "file[0].source", "source file not found"},
      {p + "[[file]]\nname = \"x\"\n", 5, "file[0].source", "required key is missing"},
      {p + "[[file]]\nsource = \"../m.toml\"\n", 6, "file[0].source", "inside the product folder"},
      {p + "[[file]]\nsource = \"/etc/passwd\"\n", 6, "file[0].source", "inside the product folder"},
      {p + "[[file]]\nsource = \"app.exe\\u0000.txt\"\n", 6, "file[0].source", "must not contain NUL"},
      {p + "[file]\nsource = \"app.exe\"\n", 5, "file", "array of tables"},
      {p + file + "colour = 1\n", 7, "file[0].colour", "unknown key"},
      {p + file + "[[file]]\nsource = \"nope\"\n", 8, "file[1].source", "not found"},
      {p + file + "os = [\"win12\"]\n", 7, "file[0].os", "unknown name"},
      {p + file + "os = \"win10\"\n", 7, "file[0].os", "list of names"},
      {p + file + "arch = 16\n", 7, "file[0].arch", "from 0 to 15"},
      {p + file + "os = 65536\n", 7, "file[0].os", "from 0 to 65535"},
      {p + file + "no_extract = 1\n", 7, "file[0].no_extract", "true or false"},
      {p + file + "time = \"yesterday\"\n", 7, "file[0].time", "date-time"},
      {p + file + "time = 2020-01-02\n", 7, "file[0].time", "date-time"},
      {p + file + "time = -1\n", 7, "file[0].time", "date-time"},
      {p + "[package]\nlicense = \"nothing.rtf\"\n" + file, 6, "package.license", "names no installed file"},
      {p + "[package]\nos = [\"xp\", 3]\n", 6, "package.os", "unknown name"},
      {p + "[package]\narch = 256\n", 6, "package.arch", "from 0 to 255"},
      {p + "[package]\nregistry_64 = \"yes\"\n", 6, "package.registry_64", "true or false"},
      {p + "[package]\nlicence = \"x\"\n", 6, "package.licence", "unknown key"},
      {p + "[compression]\nproperties = 256\n", 6, "compression.properties", "from 0 to 255"},
      // No stub decodes these: above 224, or lc + lp above 4.
      {p + "[compression]\nproperties = 225\n", 6, "compression.properties", "at most 224"},
      {p + "[compression]\nproperties = 0x0E\n", 6, "compression.properties", "lc + lp at most 4"},
      {p + "[compression]\nproperties = 0x2C\n", 6, "compression.properties", "lc + lp at most 4"},
      // Masks of undefined bits only admit no system.
      {p + "[package]\nos = 0x80\n", 6, "package.os", "none of the defined bits"},
      {p + "[package]\narch = 0xF8\n", 6, "package.arch", "none of the defined bits"},
      {p + file + "os = 0xFF80\n", 7, "file[0].os", "none of the defined bits"},
      {p + file + "arch = 8\n", 7, "file[0].arch", "none of the defined bits"},
      {p + "[compression]\ndictionary = 4294967296\n", 6, "compression.dictionary", "from 0 to 4294967295"},
      {p + "[compression]\nend_marker = 0\n", 6, "compression.end_marker", "true or false"},
      {p + "[compression]\nlevel = 10\n", 6, "compression.level", "from 0 to 9"},
      {p + "[[language]]\nname = \"English\"\n", 5, "language[0].id", "required key is missing"},
      {p + "[[language]]\nid = 0x10000\n", 6, "language[0].id", "from 0 to 65535"},
      {p + "[[language]]\nid = 0x409\nlang = 1\n", 7, "language[0].lang", "unknown key"},
      {p + "[[language]]\nid = 0x409\n[language.texts]\nTXT_FOO = \"x\"\n", 8, "language[0].texts.TXT_FOO",
       "unknown text name"},
      {p + "[[language]]\nid = 0x409\n[language.texts]\nTXT_BACK = 1\n", 8, "language[0].texts.TXT_BACK",
       "must be a string"},
      {p + "[[language]]\nid = 0x409\n[language.texts]\nTXT_BACK = \"a\\u0000\"\n", 8,
       "language[0].texts.TXT_BACK", "NUL"},
      // Formatted lengths against the stub's buffers; "Sample" has 6 characters.
      {p + "[[language]]\nid = 0x409\n[language.texts]\nTXT_DEST_SUBTITLE_FMT = \"%s" + Text('x', 250) + "\"\n",
       8, "language[0].texts.TXT_DEST_SUBTITLE_FMT", "256 characters"},
      {p + "[[language]]\nid = 0x409\n[language.texts]\nTXT_FINISH_SUBTITLE = \"" + Text('x', 256) + "\"\n", 8,
       "language[0].texts.TXT_FINISH_SUBTITLE", "at most 255"},
      {p + "[[language]]\nid = 0x409\n[language.texts]\nTXT_LAUNCH_FMT = \"%s" + Text('x', 122) + "\"\n", 8,
       "language[0].texts.TXT_LAUNCH_FMT", "at most 127"},
      {p + "[[language]]\nid = 0x409\n[language.texts]\nTXT_FOLDER_EXISTS_FMT = \"%s" + Text('x', 253) + "\"\n",
       8, "language[0].texts.TXT_FOLDER_EXISTS_FMT", "at most 511"},
      {p + "[[language]]\nid = 0x409\n[language.texts]\nTXT_APP_RUNNING_FMT = \"%s" + Text('x', 506) + "\"\n",
       8, "language[0].texts.TXT_APP_RUNNING_FMT", "at most 511"},
      {p + "[[language]]\nid = 0x409\n[language.texts]\nTXT_NEED_ADMIN = \"" + Text('x', 512) + "\"\n", 8,
       "language[0].texts.TXT_NEED_ADMIN", "at most 511"},
      {p + "[[language]]\nid = 0x409\n[language.texts]\nTXT_TITLE_FMT = \"%s" + Text('x', 250) + "\"\n", 8,
       "language[0].texts.TXT_TITLE_FMT", "at most 259"},
      {p + "[[language]]\nid = 0x409\n[language.texts]\nTXT_LAUNCH_FMT = \"%200s\"\n", 8,
       "language[0].texts.TXT_LAUNCH_FMT", "at most 127"},
      {p + "[product]\nname = \"again\"\n", 5, "", ""},  // a TOML error: no key
      {p + "name = \n", 5, "", ""},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.Manifest);
    std::string errors;
    EXPECT_EQ(Build(k.Manifest, &errors), 2);
    std::string where = "error: " + (dir_.Path / "m.toml").string() + (k.Line ? ":" + std::to_string(k.Line) : "");
    EXPECT_EQ(errors.rfind(where + ": " + k.Key, 0), 0u) << errors;
    EXPECT_NE(errors.find(k.Problem), std::string::npos) << errors;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << "one line";
    EXPECT_FALSE(std::filesystem::exists(Output()));
    EXPECT_EQ(FilesInDir(), 2u) << "only the manifest and the stub";
  }
}

TEST_F(ManifestTest, InstalledNamesMustBeInstallable) {
  struct Case {
    std::string Name;  // TOML basic-string contents
    std::string Problem;
  } cases[] = {
      {"", "empty"},
      {"C:x", "':'"},
      {"\\\\a", "leaves the installation folder"},
      {"/a", "leaves the installation folder"},
      {"a:b", "':'"},
      {".\\\\a", "leaves the installation folder"},
      {"a\\\\..\\\\b", "leaves the installation folder"},
      {"a/../b", "leaves the installation folder"},
      {"..", "leaves the installation folder"},
      {"a\\\\", "empty component"},
      {"a\\\\\\\\b", "empty component"},
      {"a*b", "does not allow"},
      {"tab\\there", "control character"},
      {"esc\\u001b[2J", "control character"},
      {"COM\\u00b9", "device"},
      {"a.", "ending in a dot or a space"},
      {"dir \\\\a.txt", "ending in a dot or a space"},
      {"CON", "device"},
      {"bin\\\\com1.txt", "device"},
      {"Lpt9.log", "device"},
      {"nul .txt", "device"},
      {Text('n', 257), "longer than 256"},
      {Repeated("\u65e5", 257), "longer than 256"},
      {Repeated("\U0001F600", 129), "longer than 256"},
  };
  for (const Case& k : cases) {
    std::string manifest = std::string(kProduct) + "[[file]]\nsource = \"app.exe\"\nname = \"" + k.Name + "\"\n";
    try {
      Read(manifest);
      ADD_FAILURE() << "accepted \"" << k.Name << "\"";
    } catch (const PackerError& error) {
      EXPECT_EQ(error.Key, "file[0].name") << k.Name;
      EXPECT_EQ(error.Line, 7) << k.Name;
      EXPECT_NE(error.Problem.find(k.Problem), std::string::npos) << k.Name << ": " << error.Problem;
    }
  }
  const std::string goodNames[] = {"app.exe", "bin\\\\x64\\\\app.exe", "a b (1).txt", "..a", "COM10", "console.txt",
                                   "LPT0", "a.b", Text('n', 256),
                                   "caf\u00e9.txt", "\u00dcbersicht.txt", "\u041f\u0440\u0438\u0432\u0435\u0442\\\\\u0444\u0430\u0439\u043b.txt",
                                   "\u65e5\u672c\u8a9e.txt", Repeated("\u65e5", 256), Repeated("\U0001F600", 128)};
  for (const std::string& good : goodNames) {
    std::string manifest = std::string(kProduct) + "[[file]]\nsource = \"app.exe\"\nname = \"" + good + "\"\n";
    EXPECT_NO_THROW(Read(manifest)) << good;
  }
}

TEST_F(ManifestTest, TextsAtTheirLimitsPass) {
  // The longest texts that still fit, formatted with "Sample" (6 characters).
  std::string manifest = std::string(kProduct) + "[[language]]\nid = 0x409\n[language.texts]\n" +
                         "TXT_DEST_SUBTITLE_FMT = \"%s" + Text('x', 249) + "\"\n" +
                         "TXT_LAUNCH_FMT = \"%s" + Text('x', 121) + "\"\n" +
                         "TXT_FOLDER_EXISTS_FMT = \"%s" + Text('x', 252) + "\"\n" +
                         "TXT_APP_RUNNING_FMT = \"%s" + Text('x', 505) + "\"\n" +
                         "TXT_LICENSE_SUBTITLE = \"" + Text('x', 255) + "\"\n" +
                         "TXT_BROWSE_PROMPT = \"" + Text('x', 2000) + "\"\n";
  Manifest m = Read(manifest);
  EXPECT_EQ(m.Contents.Languages[0].Strings[1 + TXT_LAUNCH_FMT].size(), 123u);
}

TEST_F(ManifestTest, FullManifestFillsThePackage) {
  Manifest m = Read(std::string(R"([product]
name = "Sample"
version = "2.5"
publisher = "Sample Publisher"
main_program = "bin\\Sample.exe"
launch_command = "%ProgramFiles%\\Sample\\bin\\Sample.exe"
default_install_dir = "%ProgramFiles%\\Sample"
configure_args = "/configure %u \"%s\""
uninstall_args = "/uninstall"
unsupported_os_target = "https://example.com/"
[running]
mutex = "SampleMutex"
window_class = "SampleWindow"
window_title = "Sample Title"
[package]
os = ["win7", "win10", "win11+"]
arch = 6
registry_64 = true
license = "docs/license.rtf"
[compression]
properties = 0
dictionary = 65536
level = 2
end_marker = true
[[file]]
source = "app.exe"
name = "bin\\Sample.exe"
os = ["win10", "win11+"]
arch = ["x64"]
no_extract = true
time = 2020-01-02T03:04:05Z
[[file]]
source = "license.rtf"
name = "docs/license.rtf"
replace_locked = true
time = 2020-01-02T04:04:05.5+01:00
[[file]]
source = "sub/data.bin"
os = 0x21
arch = ["x86", "arm64"]
time = 132224078450000000
[[language]]
id = 0x409
name = "English"
[[language]]
id = 0x407
name = "Deutsch"
[language.texts]
TXT_CANCEL = "Abbrechen"
TXT_BACK = ""
)"));
  const PackageContents& c = m.Contents;
  EXPECT_EQ(WideToAscii(c.Config[CFG_PRODUCT_NAME].c_str()), "Sample");
  EXPECT_EQ(WideToAscii(c.Config[CFG_PRODUCT_VERSION].c_str()), "2.5");
  EXPECT_EQ(WideToAscii(c.Config[CFG_MAIN_PROGRAM].c_str()), "bin\\Sample.exe");
  EXPECT_EQ(WideToAscii(c.Config[CFG_LAUNCH_COMMAND].c_str()), "%ProgramFiles%\\Sample\\bin\\Sample.exe");
  EXPECT_EQ(WideToAscii(c.Config[CFG_RUNNING_MUTEX].c_str()), "SampleMutex");
  EXPECT_EQ(WideToAscii(c.Config[CFG_RUNNING_WINDOW_CLASS].c_str()), "SampleWindow");
  EXPECT_EQ(WideToAscii(c.Config[CFG_RUNNING_WINDOW_TITLE].c_str()), "Sample Title");
  EXPECT_EQ(WideToAscii(c.Config[CFG_PUBLISHER_NAME].c_str()), "Sample Publisher");
  EXPECT_EQ(WideToAscii(c.Config[CFG_DEFAULT_INSTALL_DIR].c_str()), "%ProgramFiles%\\Sample");
  EXPECT_EQ(WideToAscii(c.Config[CFG_CONFIGURE_ARGS].c_str()), "/configure %u \"%s\"");
  EXPECT_EQ(WideToAscii(c.Config[CFG_UNINSTALL_ARGS].c_str()), "/uninstall");
  EXPECT_EQ(WideToAscii(c.Config[CFG_UNSUPPORTED_OS_TARGET].c_str()), "https://example.com/");

  EXPECT_EQ(c.OsMask, 8 | 32 | 64);
  EXPECT_EQ(c.ArchMask, 6);
  EXPECT_EQ(c.HeaderFlags, PH_REGISTRY_64);
  EXPECT_EQ(c.LicenseEntry, 1);
  EXPECT_EQ(m.Lzma.Properties, 0);
  EXPECT_EQ(m.Lzma.Dictionary, 65536u);
  EXPECT_TRUE(m.Lzma.EndMarker);
  EXPECT_EQ(m.Lzma.Level, 2u);

  ASSERT_EQ(c.Files.size(), 3u);
  EXPECT_EQ(c.Files[0].Name, "bin\\Sample.exe");
  EXPECT_EQ(c.Files[0].Flags, MakeEntryFlags(OS_WIN10 | OS_WIN11_LATER, ARCH_X64, FE_NO_EXTRACT));
  EXPECT_EQ(ReadWholeFile(c.Files[0].Source), Bytes("APP")) << "read while packing, not before";
  EXPECT_EQ(c.Files[0].SourceSize, 3u);
  EXPECT_TRUE(c.Files[0].Data.empty());
  // 2020-01-02T03:04:05Z is 1577934245 s after 1970.
  const uint64_t kTime = (1577934245ull + 11644473600ull) * 10000000ull;
  EXPECT_EQ(c.Files[0].LastWriteTime, kTime);
  EXPECT_EQ(c.Files[1].Name, "docs\\license.rtf") << "'/' becomes '\\'";
  EXPECT_EQ(c.Files[1].Flags, FE_REPLACE_LOCKED);
  EXPECT_EQ(c.Files[1].LastWriteTime, kTime + 5000000) << "offset applied, fraction kept";
  EXPECT_EQ(c.Files[2].Name, "sub\\data.bin") << "default name: source with backslashes";
  EXPECT_EQ(c.Files[2].Flags, MakeEntryFlags(0x21u, 0x5u, 0));
  EXPECT_EQ(c.Files[2].LastWriteTime, 132224078450000000ull);

  ASSERT_EQ(c.Languages.size(), 2u);
  EXPECT_EQ(c.Languages[1].LangId, 0x407);
  EXPECT_EQ(WideToAscii(c.Languages[1].Strings[0].c_str()), "Deutsch");
  EXPECT_EQ(WideToAscii(c.Languages[1].Strings[1 + TXT_CANCEL].c_str()), "Abbrechen");
  EXPECT_TRUE(c.Languages[1].Strings[1 + TXT_BACK].empty());
  EXPECT_EQ(c.Languages[1].Strings[1 + TXT_NEXT], u"&Weiter >") << "unnamed texts come from the shipped German";
}

TEST_F(ManifestTest, MinimalManifestTakesTheWholeFolder) {
  std::string data = (dir_.Path / "product/sub/data.bin").string();
  struct timespec times[2] = {{0, UTIME_OMIT}, {1577934245, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, data.c_str(), times, 0), 0);

  Manifest m = Read(kProduct);
  const PackageContents& c = m.Contents;
  ASSERT_EQ(c.Files.size(), 3u);
  EXPECT_EQ(c.Files[0].Name, "app.exe");
  EXPECT_EQ(c.Files[1].Name, "license.rtf");
  EXPECT_EQ(c.Files[2].Name, "sub\\data.bin");
  EXPECT_EQ(c.Files[2].LastWriteTime, (1577934245ull + 11644473600ull) * 10000000ull) << "the file's mtime";
  for (const PackageFileEntry& f : c.Files) EXPECT_EQ(f.Flags, 0u);
  EXPECT_EQ(c.LicenseEntry, NO_LICENSE_ENTRY);
  EXPECT_EQ(c.OsMask, 0);
  EXPECT_EQ(c.ArchMask, 0);
  ASSERT_EQ(c.Languages.size(), 1u);
  EXPECT_EQ(c.Languages[0].LangId, 0x409);
  EXPECT_EQ(c.Languages[0].Strings[0], u"English");
  EXPECT_TRUE(c.Config[CFG_MAIN_PROGRAM].empty());
  EXPECT_EQ(m.Lzma.Properties, 0x5D);
  EXPECT_EQ(m.Lzma.Dictionary, 1u << 23);
  EXPECT_FALSE(m.Lzma.EndMarker);
  EXPECT_EQ(m.Lzma.Level, uint32_t{DEFAULT_LEVEL});
}

TEST_F(ManifestTest, MoreThan255LanguagesAreRefused) {
  std::string languages;
  for (int i = 0; i < 256; ++i) languages += "[[language]]\nid = " + std::to_string(i) + "\n";
  try {
    Read(kProduct + languages);
    ADD_FAILURE() << "256 languages accepted";
  } catch (const PackerError& error) {
    EXPECT_EQ(error.Key, "language");
    EXPECT_EQ(error.Line, 5 + 2 * 255);
  }
  languages.resize(languages.rfind("[[language]]"));
  EXPECT_EQ(Read(kProduct + languages).Contents.Languages.size(), 255u);
}

TEST_F(ManifestTest, ProductsOf2GiBAreRefusedBeforeReading) {
  // Sparse, and with the texts and the table just over the limit of one
  // stream (a stub without chunks gets one): the size is checked before a
  // byte is read, and twice the size is refused by the manifest's reader.
  std::filesystem::resize_file(dir_.Write("product/huge.bin", ""), 0x7FFFFFFFull - 1000);
  dir_.Write("product/same-size-a.bin", "a");
  dir_.Write("product/same-size-b.bin", "b");
  std::string errors;
  EXPECT_EQ(Build(kProduct, &errors), 2);
  EXPECT_EQ(errors, "error: package: file: the package would exceed 2 GiB\n");
  std::filesystem::resize_file(dir_.Path / "product" / "huge.bin", 0xFFFFFFFFull - 1000);
  EXPECT_EQ(Build(kProduct, &errors), 2);
  EXPECT_EQ(errors.rfind("error: " + (dir_.Path / "m.toml").string() + ": file: 6 files of ", 0), 0u) << errors;
  EXPECT_FALSE(std::filesystem::exists(Output()));
}

TEST_F(ManifestTest, EdgesOfPropertiesAndMasksPass) {
  // 0xE0 would pass the format's rule but not the decoder's (lc 8); 0x5A has
  // lc + lp = 4 exactly. Masks with one defined bit among undefined ones pass.
  Manifest m = Read(std::string(kProduct) + "[package]\nos = 0x81\narch = 0x0C\n[compression]\nproperties = 0x5A\n" +
                    "[[file]]\nsource = \"app.exe\"\nos = 0x8040\narch = 0xC\n");
  EXPECT_EQ(m.Contents.OsMask, 0x81);
  EXPECT_EQ(m.Contents.ArchMask, 0x0C);
  EXPECT_EQ(m.Lzma.Properties, 0x5A);
  EXPECT_EQ(m.Contents.Files[0].Flags, MakeEntryFlags(0x8040u, 0xCu, 0));
}

TEST_F(ManifestTest, SourcesMayUseBackslashes) {
  Manifest m = Read(std::string(kProduct) + "[[file]]\nsource = 'sub\\data.bin'\n");
  ASSERT_EQ(m.Contents.Files.size(), 1u);
  EXPECT_EQ(m.Contents.Files[0].Name, "sub\\data.bin");
  std::string errors;
  ASSERT_EQ(Build(std::string(kProduct) + "[[file]]\nsource = 'sub\\data.bin'\n", &errors), 0) << errors;
  std::ostringstream out, err;
  ASSERT_EQ(RunPacker({"extract", Output(), (dir_.Path / "x").string()}, out, err), 0) << err.str();
  std::ifstream in(dir_.Path / "x" / "sub" / "data.bin", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), "DATA");
  EXPECT_EQ(Build(std::string(kProduct) + "[[file]]\nsource = '..\\m.toml'\n", &errors), 2);
  EXPECT_NE(errors.find("file[0].source: must be a relative path inside"), std::string::npos) << errors;
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void SetMtime(const std::string& path, int64_t seconds) {
  struct timespec times[2] = {{0, UTIME_OMIT}, {seconds, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// Two copies of one tree, made in opposite orders and touched at different
// times after SOURCE_DATE_EPOCH, must pack to the same bytes.
TEST_F(ManifestTest, SourceDateEpochMakesRebuildsIdentical) {
  const int64_t epoch = 1600000000;
  const char* names[] = {"b/two.txt", "a.txt", "b/one.dll", "c/d/e.txt", "z.bin", "b/three.txt"};
  auto makeTree = [&](const std::string& folder, bool reversed, int64_t touched) {
    std::filesystem::remove_all(dir_.Path / "product");
    for (size_t n = 0; n < 6; ++n) {
      size_t i = reversed ? 5 - n : n;
      std::string path = dir_.Write("product/" + std::string(names[i]), std::string(100 + i, 'a' + i));
      SetMtime(path, i == 4 ? epoch - 86400 : touched + static_cast<int64_t>(i));
    }
    std::string errors;
    EXPECT_EQ(Build(kProduct, &errors, {"--quiet"}), 0) << errors;
    std::filesystem::rename(Output(), dir_.Path / folder);
    return ReadBytes((dir_.Path / folder).string());
  };
  struct Restore {
    ~Restore() { unsetenv("SOURCE_DATE_EPOCH"); }
  } restore;

  std::vector<uint8_t> unclamped = makeTree("first", false, epoch + 100);
  EXPECT_NE(makeTree("second", true, epoch + 5000), unclamped) << "the times differ without the variable";

  setenv("SOURCE_DATE_EPOCH", std::to_string(epoch).c_str(), 1);
  std::vector<uint8_t> first = makeTree("first", false, epoch + 100);
  EXPECT_EQ(makeTree("second", true, epoch + 5000), first);

  const uint64_t clamped = UnixTimeToFileTime(epoch, 0);
  Manifest m = Read(kProduct);
  for (const PackageFileEntry& f : m.Contents.Files)
    EXPECT_EQ(f.LastWriteTime, f.Name == "z.bin" ? UnixTimeToFileTime(epoch - 86400, 0) : clamped)
        << f.Name << ": later times clamped, earlier kept";
  Manifest timed = Read(kProduct + std::string("[[file]]\nsource = \"a.txt\"\ntime = 2030-01-01T00:00:00Z\n"));
  EXPECT_GT(timed.Contents.Files[0].LastWriteTime, clamped) << "a time from the manifest is the author's choice";

  setenv("SOURCE_DATE_EPOCH", "soon", 1);
  std::string errors;
  EXPECT_EQ(Build(kProduct, &errors), 2);
  EXPECT_NE(errors.find("SOURCE_DATE_EPOCH"), std::string::npos) << errors;
}

// --- Shipped translations: the languages list and [[language]] tables -----

TEST_F(ManifestTest, LanguagesListTakesShippedTranslationsInItsOrder) {
  Manifest m = Read("languages = [\"ja\", \"DE\", 0x804, \"en-US\"]\n" + std::string(kProduct));
  const std::vector<PackageLanguage>& l = m.Contents.Languages;
  ASSERT_EQ(l.size(), 4u);
  const char* const tags[] = {"ja", "de", "zh-CN", "en"};
  for (size_t i = 0; i < 4; ++i) {
    const ShippedLanguage* shipped = FindShippedLanguage(std::string(tags[i]));
    ASSERT_NE(shipped, nullptr);
    PackageLanguage expected = ToPackageLanguage(*shipped);
    EXPECT_EQ(l[i].LangId, expected.LangId) << i;
    for (uint32_t s = 0; s < LANGUAGE_STRINGS; ++s) EXPECT_EQ(l[i].Strings[s], expected.Strings[s]) << i << " " << s;
  }
  EXPECT_EQ(l[0].Strings[0], u"日本語") << "the first is the fallback";
  EXPECT_EQ(l[1].Strings[1 + TXT_CANCEL], u"Abbrechen");
}

TEST_F(ManifestTest, LanguageTablesStartFromTheShippedTranslation) {
  Manifest m = Read("languages = [\"de\", \"en\"]\n" + std::string(kProduct) +
                    "[[language]]\nid = 0x407\n[language.texts]\nTXT_CANCEL = \"Stopp\"\n"
                    "[[language]]\nid = 0x40C\n"
                    "[[language]]\nid = 0x436\nname = \"Afrikaans\"\n"
                    "[[language]]\nid = 0x492\nname = \"Kurdî\"\nrtl = true\n"
                    "[[language]]\nid = 0x401\nname = \"\u200F\"\nrtl = true\n");
  const std::vector<PackageLanguage>& l = m.Contents.Languages;
  ASSERT_EQ(l.size(), 6u);
  // The listed German, changed in place: its name, one text overridden.
  EXPECT_EQ(l[0].LangId, 0x407);
  EXPECT_EQ(l[0].Strings[0], u"Deutsch");
  EXPECT_EQ(l[0].Strings[1 + TXT_CANCEL], u"Stopp");
  EXPECT_EQ(l[0].Strings[1 + TXT_NEXT], u"&Weiter >");
  EXPECT_EQ(l[1].LangId, 0x409);
  // Not listed: added after, the shipped French with an empty name as a
  // table without name always had; an id without a translation: English.
  EXPECT_EQ(l[2].LangId, 0x40C);
  EXPECT_EQ(l[2].Strings[0], u"");
  EXPECT_EQ(l[2].Strings[1 + TXT_FINISH], u"&Terminer");
  EXPECT_EQ(l[3].LangId, 0x436);
  EXPECT_EQ(l[3].Strings[0], u"Afrikaans");
  for (int t = 0; t < TXT_COUNT; ++t) EXPECT_EQ(l[3].Strings[1 + t], EnglishLanguage().Strings[1 + t]) << t;
  // rtl = true: the stub's mark at the name's start, once.
  EXPECT_EQ(l[4].Strings[0], u"\u200FKurdî");
  EXPECT_EQ(l[5].Strings[0], u"\u200F");
  EXPECT_EQ(l[5].Strings[1 + TXT_BACK], u"< ال&سابق");
}

TEST_F(ManifestTest, EnglishPackagesStayAsTheyWere) {
  // No language, English by table and English by list: the same bytes.
  std::string errors;
  const std::string manifests[] = {
      kProduct,
      std::string(kProduct) + "[[language]]\nid = 0x409\nname = \"English\"\n",
      "languages = [\"en\"]\n" + std::string(kProduct),
  };
  std::vector<std::vector<uint8_t>> outputs;
  for (const std::string& text : manifests) {
    ASSERT_EQ(Build(text, &errors), 0) << errors;
    outputs.push_back(ReadWholeFile(Output()));
  }
  EXPECT_EQ(outputs[1], outputs[0]);
  EXPECT_EQ(outputs[2], outputs[0]);
}

TEST_F(ManifestTest, BadLanguagesListsAreRefused) {
  const std::string p = kProduct;  // lines 2 to 5 after a languages line
  struct Case {
    std::string Manifest;
    int Line;
    std::string Key;
    std::string Problem;
  } cases[] = {
      {"languages = [\"de\", \"xx\"]\n" + p, 1, "languages[1]", "no shipped translation has the tag \"xx\""},
      {"languages = [\"zh\"]\n" + p, 1, "languages[0]", "no shipped translation has the tag"},
      {"languages = [0x436]\n" + p, 1, "languages[0]", "no shipped translation for LANGID 0x0436"},
      {"languages = [0x10000]\n" + p, 1, "languages[0]", "from 0 to 65535"},
      {"languages = [\"zh-CN\", \"zh-hans\"]\n" + p, 1, "languages[1]", "names language 0x0804 (zh-CN) a second time"},
      {"languages = [\"de\", 0x407]\n" + p, 1, "languages[1]", "a second time"},
      {"languages = []\n" + p, 1, "languages", "at least one"},
      {"languages = \"de\"\n" + p, 1, "languages", "must be a list"},
      {"languages = [true]\n" + p, 1, "languages[0]", "a language tag (a string) or a LANGID"},
      {"languages = [\"de\"]\n" + p + "[[language]]\nid = 0x407\n[[language]]\nid = 0x407\n", 9, "language[1].id",
       "a second [[language]] table for 0x0407"},
      {"languages = [\"he\"]\n" + p + "[[language]]\nid = 0x40D\nrtl = false\n", 8, "language[0].rtl",
       "cannot be false for 0x040D, a right-to-left language by its LANGID"},
      {p + "[[language]]\nid = 0x409\nname = \"\u200FX\"\nrtl = false\n", 8, "language[0].rtl",
       "whose name begins with RIGHT-TO-LEFT MARK"},
      {p + "[[language]]\nid = 0x409\nrtl = 1\n", 7, "language[0].rtl", "must be true or false"},
      // An override is checked like any text, at its own line.
      {"languages = [\"de\"]\n" + p + "[[language]]\nid = 0x407\n[language.texts]\nTXT_LAUNCH_FMT = \"%s" +
           Text('x', 122) + "\"\n",
       9, "language[0].texts.TXT_LAUNCH_FMT", "at most 127"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.Manifest);
    std::string errors;
    EXPECT_EQ(Build(k.Manifest, &errors), 2);
    std::string where = "error: " + (dir_.Path / "m.toml").string() + ":" + std::to_string(k.Line);
    EXPECT_EQ(errors.rfind(where + ": " + k.Key + ": ", 0), 0u) << errors;
    EXPECT_NE(errors.find(k.Problem), std::string::npos) << errors;
    EXPECT_FALSE(std::filesystem::exists(Output()));
  }
}

}  // namespace
