// The block layout and the setup file written by the package writer, read
// back byte by byte and through liblzma's own raw decoder.
#include <gtest/gtest.h>
#include <lzma.h>

#include "packer/content_rules.h"
#include "packer/default_texts.h"
#include "packer/packer_error.h"
#include "packer/chunk_plan.h"
#include "packer/package_writer.h"
#include "packer_test_support.h"

using namespace packer_test;

namespace {

uint16_t U16At(const std::vector<uint8_t>& bytes, size_t at) { return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8); }

// Reads the UTF-16 string at *at and steps past its terminator.
std::u16string WideAt(const std::vector<uint8_t>& bytes, uint32_t* at) {
  std::u16string text;
  for (;; *at += 2) {
    char16_t c = U16At(bytes, *at);
    if (c == 0) break;
    text += c;
  }
  *at += 2;
  return text;
}

// Decodes a compressed block (5 property bytes + stream) with liblzma.
std::vector<uint8_t> RawDecode(const std::vector<uint8_t>& packed, size_t unpackedSize, bool* sawEnd) {
  lzma_options_lzma options = {};
  options.dict_size = std::max<uint32_t>(U32At(packed, 1), LZMA_DICT_SIZE_MIN);
  options.lc = packed[0] % 9;
  options.lp = packed[0] % 45 / 9;
  options.pb = packed[0] / 45;
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream stream = LZMA_STREAM_INIT;
  EXPECT_EQ(lzma_raw_decoder(&stream, filters), LZMA_OK);
  // Exactly the expected room: a stream without an end marker does not
  // delimit itself, and its final flush bytes may decode as one more literal
  // (the stub stops at UnpackedSize, so does this). Trailing input is caught
  // below; an end marker right after the data ends the call.
  std::vector<uint8_t> out(unpackedSize);
  stream.next_in = packed.data() + 5;
  stream.avail_in = packed.size() - 5;
  stream.next_out = out.data();
  stream.avail_out = out.size();
  lzma_ret ret = lzma_code(&stream, LZMA_RUN);
  *sawEnd = ret == LZMA_STREAM_END;
  out.resize(out.size() - stream.avail_out);
  EXPECT_EQ(stream.avail_in, 0u) << "the stream has trailing bytes";
  lzma_end(&stream);
  return out;
}

TEST(PackerWriter, LaysOutHeaderEntriesStringsNamesAndData) {
  PackageContents c = SmallContents();
  c.OsMask = 0x30;
  c.ArchMask = 0x6;
  c.HeaderFlags = PH_REGISTRY_64;
  c.Config[CFG_LAUNCH_COMMAND] = u"launch";
  c.Languages.push_back(EnglishLanguage());
  c.Languages[1].LangId = 0x407;
  c.Languages[1].Strings[1 + TXT_CANCEL] = u"Abbrechen";
  BlockLayout at;
  std::vector<uint8_t> block = BuildBlock(c, &at);

  EXPECT_EQ(U32At(block, 0), 3u);       // FileCount
  EXPECT_EQ(U16At(block, 4), 0x30);     // OsMask
  EXPECT_EQ(U16At(block, 6), 1);        // LicenseEntry
  EXPECT_EQ(block[8], 2);               // LanguageCount
  EXPECT_EQ(block[9], 0x6);             // ArchMask
  EXPECT_EQ(block[10], PH_REGISTRY_64); // Flags
  EXPECT_EQ(block[11], 0);              // Reserved

  ASSERT_EQ(at.LanguagesAt, 12u + 28u * 3u);
  uint32_t offset = at.LanguagesAt;
  const uint16_t ids[] = {0x409, 0x407};
  for (int l = 0; l < 2; ++l) {
    EXPECT_EQ(U16At(block, offset), ids[l]);
    offset += 2;
    EXPECT_EQ(WideAt(block, &offset), u"English");
    for (int t = 0; t < TXT_COUNT; ++t) EXPECT_EQ(WideAt(block, &offset), c.Languages[l].Strings[1 + t]) << t;
  }
  EXPECT_EQ(offset, at.ConfigAt);
  for (int i = 0; i < CFG_COUNT; ++i) EXPECT_EQ(WideAt(block, &offset), c.Config[i]) << i;
  EXPECT_EQ(offset, at.NamesAt);

  // Each name in a slot of 8-byte steps, one size for the names of a folder.
  EXPECT_EQ(at.NameOffsets, (std::vector<uint32_t>{0, 16, 32}));
  EXPECT_EQ(at.DataAt, at.NamesAt + 48);
  for (uint32_t i = at.NamesAt; i < at.DataAt; ++i) {
    if (i - at.NamesAt != 0 && i - at.NamesAt != 16 && i - at.NamesAt != 32 && block[i - 1] == 0) {
      EXPECT_EQ(block[i], 0) << "padding after a name at " << i;
    }
  }
  // The licence first, then the data in table order: exe, dat (empty).
  const uint32_t expectedData[] = {at.DataAt + 12, at.DataAt, at.DataAt + 27};
  for (uint32_t i = 0; i < 3; ++i) {
    size_t entry = 12 + 28 * i;
    const PackageFileEntry& f = c.Files[i];
    EXPECT_EQ(U32At(block, entry + 0), static_cast<uint32_t>(f.LastWriteTime));
    EXPECT_EQ(U32At(block, entry + 4), static_cast<uint32_t>(f.LastWriteTime >> 32));
    EXPECT_EQ(U32At(block, entry + 8), f.Flags);
    EXPECT_EQ(U32At(block, entry + 12), 0u);
    EXPECT_EQ(U32At(block, entry + 16), f.Data.size());
    uint32_t name = at.NamesAt + U32At(block, entry + 20);
    EXPECT_STREQ(reinterpret_cast<const char*>(&block[name]), f.Name.c_str());
    uint32_t data = U32At(block, entry + 24);
    EXPECT_EQ(data, expectedData[i]) << i;
    EXPECT_TRUE(std::equal(f.Data.begin(), f.Data.end(), block.begin() + data));
  }
  EXPECT_EQ(at.DataAt + 15 + 12, block.size()) << "data runs to the end of the block";
}

TEST(PackerWriter, StoresIdenticalContentsOnceAndGroupsByKind) {
  PackageContents c = SmallContents();
  auto add = [&](const std::string& name, const std::string& data) {
    c.Files.push_back({name, Bytes(data), 0, 0, {}, 0});
  };
  add("b.txt", "licence text");     // same as entry 1
  add("c.TXT", "licence texT");     // same size, other bytes
  add("d\\a.exe", "licence text");  // same bytes, other kind
  add("e.txt", "");                 // empty like entry 2
  BlockLayout at;
  std::vector<uint8_t> block = BuildBlock(c, &at);
  EXPECT_EQ(at.DataOffsets[3], at.DataOffsets[1]);
  EXPECT_EQ(at.DataOffsets[5], at.DataOffsets[1]) << "one copy, whatever the names";
  EXPECT_NE(at.DataOffsets[4], at.DataOffsets[1]);
  EXPECT_EQ(block.size(), at.DataAt + 15 + 12 + 12) << "three stored copies";
  // No two stored files share a kind: the licence first, then table order:
  // Sample.exe, empty.dat, c.TXT, e.txt.
  EXPECT_EQ(at.DataOffsets[1], at.DataAt);
  EXPECT_EQ(at.DataOffsets[0], at.DataAt + 12);
  EXPECT_EQ(at.DataOffsets[2], at.DataAt + 12 + 15);
  EXPECT_EQ(at.DataOffsets[4], at.DataAt + 12 + 15);
  EXPECT_EQ(at.DataOffsets[6], at.DataAt + 12 + 15 + 12);
  PackageContents compiled = SmallContents();
  compiled.LicenseEntry = NO_LICENSE_ENTRY;
  compiled.Files = {{"z.py", Bytes("1"), 0, 0, {}, 0}, {"b.txt", Bytes("2"), 0, 0, {}, 0},
                    {"__pycache__\\z.cpython-311.pyc", Bytes("3"), 0, 0, {}, 0}};
  EXPECT_EQ(PlanData(compiled).StoreOrder, (std::vector<uint32_t>{2, 0, 1})) << "byte code beside its source";
  compiled.Files = {{"b.txt", Bytes("1"), 0, 0, {}, 0}, {"en\\app.mo", Bytes("22"), 0, 0, {}, 0},
                    {"a.txt", Bytes("333"), 0, 0, {}, 0}, {"de\\app.mo", Bytes("4444"), 0, 0, {}, 0}};
  EXPECT_EQ(PlanData(compiled).StoreOrder, (std::vector<uint32_t>{0, 3, 1, 2}))
      << "one catalogue in every language at the first one's place, the rest in table order";

  Loaded loaded;
  LoadImage(MakeBlockImage(block), &loaded);
  ASSERT_EQ(loaded.Result, LOAD_OK);
  for (uint32_t i = 0; i < c.Files.size(); ++i) {
    EXPECT_EQ(CheckInstalledName(c.Files[i].Name), "") << "names the manifest would take: " << i;
    const FileEntry& e = loaded.Package.Entries[i];
    EXPECT_STREQ(loaded.Package.NamesArea + e.NameOffset, c.Files[i].Name.c_str()) << i;
    EXPECT_EQ(std::vector<uint8_t>(loaded.Package.Block + e.DataOffset,
                                   loaded.Package.Block + e.DataOffset + e.DataSize),
              c.Files[i].Data)
        << i;
  }
}

TEST(PackerWriter, ChunkedOrderPutsIncompressibleDataLastAndKeepsCaseTwinsInOrder) {
  PackageContents c = SmallContents();
  std::vector<uint8_t> noise = BigContents().Files.back().Data;
  noise.resize(20000);
  std::string text;
  while (text.size() < 20000) text += "some text that compresses, ";
  // Entry 3 does not compress and goes last, but its case twin 6, later in
  // the manifest, must still come after it; the duplicate 5 follows entry 4.
  c.Files.push_back({"data\\x.bin", noise, 0, 0, {}, 0});
  c.Files.push_back({"text.txt", Bytes(text), 0, 0, {}, 0});
  c.Files.push_back({"copy.txt", Bytes(text), 0, 0, {}, 0});
  c.Files.push_back({"DATA\\X.BIN", Bytes(text + "!"), 0, 0, {}, 0});
  EXPECT_FALSE(LooksIncompressible(c.Files[4]));
  EXPECT_TRUE(LooksIncompressible(c.Files[3]));
  size_t incompressibleFrom = 0;
  std::vector<uint32_t> order = ChunkedEntryOrder(c, &incompressibleFrom);
  ASSERT_EQ(order.size(), c.Files.size());
  EXPECT_EQ(order[0], 1u) << "the licence first";
  auto at = [&](uint32_t entry) { return std::find(order.begin(), order.end(), entry) - order.begin(); };
  EXPECT_EQ(at(5), at(4) + 1) << "a duplicate right after its original";
  EXPECT_LT(at(3), at(6)) << "case twins in manifest order";
  EXPECT_EQ(incompressibleFrom, order.size() - 1);
  EXPECT_EQ(order.back(), 6u) << "the twins' places swapped: the last one is now the text";
}

TEST(PackerWriter, WritesStubExtraBlockTrailerAndSlackInOrder) {
  std::vector<uint8_t> stub = FakePeStub();
  std::vector<uint8_t> block = BuildBlock(SmallContents());
  struct Case {
    uint32_t Extra, Slack;
    bool EndMarker, Corrupt;
  } cases[] = {{0, 0, false, false}, {100, 2, false, false}, {0, 16, true, false}, {7, 0, true, true}};
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << "extra " << k.Extra << " slack " << k.Slack << " end " << k.EndMarker);
    SetupOptions options;
    options.ExtraSize = k.Extra;
    options.Slack = k.Slack;
    options.Lzma.EndMarker = k.EndMarker;
    options.CorruptChecksum = k.Corrupt;
    std::vector<uint8_t> image = MakeBlockImage(block, options, stub);

    ASSERT_TRUE(std::equal(stub.begin(), stub.end(), image.begin()));
    size_t trailer = image.size() - k.Slack - TRAILER_SIZE;
    EXPECT_EQ(U32At(image, trailer + 16), TRAILER_MAGIC);
    EXPECT_EQ(U32At(image, trailer + 4), block.size());
    uint32_t packedSize = U32At(image, trailer + 8);
    EXPECT_EQ(U32At(image, trailer + 12), k.Extra);
    EXPECT_EQ(stub.size() + k.Extra + packedSize, trailer) << "the compressed block ends at the trailer";
    uint32_t sum = 0;
    for (uint8_t b : block) sum += b;
    EXPECT_EQ(U32At(image, trailer) == sum, !k.Corrupt);
    for (size_t i = 0; i < k.Extra; ++i) EXPECT_EQ(image[stub.size() + i], 0);
    for (size_t i = 0; i < k.Slack; ++i) EXPECT_EQ(image[image.size() - 1 - i], 0);

    std::vector<uint8_t> packed(image.begin() + stub.size() + k.Extra, image.begin() + trailer);
    EXPECT_EQ(packed[0], 0x5D);
    EXPECT_EQ(U32At(packed, 1), 1u << 23);
    bool sawEnd = false;
    EXPECT_EQ(RawDecode(packed, block.size(), &sawEnd), block);
    EXPECT_EQ(sawEnd, k.EndMarker) << "end marker only on request";
  }
}

// Words from a small vocabulary: compressible like text, with matches of
// every length and distance.
std::string SomeText(size_t size, uint32_t seed) {
  static const char* words[] = {"setup ", "file ", "data ", "the ", "package ", "stub ", "x86 ", "\r\n", "of "};
  std::string text;
  while (text.size() < size) {
    seed = seed * 1103515245u + 12345u;
    text += words[(seed >> 16) % 9];
  }
  text.resize(size);
  return text;
}

std::vector<uint8_t> StreamedImage(const std::vector<uint8_t>& stub, const PackageContents& c,
                                   const SetupOptions& options, uint64_t* lastDone, uint64_t* lastTotal) {
  return WrittenToMemory([&](FILE* file) {
    WriteSetupFile(file, stub, c, options, [&](uint64_t done, uint64_t total, uint64_t) {
      EXPECT_GE(done, *lastDone);
      *lastDone = done;
      *lastTotal = total;
    });
  });
}

// Files read in pieces and encoded as they come must give the very bytes of
// the block built in memory and compressed in one piece.
TEST(PackerWriter, StreamedSetupFileEqualsOneShotEncode) {
  TempDir dir;
  PackageContents fromFiles = SmallContents(), inMemory = SmallContents();
  fromFiles.Files.clear();
  inMemory.Files.clear();
  const std::pair<const char*, std::string> files[] = {
      {"doc\\big.txt", SomeText(1500000, 1)},  // more than one read
      {"small.exe", SomeText(5000, 2)},
      {"empty.dat", ""},
      {"copy\\big.txt", SomeText(1500000, 1)},
      {"other.exe", SomeText(5000, 3)},
  };
  for (const auto& [name, data] : files) {
    std::string path = dir.Write(std::to_string(fromFiles.Files.size()), data);
    fromFiles.Files.push_back({name, {}, 0, 7, path, data.size()});
    inMemory.Files.push_back({name, Bytes(data), 0, 7, {}, 0});
  }
  fromFiles.LicenseEntry = inMemory.LicenseEntry = 1;
  const std::vector<uint8_t> stub = FakePeStub();

  struct Case {
    uint32_t Level, Extra, Slack;
    uint8_t Properties;
    bool EndMarker;
  } cases[] = {{DEFAULT_LEVEL, 0, 0, 0x5D, false}, {0, 5, 2, 0x5E, true}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.Level);
    SetupOptions options;
    options.Lzma.Level = k.Level;
    options.Lzma.Properties = k.Properties;
    options.Lzma.EndMarker = k.EndMarker;
    options.ExtraSize = k.Extra;
    options.Slack = k.Slack;
    // A block made beforehand has no prefix record.
    options.PrefixRecord = false;
    uint64_t done = 0, total = 0;
    std::vector<uint8_t> streamed = StreamedImage(stub, fromFiles, options, &done, &total);
    std::vector<uint8_t> block = BuildBlock(inMemory);
    EXPECT_EQ(done, block.size());
    EXPECT_EQ(total, block.size());
    EXPECT_LT(block.size(), 1600000u) << "the copy is stored once";
    ASSERT_TRUE(streamed == MakeBlockImage(block, options, stub)) << streamed.size();
    Loaded loaded;
    LoadImage(streamed, &loaded);
    EXPECT_EQ(loaded.Result, LOAD_OK);
  }

  // The licence is read before the encoder starts, the others while it runs.
  for (size_t entry : {1, 4}) {
    for (int change : {-1, 1}) {
      PackageContents changed = fromFiles;
      changed.Files[entry].SourceSize += change;
      FILE* file = tmpfile();
      EXPECT_THROW(WriteSetupFile(file, stub, changed, {}), PackerError) << "a file that changed size: " << entry;
      fclose(file);
    }
  }
  // A failed write stops the reading too.
  FILE* readOnly = fopen(dir.Write("read-only", "").c_str(), "rb");
  ASSERT_TRUE(readOnly);
  EXPECT_THROW(WriteSetupFile(readOnly, stub, fromFiles, {}), PackerError);
  fclose(readOnly);
}

TEST(PackerWriter, WritesRequestedPropertiesAndDictionary) {
  const std::vector<uint8_t> stub = FakePeStub();
  std::vector<uint8_t> block = BuildBlock(SmallContents());
  struct Case {
    uint8_t Properties;
    uint32_t Dictionary;
    bool Encodable;  // liblzma encodes lc + lp <= 4 only
  } cases[] = {{0x5D, 1u << 23, true}, {0, 0, true},   {4, 4096, true}, {0x12, 1, true},
               {180, 65536, true},     {224, 1u << 20, false}, {0x08, 1u << 16, false}, {225, 1u << 20, false}};
  for (const Case& k : cases) {
    SCOPED_TRACE(int{k.Properties});
    SetupOptions options;
    options.Lzma.Properties = k.Properties;
    options.Lzma.Dictionary = k.Dictionary;
    std::vector<uint8_t> image = MakeBlockImage(block, options, stub);
    std::vector<uint8_t> packed(image.begin() + stub.size(), image.end() - TRAILER_SIZE);
    EXPECT_EQ(packed[0], k.Properties);
    EXPECT_EQ(U32At(packed, 1), k.Dictionary);
    EXPECT_EQ(IsEncodableProperties(k.Properties), k.Encodable);
    if (k.Encodable) {
      bool sawEnd;
      EXPECT_EQ(RawDecode(packed, block.size(), &sawEnd), block);
    } else {
      // The stream itself is a 0x5D stream behind the requested byte.
      packed[0] = 0x5D;
      bool sawEnd;
      EXPECT_EQ(RawDecode(packed, block.size(), &sawEnd), block);
    }
  }
}

TEST(PackerWriter, OverridesReplaceRawFields) {
  PackageContents c = SmallContents();
  BlockOverrides overrides;
  PackageHeader header = {};
  header.FileCount = 9;
  header.LicenseEntry = 7;
  overrides.Header = header;
  FileEntry entry = {};
  entry.DataOffset = 0xFFFFFFF0u;
  overrides.Entries[2] = entry;
  overrides.TruncateAt = 200;
  std::vector<uint8_t> block = BuildOverriddenBlock(c, overrides);
  EXPECT_EQ(block.size(), 200u);
  EXPECT_EQ(U32At(block, 0), 9u);
  EXPECT_EQ(U16At(block, 6), 7);
  EXPECT_EQ(U32At(block, 12 + 2 * 28 + 24), 0xFFFFFFF0u);
  EXPECT_EQ(U32At(block, 12 + 1 * 28 + 16), c.Files[1].Data.size()) << "other entries stay computed";
}

TEST(PackerWriter, RefusesMoreThan255Languages) {
  PackageContents c = SmallContents();
  c.Languages.assign(256, EnglishLanguage());
  EXPECT_THROW(BuildBlock(c), PackerError);
  c.Languages.resize(255);
  EXPECT_EQ(BuildBlock(c)[8], 255);
}

TEST(PackerWriter, DefaultTextsCarryCrLfAndTheirNames) {
  EXPECT_STREQ(TextIdName(TXT_APP_RUNNING_FMT), "TXT_APP_RUNNING_FMT");
  EXPECT_EQ(TextIdFromName("TXT_BROWSE_PROMPT"), TXT_BROWSE_PROMPT);
  EXPECT_EQ(TextIdFromName("TXT_NOPE"), TXT_COUNT);
  EXPECT_NE(std::string(DefaultEnglishText(TXT_FOLDER_EXISTS_FMT)).find("\r\n\r\n%s\r\n\r\n"), std::string::npos);
  for (int t = 0; t < TXT_COUNT; ++t) EXPECT_EQ(TextIdFromName(TextIdName(static_cast<TextId>(t))), t);
}

}  // namespace
