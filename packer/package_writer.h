// Lays out the unpacked block of a package and wraps it into a setup file:
// stub, extra region, compressed block, trailer, slack.
#pragma once
#include <stdint.h>
#include <stdio.h>

#include <functional>
#include <string>
#include <vector>

#include "package/package_format.h"
#include "packer/lzma_encode.h"
#include "packer/read_ahead.h"

struct PackageFileEntry {
  std::string Name;  // installed relative name, 8-bit, backslashes
  std::vector<uint8_t> Data;   // the contents, unless Source is set
  uint32_t Flags = 0;          // FE_* bits, masks unnormalised (0 = all)
  uint64_t LastWriteTime = 0;  // FILETIME
  std::string Source;          // else read from this file while packing
  uint64_t SourceSize = 0;     // its size when planned; a change is an error
};

struct PackageLanguage {
  uint16_t LangId = 0x409;
  std::u16string Strings[LANGUAGE_STRINGS];  // 0: own name, 1 + TextId: texts
};

struct PackageContents {
  uint16_t OsMask = 0;
  uint8_t ArchMask = 0;
  uint8_t HeaderFlags = 0;
  uint16_t LicenseEntry = NO_LICENSE_ENTRY;
  std::vector<PackageFileEntry> Files;
  std::vector<PackageLanguage> Languages;
  std::u16string Config[CFG_COUNT];
  std::u16string QuietUninstallArgs;  // empty: no record
};

uint64_t DataSizeOf(const PackageFileEntry& file);

// Language 0x409 "English" with the default English texts.
PackageLanguage EnglishLanguage();

// Where the entries' data go. Entries with identical contents share one
// stored copy; the stored copies follow the entry table, except that the
// files of a kind (extension and name stem) that several entries share are
// drawn together, so that similar data lie within the encoder's dictionary
// of each other, and that the licence's copy comes first, ahead of them all.
// The entry table keeps the manifest's order.
struct DataPlan {
  std::vector<uint32_t> StoreOrder;  // entries whose data is stored, in block order
  std::vector<uint32_t> StoredAs;    // per entry: the entry whose stored copy it uses
};
// Reads sources whose sizes collide to find identical contents; throws
// PackerError when one cannot be read.
DataPlan PlanData(const PackageContents& contents);

// Where BuildBlock put each part, as offsets into the block.
struct BlockLayout {
  uint32_t LanguagesAt = 0;
  uint32_t ConfigAt = 0;
  uint32_t NamesAt = 0;
  uint32_t DataAt = 0;
  std::vector<uint32_t> NameOffsets;  // from NamesAt, per entry
  std::vector<uint32_t> DataOffsets;  // from the block start, per entry
};

// Builds the unpacked block in memory: header, entries, language records,
// config strings, names in entry order (in slots, see docs/packer.md), then
// the data as PlanData lays it out (sources are read). Throws
// PackerError when the contents cannot be represented (too many languages
// or files, block over MAX_BLOCK_SIZE). Checks no text limits; the manifest
// reader does.
std::vector<uint8_t> BuildBlock(const PackageContents& contents, BlockLayout* layout = nullptr);

// Everything of the block before the data, with the entries' data offsets
// as plan lays the data out; blockSize gets the whole block's size. Throws
// PackerError when the contents cannot be represented (too many languages,
// a block that could exceed maxBlockSize).
std::vector<uint8_t> BuildHead(const PackageContents& contents, const DataPlan& plan, BlockLayout& at,
                               uint64_t* blockSize, uint64_t maxBlockSize = MAX_STREAM_BLOCK_SIZE);

// An upper bound of the block's size (every entry's data stored), computed
// without reading anything, so that an oversized package fails early.
uint64_t PlannedBlockSize(const PackageContents& contents);

struct SetupOptions {
  LzmaSettings Lzma;
  uint32_t ExtraSize = 0;     // zero bytes between the stub and the compressed block
  uint32_t Slack = 0;         // zero bytes after the trailer
  bool CorruptChecksum = false;
  // The prefix record at the end of the extra region; tests leave it out to
  // make a package as older packers wrote it. WritePackage writes the record
  // it is given.
  bool PrefixRecord = true;
  // A block larger than ChunkSize is written in chunks (0: one stream),
  // compressed on Threads threads; the bytes do not depend on Threads.
  uint32_t ChunkSize = 0;
  uint32_t Threads = 1;
  // Whether the stub reads chunked packages; named in the refusal when not.
  bool StubReadsChunks = true;
  std::string StubName = "stub";
};

// A block of more than ChunkSize bytes: too large for one stream.
std::string BlockLimitText(uint64_t limit);

// Called while packing with the unpacked bytes fed to the encoder so far,
// their total, and the bytes written to the output.
using PackProgress = std::function<void(uint64_t done, uint64_t total, uint64_t written)>;

// The setup file: stub + extra region (ExtraSize zero bytes, then the prefix
// record unless options leave it out) + compressed block + trailer + slack,
// written to out as it is produced: the sources are read in pieces and pass
// through the checksum and the encoder once, so memory stays bounded
// whatever the payload. Throws PackerError (a source that cannot be read or
// changed its size, a write error, a setup file reaching MAX_FILE_OFFSET).
// Returns the sizes written into the trailer.
struct PackedSizes {
  uint32_t Packed = 0;    // the compressed block, property bytes included
  uint32_t Unpacked = 0;  // the block
};
PackedSizes WriteSetupFile(FILE* out, const std::vector<uint8_t>& stub, const PackageContents& contents,
                           const SetupOptions& options, const PackProgress& progress = {});

// What WriteSetupFile writes once it has the block's prefix record: stub +
// extra region (options.ExtraSize zero bytes, then record) + the block of
// blockSize bytes that produce hands to its feed in pieces, compressed as it
// comes + trailer + slack. When the stub has a package hash slot, the SHA-256
// of the package region (everything after the stub up to the trailer's end)
// is written into it at the end: out must be seekable.
// head: the records before the zero bytes (the quiet uninstall arguments').
PackedSizes WritePackage(FILE* out, const std::vector<uint8_t>& stub, const std::vector<uint8_t>& record,
                         uint64_t blockSize, const SetupOptions& options, const PackProgress& progress,
                         const std::function<void(const ByteFeed& feed)>& produce,
                         const std::vector<uint8_t>& head = {});

// The quiet uninstall arguments' record with its arguments; empty for none.
std::vector<uint8_t> QuietArgsRecordBytes(const std::u16string& arguments);
