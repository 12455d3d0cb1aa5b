// How a chunked package is laid out: the entries in the order of their data,
// data that does not compress drawn together behind the rest, and the block
// cut into chunks that decode independently.
#pragma once
#include <stdint.h>

#include <vector>

#include "packer/package_writer.h"

// True when a sample of the file's bytes looks like data that LZMA cannot
// shrink (already compressed media, archives): its byte entropy is within
// what sampling noise allows of 8 bits. Reads at most three 16 KiB pieces;
// throws PackerError when the source cannot be read.
bool LooksIncompressible(const PackageFileEntry& file);

// The entry order of a chunked package, as indexes into contents.Files: the
// licence first, then the data in PlanData's order with each duplicate right
// after its original (stored again: a streaming installer cannot reach back),
// the files that look incompressible behind all others. Entries whose names
// differ only in case keep their order among themselves, so that the later
// one still replaces the earlier. incompressibleFrom: the position in the
// order where the incompressible files start.
std::vector<uint32_t> ChunkedEntryOrder(const PackageContents& contents, size_t* incompressibleFrom);

struct PlannedChunk {
  uint64_t UnpackedOffset = 0;
  uint32_t UnpackedSize = 0;
  bool Stored = false;
};

// Chunk 0 is the prefix; the bytes up to incompressibleAt are cut into
// chunks of chunkSize (the last one shorter), those after it into stored
// chunks of chunkSize.
std::vector<PlannedChunk> PlanChunks(uint64_t prefixSize, uint64_t incompressibleAt, uint64_t blockSize,
                                     uint32_t chunkSize);
