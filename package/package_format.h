// Byte layout of the package appended to the setup stub. Shared by the stub,
// the packer and the tests; every record is little-endian and unaligned.
#pragma once
#include <stddef.h>
#include <stdint.h>

enum : uint32_t { TRAILER_MAGIC = 0xEFAB514Cu };
// The loader looks for the trailer in the last TRAILER_WINDOW bytes before
// the certificate table (or the file's end): up to MAX_SLACK bytes may follow it.
enum : uint32_t { TRAILER_SIZE = 20, MAX_SLACK = 16, TRAILER_WINDOW = TRAILER_SIZE + MAX_SLACK };

// FileEntry flags: the architecture bits, the OS bits above them, then flags.
enum : uint32_t {
  FE_ARCH_MASK = 0xFu,
  FE_OS_SHIFT = 4,
  FE_OS_MASK = 0xFFFFu << FE_OS_SHIFT,
  FE_NO_EXTRACT = 0x400000u,
  FE_REPLACE_LOCKED = 0x800000u,
};

// Every bit the masks can hold: an entry's OS and architecture fields, and
// the header's OsMask and ArchMask.
enum : uint32_t {
  ENTRY_OS_ALL = FE_OS_MASK >> FE_OS_SHIFT,
  ENTRY_ARCH_ALL = FE_ARCH_MASK,
  HEADER_OS_ALL = 0xFFFFu,
  HEADER_ARCH_ALL = 0xFFu,
};

inline uint32_t EntryOsMask(uint32_t flags) { return (flags & FE_OS_MASK) >> FE_OS_SHIFT; }
inline uint32_t EntryArchMask(uint32_t flags) { return flags & FE_ARCH_MASK; }
inline uint32_t MakeEntryFlags(uint32_t osMask, uint32_t archMask, uint32_t other) {
  return osMask << FE_OS_SHIFT | archMask | other;
}

// PackageHeader flags. PH_UTF8_NAMES: the installed names are UTF-8, not
// 8-bit in the ANSI code page; the packer sets it only when a name needs it
// and pairs such a package only with a stub that declares it understands it.
enum : uint8_t { PH_REGISTRY_64 = 0x01, PH_UTF8_NAMES = 0x02 };

enum : uint16_t { NO_LICENSE_ENTRY = 0xFFFF };

// File offsets are 32-bit unsigned: a setup file ends below 4 GiB, as an
// Authenticode signature cannot cover more. The largest block they allow
// (FileEntry's offsets are 32-bit too): the packer writes none larger and
// the loader accepts none larger.
enum : uint32_t { MAX_FILE_OFFSET = 0xFFFFFFFFu, MAX_BLOCK_SIZE = MAX_FILE_OFFSET, FILE_OFFSET_LIMIT_GIB = 4 };
static_assert(uint64_t{MAX_FILE_OFFSET} + 1 == uint64_t{FILE_OFFSET_LIMIT_GIB} << 30, "the limit in GiB");
// A single stream, and the setup file that holds it, stay below 2 GiB: the
// packer pairs one with any stub, and stubs built before the chunks read
// their setup file with signed 32-bit offsets.
enum : uint32_t { MAX_STREAM_BLOCK_SIZE = 0x7FFFFFFFu, MAX_STREAM_FILE_OFFSET = 0x7FFFFFFFu };

#pragma pack(push, 1)
struct PackageTrailer {
  uint32_t Checksum;
  uint32_t UnpackedSize;
  uint32_t PackedSize;
  uint32_t ExtraSize;
  uint32_t Magic;
};

struct PackageHeader {
  uint32_t FileCount;
  uint16_t OsMask;
  uint16_t LicenseEntry;
  uint8_t LanguageCount;
  uint8_t ArchMask;
  uint8_t Flags;
  uint8_t Reserved;
};

struct FileEntry {
  uint32_t LastWriteTimeLow;
  uint32_t LastWriteTimeHigh;
  uint32_t Flags;
  uint32_t Reserved;
  uint32_t DataSize;
  uint32_t NameOffset;
  uint32_t DataOffset;
};

// The last bytes of the extra region, when the packer wrote them: how much of
// the unpacked block the wizard needs (header, table, languages, config
// strings, names and the licence data, which the packer stores first) and the
// CRC-32 of those bytes, so that the wizard can start before the rest is
// decoded. A stub that does not know the record skips it with the region.
struct PrefixRecord {
  uint32_t Magic;
  uint32_t PrefixSize;
  uint32_t PrefixCrc;
};

// The first bytes of the extra region, when the manifest gives
// quiet_uninstall_args: the record, then ArgsSize bytes of UTF-16 arguments
// with their terminator. At the start, so that the prefix record keeps its
// place at the end for stubs that know only that one.
struct QuietArgsRecord {
  uint32_t Magic;
  uint32_t ArgsSize;
  uint32_t ArgsCrc;  // CRC-32 of the arguments' bytes
};
// A chunked package: the unpacked block is cut into chunks, each compressed
// on its own (an independent raw LZMA1 stream with the package's properties,
// or stored as it is), so that chunks decode on separate threads. The
// compressed block keeps its 5 property bytes; the chunks' bytes follow them
// in block order. The table lies in the extra region just before the prefix
// record: ChunkCount ChunkRecords, then the ChunkTableRecord. Chunk 0 is the
// prefix that the prefix record delimits. Sizes are 64-bit: the setup file
// stays below 4 GiB (a signature cannot cover more), the product need not.
struct ChunkRecord {
  uint64_t PackedOffset;    // from the start of the compressed block
  uint64_t PackedSize;
  uint64_t UnpackedOffset;  // in the unpacked block
  uint64_t UnpackedSize;
  uint32_t Crc;             // CRC-32 of the chunk's unpacked bytes
  uint32_t Flags;           // CHUNK_STORED
};

struct ChunkTableRecord {
  uint32_t Magic;       // CHUNK_TABLE_MAGIC
  uint32_t ChunkCount;  // at least 1
  uint32_t TableCrc;    // CRC-32 of the ChunkCount records before this one
};
#pragma pack(pop)

// The chunk's packed bytes are its unpacked bytes (data that does not compress).
enum : uint32_t { CHUNK_STORED = 0x1u };
enum : uint32_t { CHUNK_TABLE_MAGIC = 0x4B4E4843u };  // "CHNK"
// A chunked package's block and setup file stay below 4 GiB: FileEntry's
// offsets and the trailer's sizes are 32-bit, and a signature covers no more.
enum : uint32_t { MAX_CHUNKED_BLOCK_SIZE = 0xFFFFFFFFu, MAX_CHUNKED_FILE_SIZE = 0xFFFFFFFFu };
static_assert(sizeof(ChunkRecord) == 40, "chunk record layout");
static_assert(sizeof(ChunkTableRecord) == 12, "chunk table record layout");

enum : uint32_t { QUIET_ARGS_MAGIC = 0x41495551u };  // "QUIA"

enum : uint32_t { PREFIX_MAGIC = 0x58465250u };  // "PRFX"

// The magic ends the trailer; the loader finds the trailer by it.
enum : uint32_t {
  TRAILER_MAGIC_SIZE = sizeof(PackageTrailer::Magic),
  TRAILER_MAGIC_OFFSET = offsetof(PackageTrailer, Magic),
};
static_assert(TRAILER_MAGIC_OFFSET + TRAILER_MAGIC_SIZE == TRAILER_SIZE, "the magic ends the trailer");

static_assert(sizeof(PackageTrailer) == TRAILER_SIZE, "trailer layout");
static_assert(sizeof(PackageHeader) == 12, "header layout");
static_assert(sizeof(FileEntry) == 28, "entry layout");
static_assert(sizeof(PrefixRecord) == 12, "prefix record layout");
static_assert(sizeof(QuietArgsRecord) == 12, "quiet arguments record layout");

// Index of each configuration string.
enum ConfigIndex {
  CFG_PRODUCT_NAME,
  CFG_PRODUCT_VERSION,
  CFG_MAIN_PROGRAM,
  CFG_LAUNCH_COMMAND,
  CFG_RUNNING_MUTEX,
  CFG_RUNNING_WINDOW_CLASS,
  CFG_RUNNING_WINDOW_TITLE,
  CFG_PUBLISHER_NAME,
  CFG_DEFAULT_INSTALL_DIR,
  CFG_CONFIGURE_ARGS,
  CFG_UNINSTALL_ARGS,
  CFG_UNSUPPORTED_OS_TARGET,
  CFG_COUNT
};

// User-interface texts; a language record holds its own name, then these.
enum TextId {
  TXT_TITLE_FMT,
  TXT_BACK,
  TXT_NEXT,
  TXT_INSTALL,
  TXT_CANCEL,
  TXT_LICENSE_TITLE,
  TXT_LICENSE_SUBTITLE,
  TXT_ACCEPT,
  TXT_DEST_TITLE,
  TXT_DEST_SUBTITLE_FMT,
  TXT_BROWSE,
  TXT_INSTALLING_TITLE,
  TXT_INSTALLING_SUBTITLE_FMT,
  TXT_DONE_TITLE,
  TXT_FAILED_TITLE,
  TXT_FINISH_SUBTITLE,
  TXT_FINISH,
  TXT_LAUNCH_FMT,
  TXT_BROWSE_PROMPT,
  TXT_DESKTOP_SHORTCUT,
  TXT_FOLDER_EXISTS_FMT,
  TXT_NEED_ADMIN,
  TXT_APP_RUNNING_FMT,
  TXT_COUNT
};

enum : uint32_t { LANGUAGE_STRINGS = TXT_COUNT + 1 };

// ProductName must fit the 128-byte uninstall key path after its 52-byte prefix.
enum : uint32_t { MAX_PRODUCT_NAME = 75 };

// Sum of all bytes of the unpacked block, wrapping at 32 bits.
uint32_t PackageChecksum(const uint8_t* data, uint32_t size);

// CRC-32 (IEEE 802.3), the same as liblzma's lzma_crc32 with crc 0.
uint32_t Crc32(const uint8_t* data, uint32_t size);

// Splits the LZMA properties byte; false for values above 224.
bool ParseLzmaProperties(uint8_t props, uint32_t* lc, uint32_t* lp, uint32_t* pb);
