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

const lzma_allocator kAllocator = {LzmaAlloc, LzmaFree, nullptr};

// Reads the five property bytes at the start of the compressed block into
// load->Options. LOAD_BAD_DATA after invalid properties.
LoadResult ReadProperties(StagedLoad* load) {
  const PackageTrailer& trailer = load->Located.Trailer;
  uint8_t properties[5];
  if (trailer.PackedSize < 5 ||
      load->Source->Read(load->Source->Context, load->InputAt, properties, 5) != 5)
    return LOAD_BAD_DATA;
  if (load->Source->BoundHash) Sha256Add(&load->Hash, properties, 5);
  load->InputAt += 5;
  lzma_options_lzma& options = load->Options;
  if (!ParseLzmaProperties(properties[0], &options.lc, &options.lp, &options.pb)) return LOAD_BAD_DATA;
  options.dict_size = ReadU32(properties + 1);
  return LOAD_OK;
}

// Sets stream up as a raw LZMA1 decoder for a stream of size bytes.
// LOAD_BAD_DATA after invalid properties, LOAD_NO_MEMORY when the decoder
// could not get its memory (the stream may be fine).
LoadResult OpenDecoder(lzma_stream* stream, lzma_options_lzma options, uint32_t size) {
  // liblzma allocates the whole dictionary up front, but no match can reach
  // further back than the output produced so far: a dictionary the size of
  // the stream decodes it the same, and a huge dictionary field cannot make
  // the stub allocate gigabytes for a small package. liblzma refuses
  // dictionaries below 4 KiB; a smaller one decodes the same stream when
  // given more room.
  if (options.dict_size > size) options.dict_size = size;
  if (options.dict_size < LZMA_DICT_SIZE_MIN) options.dict_size = LZMA_DICT_SIZE_MIN;
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  *stream = LZMA_STREAM_INIT;
  stream->allocator = &kAllocator;
  lzma_ret init = lzma_raw_decoder(stream, filters);
  if (init == LZMA_OK) return LOAD_OK;
  return init == LZMA_MEM_ERROR ? LOAD_NO_MEMORY : LOAD_BAD_DATA;
}

// A stream's compressed bytes, read from the file a piece at a time.
struct StreamInput {
  const PackageSource* Source;
  uint8_t* Buffer;  // INPUT_CHUNK bytes
  uint32_t At;      // file offset of the bytes not yet read
  uint32_t End;     // where the stream's bytes end
  Sha256* Hash;     // the bytes read are added to it, unless null
};

// Decodes into out until its size bytes are there, adding them to progress
// as they come. LOAD_BAD_DATA when the stream ends or fails first, so that a
// bad stream can never look partly good.
LoadResult DecodeInto(lzma_stream* stream, StreamInput* in, uint8_t* out, uint32_t size,
                      volatile uint32_t* progress) {
  // Output in steps, so that the progress moves on even where a little input
  // makes much output.
  const uint32_t kStep = 4u << 20;
  uint32_t done = 0;
  lzma_ret ret = LZMA_OK;
  while (ret == LZMA_OK && done < size) {
    if (stream->avail_in == 0 && in->At < in->End) {
      uint32_t want = in->End - in->At < INPUT_CHUNK ? in->End - in->At : INPUT_CHUNK;
      uint32_t got = in->Source->Read(in->Source->Context, in->At, in->Buffer, want);
      // A short read ends the input: what is missing cannot be decoded.
      in->At = got == want ? in->At + got : in->End;
      // Hashed as read, in the buffer the decoder takes them from.
      if (in->Hash) Sha256Add(in->Hash, in->Buffer, got);
      stream->next_in = in->Buffer;
      stream->avail_in = got;
    }
    uint32_t step = size - done < kStep ? size - done : kStep;
    stream->next_out = out + done;
    stream->avail_out = step;
    size_t before = stream->avail_in + stream->avail_out;
    ret = lzma_code(stream, LZMA_RUN);
    uint32_t made = step - static_cast<uint32_t>(stream->avail_out);
    done += made;
    *progress += made;
    if (ret == LZMA_OK && stream->avail_in + stream->avail_out == before) break;  // input used up
  }
  if (ret == LZMA_MEM_ERROR) return LOAD_NO_MEMORY;
  if (ret != LZMA_OK && ret != LZMA_STREAM_END) return LOAD_BAD_DATA;
  return done == size ? LOAD_OK : LOAD_BAD_DATA;
}

// The single stream's decoding into the block until its first target bytes
// are there.
LoadResult DecodeUpTo(StagedLoad* load, LoadedPackage* p, uint32_t target) {
  StreamInput in = {load->Source, load->Input, load->InputAt, load->Located.TrailerAt,
                    load->Source->BoundHash ? &load->Hash : nullptr};
  LoadResult result = DecodeInto(&load->Stream, &in, p->Block + load->Decoded, target - load->Decoded, &load->Decoded);
  load->InputAt = in.At;
  return result;
}

// Adds the file's bytes from at to end to hash, a piece at a time through
// buffer (INPUT_CHUNK bytes); false when they cannot all be read.
bool HashBytes(const PackageSource* source, Sha256* hash, uint8_t* buffer, uint32_t at, uint32_t end) {
  while (at < end) {
    uint32_t want = end - at < INPUT_CHUNK ? end - at : INPUT_CHUNK;
    if (source->Read(source->Context, at, buffer, want) != want) return false;
    Sha256Add(hash, buffer, want);
    at += want;
  }
  return true;
}

bool HashFileBytes(StagedLoad* load, uint32_t at, uint32_t end) {
  return HashBytes(load->Source, &load->Hash, load->Input, at, end);
}

// Reads the chunk table that lies before the prefix record, when the extra
// region holds its magic there, and checks it: its CRC-32 (LOAD_BAD_DATA),
// then that its chunks follow each other from the property bytes to the
// compressed block's end and from 0 to the unpacked block's end, none empty,
// a stored one as large packed as unpacked, chunk 0 as large as the prefix
// (LOAD_BAD_TRAILER).
LoadResult ReadChunkTable(StagedLoad* load, const PrefixRecord* record) {
  const PackageSource* source = load->Source;
  const PackageTrailer& trailer = load->Located.Trailer;
  const uint32_t tail = sizeof(ChunkTableRecord) + sizeof(PrefixRecord);
  uint32_t packedAt = PackedOffset(&load->Located);
  ChunkTableRecord& table = load->Table;
  if (trailer.ExtraSize < tail || packedAt < tail ||
      source->Read(source->Context, packedAt - tail, &table, sizeof table) != sizeof table ||
      table.Magic != CHUNK_TABLE_MAGIC)
    return LOAD_OK;
  const uint32_t count = table.ChunkCount;
  if (count == 0 || count > (trailer.ExtraSize - tail) / sizeof(ChunkRecord)) return LOAD_BAD_TRAILER;
  const uint32_t tableSize = count * sizeof(ChunkRecord);
  load->Chunks = static_cast<ChunkRecord*>(PlatformAlloc(tableSize));
  if (!load->Chunks) return LOAD_NO_MEMORY;
  load->ChunkCount = count;
  if (source->Read(source->Context, packedAt - tail - tableSize, load->Chunks, tableSize) != tableSize ||
      Crc32(reinterpret_cast<const uint8_t*>(load->Chunks), tableSize) != table.TableCrc)
    return LOAD_BAD_DATA;
  // Both blocks stay below 4 GiB, so every field's high half is zero and
  // 32-bit sums, each kept within the trailer's sizes, cannot wrap.
  uint32_t packed = 5, unpacked = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const ChunkRecord& c = load->Chunks[i];
    const uint32_t packedSize = static_cast<uint32_t>(c.PackedSize), size = static_cast<uint32_t>(c.UnpackedSize);
    if ((c.PackedOffset >> 32 | c.PackedSize >> 32 | c.UnpackedOffset >> 32 | c.UnpackedSize >> 32) != 0 ||
        static_cast<uint32_t>(c.PackedOffset) != packed || static_cast<uint32_t>(c.UnpackedOffset) != unpacked ||
        size == 0 || packedSize > trailer.PackedSize - packed || size > trailer.UnpackedSize - unpacked ||
        c.Flags > CHUNK_STORED || (c.Flags && packedSize != size))
      return LOAD_BAD_TRAILER;
    packed += packedSize;
    unpacked += size;
  }
  // Chunk 0 must also pass the record's CRC-32, as any prefix does.
  if (packed != trailer.PackedSize || unpacked != trailer.UnpackedSize || load->Chunks[0].UnpackedSize != record->PrefixSize)
    return LOAD_BAD_TRAILER;
  return LOAD_OK;
}

// Reads the extra region's first bytes into out->ExtraHead and takes the
// quiet uninstall arguments when they hold their record (LOAD_BAD_DATA when
// it is cut short or fails its CRC-32). With a bound hash, starts the package
// region's hash with the region: those bytes as read, the bytes up to the
// chunk table's or the prefix record's place, then the table and the record
// as they were read (the record zero where none was), so that the records
// used are the ones hashed; LOAD_BAD_DATA when the region cannot be read.
LoadResult ReadExtraRegion(StagedLoad* load, LoadedPackage* out, const PrefixRecord* record) {
  const PackageSource* source = load->Source;
  uint32_t start, packedAt = PackedOffset(&load->Located);
  if (!PackageRegionStart(&load->Located, &start)) return source->BoundHash ? LOAD_BAD_DATA : LOAD_OK;
  const uint32_t records = load->ChunkCount * sizeof(ChunkRecord);
  const uint32_t table = load->ChunkCount ? records + sizeof load->Table : 0;
  uint32_t end = packedAt - start < sizeof *record ? packedAt : packedAt - sizeof *record - table;
  const uint32_t room = sizeof out->ExtraHead - sizeof(WChar);
  uint32_t got = source->Read(source->Context, start, &out->ExtraHead, end - start < room ? end - start : room);
  if (source->BoundHash) {
    Sha256Init(&load->Hash);
    Sha256Add(&load->Hash, &out->ExtraHead, got);
    if (!HashFileBytes(load, start + got, end)) return LOAD_BAD_DATA;
    if (table) {
      Sha256Add(&load->Hash, load->Chunks, records);
      Sha256Add(&load->Hash, &load->Table, sizeof load->Table);
    }
    Sha256Add(&load->Hash, record, packedAt - end - table);
  }
  const QuietArgsRecord& r = out->ExtraHead.Record;
  if (got < sizeof r || r.Magic != QUIET_ARGS_MAGIC) return LOAD_OK;
  if (r.ArgsSize > got - sizeof r || Crc32(reinterpret_cast<const uint8_t*>(out->ExtraHead.Args), r.ArgsSize) != r.ArgsCrc)
    return LOAD_BAD_DATA;
  out->QuietUninstallArgs = out->ExtraHead.Args;
  return LOAD_OK;
}

// Safe on a stream never opened: the load starts zeroed, as LZMA_STREAM_INIT.
void CloseDecoder(StagedLoad* load) {
  lzma_end(&load->Stream);
  if (load->Input) PlatformFree(load->Input);
  if (load->Chunks) PlatformFree(load->Chunks);
  load->Input = nullptr;
  load->Chunks = nullptr;
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
// dataInOrder: each entry's data must start at or after the previous one's end.
LoadResult IndexBlock(LoadedPackage* p, uint32_t limit, uint32_t osClass, uint32_t archClass, bool dataInOrder) {
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

  uint64_t total = 0, dataEnd = 0;
  for (uint32_t i = 0; i < h->FileCount; ++i) {
    FileEntry* e = &p->Entries[i];
    uint64_t nameAt = static_cast<uint64_t>(namesStart) + e->NameOffset;
    if (nameAt >= limit) return LOAD_BAD_CONTENT;
    const char* name = reinterpret_cast<const char*>(p->Block + nameAt);
    if (!memchr(name, 0, limit - static_cast<uint32_t>(nameAt))) return LOAD_BAD_CONTENT;
    if (!IsInstallableName(name, (h->Flags & PH_UTF8_NAMES) != 0)) return LOAD_BAD_CONTENT;
    if (static_cast<uint64_t>(e->DataOffset) + e->DataSize > p->BlockSize) return LOAD_BAD_CONTENT;
    if (dataInOrder && e->DataOffset < dataEnd) return LOAD_BAD_CONTENT;
    dataEnd = static_cast<uint64_t>(e->DataOffset) + e->DataSize;
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
  if (result == LOAD_OK && load->HasRecord) result = ReadChunkTable(load, &record);
  if (result == LOAD_OK) {
    // A chunked package's rest need never be held whole (see DecodeChunk).
    out->Block = static_cast<uint8_t*>(PlatformAlloc(load->ChunkCount ? load->PrefixSize : trailer.UnpackedSize));
    if (load->ChunkCount) out->Prefix = out->Block;
    out->Scratch = static_cast<uint8_t*>(PlatformAlloc(SCRATCH_SIZE));
    load->Input = static_cast<uint8_t*>(PlatformAlloc(INPUT_CHUNK));
    if (!out->Block || !out->Scratch || !load->Input) result = LOAD_NO_MEMORY;
    out->BlockSize = trailer.UnpackedSize;
  }
  if (result == LOAD_OK) result = ReadExtraRegion(load, out, &record);
  if (result == LOAD_OK) result = ReadProperties(load);
  if (result == LOAD_OK) {
    if (load->ChunkCount) {
      result = DecodeChunk(load, 0, out->Block, load->Input, source->BoundHash ? &load->Hash : nullptr, &load->Decoded);
      load->InputAt += static_cast<uint32_t>(load->Chunks[0].PackedSize);
    } else {
      result = OpenDecoder(&load->Stream, load->Options, out->BlockSize);
      if (result == LOAD_OK) result = DecodeUpTo(load, out, load->PrefixSize);
    }
  }
  if (result == LOAD_OK) {
    // Before indexing, which normalises the entries' flags in place: the
    // second stage adds the rest of the block to this sum.
    load->PrefixSum = PackageChecksum(out->Block, load->PrefixSize);
    if (load->HasRecord ? Crc32(out->Block, load->PrefixSize) != record.PrefixCrc
                        : load->PrefixSum != trailer.Checksum)
      result = LOAD_BAD_DATA;
  }
  if (result == LOAD_OK) result = IndexBlock(out, load->PrefixSize, osClass, archClass, load->ChunkCount != 0);
  if (result != LOAD_OK) {
    CloseDecoder(load);
    FreeLoadedPackage(out);
  }
  return result;
}

LoadResult DecodeChunk(const StagedLoad* load, uint32_t index, uint8_t* out, uint8_t* input, Sha256* hash,
                       volatile uint32_t* progress) {
  const ChunkRecord& chunk = load->Chunks[index];
  const uint32_t size = static_cast<uint32_t>(chunk.UnpackedSize);
  StreamInput in = {load->Source, input, PackedOffset(&load->Located) + static_cast<uint32_t>(chunk.PackedOffset), 0,
                    hash};
  in.End = in.At + static_cast<uint32_t>(chunk.PackedSize);
  LoadResult result = LOAD_BAD_DATA;
  if (chunk.Flags & CHUNK_STORED) {
    if (in.Source->Read(in.Source->Context, in.At, out, size) == size) {
      if (hash) Sha256Add(hash, out, size);
      *progress += size;
      result = LOAD_OK;
    }
  } else {
    lzma_stream stream;
    result = OpenDecoder(&stream, load->Options, size);
    if (result == LOAD_OK) result = DecodeInto(&stream, &in, out, size, progress);
    lzma_end(&stream);
    // The stream's last bytes, which the decoder may not have needed.
    if (result == LOAD_OK && hash && !HashBytes(in.Source, hash, input, in.At, in.End)) result = LOAD_BAD_DATA;
  }
  if (result == LOAD_OK && Crc32(out, size) != chunk.Crc) result = LOAD_BAD_DATA;
  return result;
}

// Ends the package region's hash: the compressed bytes not yet read, then
// the trailer as it was read.
LoadResult CheckPackageHash(StagedLoad* load) {
  if (!HashFileBytes(load, load->InputAt, load->Located.TrailerAt)) return LOAD_BAD_DATA;
  Sha256Add(&load->Hash, &load->Located.Trailer, TRAILER_SIZE);
  uint8_t digest[SHA256_SIZE];
  Sha256Finish(&load->Hash, digest);
  return memcmp(digest, load->Source->BoundHash, SHA256_SIZE) == 0 ? LOAD_OK : LOAD_BAD_DATA;
}

namespace {

// The chunks after the prefix, in order, into a whole block that out->Block
// moves to once they are all there.
LoadResult DecodeRestChunks(StagedLoad* load, LoadedPackage* out) {
  uint8_t* block = static_cast<uint8_t*>(PlatformAlloc(out->BlockSize));
  if (!block) return LOAD_NO_MEMORY;
  memcpy(block, out->Block, load->PrefixSize);
  LoadResult result = LOAD_OK;
  Sha256* hash = load->Source->BoundHash ? &load->Hash : nullptr;
  for (uint32_t i = 1; result == LOAD_OK && i < load->ChunkCount; ++i) {
    const ChunkRecord& chunk = load->Chunks[i];
    result = DecodeChunk(load, i, block + static_cast<uint32_t>(chunk.UnpackedOffset), load->Input, hash, &load->Decoded);
    load->InputAt += static_cast<uint32_t>(chunk.PackedSize);
  }
  if (result == LOAD_OK) out->Block = block;
  else PlatformFree(block);
  return result;
}

}  // namespace

// Without a record the first stage has decoded and verified the whole block.
LoadResult FinishStagedLoad(StagedLoad* load, LoadedPackage* out) {
  LoadResult result = LOAD_OK;
  if (load->HasRecord) {
    result = load->ChunkCount ? DecodeRestChunks(load, out) : DecodeUpTo(load, out, out->BlockSize);
    uint32_t rest = out->BlockSize - load->PrefixSize;
    if (result == LOAD_OK &&
        load->PrefixSum + PackageChecksum(out->Block + load->PrefixSize, rest) != load->Located.Trailer.Checksum)
      result = LOAD_BAD_DATA;
  }
  if (result == LOAD_OK && load->Source->BoundHash) result = CheckPackageHash(load);
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
  if (p->Block && p->Block != p->Prefix) PlatformFree(p->Block);
  if (p->Prefix) PlatformFree(p->Prefix);
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
