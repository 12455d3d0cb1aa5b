// Reads everything the stub reads from a loaded package, so that the
// sanitizers see any pointer the loader let through that leaves the block.
#pragma once
#include <string.h>

#include "package/package_loader.h"

inline uint32_t TouchWide(const WChar* text) {
  uint32_t sum = 0;
  for (; *text; ++text) sum += *text;
  return sum;
}

inline void WalkPackage(const LoadedPackage& package, uint32_t osClass, uint32_t archClass) {
  volatile uint32_t sink = 0;
  const PackageHeader* h = package.Header;
  for (int c = 0; c < CFG_COUNT; ++c) {
    if (package.Config[c]) sink = sink + TouchWide(package.Config[c]);
  }
  for (uint32_t l = 0; l < h->LanguageCount; ++l) {
    for (uint32_t s = 0; s < LANGUAGE_STRINGS; ++s) sink = sink + TouchWide(package.Languages[l].Strings[s]);
  }
  for (uint32_t i = 0; i < h->FileCount; ++i) {
    const FileEntry& e = package.Entries[i];
    sink = sink + static_cast<uint32_t>(strlen(package.NamesArea + e.NameOffset));
    if (e.DataSize) sink = sink + package.Block[e.DataOffset] + package.Block[e.DataOffset + e.DataSize - 1];
    sink = sink + IsFlagsApplicable(e.Flags, osClass, archClass);
  }
  if (h->LicenseEntry != NO_LICENSE_ENTRY) sink = sink + package.Entries[h->LicenseEntry].DataSize;
  sink = sink + static_cast<uint32_t>(package.ApplicableTotal) + package.Scratch[SCRATCH_SIZE - 1];
}
