// Treats the input as an unpacked block and wraps it into a valid setup file
// (the packer computes the checksum), so that every input reaches the
// loader's checks of the block's contents, which a mutated setup file
// almost never does past the checksum; a package that loads is then walked
// as the stub walks it, its texts formatted as the stub formats them, and
// listed as the packer's inspect lists it.
#include <stddef.h>
#include <stdint.h>

#include <sstream>
#include <vector>

#include "package/package_loader.h"
#include "package/system_class.h"
#include "packer/package_listing.h"
#include "packer/package_writer.h"
#include "tests/unit/memory_source.h"
#include "walk_package.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  std::vector<uint8_t> block(data, data + size);
  SetupOptions options;
  options.Lzma.Dictionary = 4096;
  std::vector<uint8_t> stub(64, 0);  // not a PE image: the file size ends the package region
  std::vector<uint8_t> image =
      WrittenToMemory([&](FILE* out) { WriteBlockSetupFile(out, stub, block, options); });

  MemorySource memory;
  OpenMemorySource(&memory, image.data(), static_cast<uint32_t>(image.size()));
  // Derive the system from the data so that every class is tried.
  uint32_t osClass = size ? 1u << (data[size - 1] % 8) & 0x7F : OS_WIN10;
  uint32_t archClass = size ? 1u << (data[0] % 3) : ARCH_X64;
  LoadedPackage package;
  if (LoadWholePackage(&memory.Source, osClass, archClass, &package) != LOAD_OK) return 0;
  WalkPackage(package, osClass, archClass);
  FreeLoadedPackage(&package);
  // The packer's listing of the same file, as text and as JSON.
  std::ostringstream out, err;
  InspectPackage("fuzz", memory.Source, false, out, err, size % 2 == 0);
  return 0;
}
