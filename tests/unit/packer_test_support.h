// Shared helpers for the packer and loader tests: a minimal PE stub, a small
// package with known contents, and writing and loading setup images in
// memory.
#pragma once
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "package/package_loader.h"
#include "package/system_class.h"
#include "packer/commands.h"
#include "package/pe_layout.h"
#include "packer/package_writer.h"
#include "memory_source.h"

namespace packer_test {

// Offset of the certificate table's data directory entry in FakePeStub.
constexpr uint32_t kCertificateEntryAt = 0x40 + OPTIONAL_HEADER_AT + DataDirectoryAt(0x10B, CERTIFICATE_TABLE_INDEX);

// MZ header, PE signature, a PE32 optional header with its data directory;
// no sections. Enough for the loader's and the packer's header checks.
inline std::vector<uint8_t> FakePeStub(uint32_t size = 0x200) {
  std::vector<uint8_t> stub(size, 0);
  stub[0] = 'M';
  stub[1] = 'Z';
  stub[0x3C] = 0x40;
  memcpy(&stub[0x40], "PE\0\0", 4);
  stub[0x40 + 24] = 0x0B;  // PE32 optional header magic 0x10B
  stub[0x40 + 25] = 0x01;
  return stub;
}

inline void PutU32At(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// FakePeStub with one section, .rsrc at file offset 0x200 (RVA 0x1000),
// whose resource tree holds the RCDATA resources given (id, bytes), each in
// language 0x409, as windres lays out resources/stub.rc.
inline std::vector<uint8_t> FakePeStubWithResources(
    const std::vector<std::pair<uint32_t, std::vector<uint8_t>>>& resources) {
  std::vector<uint8_t> stub = FakePeStub(0x300);
  auto put16 = [&](size_t at, uint16_t value) {
    stub[at] = static_cast<uint8_t>(value);
    stub[at + 1] = static_cast<uint8_t>(value >> 8);
  };
  const uint32_t n = static_cast<uint32_t>(resources.size());
  // Root (one type), the names, one language directory per name, one data
  // entry per name, then the data.
  const uint32_t namesAt = 0x18, languagesAt = namesAt + 16 + 8 * n, entriesAt = languagesAt + 0x18 * n;
  uint32_t dataAt = entriesAt + 16 * n;
  put16(0x40 + 6, 1);     // NumberOfSections
  put16(0x40 + 20, 224);  // SizeOfOptionalHeader of PE32
  PutU32At(stub, 0x40 + 24 + 96 + 2 * 8, 0x1000);  // resource table: RVA, size
  PutU32At(stub, 0x40 + 24 + 96 + 2 * 8 + 4, 0x100);
  const size_t section = 0x40 + 24 + 224;
  memcpy(&stub[section], ".rsrc", 5);
  PutU32At(stub, section + 8, 0x100);    // VirtualSize
  PutU32At(stub, section + 12, 0x1000);  // VirtualAddress
  PutU32At(stub, section + 16, 0x100);   // SizeOfRawData
  PutU32At(stub, section + 20, 0x200);   // PointerToRawData
  const size_t root = 0x200;
  put16(root + 14, 1);
  PutU32At(stub, root + 16, 10);  // RT_RCDATA
  PutU32At(stub, root + 20, 0x80000000u | namesAt);
  put16(root + namesAt + 14, static_cast<uint16_t>(n));
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t language = languagesAt + 0x18 * i, entry = entriesAt + 16 * i;
    PutU32At(stub, root + namesAt + 16 + 8 * i, resources[i].first);
    PutU32At(stub, root + namesAt + 20 + 8 * i, 0x80000000u | language);
    put16(root + language + 14, 1);
    PutU32At(stub, root + language + 16, 0x409);
    PutU32At(stub, root + language + 20, entry);
    PutU32At(stub, root + entry, 0x1000 + dataAt);  // data entry: RVA, size
    PutU32At(stub, root + entry + 4, static_cast<uint32_t>(resources[i].second.size()));
    std::copy(resources[i].second.begin(), resources[i].second.end(), stub.begin() + root + dataAt);
    dataAt += static_cast<uint32_t>(resources[i].second.size() + 7) / 8 * 8;
  }
  if (dataAt > 0x100) abort();  // more than the section holds
  return stub;
}

// RCDATA 1: the four bytes of capabilities, as resources/stub.rc declares them.
inline std::vector<uint8_t> FakePeStubWithCapabilities(uint32_t capabilities) {
  std::vector<uint8_t> bytes(4);
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(capabilities >> (8 * i));
  return FakePeStubWithResources({{1, bytes}});
}

// Like the stub this packer pairs with: its capabilities and the package
// hash slot (RCDATA 2, 32 zero bytes).
inline std::vector<uint8_t> FakePeStubWithHashSlot() {
  return FakePeStubWithResources({{1, {1, 0, 0, 0}}, {2, std::vector<uint8_t>(32, 0)}});
}

inline uint32_t U32At(const std::vector<uint8_t>& bytes, size_t at) {
  uint32_t value;
  memcpy(&value, &bytes[at], 4);
  return value;
}

inline std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

// Three files, one language, ProductName "Sample" and no MainProgram.
inline PackageContents SmallContents() {
  PackageContents c;
  c.Files.push_back({"Sample.exe", Bytes("MZ main program"), 0, 0x01D5C0DE12345678ull, {}, 0});
  c.Files.push_back({"license.txt", Bytes("licence text"), FE_NO_EXTRACT, 2, {}, 0});
  c.Files.push_back({"data\\empty.dat", {}, 0x22, 3, {}, 0});
  c.LicenseEntry = 1;
  c.Languages.push_back(EnglishLanguage());
  c.Config[CFG_PRODUCT_NAME] = u"Sample";
  c.Config[CFG_PRODUCT_VERSION] = u"1.0";
  c.Config[CFG_PUBLISHER_NAME] = u"Sample Publisher";
  return c;
}

// A loaded package that frees itself.
struct Loaded {
  LoadedPackage Package = {};
  LoadResult Result = LOAD_NO_TRAILER;
  Loaded() = default;
  Loaded(const Loaded&) = delete;
  ~Loaded() {
    if (Result == LOAD_OK) FreeLoadedPackage(&Package);
  }
};

// Loads a setup image as the stub would on a system of the given classes,
// taking the certificate offset from the image's own PE headers.
inline void LoadImage(const std::vector<uint8_t>& image, Loaded* out, uint32_t osClass = OS_WIN10,
                      uint32_t archClass = ARCH_X64) {
  MemorySource memory;
  OpenMemorySource(&memory, image.data(), static_cast<uint32_t>(image.size()));
  out->Result = LoadWholePackage(&memory.Source, osClass, archClass, &out->Package);
}

// The setup file the packer writes for contents behind stub.
inline std::vector<uint8_t> MakeImageWith(const std::vector<uint8_t>& stub, const PackageContents& contents,
                                          const SetupOptions& options = {}) {
  return WrittenToMemory([&](FILE* out) { WriteSetupFile(out, stub, contents, options); });
}

// Loads in the stub's two stages; first gets the first stage's result.
inline void LoadImageStaged(const std::vector<uint8_t>& image, Loaded* out, LoadResult* first,
                            const PackageSource* source = nullptr) {
  MemorySource memory;
  OpenMemorySource(&memory, image.data(), static_cast<uint32_t>(image.size()));
  StagedLoad load;
  *first = StartStagedLoad(source ? source : &memory.Source, OS_WIN10, ARCH_X64, &out->Package, &load);
  out->Result = *first;
  if (*first != LOAD_OK) return;
  out->Result = FinishStagedLoad(&load, &out->Package);
  if (out->Result != LOAD_OK) FreeLoadedPackage(&out->Package);
}

// SmallContents with 600 KB of data after the licence that does not
// compress: the prefix is decoded from a small part of the compressed block.
inline PackageContents BigContents() {
  PackageContents c = SmallContents();
  std::vector<uint8_t> noise(600000);
  uint32_t x = 12345;
  for (uint8_t& b : noise) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
  c.Files.push_back({"noise.bin", noise, 0, 4, {}, 0});
  return c;
}

// The setup file the packer writes for contents, behind FakePeStub.
inline std::vector<uint8_t> MakeImage(const PackageContents& contents, const SetupOptions& options = {}) {
  return WrittenToMemory([&](FILE* out) { WriteSetupFile(out, FakePeStub(), contents, options); });
}

// Fields written in place of the ones BuildBlock computed, to produce blocks
// that break the rules a reader must enforce.
struct BlockOverrides {
  std::optional<PackageHeader> Header;
  std::map<uint32_t, FileEntry> Entries;  // entry index -> raw entry
  std::optional<uint32_t> TruncateAt;     // the block ends here
};

// BuildBlock's block for contents with overrides written over it.
inline std::vector<uint8_t> BuildOverriddenBlock(const PackageContents& contents, const BlockOverrides& overrides) {
  std::vector<uint8_t> block = BuildBlock(contents);
  if (overrides.Header) memcpy(block.data(), &*overrides.Header, sizeof(PackageHeader));
  for (const auto& [index, entry] : overrides.Entries) {
    if (index < contents.Files.size())
      memcpy(block.data() + sizeof(PackageHeader) + index * sizeof(FileEntry), &entry, sizeof entry);
  }
  if (overrides.TruncateAt && *overrides.TruncateAt < block.size()) block.resize(*overrides.TruncateAt);
  return block;
}

// The same around a block made beforehand (one that breaks the rules).
inline std::vector<uint8_t> MakeBlockImage(const std::vector<uint8_t>& block, const SetupOptions& options = {},
                                           const std::vector<uint8_t>& stub = FakePeStub()) {
  return WrittenToMemory([&](FILE* out) { WriteBlockSetupFile(out, stub, block, options); });
}

inline bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

inline std::string WideToAscii(const WChar* text) {
  std::string out;
  for (; text && *text; ++text) out += static_cast<char>(*text);
  return out;
}

// A fresh directory under the system's temporary folder, removed at the end.
struct TempDir {
  std::filesystem::path Path;
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "packer-test-XXXXXX").string();
    Path = mkdtemp(pattern.data());
  }
  ~TempDir() { std::filesystem::remove_all(Path); }
  std::string Write(const std::string& relative, const std::string& contents) const {
    std::filesystem::path file = Path / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << contents;
    return file.string();
  }
};

inline const char kProduct[] = "[product]\nname = \"Sample\"\nversion = \"1.0\"\npublisher = \"Pub\"\n";

// A product folder and FakePeStub in a fresh folder, built as the command
// line builds them.
class PackerBuildTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_.Write("product/app.exe", "APP");
    dir_.Write("product/license.rtf", "{\\rtf1 terms}");
    dir_.Write("product/sub/data.bin", "DATA");
    stub_ = (dir_.Path / "stub.exe").string();
    std::vector<uint8_t> stub = FakePeStub();
    dir_.Write("stub.exe", std::string(stub.begin(), stub.end()));
  }

  std::string Product() const { return (dir_.Path / "product").string(); }
  std::string Output() const { return (dir_.Path / "setup.exe").string(); }

  // Runs "packer build" as the command line does; returns the exit code.
  int Build(const std::string& text, std::string* errors, std::vector<std::string> extra = {}) {
    std::string manifest = dir_.Write("m.toml", text);
    std::vector<std::string> args = {"build", "--manifest", manifest, "--product-dir", Product(),
                                     "--stub", stub_, "--output", Output()};
    args.insert(args.end(), extra.begin(), extra.end());
    std::ostringstream out, err;
    int code = RunPacker(args, out, err);
    *errors = err.str();
    return code;
  }

  size_t FilesInDir() const {
    size_t n = 0;
    for (auto& entry : std::filesystem::directory_iterator(dir_.Path)) n += entry.is_regular_file();
    return n;
  }

  TempDir dir_;
  std::string stub_;
};

}  // namespace packer_test
