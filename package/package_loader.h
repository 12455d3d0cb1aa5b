// Finds, decodes, verifies and indexes the package at the end of a setup file.
// Portable: the file is reached only through PackageSource, so the same code
// runs in the stub, in the packer's inspect command and under the fuzzer.
#pragma once
#include <lzma.h>
#include <stdint.h>

#include "base/text_capacities.h"
#include "base/wide_text.h"
#include "package/package_format.h"
#include "package/sha256.h"

struct PackageSource {
  // Offset of the Authenticode certificate table, 0 for an unsigned file.
  uint32_t CertificateOffset;
  uint32_t FileSize;
  // Reads up to size bytes at offset; returns how many were read.
  uint32_t (*Read)(void* context, uint32_t offset, void* buffer, uint32_t size);
  void* Context;
  // The SHA-256 that the package region (PackageRegionStart to
  // PackageRegionEnd) must have, as the packer bound it to the stub's image;
  // null: not checked. The loader hashes the bytes as it reads and uses them.
  const uint8_t* BoundHash;
};

struct LanguageEntry {
  uint16_t LangId;
  const WChar* Strings[LANGUAGE_STRINGS];  // 0: own name, 1 + TextId: texts
};

enum : uint32_t { DEFAULT_MAIN_PROGRAM_CAPACITY = MAX_PRODUCT_NAME + sizeof ".exe" };

struct LoadedPackage {
  // The unpacked block. Of a chunked package, until its rest is decoded
  // whole, only the prefix, in Prefix; Block then moves to the whole block.
  uint8_t* Block;
  uint32_t BlockSize;
  uint8_t* Prefix;
  PackageHeader* Header;
  FileEntry* Entries;
  LanguageEntry* Languages;
  const WChar* Config[CFG_COUNT];  // null when absent
  const char* NamesArea;
  uint64_t ApplicableTotal;
  uint8_t* Scratch;  // 64 KB, reused by the licence display
  // MainProgram is absent from the block: Config[CFG_MAIN_PROGRAM] is the
  // loader's own ProductName + ".exe", in DefaultMainProgram.
  bool MainProgramDefaulted;
  WChar DefaultMainProgram[DEFAULT_MAIN_PROGRAM_CAPACITY];
  // The arguments of the quiet uninstall command; null without their record.
  const WChar* QuietUninstallArgs;
  // The extra region's first bytes as read: the arguments' record, if any.
  // Args ends with a unit never read into, so that the text always ends.
  struct {
    QuietArgsRecord Record;
    WChar Args[COMMAND_CAPACITY + 1];
  } ExtraHead;
};

enum LoadResult {
  LOAD_OK,
  LOAD_NO_TRAILER,    // no magic in the window: the file holds no package
  LOAD_BAD_TRAILER,   // magic present, but the trailer cannot be right
  LOAD_NO_MEMORY,
  LOAD_BAD_DATA,      // decode short or failed, or checksum mismatch
  LOAD_BAD_CONTENT,   // checksum matched, but the block breaks an invariant
};

enum : uint32_t { SCRATCH_SIZE = 65536 };

// Where a setup file's package lies, as its trailer tells.
struct TrailerLocation {
  PackageTrailer Trailer;
  uint32_t End;        // the certificate table, or the file's end when unsigned
  uint32_t TrailerAt;  // file offset of the trailer
};

// File offsets of the compressed block and of the magic; the bytes between
// the trailer and End.
inline uint32_t PackedOffset(const TrailerLocation* at) { return at->TrailerAt - at->Trailer.PackedSize; }
inline uint32_t MagicOffset(const TrailerLocation* at) { return at->TrailerAt + TRAILER_MAGIC_OFFSET; }
inline uint32_t TrailerSlack(const TrailerLocation* at) { return at->End - at->TrailerAt - TRAILER_SIZE; }
// The package region, which the bound hash covers: the extra region, the
// compressed block and the trailer, not the slack after it (where signing
// pads to the certificate table). Its start lies before the file when the
// trailer's ExtraSize is larger than the offset of the compressed block.
inline bool PackageRegionStart(const TrailerLocation* at, uint32_t* start) {
  if (at->Trailer.ExtraSize > PackedOffset(at)) return false;
  *start = PackedOffset(at) - at->Trailer.ExtraSize;
  return true;
}
inline uint32_t PackageRegionEnd(const TrailerLocation* at) { return at->TrailerAt + TRAILER_SIZE; }

// Looks for the trailer's magic in the TRAILER_WINDOW bytes before the
// certificate table (or the file's end); the nearest match to the end wins.
// LOAD_NO_TRAILER when there is no magic; LOAD_BAD_TRAILER when the trailer
// found cannot be right (it would start before the window, its compressed
// block before the file, or its block is smaller than a header); otherwise
// LOAD_OK with out filled in.
LoadResult LocateTrailer(const PackageSource* source, TrailerLocation* out);

// The position of the trailer's magic in the TRAILER_WINDOW bytes before
// the package region's end, or -1; the nearest match to the end wins.
int32_t FindTrailerMagic(const uint8_t window[TRAILER_WINDOW]);

// Certificate-table offset from a PE image's headers; false when the bytes
// are not an MZ image with a PE signature.
bool ReadCertificateOffset(const uint8_t* headers, uint32_t size, uint32_t* offset);

enum PrefixRecordState { PREFIX_NONE, PREFIX_PRESENT, PREFIX_MALFORMED };

// Reads the prefix record from the last bytes of the extra region of the
// package at located. PREFIX_NONE when the region is shorter than a record or
// does not end with its magic; PREFIX_MALFORMED when the prefix it gives is
// smaller than a header or larger than the block; else PREFIX_PRESENT with
// out filled in.
PrefixRecordState ReadPrefixRecord(const PackageSource* source, const TrailerLocation* located, PrefixRecord* out);

// What a load keeps between its two stages.
struct StagedLoad {
  const PackageSource* Source;
  TrailerLocation Located;
  bool HasRecord;       // the extra region ends with a well-formed PrefixRecord
  uint32_t PrefixSize;  // the block's size when there is no record
  uint32_t PrefixSum;   // PackageChecksum of the prefix as decoded
  uint32_t InputAt;     // file offset of the compressed bytes not yet read
  uint8_t* Input;       // INPUT_CHUNK bytes
  // Bytes of the block decoded so far; the second stage's progress, read by
  // other threads while it runs.
  volatile uint32_t Decoded;
  lzma_stream Stream;   // the single stream's decoder; unused when chunked
  lzma_options_lzma Options;  // the package's properties, as the decoders take them
  Sha256 Hash;  // of the package region read so far, when Source->BoundHash
  // A chunked package: its table, checked against the trailer and the
  // prefix record (see StartStagedLoad); ChunkCount 0 for one stream.
  uint32_t ChunkCount;
  ChunkRecord* Chunks;
  ChunkTableRecord Table;
};

enum : uint32_t { INPUT_CHUNK = 256 * 1024 };

// First stage: locates the trailer, reads the prefix record, the chunk table
// when the extra region holds one before it (LOAD_BAD_DATA when it fails its
// CRC-32, LOAD_BAD_TRAILER when its chunks do not cover the compressed and
// the unpacked block in order, chunk 0 the prefix) and the quiet uninstall
// arguments' record (LOAD_BAD_DATA when it is cut short or fails its CRC-32),
// decodes the prefix (of a chunked package: chunk 0, into out->Prefix), verifies it (the record's CRC-32, or without a record the whole
// block's checksum, as the prefix is then the whole block) and indexes it
// with every bounds check against the prefix. osClass and archClass decide
// applicability; in a chunked package each entry's data must start at or
// after the previous entry's data end, so that files can be written as their
// chunks arrive (LOAD_BAD_CONTENT). On LOAD_OK, out holds the package, of
// whose block only the first load->PrefixSize bytes are decoded yet; load
// keeps the decoder for the second stage. On failure, out and load are freed.
LoadResult StartStagedLoad(const PackageSource* source, uint32_t osClass, uint32_t archClass,
                           LoadedPackage* out, StagedLoad* load);
// Second stage: decodes the rest of the block (of a chunked package: into a
// whole block, chunk by chunk, each tested against its CRC-32; out->Block
// moves to it at the end) and tests the trailer's checksum over all of it, and with a bound hash the package region's
// SHA-256 (LOAD_BAD_DATA when it differs); frees load's decoder either way. It writes only
// the block beyond the prefix, so another thread may read out meanwhile. On
// failure, out stays as it is (the caller frees it once nothing reads it).
LoadResult FinishStagedLoad(StagedLoad* load, LoadedPackage* out);

// Decodes chunk index of the chunked package of load into out, the chunk's
// UnpackedSize bytes: its own raw LZMA1 stream, or a copy of a stored chunk,
// read through input (INPUT_CHUNK bytes). LOAD_BAD_DATA when the stream
// fails or ends short, or the bytes fail the chunk's CRC-32; LOAD_NO_MEMORY
// when its decoder cannot get its memory. Adds the chunk's packed bytes, all
// of them and as read, to hash unless it is null, and the bytes decoded to
// progress as they come. Each call has a decoder of its own, and liblzma's
// raw decoder keeps no state between streams: calls with their own out,
// input and hash may run on several threads at once when Source->Read may.
LoadResult DecodeChunk(const StagedLoad* load, uint32_t index, uint8_t* out, uint8_t* input, Sha256* hash,
                       volatile uint32_t* progress);

// With a bound hash, after the first stage of a chunked package: adds the
// compressed bytes after the prefix's and the trailer to the package
// region's hash, as read, and compares it (LOAD_BAD_DATA when it differs),
// so that the chunks may then be decoded and written in any order.
LoadResult CheckPackageHash(StagedLoad* load);

// Ends a load after its first stage without decoding the rest (out is left
// to the caller to free).
void AbandonStagedLoad(StagedLoad* load);

// Both stages at once. On LOAD_OK, out holds the package; its memory lives
// until FreeLoadedPackage (the stub never frees it).
LoadResult LoadWholePackage(const PackageSource* source, uint32_t osClass, uint32_t archClass,
                            LoadedPackage* out);
void FreeLoadedPackage(LoadedPackage* package);

// Entry flags after normalisation; applicability on the given system.
uint32_t NormaliseEntryFlags(uint32_t flags);
bool IsFlagsApplicable(uint32_t normalisedFlags, uint32_t osClass, uint32_t archClass);

const char* LoadResultText(LoadResult result);
