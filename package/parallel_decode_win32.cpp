#include "package/parallel_decode_win32.h"

#include <windows.h>
#include <string.h>

#include "package/package.h"
#include "package/platform_memory.h"

namespace {

// More decoders than this gain little against the writer and cost a
// dictionary and a window place each.
enum : uint32_t { MAX_DECODERS = 8, SPARE_SLOTS = 2 };
// A chunk's state: 0 while it is not decoded yet, then CHUNK_DONE with its
// LoadResult.
enum : uint8_t { CHUNK_DONE = 0x80 };

const StagedLoad* Load;
// Where the chunks go: the whole block, or without it a window of
// SlotCount places of SlotSize bytes, chunk i in place i % SlotCount.
uint8_t* Whole;
uint8_t* Window;
uint32_t SlotSize, SlotCount;
// Places not held by a chunk: a decoder takes one before its next chunk,
// PackageBytes gives one back as it passes a chunk. So the chunks in the
// window are always fewer than its places, and the places are distinct.
HANDLE FreeSlots;
HANDLE ChunkDecoded;
volatile uint8_t* ChunkStates;
volatile LONG ChunksTaken;  // the last chunk handed to a decoder
volatile LONG RestSum;      // the byte sum of the chunks after the prefix
volatile uint32_t DecodedBy[MAX_DECODERS];
uint32_t Reading;  // the chunk PackageBytes reads from

uint8_t* ChunkOutput(uint32_t index) {
  if (Whole) return Whole + static_cast<uint32_t>(Load->Chunks[index].UnpackedOffset);
  return Window + index % SlotCount * SlotSize;
}

DWORD WINAPI DecodeChunks(void* progress) {
  uint8_t* input = static_cast<uint8_t*>(PlatformAlloc(INPUT_CHUNK));
  for (;;) {
    if (!Whole) WaitForSingleObject(FreeSlots, INFINITE);
    uint32_t index = static_cast<uint32_t>(InterlockedIncrement(&ChunksTaken));
    if (index >= Load->ChunkCount) return 0;
    uint8_t* out = ChunkOutput(index);
    LoadResult result = input ? DecodeChunk(Load, index, out, input, nullptr, static_cast<volatile uint32_t*>(progress))
                              : LOAD_NO_MEMORY;
    if (Whole && result == LOAD_OK)
      InterlockedExchangeAdd(&RestSum, static_cast<LONG>(PackageChecksum(out, static_cast<uint32_t>(Load->Chunks[index].UnpackedSize))));
    ChunkStates[index] = static_cast<uint8_t>(CHUNK_DONE | result);
    SetEvent(ChunkDecoded);
  }
}

uint32_t DecoderCount(uint32_t chunks) {
  SYSTEM_INFO system;
  GetNativeSystemInfo(&system);
  uint32_t count = system.dwNumberOfProcessors;
  if (count > chunks) count = chunks;
  return count < MAX_DECODERS ? count : MAX_DECODERS;
}

// The window for decoders, each chunk's place as large as the largest chunk
// (and never empty: a package of one chunk has a window it never uses).
bool MakeWindow(uint32_t decoders) {
  SlotSize = 1;
  for (uint32_t i = 1; i < Load->ChunkCount; ++i) {
    uint32_t size = static_cast<uint32_t>(Load->Chunks[i].UnpackedSize);
    if (size > SlotSize) SlotSize = size;
  }
  SlotCount = decoders + SPARE_SLOTS;
  uint64_t bytes = uint64_t{SlotSize} * SlotCount;
  Window = bytes >> 32 ? nullptr : static_cast<uint8_t*>(PlatformAlloc(static_cast<uint32_t>(bytes)));
  FreeSlots = CreateSemaphoreW(nullptr, SlotCount, SlotCount, nullptr);
  return Window && FreeSlots;
}

}  // namespace

LoadResult FinishChunkedLoad(StagedLoad* load, LoadedPackage* out) {
  Load = load;
  const uint32_t decoders = DecoderCount(load->ChunkCount - 1);
  ChunkStates = static_cast<uint8_t*>(LocalAlloc(LPTR, load->ChunkCount));
  ChunkDecoded = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  bool placed;
  if (load->Source->BoundHash) {
    placed = MakeWindow(decoders);
  } else {
    Whole = static_cast<uint8_t*>(PlatformAlloc(out->BlockSize));
    placed = Whole != nullptr;
    if (placed) memcpy(Whole, out->Block, load->PrefixSize);
  }
  if (!placed || !ChunkStates || !ChunkDecoded) return LOAD_NO_MEMORY;
  ChunkStates[0] = CHUNK_DONE | LOAD_OK;
  // Below the dialog's priority, as the single stream's decoder.
  HANDLE threads[MAX_DECODERS];
  uint32_t started = 0;
  for (uint32_t i = 0; i < decoders; ++i) {
    HANDLE thread = CreateThread(nullptr, 0, DecodeChunks, const_cast<uint32_t*>(&DecodedBy[i]), 0, nullptr);
    if (!thread) continue;
    SetThreadPriority(thread, THREAD_PRIORITY_BELOW_NORMAL);
    threads[started++] = thread;
  }
  if (decoders && !started) return LOAD_NO_MEMORY;
  // While the window fills: the bytes the decoders read later are the ones
  // hashed, as no one can write to the file while the stub holds it open
  // without sharing writes; each chunk's CRC-32 is tested still.
  if (!Whole) return CheckPackageHash(load);
  // One by one: the stub imports no call that waits for several.
  for (uint32_t i = 0; i < started; ++i) WaitForSingleObject(threads[i], INFINITE);
  for (uint32_t i = 1; i < load->ChunkCount; ++i) {
    LoadResult result = static_cast<LoadResult>(ChunkStates[i] & ~CHUNK_DONE);
    if (result != LOAD_OK) return result;
  }
  if (load->PrefixSum + static_cast<uint32_t>(RestSum) != load->Located.Trailer.Checksum) return LOAD_BAD_DATA;
  out->Block = Whole;
  return LOAD_OK;
}

// A chunked block lies below 4 GiB, as every other: its chunks' 64-bit
// offsets and sizes are taken in 32 bits.
DWORD PackageBytes(uint32_t offset, const uint8_t** data, uint32_t* available) {
  const uint8_t* base = Package.Block;
  uint32_t start = 0, end = Package.BlockSize;
  if (Window) {
    for (;;) {
      const ChunkRecord& chunk = Load->Chunks[Reading];
      start = static_cast<uint32_t>(chunk.UnpackedOffset);
      end = start + static_cast<uint32_t>(chunk.UnpackedSize);
      if (offset < end) break;
      if (Reading + 1 >= Load->ChunkCount) return ERROR_CRC;
      // Chunk 0 is the prefix, which holds no place in the window.
      if (Reading) ReleaseSemaphore(FreeSlots, 1, nullptr);
      ++Reading;
    }
    if (offset < start) return ERROR_CRC;
    while (!ChunkStates[Reading]) WaitForSingleObject(ChunkDecoded, INFINITE);
    uint8_t state = ChunkStates[Reading];
    if (state != (CHUNK_DONE | LOAD_OK)) return state == (CHUNK_DONE | LOAD_NO_MEMORY) ? ERROR_NOT_ENOUGH_MEMORY : ERROR_CRC;
    if (Reading) base = ChunkOutput(Reading) - start;
  }
  *data = base + offset;
  *available = end - offset;
  return 0;
}

uint32_t ChunkBytesDecoded() {
  uint32_t total = 0;
  for (uint32_t i = 0; i < MAX_DECODERS; ++i) total += DecodedBy[i];
  return total;
}
