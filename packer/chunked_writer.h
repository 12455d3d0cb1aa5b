// Writes a chunked package: the entries in the order of their data, the
// block cut into chunks that are compressed on several threads at once and
// written in order, the chunk table in the extra region.
#pragma once
#include <stdio.h>

#include <vector>

#include "packer/package_writer.h"

// WriteSetupFile for a block larger than options.ChunkSize (see there).
// out must be readable and seekable: the chunk table is filled in, and the
// package region hashed, once every chunk is written. Throws PackerError
// when the stub does not read chunked packages or the block or the setup
// file would reach 4 GiB.
PackedSizes WriteChunkedSetupFile(FILE* out, const std::vector<uint8_t>& stub, const PackageContents& contents,
                                  const SetupOptions& options, const PackProgress& progress);
