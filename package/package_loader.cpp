#include "package/package_loader.h"

#include <lzma.h>
#include <string.h>

#include "base/text_capacities.h"
#include "package/installable_name.h"
#include "package/pe_layout.h"
#include "package/platform_memory.h"

namespace {

uint32_t ReadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void* LzmaAlloc(void*, size_t count, size_t size) {
  uint64_t total = static_cast<uint64_t>(count) * size;
  if (total > 0xFFFFFFFFu) return nullptr;
  return PlatformAlloc(static_cast<uint32_t>(total));
}

void LzmaFree(void*, void* block) {
  if (block) PlatformFree(block);
}

// Sets up the raw LZMA1 decoder from the five property bytes at the start
// of the compressed block. LOAD_BAD_DATA after invalid properties,
// LOAD_NO_MEMORY when the decoder could not get its memory (the stream may
// be fine).
LoadResult OpenDecoder(StagedLoad* load, uint32_t blockSize) {
  const PackageTrailer& trailer = load->Located.Trailer;
  uint8_t properties[5];
  if (trailer.PackedSize < 5 ||
      load->Source->Read(load->Source->Context, load->InputAt, properties, 5) != 5)
    return LOAD_BAD_DATA;
  if (load->Source->BoundHash) Sha256Add(&load->Hash, properties, 5);
  load->InputAt += 5;
  uint32_t lc, lp, pb;
  if (!ParseLzmaProperties(properties[0], &lc, &lp, &pb)) return LOAD_BAD_DATA;
  lzma_options_lzma options;
  memset(&options, 0, sizeof options);
  options.dict_size = ReadU32(properties + 1);
  // liblzma refuses dictionaries below 4 KiB; a smaller one decodes the same
  // stream when given more room.
  if (options.dict_size < LZMA_DICT_SIZE_MIN) options.dict_size = LZMA_DICT_SIZE_MIN;
  // liblzma allocates the whole dictionary up front, but no match can reach
  // further back than the output produced so far: a dictionary the size of
  // the block decodes the same stream, and a huge dictionary field cannot
  // make the stub allocate gigabytes for a small package.
  if (options.dict_size > blockSize)
    options.dict_size = blockSize < LZMA_DICT_SIZE_MIN ? LZMA_DICT_SIZE_MIN : blockSize;
  options.lc = lc;
  options.lp = lp;
  options.pb = pb;
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  load->Allocator = {LzmaAlloc, LzmaFree, nullptr};
  load->Stream = LZMA_STREAM_INIT;
  load->Stream.allocator = &load->Allocator;
  lzma_ret init = lzma_raw_decoder(&load->Stream, filters);
  if (init == LZMA_OK) return LOAD_OK;
  return init == LZMA_MEM_ERROR ? LOAD_NO_MEMORY : LOAD_BAD_DATA;
}

// Decodes into the block until its first target bytes are there, reading
// the compressed bytes a chunk at a time. LOAD_BAD_DATA when the stream
// ends or fails first, so that a bad stream can never look partly good.
LoadResult DecodeUpTo(StagedLoad* load, LoadedPackage* p, uint32_t target) {
  // Output in steps, so that the progress moves on even where a little input
  // makes much output.
  const uint32_t kStep = 4u << 20;
  lzma_stream& stream = load->Stream;
  const uint32_t packedEnd = load->Located.TrailerAt;
  lzma_ret ret = LZMA_OK;
  while (ret == LZMA_OK && load->Decoded < target) {
    if (stream.avail_in == 0 && load->InputAt < packedEnd) {
      uint32_t want = packedEnd - load->InputAt < INPUT_CHUNK ? packedEnd - load->InputAt : INPUT_CHUNK;
      uint32_t got = load->Source->Read(load->Source->Context, load->InputAt, load->Input, want);
      // A short read ends the input: what is missing cannot be decoded.
      load->InputAt = got == want ? load->InputAt + got : packedEnd;
      // Hashed as read, in the buffer the decoder takes them from.
      if (load->Source->BoundHash) Sha256Add(&load->Hash, load->Input, got);
      stream.next_in = load->Input;
      stream.avail_in = got;
    }
    uint32_t step = target - load->Decoded < kStep ? target - load->Decoded : kStep;
    stream.next_out = p->Block + load->Decoded;
    stream.avail_out = step;
    size_t before = stream.avail_in + stream.avail_out;
    ret = lzma_code(&stream, LZMA_RUN);
    load->Decoded += step - static_cast<uint32_t>(stream.avail_out);
    if (ret == LZMA_OK && stream.avail_in + stream.avail_out == before) break;  // input used up
  }
  if (ret == LZMA_MEM_ERROR) return LOAD_NO_MEMORY;
  if (ret != LZMA_OK && ret != LZMA_STREAM_END) return LOAD_BAD_DATA;
  return load->Decoded == target ? LOAD_OK : LOAD_BAD_DATA;
}

// Adds the file's bytes from at to end to the hash, a chunk at a time
// through the input buffer; false when they cannot all be read.
bool HashFileBytes(StagedLoad* load, uint32_t at, uint32_t end) {
  while (at < end) {
    uint32_t want = end - at < INPUT_CHUNK ? end - at : INPUT_CHUNK;
    if (load->Source->Read(load->Source->Context, at, load->Input, want) != want) return false;
    Sha256Add(&load->Hash, load->Input, want);
    at += want;
  }
  return true;
}

// Reads the extra region's first bytes into out->ExtraHead and takes the
// quiet uninstall arguments when they hold their record (LOAD_BAD_DATA when
// it is cut short or fails its CRC-32). With a bound hash, starts the package
// region's hash with the region: those bytes as read, the bytes up to the
// prefix record's place, then the record's bytes as ReadPrefixRecord read
// them (zero where it read none), so that the records used are the ones
// hashed; LOAD_BAD_DATA when the region cannot be read.
LoadResult ReadExtraRegion(StagedLoad* load, LoadedPackage* out, const PrefixRecord* record) {
  const PackageSource* source = load->Source;
  uint32_t start, packedAt = PackedOffset(&load->Located);
  if (!PackageRegionStart(&load->Located, &start)) return source->BoundHash ? LOAD_BAD_DATA : LOAD_OK;
  uint32_t end = packedAt - start < sizeof *record ? packedAt : packedAt - sizeof *record;
  const uint32_t room = sizeof out->ExtraHead - sizeof(WChar);
  uint32_t got = source->Read(source->Context, start, &out->ExtraHead, end - start < room ? end - start : room);
  if (source->BoundHash) {
    Sha256Init(&load->Hash);
    Sha256Add(&load->Hash, &out->ExtraHead, got);
    if (!HashFileBytes(load, start + got, end)) return LOAD_BAD_DATA;
    Sha256Add(&load->Hash, record, packedAt - end);
  }
  const QuietArgsRecord& r = out->ExtraHead.Record;
  if (got < sizeof r || r.Magic != QUIET_ARGS_MAGIC) return LOAD_OK;
  if (r.ArgsSize > got - sizeof r || Crc32(reinterpret_cast<const uint8_t*>(out->ExtraHead.Args), r.ArgsSize) != r.ArgsCrc)
    return LOAD_BAD_DATA;
  out->QuietUninstallArgs = out->ExtraHead.Args;
  return LOAD_OK;
}

// Ends the package region's hash: the compressed bytes the decoder did not
// need, then the trailer as it was read; LOAD_BAD_DATA unless the hash is
// the bound one.
LoadResult CheckBoundHash(StagedLoad* load) {
  if (!HashFileBytes(load, load->InputAt, load->Located.TrailerAt)) return LOAD_BAD_DATA;
  Sha256Add(&load->Hash, &load->Located.Trailer, TRAILER_SIZE);
  uint8_t digest[SHA256_SIZE];
  Sha256Finish(&load->Hash, digest);
  return memcmp(digest, load->Source->BoundHash, SHA256_SIZE) == 0 ? LOAD_OK : LOAD_BAD_DATA;
}

// Safe on a stream never opened: the load starts zeroed, as LZMA_STREAM_INIT.
void CloseDecoder(StagedLoad* load) {
  lzma_end(&load->Stream);
  if (load->Input) PlatformFree(load->Input);
  load->Input = nullptr;
}

// Pointer to the UTF-16 string at offset, or null when it is not terminated
// before limit. Advances offset past the terminator.
const WChar* TakeString(const LoadedPackage* p, uint32_t limit, uint32_t* offset) {
  uint32_t at = *offset;
  if (at % 2 != 0) return nullptr;
  const uint8_t* block = p->Block;
  for (uint32_t i = at; i + 1 < limit; i += 2) {
    if (block[i] == 0 && block[i + 1] == 0) {
      *offset = i + 2;
      return reinterpret_cast<const WChar*>(block + at);
    }
  }
  return nullptr;
}

// LOAD_OK, LOAD_BAD_CONTENT, or LOAD_NO_MEMORY for the tables it allocates.
// Everything but the entries' data must lie in the block's first limit
// bytes, the only ones decoded and verified yet: the wizard's licence too.
LoadResult IndexBlock(LoadedPackage* p, uint32_t limit, uint32_t osClass, uint32_t archClass) {
  if (limit < sizeof(PackageHeader)) return LOAD_BAD_CONTENT;
  p->Header = reinterpret_cast<PackageHeader*>(p->Block);
  const PackageHeader* h = p->Header;
  uint64_t tableEnd = sizeof(PackageHeader) + static_cast<uint64_t>(h->FileCount) * sizeof(FileEntry);
  if (tableEnd > limit) return LOAD_BAD_CONTENT;
  if (h->LanguageCount < 1) return LOAD_BAD_CONTENT;
  if (h->LicenseEntry != NO_LICENSE_ENTRY && h->LicenseEntry >= h->FileCount) return LOAD_BAD_CONTENT;
  p->Entries = reinterpret_cast<FileEntry*>(p->Block + sizeof(PackageHeader));

  p->Languages = static_cast<LanguageEntry*>(PlatformAlloc(h->LanguageCount * sizeof(LanguageEntry)));
  if (!p->Languages) return LOAD_NO_MEMORY;
  uint32_t offset = static_cast<uint32_t>(tableEnd);
  for (uint32_t l = 0; l < h->LanguageCount; ++l) {
    if (offset + 2 > limit) return LOAD_BAD_CONTENT;
    p->Languages[l].LangId = static_cast<uint16_t>(p->Block[offset] | p->Block[offset + 1] << 8);
    offset += 2;
    for (uint32_t s = 0; s < LANGUAGE_STRINGS; ++s) {
      p->Languages[l].Strings[s] = TakeString(p, limit, &offset);
      if (!p->Languages[l].Strings[s]) return LOAD_BAD_CONTENT;
    }
  }

  for (uint32_t c = 0; c < CFG_COUNT; ++c) {
    const WChar* s = TakeString(p, limit, &offset);
    if (!s) return LOAD_BAD_CONTENT;
    p->Config[c] = s[0] ? s : nullptr;
  }
  if (!p->Config[CFG_PRODUCT_NAME] || !p->Config[CFG_PRODUCT_VERSION] || !p->Config[CFG_PUBLISHER_NAME])
    return LOAD_BAD_CONTENT;
  if (WideLength(p->Config[CFG_PRODUCT_NAME]) > MAX_PRODUCT_NAME) return LOAD_BAD_CONTENT;
  p->NamesArea = reinterpret_cast<const char*>(p->Block + offset);
  uint32_t namesStart = offset;

  if (!p->Config[CFG_MAIN_PROGRAM]) {
    // ProductName is at most MAX_PRODUCT_NAME characters, so the default always fits.
    WideCopy(p->DefaultMainProgram, DEFAULT_MAIN_PROGRAM_CAPACITY, p->Config[CFG_PRODUCT_NAME]);
    WideAppend(p->DefaultMainProgram, DEFAULT_MAIN_PROGRAM_CAPACITY, u".exe");
    p->Config[CFG_MAIN_PROGRAM] = p->DefaultMainProgram;
    p->MainProgramDefaulted = true;
  }

  uint64_t total = 0;
  for (uint32_t i = 0; i < h->FileCount; ++i) {
    FileEntry* e = &p->Entries[i];
    uint64_t nameAt = static_cast<uint64_t>(namesStart) + e->NameOffset;
    if (nameAt >= limit) return LOAD_BAD_CONTENT;
    const char* name = reinterpret_cast<const char*>(p->Block + nameAt);
    if (!memchr(name, 0, limit - static_cast<uint32_t>(nameAt))) return LOAD_BAD_CONTENT;
    if (!IsInstallableName(name, (h->Flags & PH_UTF8_NAMES) != 0)) return LOAD_BAD_CONTENT;
    if (static_cast<uint64_t>(e->DataOffset) + e->DataSize > p->BlockSize) return LOAD_BAD_CONTENT;
    e->Flags = NormaliseEntryFlags(e->Flags);
    if (IsFlagsApplicable(e->Flags, osClass, archClass)) total += e->DataSize;
  }
  if (h->LicenseEntry != NO_LICENSE_ENTRY) {
    const FileEntry& license = p->Entries[h->LicenseEntry];
    if (static_cast<uint64_t>(license.DataOffset) + license.DataSize > limit) return LOAD_BAD_CONTENT;
  }
  p->ApplicableTotal = total ? total : 1;
  return LOAD_OK;
}

}  // namespace

uint32_t NormaliseEntryFlags(uint32_t f) {
  if (EntryArchMask(f) == 0) f |= FE_ARCH_MASK;
  if (EntryOsMask(f) == 0) f |= FE_OS_MASK;
  return f;
}

bool IsFlagsApplicable(uint32_t f, uint32_t osClass, uint32_t archClass) {
  return (EntryOsMask(f) & osClass) != 0 && (EntryArchMask(f) & archClass) != 0;
}

int32_t FindTrailerMagic(const uint8_t window[TRAILER_WINDOW]) {
  // The first byte is tested alone: a cheap test that most positions fail.
  const uint8_t firstByte = TRAILER_MAGIC & 0xFFu;
  for (int32_t n = TRAILER_WINDOW - TRAILER_MAGIC_SIZE; n >= 0; --n) {
    if (window[n] == firstByte && ReadU32(window + n) == TRAILER_MAGIC) return n;
  }
  return -1;
}

bool ReadCertificateOffset(const uint8_t* headers, uint32_t size, uint32_t* offset) {
  if (size < DOS_HEADER_SIZE || headers[0] != 'M' || headers[1] != 'Z') return false;
  uint32_t pe = ReadU32(headers + PE_OFFSET_FIELD);
  if (pe > size || size - pe < OPTIONAL_HEADER_AT || ReadU32(headers + pe) != PE_SIGNATURE) return false;
  uint32_t optional = pe + OPTIONAL_HEADER_AT;
  if (size - optional < OPTIONAL_MAGIC_SIZE) return false;
  uint16_t magic = static_cast<uint16_t>(headers[optional] | headers[optional + 1] << 8);
  uint32_t directory = optional + DataDirectoryAt(magic, CERTIFICATE_TABLE_INDEX);
  if (directory + DATA_DIRECTORY_SIZE > size) return false;
  *offset = ReadU32(headers + directory);
  return true;
}

namespace {

// LocateTrailer's work, inlined into the loader so that the stub, which has
// no other caller, spends no call on it.
__attribute__((always_inline)) inline LoadResult FindTrailer(const PackageSource* source, TrailerLocation* out) {
  uint32_t end = source->CertificateOffset ? source->CertificateOffset : source->FileSize;
  if (end < TRAILER_WINDOW || end > source->FileSize) return LOAD_NO_TRAILER;
  uint8_t window[TRAILER_WINDOW];
  if (source->Read(source->Context, end - TRAILER_WINDOW, window, TRAILER_WINDOW) != TRAILER_WINDOW)
    return LOAD_NO_TRAILER;
  int32_t n = FindTrailerMagic(window);
  if (n < 0) return LOAD_NO_TRAILER;
  // A magic this early would put the trailer's start before the window.
  if (n < static_cast<int32_t>(TRAILER_MAGIC_OFFSET)) return LOAD_BAD_TRAILER;
  memcpy(&out->Trailer, window + n - TRAILER_MAGIC_OFFSET, sizeof out->Trailer);
  out->End = end;
  out->TrailerAt = end - TRAILER_WINDOW + static_cast<uint32_t>(n) - TRAILER_MAGIC_OFFSET;
  if (out->Trailer.PackedSize > out->TrailerAt || out->Trailer.UnpackedSize < sizeof(PackageHeader))
    return LOAD_BAD_TRAILER;
  return LOAD_OK;
}

}  // namespace

LoadResult LocateTrailer(const PackageSource* source, TrailerLocation* out) { return FindTrailer(source, out); }

PrefixRecordState ReadPrefixRecord(const PackageSource* source, const TrailerLocation* located,
                                   PrefixRecord* out) {
  uint32_t packedAt = PackedOffset(located);
  if (located->Trailer.ExtraSize < sizeof(PrefixRecord) || packedAt < sizeof(PrefixRecord)) return PREFIX_NONE;
  if (source->Read(source->Context, packedAt - sizeof(PrefixRecord), out, sizeof *out) != sizeof *out ||
      out->Magic != PREFIX_MAGIC)
    return PREFIX_NONE;
  if (out->PrefixSize < sizeof(PackageHeader) || out->PrefixSize > located->Trailer.UnpackedSize)
    return PREFIX_MALFORMED;
  return PREFIX_PRESENT;
}

// Each step runs only while the ones before it succeeded; the first failure
// is the result, and whatever was allocated is freed at the one exit.
LoadResult StartStagedLoad(const PackageSource* source, uint32_t osClass, uint32_t archClass,
                           LoadedPackage* out, StagedLoad* load) {
  memset(out, 0, sizeof *out);
  memset(load, 0, sizeof *load);
  load->Source = source;
  LoadResult result = FindTrailer(source, &load->Located);
  const PackageTrailer& trailer = load->Located.Trailer;
  PrefixRecord record;
  memset(&record, 0, sizeof record);
  if (result == LOAD_OK) {
    PrefixRecordState state = ReadPrefixRecord(source, &load->Located, &record);
    if (state == PREFIX_MALFORMED) result = LOAD_BAD_TRAILER;
    load->HasRecord = state == PREFIX_PRESENT;
    load->PrefixSize = load->HasRecord ? record.PrefixSize : trailer.UnpackedSize;
    load->InputAt = PackedOffset(&load->Located);
  }
  if (result == LOAD_OK) {
    out->Block = static_cast<uint8_t*>(PlatformAlloc(trailer.UnpackedSize));
    out->Scratch = static_cast<uint8_t*>(PlatformAlloc(SCRATCH_SIZE));
    load->Input = static_cast<uint8_t*>(PlatformAlloc(INPUT_CHUNK));
    if (!out->Block || !out->Scratch || !load->Input) result = LOAD_NO_MEMORY;
    out->BlockSize = trailer.UnpackedSize;
  }
  if (result == LOAD_OK) result = ReadExtraRegion(load, out, &record);
  if (result == LOAD_OK) result = OpenDecoder(load, out->BlockSize);
  if (result == LOAD_OK) result = DecodeUpTo(load, out, load->PrefixSize);
  if (result == LOAD_OK) {
    // Before indexing, which normalises the entries' flags in place: the
    // second stage adds the rest of the block to this sum.
    load->PrefixSum = PackageChecksum(out->Block, load->PrefixSize);
    if (load->HasRecord ? Crc32(out->Block, load->PrefixSize) != record.PrefixCrc
                        : load->PrefixSum != trailer.Checksum)
      result = LOAD_BAD_DATA;
  }
  if (result == LOAD_OK) result = IndexBlock(out, load->PrefixSize, osClass, archClass);
  if (result != LOAD_OK) {
    CloseDecoder(load);
    FreeLoadedPackage(out);
  }
  return result;
}

// Without a record the first stage has decoded and verified the whole block.
LoadResult FinishStagedLoad(StagedLoad* load, LoadedPackage* out) {
  LoadResult result = LOAD_OK;
  if (load->HasRecord) {
    result = DecodeUpTo(load, out, out->BlockSize);
    uint32_t rest = out->BlockSize - load->PrefixSize;
    if (result == LOAD_OK &&
        load->PrefixSum + PackageChecksum(out->Block + load->PrefixSize, rest) != load->Located.Trailer.Checksum)
      result = LOAD_BAD_DATA;
  }
  if (result == LOAD_OK && load->Source->BoundHash) result = CheckBoundHash(load);
  CloseDecoder(load);
  return result;
}

void AbandonStagedLoad(StagedLoad* load) { CloseDecoder(load); }

LoadResult LoadWholePackage(const PackageSource* source, uint32_t osClass, uint32_t archClass,
                            LoadedPackage* out) {
  StagedLoad load;
  LoadResult result = StartStagedLoad(source, osClass, archClass, out, &load);
  if (result == LOAD_OK) {
    result = FinishStagedLoad(&load, out);
    if (result != LOAD_OK) FreeLoadedPackage(out);
  }
  return result;
}

void FreeLoadedPackage(LoadedPackage* p) {
  if (p->Languages) PlatformFree(p->Languages);
  if (p->Scratch) PlatformFree(p->Scratch);
  if (p->Block) PlatformFree(p->Block);
  memset(p, 0, sizeof *p);
}

const char* LoadResultText(LoadResult result) {
  switch (result) {
    case LOAD_OK: return "valid package";
    case LOAD_NO_TRAILER: return "no package trailer found";
    case LOAD_BAD_TRAILER: return "the package trailer is invalid";
    case LOAD_NO_MEMORY: return "not enough memory for the package";
    case LOAD_BAD_DATA: return "the package data is damaged (decode or checksum)";
    case LOAD_BAD_CONTENT: return "the package breaks its own layout rules";
  }
  return "unknown";
}
