// Finding, decoding and verifying packages the packer wrote: the trailer
// window, the certificate table, LZMA properties, the checksum, damaged
// streams, the two stages of a package with a prefix record and the chunks
// of a chunked package.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "package/package_format.h"
#include "package/package_loader.h"
#include "package/platform_memory.h"
#include "packer/package_writer.h"
#include "package/sha256.h"
#include "packer/setup_file_source.h"
#include "packer/stub_capabilities.h"
#include "packer_test_support.h"

using namespace packer_test;

namespace {

TEST(LoaderTrailer, SlackDecidesWhetherTheTrailerIsFound) {
  struct Case {
    uint32_t Slack;
    LoadResult Expected;
  } cases[] = {
      {0, LOAD_OK},            // magic at window position 32
      {2, LOAD_OK},            // 30: a signed file's usual padding
      {16, LOAD_OK},           // 16: the trailer starts the window
      {17, LOAD_BAD_TRAILER},  // 15: the trailer would begin before the window
      {32, LOAD_BAD_TRAILER},  // 0
      {33, LOAD_NO_TRAILER},   // the magic is outside the window
      {100, LOAD_NO_TRAILER},
  };
  PackageContents contents = SmallContents();
  for (const Case& k : cases) {
    SetupOptions options;
    options.Slack = k.Slack;
    Loaded loaded;
    LoadImage(MakeImage(contents, options), &loaded);
    EXPECT_EQ(loaded.Result, k.Expected) << "slack " << k.Slack;
  }
}

TEST(LoaderTrailer, MagicNearestTheEndWins) {
  struct Case {
    std::vector<int> Positions;
    int32_t Expected;
  } cases[] = {
      {{}, -1}, {{32}, 32}, {{0}, 0}, {{16, 32}, 32}, {{3, 20}, 20}, {{10, 29, 31}, 31},
  };
  for (const Case& k : cases) {
    uint8_t window[TRAILER_WINDOW];
    memset(window, 0x4C, sizeof window);  // the magic's first byte everywhere
    for (int at : k.Positions) {
      uint32_t magic = TRAILER_MAGIC;
      memcpy(window + at, &magic, 4);
    }
    EXPECT_EQ(FindTrailerMagic(window), k.Expected);
  }
  // End to end: a second magic in the slack hides the real trailer.
  SetupOptions options;
  options.Slack = 16;
  std::vector<uint8_t> image = MakeImage(SmallContents(), options);
  Loaded real;
  LoadImage(image, &real);
  EXPECT_EQ(real.Result, LOAD_OK);
  PutU32At(image, image.size() - 4, TRAILER_MAGIC);
  Loaded hidden;
  LoadImage(image, &hidden);
  EXPECT_NE(hidden.Result, LOAD_OK);
}

TEST(LoaderTrailer, CertificateTableEndsThePackageRegion) {
  SetupOptions options;
  options.Slack = 2;
  std::vector<uint8_t> image = MakeImage(SmallContents(), options);
  uint32_t certificate = static_cast<uint32_t>(image.size());
  // The blob carries a decoy magic at its end, where an unsigned reading
  // would look.
  std::vector<uint8_t> blob(64, 0xCC);
  PutU32At(blob, blob.size() - 4, TRAILER_MAGIC);
  image.insert(image.end(), blob.begin(), blob.end());

  struct Case {
    uint32_t Directory;
    LoadResult Expected;
  } cases[] = {
      {certificate, LOAD_OK},
      {0, LOAD_BAD_TRAILER},                       // the decoy's trailer is nonsense
      {certificate - 1, LOAD_OK},                  // slack 1 still finds the magic
      {static_cast<uint32_t>(image.size()) + 1, LOAD_NO_TRAILER},  // beyond the file
      {20, LOAD_NO_TRAILER},                       // before any window fits
  };
  for (const Case& k : cases) {
    PutU32At(image, kCertificateEntryAt, k.Directory);
    Loaded loaded;
    LoadImage(image, &loaded);
    EXPECT_EQ(loaded.Result, k.Expected) << "certificate table at " << k.Directory;
  }
}

TEST(LoaderTrailer, PropertiesAndDictionary) {
  uint32_t lc, lp, pb;
  ASSERT_TRUE(ParseLzmaProperties(224, &lc, &lp, &pb));
  EXPECT_EQ(lc, 8u);
  EXPECT_EQ(lp, 4u);
  EXPECT_EQ(pb, 4u);
  EXPECT_FALSE(ParseLzmaProperties(225, &lc, &lp, &pb));

  struct Case {
    uint8_t Properties;
    uint32_t Dictionary;
    LoadResult Expected;
  } cases[] = {
      {0x5D, 1u << 23, LOAD_OK},
      {0x5D, 0, LOAD_OK},  // 0 is taken as 1
      {0x5D, 1, LOAD_OK},
      {0x5D, 0xFFFFFFFFu, LOAD_OK},  // a huge field must not make the loader allocate it
      {0, 4096, LOAD_OK},
      {4, 65536, LOAD_OK},
      {180, 1u << 20, LOAD_OK},      // pb 4
      {224, 1u << 23, LOAD_BAD_DATA},  // passes the rule, but liblzma needs lc + lp <= 4
      {225, 1u << 23, LOAD_BAD_DATA},
      {255, 1u << 23, LOAD_BAD_DATA},
  };
  for (const Case& k : cases) {
    for (bool endMarker : {false, true}) {
      SetupOptions options;
      options.Lzma.Properties = k.Properties;
      options.Lzma.Dictionary = k.Dictionary;
      options.Lzma.EndMarker = endMarker;
      Loaded loaded;
      LoadImage(MakeImage(SmallContents(), options), &loaded);
      EXPECT_EQ(loaded.Result, k.Expected)
          << "properties " << int{k.Properties} << " dictionary " << k.Dictionary << " end marker " << endMarker;
    }
  }
}

TEST(LoaderTrailer, ExtraRegionDoesNotMoveTheBlock) {
  for (uint32_t extra : {0u, 1u, 7u, 4096u}) {
    SetupOptions options;
    options.ExtraSize = extra;
    std::vector<uint8_t> image = MakeImage(SmallContents(), options);
    Loaded loaded;
    LoadImage(image, &loaded);
    ASSERT_EQ(loaded.Result, LOAD_OK) << "extra " << extra;
    EXPECT_EQ(WideToAscii(loaded.Package.Config[CFG_PRODUCT_NAME]), "Sample");
  }
}

// The image with its compressed block cut by cut bytes (trailer adjusted).
std::vector<uint8_t> CutStream(const std::vector<uint8_t>& image, uint32_t cut) {
  size_t trailer = image.size() - TRAILER_SIZE;
  uint32_t packedSize = U32At(image, trailer + 8);
  std::vector<uint8_t> out(image.begin(), image.begin() + trailer - cut);
  out.insert(out.end(), image.begin() + trailer, image.end());
  PutU32At(out, out.size() - TRAILER_SIZE + 8, packedSize - cut);
  return out;
}

TEST(LoaderTrailer, ChecksumIsTheWrappingSumOfAllBytes) {
  // Every length around the vector width and every misalignment, with bytes
  // near 255 so that each lane's sums carry.
  std::vector<uint8_t> data(300);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(255 - i * 7 % 13);
  for (uint32_t offset = 0; offset < 16; ++offset) {
    for (uint32_t size = 0; offset + size <= data.size(); ++size) {
      uint32_t expected = 0;
      for (uint32_t i = 0; i < size; ++i) expected += data[offset + i];
      ASSERT_EQ(PackageChecksum(data.data() + offset, size), expected) << offset << " " << size;
    }
  }
  // Past 2^32 the sum wraps: 16.9 million bytes of 255.
  std::vector<uint8_t> full((1u << 24) + 65536 + 3, 255);
  EXPECT_EQ(PackageChecksum(full.data(), static_cast<uint32_t>(full.size())),
            static_cast<uint32_t>(uint64_t{255} * full.size()));
}

TEST(LoaderTrailer, PrefixCrcIsLiblzmasCrc32) {
  // The packer writes liblzma's CRC-32, the stub computes its own.
  std::vector<uint8_t> data(4099);
  uint32_t x = 1;
  for (uint8_t& b : data) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 23);
  for (uint32_t size : {0u, 1u, 2u, 15u, 16u, 17u, 1000u, 4099u})
    EXPECT_EQ(Crc32(data.data(), size), lzma_crc32(data.data(), size, 0)) << size;
  EXPECT_EQ(Crc32(reinterpret_cast<const uint8_t*>("123456789"), 9), 0xCBF43926u) << "the check value";
}

TEST(LoaderTrailer, DamagedDataIsRefused) {
  PackageContents contents = SmallContents();
  for (bool endMarker : {false, true}) {
    SCOPED_TRACE(endMarker ? "end marker" : "no end marker");
    SetupOptions options;
    options.Lzma.EndMarker = endMarker;
    std::vector<uint8_t> image = MakeImage(contents, options);
    size_t trailer = image.size() - TRAILER_SIZE;
    uint32_t packedSize = U32At(image, trailer + 8);

    struct Case {
      const char* What;
      std::vector<uint8_t> Image;
      LoadResult Expected;
    } cases[] = {
        {"intact", image, LOAD_OK},
        // Decoding stops once the block is full: a cut end marker goes unnoticed.
        // Without one, the decoder may finish before the flush's last byte
        // (it normalises lazily, so whether it needs it depends on the data);
        // two bytes less it always misses.
        {"stream cut by 2", CutStream(image, 2), endMarker ? LOAD_OK : LOAD_BAD_DATA},
        {"stream cut by half", CutStream(image, (packedSize - 5) / 2), LOAD_BAD_DATA},
        {"only the properties", CutStream(image, packedSize - 5), LOAD_BAD_DATA},
        {"not even properties", CutStream(image, packedSize - 3), LOAD_BAD_DATA},
    };
    for (Case& k : cases) {
      Loaded loaded;
      LoadImage(k.Image, &loaded);
      EXPECT_EQ(loaded.Result, k.Expected) << k.What;
    }

    std::vector<uint8_t> wrongSum = image;
    wrongSum[trailer] ^= 1;
    std::vector<uint8_t> longer = image;  // more bytes asked for than the stream holds
    PutU32At(longer, trailer + 4, U32At(image, trailer + 4) + 1);
    std::vector<uint8_t> tooSmall = image;
    PutU32At(tooSmall, trailer + 4, 11);
    std::vector<uint8_t> packedTooBig = image;
    PutU32At(packedTooBig, trailer + 8, static_cast<uint32_t>(trailer) + 1);
    const std::pair<const char*, std::vector<uint8_t>*> more[] = {
        {"checksum", &wrongSum}, {"unpacked size", &longer}, {"below a header", &tooSmall},
        {"packed size", &packedTooBig}};
    for (const auto& [what, bytes] : more) {
      Loaded loaded;
      LoadImage(*bytes, &loaded);
      EXPECT_NE(loaded.Result, LOAD_OK) << what;
    }
  }
  SetupOptions corrupt;
  corrupt.CorruptChecksum = true;
  Loaded loaded;
  LoadImage(MakeImage(contents, corrupt), &loaded);
  EXPECT_EQ(loaded.Result, LOAD_BAD_DATA);
}

// Refuses the allocation numbered Refuse (from 0) of those it sees while
// it is in place.
struct RefuseOneAllocation {
  static inline uint32_t Seen, Refuse;
  explicit RefuseOneAllocation(uint32_t refuse) {
    Seen = 0;
    Refuse = refuse;
    PlatformAllocRefused = [](uint32_t) { return Seen++ == Refuse; };
  }
  ~RefuseOneAllocation() { PlatformAllocRefused = nullptr; }
};

TEST(LoaderTrailer, UnpackedSizeTooLargeForMemoryIsNoMemoryOnBothPaths) {
  // The stub asks for any block the trailer's field holds and answers "not
  // enough memory" where it is refused; the packer asks only for a single
  // stream it may write (below 2 GiB) and refuses a larger one unasked.
  std::vector<uint8_t> image = MakeImage(SmallContents());
  size_t trailer = image.size() - TRAILER_SIZE;
  struct Case {
    uint32_t UnpackedSize;
    LoadResult Packer;
    bool PackerAsked;  // the packer's path asked for a block of UnpackedSize bytes
  } cases[] = {
      {MAX_STREAM_BLOCK_SIZE, LOAD_NO_MEMORY, true},
      {MAX_STREAM_BLOCK_SIZE + 1u, LOAD_BAD_TRAILER, false},
      {MAX_BLOCK_SIZE, LOAD_BAD_TRAILER, false},
  };
  static uint32_t largest;
  for (const Case& k : cases) {
    std::vector<uint8_t> bytes = image;
    PutU32At(bytes, trailer + 4, k.UnpackedSize);
    PlatformAllocRefused = [](uint32_t size) {
      if (size > largest) largest = size;
      return size >= (256u << 20);
    };
    MemorySource memory;
    OpenMemorySource(&memory, bytes.data(), static_cast<uint32_t>(bytes.size()));
    LoadedPackage package;
    largest = 0;
    LoadResult packer = LoadPackageWithinPackerLimits(&memory.Source, OS_WIN10, ARCH_X64, &package);
    bool packerAsked = largest == k.UnpackedSize;
    if (packer == LOAD_OK) FreeLoadedPackage(&package);
    largest = 0;
    Loaded loaded;
    LoadImage(bytes, &loaded);
    PlatformAllocRefused = nullptr;
    EXPECT_EQ(packer, k.Packer) << k.UnpackedSize;
    EXPECT_EQ(packerAsked, k.PackerAsked) << k.UnpackedSize;
    EXPECT_EQ(loaded.Result, LOAD_NO_MEMORY) << k.UnpackedSize << ": the stub's path";
    EXPECT_EQ(largest, k.UnpackedSize) << "the stub's path asks for the block";
  }
}

TEST(LoaderTrailer, ExhaustedMemoryIsNotDamage) {
  // Each allocation of a load in turn: the block, the scratch buffer, the
  // compressed copy, liblzma's own (through the loader's allocator), the
  // language table and the default MainProgram.
  std::vector<uint8_t> image = MakeImage(SmallContents());
  uint32_t refused = 0;
  for (uint32_t n = 0;; ++n) {
    Loaded loaded;
    RefuseOneAllocation refuse(n);
    LoadImage(image, &loaded);
    if (RefuseOneAllocation::Seen <= n) {
      EXPECT_EQ(loaded.Result, LOAD_OK);
      break;
    }
    EXPECT_EQ(loaded.Result, LOAD_NO_MEMORY) << "allocation " << n << " refused";
    ++refused;
  }
  EXPECT_GE(refused, 6u);
}

// Offsets into the block, so that two loads of the same package compare.
uint64_t At(const LoadedPackage& p, const void* pointer) {
  const uint8_t* at = static_cast<const uint8_t*>(pointer);
  return at >= p.Block && at < p.Block + p.BlockSize ? static_cast<uint64_t>(at - p.Block) : UINT64_MAX;
}

void ExpectSamePackage(const LoadedPackage& a, const LoadedPackage& b) {
  ASSERT_EQ(a.BlockSize, b.BlockSize);
  EXPECT_EQ(memcmp(a.Block, b.Block, a.BlockSize), 0);
  EXPECT_EQ(At(a, a.Header), At(b, b.Header));
  EXPECT_EQ(At(a, a.Entries), At(b, b.Entries));
  EXPECT_EQ(At(a, a.NamesArea), At(b, b.NamesArea));
  EXPECT_EQ(a.ApplicableTotal, b.ApplicableTotal);
  EXPECT_EQ(a.MainProgramDefaulted, b.MainProgramDefaulted);
  for (int c = 0; c < CFG_COUNT; ++c) {
    EXPECT_EQ(At(a, a.Config[c]), At(b, b.Config[c])) << c;
    EXPECT_EQ(WideToAscii(a.Config[c]), WideToAscii(b.Config[c])) << c;
  }
  for (uint32_t l = 0; l < a.Header->LanguageCount; ++l) {
    EXPECT_EQ(a.Languages[l].LangId, b.Languages[l].LangId);
    for (uint32_t t = 0; t < LANGUAGE_STRINGS; ++t)
      EXPECT_EQ(At(a, a.Languages[l].Strings[t]), At(b, b.Languages[l].Strings[t])) << l << " " << t;
  }
}

TEST(LoaderTrailer, StagedLoadGivesWhatTheWholeBlockLoadGives) {
  PackageContents noLicense = BigContents();
  noLicense.LicenseEntry = NO_LICENSE_ENTRY;
  PackageContents sharedLicense = BigContents();
  sharedLicense.Files.push_back({"copy.txt", Bytes("licence text"), 0, 5, {}, 0});
  const std::pair<const char*, PackageContents> packages[] = {
      {"small", SmallContents()}, {"big", BigContents()}, {"no licence", noLicense}, {"shared licence", sharedLicense}};
  for (const auto& [what, contents] : packages) {
    SCOPED_TRACE(what);
    SetupOptions older;
    older.PrefixRecord = false;
    std::vector<uint8_t> withRecord = MakeImage(contents), without = MakeImage(contents, older);
    Loaded whole, staged, stagedWithout;
    LoadResult first, firstWithout;
    LoadImage(without, &whole);
    LoadImageStaged(withRecord, &staged, &first);
    LoadImageStaged(without, &stagedWithout, &firstWithout);
    ASSERT_EQ(whole.Result, LOAD_OK);
    ASSERT_EQ(first, LOAD_OK);
    ASSERT_EQ(staged.Result, LOAD_OK);
    ASSERT_EQ(stagedWithout.Result, LOAD_OK);
    ExpectSamePackage(whole.Package, staged.Package);
    ExpectSamePackage(whole.Package, stagedWithout.Package);

    // The prefix ends with the licence, stored right after the names.
    MemorySource memory;
    OpenMemorySource(&memory, withRecord.data(), static_cast<uint32_t>(withRecord.size()));
    TrailerLocation located;
    ASSERT_EQ(LocateTrailer(&memory.Source, &located), LOAD_OK);
    PrefixRecord record;
    ASSERT_EQ(ReadPrefixRecord(&memory.Source, &located, &record), PREFIX_PRESENT);
    BlockLayout layout;
    std::vector<uint8_t> block = BuildBlock(contents, &layout);
    uint32_t license = contents.LicenseEntry == NO_LICENSE_ENTRY ? 0 : 12;
    EXPECT_EQ(record.PrefixSize, layout.DataAt + license);
    if (license) {
      EXPECT_EQ(layout.DataOffsets[contents.LicenseEntry], layout.DataAt);
    }
    EXPECT_EQ(record.PrefixCrc, lzma_crc32(block.data(), record.PrefixSize, 0));
    EXPECT_EQ(ReadPrefixRecord(&memory.Source, &located, &record), PREFIX_PRESENT);
    OpenMemorySource(&memory, without.data(), static_cast<uint32_t>(without.size()));
    ASSERT_EQ(LocateTrailer(&memory.Source, &located), LOAD_OK);
    EXPECT_EQ(ReadPrefixRecord(&memory.Source, &located, &record), PREFIX_NONE);
  }
}

TEST(LoaderTrailer, PrefixRecordIsVerifiedBeforeAnythingIsIndexed) {
  std::vector<uint8_t> image = MakeImage(BigContents());
  const size_t recordAt = FakePeStub().size();
  const size_t trailer = image.size() - TRAILER_SIZE;
  const uint32_t prefixSize = U32At(image, recordAt + 4);
  const uint32_t blockSize = U32At(image, trailer + 4);
  struct Case {
    const char* What;
    size_t At;
    uint32_t Value;
    LoadResult First, Whole;
  } cases[] = {
      {"intact", 0, 0, LOAD_OK, LOAD_OK},
      {"prefix checksum", recordAt + 8, U32At(image, recordAt + 8) ^ 1, LOAD_BAD_DATA, LOAD_BAD_DATA},
      {"prefix below a header", recordAt + 4, 11, LOAD_BAD_TRAILER, LOAD_BAD_TRAILER},
      {"prefix of nothing", recordAt + 4, 0, LOAD_BAD_TRAILER, LOAD_BAD_TRAILER},
      {"prefix beyond the block", recordAt + 4, blockSize + 1, LOAD_BAD_TRAILER, LOAD_BAD_TRAILER},
      // A longer prefix is verified by a CRC-32 of other bytes.
      {"prefix one byte longer", recordAt + 4, prefixSize + 1, LOAD_BAD_DATA, LOAD_BAD_DATA},
      {"the whole block as prefix", recordAt + 4, blockSize, LOAD_BAD_DATA, LOAD_BAD_DATA},
      // Without its magic the region is no record: the whole block is
      // decoded and verified first, as for older packages.
      {"magic", recordAt, 0, LOAD_OK, LOAD_OK},
      // A region too short for a record holds none.
      {"extra region shorter", trailer + 12, sizeof(PrefixRecord) - 1, LOAD_OK, LOAD_OK},
      {"whole-block checksum", trailer, U32At(image, trailer) ^ 1, LOAD_OK, LOAD_BAD_DATA},
  };
  for (const Case& k : cases) {
    std::vector<uint8_t> bytes = image;
    if (k.At) PutU32At(bytes, k.At, k.Value);
    Loaded staged, whole;
    LoadResult first;
    LoadImageStaged(bytes, &staged, &first);
    LoadImage(bytes, &whole);
    EXPECT_EQ(first, k.First) << k.What;
    EXPECT_EQ(staged.Result, k.Whole) << k.What;
    EXPECT_EQ(whole.Result, k.Whole) << k.What;
  }
  // Without a record the first stage verifies the whole block.
  SetupOptions older;
  older.PrefixRecord = false;
  older.CorruptChecksum = true;
  Loaded staged;
  LoadResult first;
  LoadImageStaged(MakeImage(BigContents(), older), &staged, &first);
  EXPECT_EQ(first, LOAD_BAD_DATA);
}

// Reads end at Cut: the file's bytes from there up to the trailer window
// cannot be read, as when the disk fails under a running setup.
struct CutSource {
  MemorySource Memory;
  uint32_t Cut, WindowAt;
  PackageSource Source;
  static uint32_t Read(void* context, uint32_t offset, void* buffer, uint32_t size) {
    CutSource* cut = static_cast<CutSource*>(context);
    if (offset < cut->WindowAt) {
      if (offset >= cut->Cut) return 0;
      if (size > cut->Cut - offset) size = cut->Cut - offset;
    }
    return ReadMemorySource(&cut->Memory, offset, buffer, size);
  }
};

TEST(LoaderTrailer, StreamsCutAtEveryStageFailThatStage) {
  for (bool record : {true, false}) {
    SCOPED_TRACE(record ? "prefix record" : "no record");
    SetupOptions options;
    options.PrefixRecord = record;
    std::vector<uint8_t> image = MakeImage(BigContents(), options);
    const uint32_t size = static_cast<uint32_t>(image.size());
    const uint32_t packedAt = static_cast<uint32_t>(FakePeStub().size()) + (record ? sizeof(PrefixRecord) : 0);
    const uint32_t window = size - TRAILER_WINDOW;
    // The prefix's few kilobytes come from the first compressed bytes; the
    // noise after it does not compress, so the stream's middle is data.
    struct Case {
      const char* What;
      uint32_t Cut;
      LoadResult First, Whole;
    } cases[] = {
        // A record cut away reads as none: the whole block is then decoded first.
        {"before the block", packedAt - 4, LOAD_BAD_DATA, LOAD_BAD_DATA},
        {"in the properties", packedAt + 3, LOAD_BAD_DATA, LOAD_BAD_DATA},
        {"in the prefix", packedAt + 200, LOAD_BAD_DATA, LOAD_BAD_DATA},
        {"after the prefix", packedAt + (size - packedAt) / 2, record ? LOAD_OK : LOAD_BAD_DATA, LOAD_BAD_DATA},
        {"in the last chunk", window - 100, record ? LOAD_OK : LOAD_BAD_DATA, LOAD_BAD_DATA},
        {"nowhere", size, LOAD_OK, LOAD_OK},
    };
    for (const Case& k : cases) {
      CutSource cut;
      OpenMemorySource(&cut.Memory, image.data(), size);
      cut.Cut = k.Cut;
      cut.WindowAt = window;
      cut.Source = {0, size, CutSource::Read, &cut, nullptr};
      Loaded loaded;
      LoadResult first;
      LoadImageStaged(image, &loaded, &first, &cut.Source);
      EXPECT_EQ(first, k.First) << k.What;
      EXPECT_EQ(loaded.Result, k.Whole) << k.What;
      Loaded whole;
      whole.Result = LoadWholePackage(&cut.Source, OS_WIN10, ARCH_X64, &whole.Package);
      EXPECT_EQ(whole.Result, k.Whole) << k.What;
    }
    // The compressed block cut short (its trailer moved along) fails the same way.
    Loaded half;
    LoadResult first;
    LoadImageStaged(CutStream(image, (size - packedAt) / 2), &half, &first);
    EXPECT_EQ(first, record ? LOAD_OK : LOAD_BAD_DATA);
    EXPECT_EQ(half.Result, LOAD_BAD_DATA);
  }
}

}  // namespace

namespace {

// Loads image as the stub does, with the hash bound in its stub's slot (none
// when the slot is all zero); first gets the first stage's result.
void LoadBound(const std::vector<uint8_t>& image, Loaded* out, LoadResult* first) {
  uint64_t slot = 0;
  ASSERT_TRUE(FindPackageHashSlot(image, &slot));
  MemorySource memory;
  OpenMemorySource(&memory, image.data(), static_cast<uint32_t>(image.size()));
  std::vector<uint8_t> hash(image.begin() + slot, image.begin() + slot + SHA256_SIZE);
  if (hash != std::vector<uint8_t>(SHA256_SIZE, 0)) memory.Source.BoundHash = hash.data();
  LoadImageStaged(image, out, first, &memory.Source);
}

std::vector<uint8_t> Sha256Of(const uint8_t* data, size_t size) {
  Sha256 sha;
  Sha256Init(&sha);
  Sha256Add(&sha, data, static_cast<uint32_t>(size));
  std::vector<uint8_t> digest(SHA256_SIZE);
  Sha256Finish(&sha, digest.data());
  return digest;
}

TEST(LoaderTrailer, BoundHashTiesThePackageToTheStub) {
  const std::vector<uint8_t> stub = FakePeStubWithHashSlot();
  uint64_t slot = 0;
  ASSERT_TRUE(FindPackageHashSlot(stub, &slot));
  PackageContents other = BigContents();
  other.Config[CFG_PRODUCT_NAME] = u"Other";
  for (bool record : {true, false}) {
    SCOPED_TRACE(record ? "prefix record" : "no record");
    SetupOptions options;
    options.PrefixRecord = record;
    options.ExtraSize = 1000;  // hashed as part of the region
    options.Slack = 5;         // not hashed: signing pads there
    std::vector<uint8_t> a = MakeImageWith(stub, BigContents(), options);
    std::vector<uint8_t> b = MakeImageWith(stub, other, options);
    // The slot holds the SHA-256 of everything after the stub up to the
    // trailer's end; the stub's other bytes are as given.
    EXPECT_EQ(std::vector<uint8_t>(a.begin() + slot, a.begin() + slot + SHA256_SIZE),
              Sha256Of(a.data() + stub.size(), a.size() - stub.size() - options.Slack));
    std::vector<uint8_t> zeroed = a;
    std::fill(zeroed.begin() + slot, zeroed.begin() + slot + SHA256_SIZE, 0);
    EXPECT_TRUE(std::equal(stub.begin(), stub.end(), zeroed.begin()));

    // Stub A (A's hash) with B's package region: B's prefix is sound, so a
    // staged load starts, but the whole load is refused as damaged.
    std::vector<uint8_t> splice(a.begin(), a.begin() + stub.size());
    splice.insert(splice.end(), b.begin() + stub.size(), b.end());
    // The same byte flipped in the extra region's padding, which nothing reads
    // but the hash, and the stub's slot zeroed: no hash, today's behaviour.
    std::vector<uint8_t> padding = a;
    padding[stub.size() + 10] ^= 1;
    std::vector<uint8_t> spliceUnbound = splice;
    std::fill(spliceUnbound.begin() + slot, spliceUnbound.begin() + slot + SHA256_SIZE, 0);
    struct Case {
      const char* What;
      const std::vector<uint8_t>* Image;
      LoadResult First, Whole;
    } cases[] = {
        {"bound and intact", &a, LOAD_OK, LOAD_OK},
        {"another package", &splice, LOAD_OK, LOAD_BAD_DATA},
        {"padding changed", &padding, LOAD_OK, LOAD_BAD_DATA},
        {"zero slot", &spliceUnbound, LOAD_OK, LOAD_OK},
    };
    for (const Case& k : cases) {
      Loaded loaded;
      LoadResult first;
      LoadBound(*k.Image, &loaded, &first);
      EXPECT_EQ(first, k.First) << k.What;
      EXPECT_EQ(loaded.Result, k.Whole) << k.What;
      if (loaded.Result == LOAD_OK) {
        EXPECT_EQ(WideToAscii(loaded.Package.Config[CFG_PRODUCT_NAME]), k.Image == &a ? "Sample" : "Other")
            << k.What;
      }
      // The loader without a bound hash (inspect, the fuzzer) loads each.
      Loaded unbound;
      LoadImage(*k.Image, &unbound);
      EXPECT_EQ(unbound.Result, LOAD_OK) << k.What;
    }
  }
  // A stub without the slot gets the package as before, byte for byte.
  PackageContents c = SmallContents();
  std::vector<uint8_t> plain = MakeImage(c), slotted = MakeImageWith(stub, c);
  EXPECT_TRUE(std::equal(plain.begin() + FakePeStub().size(), plain.end(), slotted.begin() + stub.size(),
                         slotted.end()));
}

}  // namespace

TEST(LoaderTrailer, QuietUninstallArgsRecordRoundTrip) {
  const std::vector<uint8_t> stub = FakePeStubWithHashSlot();
  PackageContents quiet = SmallContents();
  quiet.QuietUninstallArgs = u"/uninstall /quiet";
  for (uint32_t extra : {0u, 7u}) {
    SCOPED_TRACE(extra);
    SetupOptions options;
    options.ExtraSize = extra;  // zero bytes between the two records
    std::vector<uint8_t> image = MakeImageWith(stub, quiet, options);
    // Magic, size, CRC-32, the arguments with their terminator; then the
    // padding and the prefix record, still at the region's end.
    const size_t start = stub.size();
    const size_t argsSize = (quiet.QuietUninstallArgs.size() + 1) * 2;
    EXPECT_EQ(U32At(image, start), uint32_t{QUIET_ARGS_MAGIC});
    EXPECT_EQ(U32At(image, start + 4), argsSize);
    EXPECT_EQ(U32At(image, start + 8), lzma_crc32(image.data() + start + 12, argsSize, 0));
    EXPECT_EQ(U32At(image, start + 12 + argsSize + extra), uint32_t{PREFIX_MAGIC});

    Loaded bound;
    LoadResult first;
    LoadBound(image, &bound, &first);
    ASSERT_EQ(bound.Result, LOAD_OK);
    ASSERT_NE(bound.Package.QuietUninstallArgs, nullptr);
    EXPECT_EQ(std::u16string(bound.Package.QuietUninstallArgs), u"/uninstall /quiet");

    // A changed character or a size beyond the region: damaged, bound or not.
    std::vector<uint8_t> flipped = image;
    flipped[start + 14] ^= 1;
    std::vector<uint8_t> oversized = image;
    oversized[start + 5] = 0x40;
    for (const std::vector<uint8_t>* bad : {&flipped, &oversized}) {
      std::vector<uint8_t> unbound = *bad;
      uint64_t slot = 0;
      ASSERT_TRUE(FindPackageHashSlot(unbound, &slot));
      std::fill(unbound.begin() + slot, unbound.begin() + slot + SHA256_SIZE, 0);
      Loaded a, b;
      LoadBound(*bad, &a, &first);
      EXPECT_EQ(a.Result, LOAD_BAD_DATA);
      LoadBound(unbound, &b, &first);
      EXPECT_EQ(b.Result, LOAD_BAD_DATA);
    }
  }
  // Without the arguments the package is what it was, and loads without them.
  PackageContents plain = SmallContents();
  std::vector<uint8_t> image = MakeImageWith(stub, plain);
  EXPECT_EQ(U32At(image, stub.size()), uint32_t{PREFIX_MAGIC});
  Loaded loaded;
  LoadResult first;
  LoadBound(image, &loaded, &first);
  ASSERT_EQ(loaded.Result, LOAD_OK);
  EXPECT_EQ(loaded.Package.QuietUninstallArgs, nullptr);
}

namespace {

// Where a chunked image keeps its chunk table: the records' offset, the records.
struct ChunkTableAt {
  size_t RecordsAt = 0;
  std::vector<ChunkRecord> Records;
  size_t PackedAt = 0;  // the compressed block
};

ChunkTableAt ReadChunkTableOf(const std::vector<uint8_t>& image) {
  ChunkTableAt t;
  PackageTrailer trailer;
  memcpy(&trailer, &image[image.size() - TRAILER_SIZE], TRAILER_SIZE);
  t.PackedAt = image.size() - TRAILER_SIZE - trailer.PackedSize;
  ChunkTableRecord table;
  memcpy(&table, &image[t.PackedAt - sizeof(PrefixRecord) - sizeof table], sizeof table);
  if (table.Magic != CHUNK_TABLE_MAGIC) return t;
  t.Records.resize(table.ChunkCount);
  t.RecordsAt = t.PackedAt - sizeof(PrefixRecord) - sizeof table - table.ChunkCount * sizeof(ChunkRecord);
  memcpy(t.Records.data(), &image[t.RecordsAt], table.ChunkCount * sizeof(ChunkRecord));
  return t;
}

// image with its chunk records replaced (their count kept) and the table's CRC-32 made to fit.
std::vector<uint8_t> WithChunkRecords(std::vector<uint8_t> image, const ChunkTableAt& t,
                                      const std::vector<ChunkRecord>& records, uint32_t count) {
  memcpy(&image[t.RecordsAt], records.data(), records.size() * sizeof(ChunkRecord));
  ChunkTableRecord table = {CHUNK_TABLE_MAGIC, count,
                            Crc32(reinterpret_cast<const uint8_t*>(records.data()), static_cast<uint32_t>(count * sizeof(ChunkRecord)))};
  memcpy(&image[t.RecordsAt + t.Records.size() * sizeof(ChunkRecord)], &table, sizeof table);
  return image;
}

// SmallContents with a text that spans three chunks of 4 KiB, one that spans
// two, and noise that does not compress (stored chunks).
PackageContents ChunkedContents() {
  PackageContents c = SmallContents();
  std::string text;
  for (int i = 0; text.size() < 10000; ++i) text += "line " + std::to_string(i * 7919 % 1000) + " of the text\r\n";
  c.Files.push_back({"three.txt", Bytes(text.substr(0, 10000)), 0, 5, {}, 0});
  c.Files.push_back({"two.txt", Bytes(text.substr(3, 5000)), 0, 6, {}, 0});
  std::vector<uint8_t> noise = BigContents().Files.back().Data;
  noise.resize(9000);
  c.Files.push_back({"noise.bin", noise, 0, 7, {}, 0});
  return c;
}

// Each installed file's bytes, by name, as a loaded package holds them.
std::map<std::string, std::vector<uint8_t>> FilesOf(const LoadedPackage& p) {
  std::map<std::string, std::vector<uint8_t>> files;
  for (uint32_t i = 0; i < p.Header->FileCount; ++i) {
    const FileEntry& e = p.Entries[i];
    files[p.NamesArea + e.NameOffset] = std::vector<uint8_t>(p.Block + e.DataOffset, p.Block + e.DataOffset + e.DataSize);
  }
  return files;
}

TEST(LoaderChunks, ChunkedPackageRoundTrip) {
  const std::vector<uint8_t> stub = FakePeStubWithHashSlot();
  const PackageContents c = ChunkedContents();
  std::map<std::string, std::vector<uint8_t>> expected;
  for (const PackageFileEntry& f : c.Files) expected[f.Name] = f.Data;
  SetupOptions options;
  options.ChunkSize = 4096;
  options.Threads = 4;
  const std::vector<uint8_t> image = MakeImageWith(stub, c, options);
  options.Threads = 1;
  EXPECT_EQ(MakeImageWith(stub, c, options), image) << "the bytes depend on the threads";

  const ChunkTableAt t = ReadChunkTableOf(image);
  ASSERT_GE(t.Records.size(), 6u);
  uint32_t stored = 0;
  for (const ChunkRecord& r : t.Records) {
    EXPECT_LE(r.UnpackedSize, 4096u);
    stored += r.Flags == CHUNK_STORED;
  }
  EXPECT_EQ(stored, 3u) << "9000 bytes of noise: 4096 + 4096 + 808, stored";
  EXPECT_EQ(t.Records.back().Flags, CHUNK_STORED);
  EXPECT_EQ(t.Records.back().UnpackedSize, 9000u - 2 * 4096u);

  Loaded whole, staged;
  LoadImage(image, &whole);
  ASSERT_EQ(whole.Result, LOAD_OK);
  EXPECT_EQ(FilesOf(whole.Package), expected);
  EXPECT_EQ(whole.Package.Header->LicenseEntry, 0u) << "the licence's data opens the block, its entry the table";
  LoadResult first;
  LoadBound(image, &staged, &first);
  EXPECT_EQ(staged.Result, LOAD_OK);

  // A block that fits in one chunk is written as one stream, as before.
  options.ChunkSize = 1 << 20;
  EXPECT_EQ(MakeImageWith(stub, SmallContents(), options), MakeImageWith(stub, SmallContents()));

  // The last chunk one byte long: the data cut one byte before its end.
  const uint64_t data = t.Records.back().UnpackedOffset + t.Records.back().UnpackedSize - t.Records[1].UnpackedOffset;
  PackageContents text = c;
  text.Files.pop_back();  // no stored chunks
  options.ChunkSize = static_cast<uint32_t>(data - 9000 - 1);
  const std::vector<uint8_t> oneByte = MakeImageWith(stub, text, options);
  const ChunkTableAt u = ReadChunkTableOf(oneByte);
  ASSERT_EQ(u.Records.size(), 3u);
  EXPECT_EQ(u.Records[2].UnpackedSize, 1u);
  Loaded last;
  LoadBound(oneByte, &last, &first);
  ASSERT_EQ(last.Result, LOAD_OK);
  expected.erase("noise.bin");
  EXPECT_EQ(FilesOf(last.Package), expected);
}

TEST(LoaderChunks, DamageIsRefusedAtItsChunk) {
  SetupOptions options;
  options.ChunkSize = 4096;
  const std::vector<uint8_t> image = MakeImage(ChunkedContents(), options);
  const ChunkTableAt t = ReadChunkTableOf(image);
  ASSERT_GE(t.Records.size(), 6u);
  for (size_t damaged = 0; damaged < t.Records.size(); ++damaged) {
    SCOPED_TRACE(damaged);
    std::vector<uint8_t> bad = image;
    const ChunkRecord& r = t.Records[damaged];
    bad[t.PackedAt + r.PackedOffset + r.PackedSize / 2] ^= 0x10;
    MemorySource memory;
    OpenMemorySource(&memory, bad.data(), static_cast<uint32_t>(bad.size()));
    LoadedPackage p;
    StagedLoad load;
    LoadResult first = StartStagedLoad(&memory.Source, OS_WIN10, ARCH_X64, &p, &load);
    if (damaged == 0) {
      EXPECT_NE(first, LOAD_OK) << "chunk 0 is the prefix";
      continue;
    }
    ASSERT_EQ(first, LOAD_OK);
    // Every other chunk decodes; the damaged one fails its own CRC-32.
    std::vector<uint8_t> input(INPUT_CHUNK);
    for (uint32_t i = 1; i < load.ChunkCount; ++i) {
      std::vector<uint8_t> out(load.Chunks[i].UnpackedSize);
      volatile uint32_t progress = 0;
      EXPECT_EQ(DecodeChunk(&load, i, out.data(), input.data(), nullptr, &progress), i == damaged ? LOAD_BAD_DATA : LOAD_OK) << i;
    }
    EXPECT_EQ(FinishStagedLoad(&load, &p), LOAD_BAD_DATA);
    FreeLoadedPackage(&p);
  }
}

TEST(LoaderChunks, TablesThatDoNotCoverTheBlockAreRefused) {
  SetupOptions options;
  options.ChunkSize = 4096;
  const std::vector<uint8_t> image = MakeImage(ChunkedContents(), options);
  const ChunkTableAt t = ReadChunkTableOf(image);
  ASSERT_GE(t.Records.size(), 6u);
  const size_t n = t.Records.size();
  struct Case {
    const char* What;
    std::function<void(std::vector<ChunkRecord>&, uint32_t&)> Change;
    LoadResult Result;
  } cases[] = {
      {"intact", [](auto&, uint32_t&) {}, LOAD_OK},
      {"no chunks", [](auto&, uint32_t& count) { count = 0; }, LOAD_BAD_TRAILER},
      {"more chunks than the region holds", [](auto&, uint32_t& count) { count = 1000000; }, LOAD_BAD_TRAILER},
      {"a gap in the packed bytes", [](auto& r, uint32_t&) { r[2].PackedOffset += 1; }, LOAD_BAD_TRAILER},
      {"chunks swapped", [](auto& r, uint32_t&) { std::swap(r[1], r[2]); }, LOAD_BAD_TRAILER},
      {"one short of the block", [n](auto& r, uint32_t&) { r[n - 1].UnpackedSize -= 1; }, LOAD_BAD_TRAILER},
      {"stored but smaller packed", [n](auto& r, uint32_t&) { r[n - 1].PackedSize -= 1; r[n - 1].UnpackedSize -= 1; }, LOAD_BAD_TRAILER},
      {"chunk 0 not the prefix", [](auto& r, uint32_t&) { r[0].UnpackedSize += 1; r[1].UnpackedOffset += 1; r[1].UnpackedSize -= 1; }, LOAD_BAD_TRAILER},
      {"a flag it does not know", [](auto& r, uint32_t&) { r[1].Flags |= 2; }, LOAD_BAD_TRAILER},
      {"a high half set", [](auto& r, uint32_t&) { r[1].UnpackedSize += uint64_t{1} << 32; }, LOAD_BAD_TRAILER},
  };
  for (const Case& k : cases) {
    std::vector<ChunkRecord> records = t.Records;
    uint32_t count = static_cast<uint32_t>(n);
    k.Change(records, count);
    std::vector<uint8_t> changed = WithChunkRecords(image, t, records, count <= n ? count : static_cast<uint32_t>(n));
    if (count > n) memcpy(&changed[t.RecordsAt + n * sizeof(ChunkRecord) + 4], &count, 4);
    Loaded loaded;
    LoadImage(changed, &loaded);
    EXPECT_EQ(loaded.Result, k.Result) << k.What;
  }
  // A record changed without its CRC-32: damage.
  std::vector<uint8_t> flipped = image;
  flipped[t.RecordsAt + 3] ^= 1;
  Loaded loaded;
  LoadImage(flipped, &loaded);
  EXPECT_EQ(loaded.Result, LOAD_BAD_DATA);
}


// The same package with chunk 0 stored, its prefix changed by edit: the
// table, the prefix record and the trailer made to fit.
std::vector<uint8_t> WithStoredPrefix(const std::vector<uint8_t>& image,
                                      const std::function<void(std::vector<uint8_t>&)>& edit) {
  ChunkTableAt t = ReadChunkTableOf(image);
  MemorySource memory;
  OpenMemorySource(&memory, image.data(), static_cast<uint32_t>(image.size()));
  LoadedPackage p;
  StagedLoad load;
  if (StartStagedLoad(&memory.Source, OS_WIN10, ARCH_X64, &p, &load) != LOAD_OK) abort();
  std::vector<uint8_t> prefix(t.Records[0].UnpackedSize), input(INPUT_CHUNK);
  volatile uint32_t progress = 0;
  if (DecodeChunk(&load, 0, prefix.data(), input.data(), nullptr, &progress) != LOAD_OK) abort();
  AbandonStagedLoad(&load);
  FreeLoadedPackage(&p);
  uint32_t sum = PackageChecksum(prefix.data(), static_cast<uint32_t>(prefix.size()));
  edit(prefix);
  const uint32_t crc = Crc32(prefix.data(), static_cast<uint32_t>(prefix.size()));
  const int64_t shift = static_cast<int64_t>(prefix.size()) - static_cast<int64_t>(t.Records[0].PackedSize);
  std::vector<ChunkRecord> records = t.Records;
  records[0] = {5, prefix.size(), 0, prefix.size(), crc, CHUNK_STORED};
  for (size_t i = 1; i < records.size(); ++i) records[i].PackedOffset += shift;
  std::vector<uint8_t> out = WithChunkRecords(image, t, records, static_cast<uint32_t>(records.size()));
  PrefixRecord record = {PREFIX_MAGIC, static_cast<uint32_t>(prefix.size()), crc};
  memcpy(&out[t.PackedAt - sizeof record], &record, sizeof record);
  out.erase(out.begin() + t.PackedAt + 5, out.begin() + t.PackedAt + 5 + t.Records[0].PackedSize);
  out.insert(out.begin() + t.PackedAt + 5, prefix.begin(), prefix.end());
  PackageTrailer trailer;
  memcpy(&trailer, &out[out.size() - TRAILER_SIZE], TRAILER_SIZE);
  trailer.PackedSize += static_cast<uint32_t>(shift);
  trailer.Checksum += PackageChecksum(prefix.data(), static_cast<uint32_t>(prefix.size())) - sum;
  memcpy(&out[out.size() - TRAILER_SIZE], &trailer, TRAILER_SIZE);
  return out;
}

TEST(LoaderChunks, EntriesMustFollowTheDataOrder) {
  SetupOptions options;
  options.ChunkSize = 4096;
  const std::vector<uint8_t> image = MakeImage(ChunkedContents(), options);
  Loaded stored;
  LoadImage(WithStoredPrefix(image, [](std::vector<uint8_t>&) {}), &stored);
  EXPECT_EQ(stored.Result, LOAD_OK) << "a stored prefix";
  // Two entries' data swapped: the bytes stay the same, the order does not.
  const size_t dataOffset = offsetof(FileEntry, DataOffset);
  auto swapData = [&](std::vector<uint8_t>& prefix) {
    for (size_t k = 0; k < 4; ++k)
      std::swap(prefix[sizeof(PackageHeader) + 3 * sizeof(FileEntry) + dataOffset + k],
                prefix[sizeof(PackageHeader) + 4 * sizeof(FileEntry) + dataOffset + k]);
  };
  Loaded swapped;
  LoadImage(WithStoredPrefix(image, swapData), &swapped);
  EXPECT_EQ(swapped.Result, LOAD_BAD_CONTENT);
}

}  // namespace
