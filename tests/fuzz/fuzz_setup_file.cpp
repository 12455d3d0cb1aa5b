// Feeds arbitrary bytes to the package loader as a whole setup file, then
// reads everything the stub would read from a package that loaded.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>

#include "package/package_loader.h"
#include "walk_package.h"

namespace {

struct Input {
  const uint8_t* Data;
  uint32_t Size;
};

uint32_t ReadInput(void* context, uint32_t offset, void* buffer, uint32_t size) {
  const Input* input = static_cast<const Input*>(context);
  if (offset >= input->Size) return 0;
  uint32_t n = std::min(size, input->Size - offset);
  memcpy(buffer, input->Data + offset, n);
  return n;
}

// The trailer's UnpackedSize, or 0 when the loader would find no trailer.
uint32_t ClaimedUnpackedSize(const PackageSource& source, const Input& input) {
  uint32_t end = source.CertificateOffset ? source.CertificateOffset : source.FileSize;
  if (end < TRAILER_WINDOW || end > input.Size) return 0;
  int32_t n = FindTrailerMagic(input.Data + end - TRAILER_WINDOW);
  if (n < 16) return 0;
  PackageTrailer trailer;
  memcpy(&trailer, input.Data + end - TRAILER_WINDOW + n - 16, sizeof trailer);
  return trailer.UnpackedSize;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0x7FFFFFFF) return 0;
  Input input = {data, static_cast<uint32_t>(size)};
  PackageSource source = {};
  source.FileSize = input.Size;
  source.Read = ReadInput;
  source.Context = &input;
  if (!ReadCertificateOffset(data, std::min<uint32_t>(input.Size, 4096), &source.CertificateOffset))
    source.CertificateOffset = 0;
  // A trailer may claim gigabytes; the allocation is the loader's legitimate
  // answer (the stub reports it as damaged) and would only slow the search.
  if (ClaimedUnpackedSize(source, input) > (64u << 20)) return 0;

  LoadedPackage package;
  // Alternate the system classes so that both registry views and the
  // applicability test see varied inputs.
  uint32_t archClass = size % 2 ? 1 : 2;
  if (LoadPackageFrom(&source, 32, archClass, &package) != LOAD_OK) return 0;

  WalkPackage(package, 32, archClass);
  FreeLoadedPackage(&package);
  return 0;
}
