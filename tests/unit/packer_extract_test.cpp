// The extract command: what an installation on the given system would write,
// and what it refuses.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <stddef.h>
#include <string.h>

#include <functional>
#include <sstream>

#include "packer/commands.h"
#include "packer_test_support.h"

using namespace packer_test;

namespace {

// extract: writes what an installation on the given system would write.
class ExtractTest : public testing::Test {
 protected:
  int Extract(const PackageContents& c, std::vector<std::string> extra = {}, const BlockOverrides& overrides = {}) {
    std::vector<uint8_t> image = MakeBlockImage(BuildOverriddenBlock(c, overrides));
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
  c.Files.push_back({"win7\\only.dll", Bytes("7"), MakeEntryFlags(OS_WIN7, 0, 0), 6, {}, 0});
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

// The entries' data shared: entry 0's DataOffset and DataSize in every entry.
std::vector<uint8_t> SharedDataBlock(uint32_t entries, uint32_t size) {
  PackageContents c = SmallContents();
  c.Files.clear();
  c.LicenseEntry = NO_LICENSE_ENTRY;
  for (uint32_t i = 0; i < entries; ++i)
    c.Files.push_back({"f" + std::to_string(i), i == 0 ? std::vector<uint8_t>(size, 'd') : Bytes(""), 0, 1, {}, 0});
  std::vector<uint8_t> block = BuildBlock(c);
  const size_t first = sizeof(PackageHeader);
  for (uint32_t i = 1; i < entries; ++i) {
    const size_t at = first + i * sizeof(FileEntry);
    memcpy(&block[at + offsetof(FileEntry, DataSize)], &block[first + offsetof(FileEntry, DataSize)], 4);
    memcpy(&block[at + offsetof(FileEntry, DataOffset)], &block[first + offsetof(FileEntry, DataOffset)], 4);
  }
  return block;
}

TEST_F(ExtractTest, HostileNamesFoldersAndSizes) {
  const std::string outside = (dir_.Path / "elsewhere" / "target").string();
  struct Case {
    const char* What;
    std::vector<uint8_t> Block;
    std::vector<std::string> Options;
    std::function<void(const std::filesystem::path& out)> Prepare;
    int Code;
    std::string Message;               // in err
    std::vector<std::string> Written;  // the folder's listing afterwards
  } cases[] = {
      {"a hard link at a name is replaced, not written through", BuildBlock(Variants()), {},
       [&](const std::filesystem::path& out) {
         std::filesystem::create_directories(out / "bin");
         std::filesystem::create_hard_link(outside, out / "bin" / "app.exe");
       },
       0, "", {"Docs/", "Docs/Read.txt", "bin/", "bin/app.exe", "empty.dat", "logs/", "win7/", "win7/only.dll"}},
      {"a symbolic link at a name is replaced, not followed", BuildBlock(Variants()), {},
       [&](const std::filesystem::path& out) {
         std::filesystem::create_directories(out);
         std::filesystem::create_symlink(outside, out / "empty.dat");
       },
       0, "", {"Docs/", "Docs/Read.txt", "bin/", "bin/app.exe", "empty.dat", "logs/", "win7/", "win7/only.dll"}},
      {"a file where a folder belongs", BuildBlock(Variants()), {},
       [&](const std::filesystem::path& out) {
         std::filesystem::create_directories(out);
         std::ofstream(out / "bin") << "x";
       }, 2,
       "is a file where a folder belongs", {"bin"}},
      {"a device name", BuildBlock([] { PackageContents c = Variants(); c.Files.push_back({"COM1", Bytes("x"), 0, 1, {}, 0}); return c; }()),
       {}, nullptr, 1, "no valid package", {}},
      {"a device name with an extension", BuildBlock([] { PackageContents c = Variants(); c.Files.push_back({"bin\\nul.txt", Bytes("x"), 0, 1, {}, 0}); return c; }()),
       {}, nullptr, 1, "no valid package", {}},
      {"a component ending in a dot", BuildBlock([] { PackageContents c = Variants(); c.Files.push_back({"a.", Bytes("x"), 0, 1, {}, 0}); return c; }()),
       {}, nullptr, 1, "no valid package", {}},
      {"an ESC in a name", BuildBlock([] { PackageContents c = Variants(); c.Files.push_back({"\x1b]0;owned\x07", Bytes("x"), 0, 1, {}, 0}); return c; }()),
       {}, nullptr, 1, "no valid package", {}},
      {"a forward slash separates, as for the stub", BuildBlock([] { PackageContents c = SmallContents(); c.Files.clear(); c.LicenseEntry = NO_LICENSE_ENTRY; c.Files.push_back({"a/b", Bytes("ab"), 0, 1, {}, 0}); return c; }()),
       {}, nullptr, 0, "", {"a/", "a/b"}},
      {"shared data over --max-total", SharedDataBlock(3, 1000), {"--max-total", "2999"}, nullptr, 2,
       "the files would take 3000 bytes, more than --max-total 2999; nothing written", {}},
      {"shared data at --max-total", SharedDataBlock(3, 1000), {"--max-total", "3000"}, nullptr, 0, "",
       {"f0", "f1", "f2"}},
      {"shared data over the default limit", SharedDataBlock(4100, 1 << 20), {}, nullptr, 2,
       "the files would take 4299161600 bytes, more than --max-total 4294967296", {}},
  };
  for (Case& k : cases) {
    SCOPED_TRACE(k.What);
    std::filesystem::remove_all(dir_.Path);
    std::filesystem::create_directories(dir_.Path / "elsewhere");
    dir_.Write("elsewhere/target", "outside");
    if (k.Prepare) k.Prepare(Out());
    std::vector<uint8_t> image = MakeBlockImage(k.Block);
    std::vector<std::string> args = {"extract", dir_.Write("setup.exe", std::string(image.begin(), image.end())), Out()};
    args.insert(args.end(), k.Options.begin(), k.Options.end());
    std::ostringstream out, err;
    EXPECT_EQ(RunPacker(args, out, err), k.Code) << err.str();
    EXPECT_TRUE(Has(err.str(), k.Message)) << err.str();
    EXPECT_EQ(err.str().find('\x1b'), std::string::npos) << "no ESC reaches the terminal";
    EXPECT_EQ(Listing(), k.Written);
    std::ifstream in(outside, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), "outside");
  }
  // The total is known from the head of the block: a package too large is
  // refused before its data is decoded (here, before its damage shows).
  {
    std::filesystem::remove_all(dir_.Path);
    std::vector<uint8_t> damaged = MakeImage(BigContents());
    damaged[damaged.size() - 100000] ^= 0x55;  // in the noise, far behind the head
    std::string setup = dir_.Write("setup.exe", std::string(damaged.begin(), damaged.end()));
    std::ostringstream out, err;
    EXPECT_EQ(RunPacker({"extract", setup, Out(), "--max-total", "1000"}, out, err), 2);
    EXPECT_TRUE(Has(err.str(), "more than --max-total 1000")) << err.str();
    std::ostringstream out2, err2;
    EXPECT_EQ(RunPacker({"extract", setup, Out()}, out2, err2), 1);
    EXPECT_TRUE(Has(err2.str(), "no valid package")) << err2.str();
  }
  // A path given on the command line reaches messages quoted.
  std::filesystem::remove_all(dir_.Path);
  std::vector<uint8_t> image = MakeBlockImage(BuildBlock(Variants()));
  std::string odd = (dir_.Path / "out\x1b[2J").string();
  dir_.Write("out\x1b[2J/bin", "x");
  std::ostringstream out, err;
  EXPECT_EQ(RunPacker({"extract", dir_.Write("setup.exe", std::string(image.begin(), image.end())), odd}, out, err), 2);
  EXPECT_TRUE(Has(err.str(), "out\\x1B[2J/bin")) << err.str();
  EXPECT_EQ(err.str().find('\x1b'), std::string::npos);
}

}  // namespace
