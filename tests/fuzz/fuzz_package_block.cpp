// Treats the input as an unpacked block and wraps it into a valid setup file
// (the packer computes the checksum), so that every input reaches the
// loader's checks of the block's contents, which a mutated setup file
// almost never does past the checksum.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "package/package_loader.h"
#include "packer/package_writer.h"
#include "walk_package.h"

namespace {

struct Image {
  const std::vector<uint8_t>* Bytes;
};

uint32_t ReadImage(void* context, uint32_t offset, void* buffer, uint32_t size) {
  const std::vector<uint8_t>& bytes = *static_cast<Image*>(context)->Bytes;
  if (offset >= bytes.size()) return 0;
  uint32_t n = std::min<uint32_t>(size, static_cast<uint32_t>(bytes.size()) - offset);
  memcpy(buffer, bytes.data() + offset, n);
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  std::vector<uint8_t> block(data, data + size);
  SetupOptions options;
  options.Lzma.Dictionary = 4096;
  std::vector<uint8_t> stub(64, 0);  // not a PE image: the file size ends the package region
  std::vector<uint8_t> image = MakeSetupImage(stub, block, options);

  Image file = {&image};
  PackageSource source = {};
  source.FileSize = static_cast<uint32_t>(image.size());
  source.Read = ReadImage;
  source.Context = &file;
  // Derive the system from the data so that every class is tried.
  uint32_t osClass = size ? 1u << (data[size - 1] % 8) & 0x7F : 32;
  uint32_t archClass = size ? 1u << (data[0] % 3) : 2;
  LoadedPackage package;
  if (LoadPackageFrom(&source, osClass, archClass, &package) != LOAD_OK) return 0;
  WalkPackage(package, osClass, archClass);
  FreeLoadedPackage(&package);
  return 0;
}
