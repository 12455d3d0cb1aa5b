#include "packer/parallel_load.h"

#include <string.h>

#include <atomic>
#include <thread>

#include "package/platform_memory.h"
#include "packer/setup_file_source.h"

uint32_t DecodeThreads() { return std::max(1u, std::thread::hardware_concurrency()); }

LoadResult FinishStagedLoadInParallel(StagedLoad* load, LoadedPackage* out, uint32_t threads) {
  if (!load->ChunkCount || threads < 2) return FinishStagedLoad(load, out);
  uint8_t* block = static_cast<uint8_t*>(PlatformAlloc(out->BlockSize));
  if (!block) {
    AbandonStagedLoad(load);
    return LOAD_NO_MEMORY;
  }
  memcpy(block, out->Block, load->PrefixSize);
  // The chunks are taken in order, each by the next thread free; the first
  // failure in chunk order is the result, as in a serial decode.
  std::atomic<uint32_t> next{1};
  std::vector<LoadResult> results(load->ChunkCount, LOAD_OK);
  auto work = [&] {
    std::vector<uint8_t> input(INPUT_CHUNK);
    volatile uint32_t progress = 0;
    for (uint32_t i; (i = next++) < load->ChunkCount;) {
      const ChunkRecord& chunk = load->Chunks[i];
      results[i] = DecodeChunk(load, i, block + static_cast<uint32_t>(chunk.UnpackedOffset), input.data(), nullptr,
                               &progress);
    }
  };
  std::vector<std::thread> pool;
  for (uint32_t t = 0; t < std::min(threads, load->ChunkCount - 1); ++t) pool.emplace_back(work);
  for (std::thread& t : pool) t.join();
  LoadResult result = LOAD_OK;
  for (LoadResult r : results) {
    if (result == LOAD_OK) result = r;
  }
  if (result == LOAD_OK &&
      load->PrefixSum + PackageChecksum(block + load->PrefixSize, out->BlockSize - load->PrefixSize) !=
          load->Located.Trailer.Checksum)
    result = LOAD_BAD_DATA;
  if (result == LOAD_OK && load->Source->BoundHash) result = CheckPackageHash(load);
  if (result == LOAD_OK) out->Block = block;
  else PlatformFree(block);
  AbandonStagedLoad(load);
  return result;
}

LoadResult LoadPackageInParallel(const PackageSource* source, uint32_t osClass, uint32_t archClass,
                                 LoadedPackage* out, std::vector<ChunkRecord>* chunks) {
  StagedLoad load;
  LoadResult result = StartStagedLoadWithinPackerLimits(source, osClass, archClass, out, &load);
  if (result != LOAD_OK) return result;
  chunks->assign(load.Chunks, load.Chunks + load.ChunkCount);
  result = FinishStagedLoadInParallel(&load, out, DecodeThreads());
  if (result != LOAD_OK) FreeLoadedPackage(out);
  return result;
}
