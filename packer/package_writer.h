// Lays out the unpacked block of a package and wraps it into a setup file:
// stub, extra region, compressed block, trailer, slack.
#pragma once
#include <stdint.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "package/package_format.h"
#include "packer/lzma_encode.h"

struct PackageFileEntry {
  std::string Name;  // installed relative name, 8-bit, backslashes
  std::vector<uint8_t> Data;
  uint32_t Flags = 0;          // FE_* bits, masks unnormalised (0 = all)
  uint64_t LastWriteTime = 0;  // FILETIME
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
};

// Language 0x409 "English" with the default English texts.
PackageLanguage EnglishLanguage();

// Where BuildBlock put each part, as offsets into the block.
struct BlockLayout {
  uint32_t LanguagesAt = 0;
  uint32_t ConfigAt = 0;
  uint32_t NamesAt = 0;
  uint32_t DataAt = 0;
  std::vector<uint32_t> NameOffsets;  // from NamesAt, per entry
  std::vector<uint32_t> DataOffsets;  // from the block start, per entry
};

// Test-only: fields written in place of the computed ones, to produce blocks
// that break the rules a reader must enforce.
struct BlockOverrides {
  std::optional<PackageHeader> Header;
  std::map<uint32_t, FileEntry> Entries;  // entry index -> raw entry
  std::optional<uint32_t> TruncateAt;     // the block ends here
};

// The largest block the format's 32-bit signed file offsets allow.
enum : uint32_t { MAX_BLOCK_SIZE = 0x7FFFFFFFu };

// Builds the unpacked block: header, entries, language records, config
// strings, names in entry order, then the data in entry order. Throws
// PackerError when the contents cannot be represented (too many languages
// or files, block over MAX_BLOCK_SIZE). Checks no text limits; the manifest
// reader does.
std::vector<uint8_t> BuildBlock(const PackageContents& contents, BlockLayout* layout = nullptr,
                                const BlockOverrides& overrides = {});

// The size BuildBlock's result will have, computed without building it, so
// that an oversized package fails before gigabytes are copied.
uint64_t PlannedBlockSize(const PackageContents& contents);

struct SetupOptions {
  LzmaSettings Lzma;
  uint32_t ExtraSize = 0;     // zero bytes between the stub and the compressed block
  uint32_t Slack = 0;         // zero bytes after the trailer
  bool CorruptChecksum = false;
};

// stub + extra region + compressed block + trailer + slack. Throws
// PackerError when the result would reach 2 GiB.
std::vector<uint8_t> MakeSetupImage(const std::vector<uint8_t>& stub, const std::vector<uint8_t>& block,
                                    const SetupOptions& options);
