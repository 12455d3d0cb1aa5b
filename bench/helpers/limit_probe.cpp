// The benchmark's lower bound for an installation: reads a setup file's
// compressed block, decodes it in one buffer with the stub's liblzma build
// and writes the files from that buffer, timing each phase in-process.
//
//   limit_probe.exe SETUP.exe TARGET_DIR [options]
//   limit_probe.exe --noop                 start and exit (Wine process cost)
//   limit_probe.exe --decode-chunks SETUP.exe THREADS
//                   decodes a chunked package's chunks after the prefix on
//                   THREADS threads into one block, as the stub's decoders do
//                   (DecodeChunk), and times that alone
// Options:
//   --no-write      stop after decoding and the checksum
//   --stub-dirs     create parent directories as the install run does: probe
//                   the file, then CreateDirectoryW every level of every name
//   --one-write     one WriteFile per file instead of 64 KiB chunks
//   --no-time       skip SetFileTime
//   --chunk N       input chunk for lzma_code (0: the whole block at once)
// Prints one JSON object on stdout; exit 0 on success, 1 on any failure.
#include <windows.h>
#include <lzma.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include "package/package_format.h"
#include "package/package_loader.h"
#include "package/pe_layout.h"
#include "package/platform_memory.h"

namespace {

LARGE_INTEGER Frequency;

double Now() {
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(Frequency.QuadPart);
}

int Fail(const char* what) {
  printf("{\"error\": \"%s\", \"code\": %lu}\n", what, GetLastError());
  return 1;
}

// A positioned read, as the stub's: the chunk decoders share the handle.
bool ReadAt(HANDLE file, uint32_t offset, void* buffer, uint32_t size) {
  OVERLAPPED at = {};
  at.Offset = offset;
  DWORD got = 0;
  return ReadFile(file, buffer, size, &got, &at) && got == size;
}

uint32_t ReadSetupFile(void* context, uint32_t offset, void* buffer, uint32_t size) {
  return ReadAt(static_cast<HANDLE>(context), offset, buffer, size) ? size : 0;
}

void* LzmaAlloc(void*, size_t count, size_t size) { return LocalAlloc(LMEM_FIXED, count * size); }
void LzmaFree(void*, void* block) {
  if (block) LocalFree(block);
}

// The loader's decode: one raw LZMA1 decoder, the whole output buffer.
uint32_t Decode(const uint8_t* packed, uint32_t packedSize, uint8_t* out, uint32_t outSize,
                uint32_t chunk) {
  uint32_t lc, lp, pb;
  if (packedSize < 5 || !ParseLzmaProperties(packed[0], &lc, &lp, &pb)) return 0;
  lzma_options_lzma options;
  memset(&options, 0, sizeof options);
  memcpy(&options.dict_size, packed + 1, 4);
  if (options.dict_size < LZMA_DICT_SIZE_MIN) options.dict_size = LZMA_DICT_SIZE_MIN;
  options.lc = lc;
  options.lp = lp;
  options.pb = pb;
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_allocator allocator = {LzmaAlloc, LzmaFree, nullptr};
  lzma_stream stream = LZMA_STREAM_INIT;
  stream.allocator = &allocator;
  if (lzma_raw_decoder(&stream, filters) != LZMA_OK) return 0;
  const uint8_t* in = packed + 5;
  uint32_t inLeft = packedSize - 5;
  stream.next_out = out;
  stream.avail_out = outSize;
  lzma_ret ret = LZMA_OK;
  while (ret == LZMA_OK && stream.avail_out > 0) {
    if (stream.avail_in == 0) {
      if (inLeft == 0) break;
      uint32_t n = chunk && chunk < inLeft ? chunk : inLeft;
      stream.next_in = in;
      stream.avail_in = n;
      in += n;
      inLeft -= n;
    }
    size_t before = stream.avail_in + stream.avail_out;
    ret = lzma_code(&stream, LZMA_RUN);
    if (ret == LZMA_OK && stream.avail_in + stream.avail_out == before && inLeft == 0) break;
  }
  uint32_t produced = outSize - static_cast<uint32_t>(stream.avail_out);
  lzma_end(&stream);
  if (ret != LZMA_OK && ret != LZMA_STREAM_END) return 0;
  return produced;
}

// Offset just past the zero-terminated UTF-16 string at offset.
uint32_t SkipString(const uint8_t* block, uint32_t size, uint32_t offset) {
  while (offset + 1 < size && (block[offset] | block[offset + 1])) offset += 2;
  return offset + 2;
}

struct Options {
  bool Write = true;
  bool StubDirs = false;
  bool OneWrite = false;
  bool Time = true;
  uint32_t Chunk = 0;
};

// Creates the directories of the relative name at path + namePos. Names come
// sorted, so only the levels that differ from the previous name's are new.
void MakeDirsMinimal(WCHAR* path, uint32_t namePos, WCHAR* previous) {
  uint32_t shared = namePos;  // prefix of whole levels already created
  for (uint32_t i = namePos; path[i] && path[i] == previous[i]; ++i)
    if (path[i] == L'\\') shared = i + 1;
  for (uint32_t i = shared; path[i]; ++i) {
    if (path[i] != L'\\') continue;
    path[i] = 0;
    CreateDirectoryW(path, nullptr);
    path[i] = L'\\';
  }
  wcscpy(previous, path);
}

// The install run's way: nothing when the file exists, else every level.
void MakeDirsLikeStub(WCHAR* path, uint32_t namePos) {
  if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES) return;
  for (uint32_t i = namePos; path[i]; ++i) {
    if (path[i] != L'\\') continue;
    path[i] = 0;
    CreateDirectoryW(path, nullptr);
    path[i] = L'\\';
  }
}

StagedLoad Staged;
LoadedPackage Loaded;
uint8_t* WholeBlock;
volatile LONG NextChunk;
volatile LONG FailedChunks;

DWORD WINAPI DecodeChunksWorker(void*) {
  uint8_t* input = static_cast<uint8_t*>(LocalAlloc(LMEM_FIXED, INPUT_CHUNK));
  volatile uint32_t progress = 0;
  for (;;) {
    uint32_t i = static_cast<uint32_t>(InterlockedIncrement(&NextChunk));
    if (i >= Staged.ChunkCount) return 0;
    uint8_t* out = WholeBlock + Staged.Chunks[i].UnpackedOffset;
    if (DecodeChunk(&Staged, i, out, input, nullptr, &progress) != LOAD_OK) InterlockedIncrement(&FailedChunks);
  }
}

int DecodeChunksOnThreads(const wchar_t* setupPath, uint32_t threads) {
  HANDLE setup = CreateFileW(setupPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  if (setup == INVALID_HANDLE_VALUE) return Fail("open setup file");
  static uint8_t headers[HEADER_PAGE_SIZE];
  uint32_t certificate = 0;
  if (!ReadAt(setup, 0, headers, sizeof headers) || !ReadCertificateOffset(headers, sizeof headers, &certificate))
    return Fail("not a PE image");
  static PackageSource source = {certificate, GetFileSize(setup, nullptr), ReadSetupFile, setup, nullptr};
  if (StartStagedLoad(&source, 0xFFFF, 0xF, &Loaded, &Staged) != LOAD_OK) return Fail("load");
  if (Staged.ChunkCount < 2) return Fail("not chunked");
  WholeBlock = static_cast<uint8_t*>(LocalAlloc(LMEM_FIXED, Loaded.BlockSize));
  if (!WholeBlock || threads < 1 || threads > 64) return Fail("threads or memory");
  HANDLE workers[64];
  double t0 = Now();
  for (uint32_t i = 0; i < threads; ++i) workers[i] = CreateThread(nullptr, 0, DecodeChunksWorker, nullptr, 0, nullptr);
  WaitForMultipleObjects(threads, workers, TRUE, INFINITE);
  double t1 = Now();
  if (FailedChunks) return Fail("decode");
  uint64_t rest = Loaded.BlockSize - Staged.PrefixSize;
  printf("{\"threads\": %lu, \"chunks\": %lu, \"decode_ms\": %.2f, \"bytes\": %llu}\n",
         static_cast<unsigned long>(threads), static_cast<unsigned long>(Staged.ChunkCount), t1 - t0,
         static_cast<unsigned long long>(rest));
  fflush(stdout);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  QueryPerformanceFrequency(&Frequency);
  if (argc == 2 && !wcscmp(argv[1], L"--noop")) {
    printf("{\"noop\": true}\n");
    return 0;
  }
  if (argc == 4 && !wcscmp(argv[1], L"--decode-chunks"))
    return DecodeChunksOnThreads(argv[2], wcstoul(argv[3], nullptr, 0));
  if (argc < 3) {
    fprintf(stderr, "usage: limit_probe SETUP.exe TARGET_DIR [--no-write] [--stub-dirs] [--one-write] "
                    "[--no-time] [--chunk N]\n");
    return 2;
  }
  Options opt;
  for (int i = 3; i < argc; ++i) {
    if (!wcscmp(argv[i], L"--no-write")) opt.Write = false;
    else if (!wcscmp(argv[i], L"--stub-dirs")) opt.StubDirs = true;
    else if (!wcscmp(argv[i], L"--one-write")) opt.OneWrite = true;
    else if (!wcscmp(argv[i], L"--no-time")) opt.Time = false;
    else if (!wcscmp(argv[i], L"--chunk") && i + 1 < argc) opt.Chunk = wcstoul(argv[++i], nullptr, 0);
    else return Fail("unknown option");
  }

  double t0 = Now();
  HANDLE setup = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  if (setup == INVALID_HANDLE_VALUE) return Fail("open setup file");
  uint32_t fileSize = GetFileSize(setup, nullptr);
  static uint8_t headers[HEADER_PAGE_SIZE];
  uint32_t certificate = 0;
  if (!ReadAt(setup, 0, headers, sizeof headers) || !ReadCertificateOffset(headers, sizeof headers, &certificate))
    return Fail("not a PE image");
  PackageSource source = {certificate, fileSize, ReadSetupFile, setup, nullptr};
  TrailerLocation located;
  LoadResult found = LocateTrailer(&source, &located);
  if (found == LOAD_NO_TRAILER) return Fail("no trailer");
  if (found != LOAD_OK) return Fail("bad trailer");
  const PackageTrailer& trailer = located.Trailer;

  uint8_t* packed = static_cast<uint8_t*>(LocalAlloc(LMEM_FIXED, trailer.PackedSize));
  uint8_t* block = static_cast<uint8_t*>(LocalAlloc(LMEM_FIXED, trailer.UnpackedSize));
  if (!packed || !block) return Fail("out of memory");
  double t1 = Now();
  if (!ReadAt(setup, PackedOffset(&located), packed, trailer.PackedSize)) return Fail("read block");
  double t2 = Now();
  uint32_t produced = Decode(packed, trailer.PackedSize, block, trailer.UnpackedSize, opt.Chunk);
  double t3 = Now();
  LocalFree(packed);
  if (produced != trailer.UnpackedSize) return Fail("decode");
  uint32_t sum = PackageChecksum(block, produced);
  double t4 = Now();
  if (sum != trailer.Checksum) return Fail("checksum");

  // Index: header, entry table, languages (id + strings), configuration
  // strings, then the names area.
  const PackageHeader* header = reinterpret_cast<const PackageHeader*>(block);
  const FileEntry* entries = reinterpret_cast<const FileEntry*>(block + sizeof(PackageHeader));
  uint32_t offset = sizeof(PackageHeader) + header->FileCount * sizeof(FileEntry);
  for (uint32_t l = 0; l < header->LanguageCount; ++l) {
    offset += 2;
    for (uint32_t s = 0; s < LANGUAGE_STRINGS; ++s) offset = SkipString(block, produced, offset);
  }
  for (uint32_t c = 0; c < CFG_COUNT; ++c) offset = SkipString(block, produced, offset);
  const char* names = reinterpret_cast<const char*>(block + offset);

  uint32_t written = 0;
  uint64_t bytes = 0;
  double t5 = Now();
  if (opt.Write) {
    static WCHAR path[MAX_PATH];
    static WCHAR previous[MAX_PATH];
    wcsncpy(path, argv[2], MAX_PATH - 2);
    uint32_t namePos = static_cast<uint32_t>(wcslen(path));
    if (namePos == 0 || path[namePos - 1] != L'\\') path[namePos++] = L'\\';
    path[namePos] = 0;
    CreateDirectoryW(path, nullptr);
    for (uint32_t i = 0; i < header->FileCount; ++i) {
      const FileEntry* e = &entries[i];
      if (e->Flags & FE_NO_EXTRACT) continue;
      MultiByteToWideChar(CP_ACP, 0, names + e->NameOffset, -1, path + namePos, MAX_PATH - namePos);
      if (opt.StubDirs) MakeDirsLikeStub(path, namePos);
      else MakeDirsMinimal(path, namePos, previous);
      HANDLE out = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
      if (out == INVALID_HANDLE_VALUE) return Fail("create file");
      const uint8_t* data = block + e->DataOffset;
      uint32_t left = e->DataSize;
      while (left > 0) {
        DWORD chunk = opt.OneWrite || left < 65536 ? left : 65536;
        DWORD count = 0;
        if (!WriteFile(out, data, chunk, &count, nullptr) || count != chunk) return Fail("write");
        data += chunk;
        left -= chunk;
      }
      if (opt.Time) {
        FILETIME time = {e->LastWriteTimeLow, e->LastWriteTimeHigh};
        SetFileTime(out, nullptr, nullptr, &time);
      }
      CloseHandle(out);
      ++written;
      bytes += e->DataSize;
    }
  }
  double t6 = Now();
  printf("{\"open_ms\": %.2f, \"read_ms\": %.2f, \"decode_ms\": %.2f, \"checksum_ms\": %.2f, "
         "\"index_ms\": %.2f, \"write_ms\": %.2f, \"files\": %lu, \"bytes\": %llu, "
         "\"packed\": %lu, \"unpacked\": %lu}\n",
         t1 - t0, t2 - t1, t3 - t2, t4 - t3, t5 - t4, t6 - t5, static_cast<unsigned long>(written),
         static_cast<unsigned long long>(bytes), static_cast<unsigned long>(trailer.PackedSize),
         static_cast<unsigned long>(trailer.UnpackedSize));
  fflush(stdout);
  return 0;
}
