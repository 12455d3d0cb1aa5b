// The chunks of a chunked package after its prefix, decoded on worker
// threads, each with a decoder of its own.
#pragma once
#include <stdint.h>

#include "package/package_loader.h"

// The second stage of a chunked package, after StartStagedLoad. Without a
// bound hash: decodes every chunk into one whole block, verifies the chunks'
// CRC-32s and the trailer's checksum, and moves out->Block to it. With one:
// starts the decoders into a window of chunk buffers, which PackageBytes
// (package.h) empties as the files are written, and meanwhile hashes the package region;
// LOAD_OK when it is the bound one, so that no file is written otherwise.
LoadResult FinishChunkedLoad(StagedLoad* load, LoadedPackage* out);

// Bytes the chunk decoders have decoded so far.
uint32_t ChunkBytesDecoded();
