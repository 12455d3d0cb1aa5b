// The loader's second stage for the packer's commands: the chunks of a
// chunked package decoded on several threads at once into the whole block.
#pragma once
#include <stdint.h>

#include <vector>

#include "package/package_loader.h"

// FinishStagedLoad, with a chunked package's chunks after the prefix decoded
// on threads threads, each checked against its CRC-32, then the block
// against the trailer's checksum and the bound hash. load's Source->Read
// must allow calls from several threads.
LoadResult FinishStagedLoadInParallel(StagedLoad* load, LoadedPackage* out, uint32_t threads);

// Both stages so (see LoadWholePackage), within the packer's limits (see
// LoadPackageWithinPackerLimits); chunks gets the chunk table, empty for a
// package of one stream.
LoadResult LoadPackageInParallel(const PackageSource* source, uint32_t osClass, uint32_t archClass,
                                 LoadedPackage* out, std::vector<ChunkRecord>* chunks);

// One per processor.
uint32_t DecodeThreads();
