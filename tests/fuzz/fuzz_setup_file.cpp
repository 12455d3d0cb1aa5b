// Feeds arbitrary bytes to the package loader as a whole setup file, then
// reads everything the stub would read from a package that loaded.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include "package/package_loader.h"
#include "package/sha256.h"
#include "package/system_class.h"
#include "tests/unit/memory_source.h"
#include "walk_package.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0x7FFFFFFF) return 0;
  MemorySource memory;
  OpenMemorySource(&memory, data, static_cast<uint32_t>(size));
  // A trailer may claim gigabytes; the allocation is the loader's legitimate
  // answer (the stub reports it as damaged) and would only slow the search.
  TrailerLocation located;
  if (LocateTrailer(&memory.Source, &located) == LOAD_OK && located.Trailer.UnpackedSize > (64u << 20)) return 0;

  // Half the inputs are bound to the hash their package region has, as the
  // packer binds it: the loader then hashes as it reads, and still reaches
  // everything an unbound load reaches.
  uint8_t bound[SHA256_SIZE];
  uint32_t start;
  if ((size / 2) % 2 && LocateTrailer(&memory.Source, &located) == LOAD_OK &&
      PackageRegionStart(&located, &start)) {
    Sha256 sha;
    Sha256Init(&sha);
    Sha256Add(&sha, data + start, PackageRegionEnd(&located) - start);
    Sha256Finish(&sha, bound);
    memory.Source.BoundHash = bound;
  }

  LoadedPackage package;
  // Alternate the architecture so that the applicability test sees varied
  // inputs.
  uint32_t archClass = size % 2 ? ARCH_X86 : ARCH_X64;
  // A chunked package bound to its hash also as the stub streams it: the
  // hash over the rest first, then each chunk on its own.
  StagedLoad load;
  if (memory.Source.BoundHash && StartStagedLoad(&memory.Source, OS_WIN10, archClass, &package, &load) == LOAD_OK) {
    if (load.ChunkCount && CheckPackageHash(&load) == LOAD_OK) {
      static uint8_t input[INPUT_CHUNK];
      for (uint32_t i = 1; i < load.ChunkCount; ++i) {
        uint8_t* out = static_cast<uint8_t*>(malloc(static_cast<uint32_t>(load.Chunks[i].UnpackedSize)));
        volatile uint32_t progress = 0;
        DecodeChunk(&load, i, out, input, nullptr, &progress);
        free(out);
      }
    }
    AbandonStagedLoad(&load);
    FreeLoadedPackage(&package);
  }
  if (LoadWholePackage(&memory.Source, OS_WIN10, archClass, &package) != LOAD_OK) return 0;

  WalkPackage(package, OS_WIN10, archClass);
  FreeLoadedPackage(&package);
  return 0;
}
