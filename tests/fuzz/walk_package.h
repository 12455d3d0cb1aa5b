// Reads everything the stub reads from a loaded package, so that the
// sanitizers see any pointer the loader let through that leaves the block.
#pragma once
#include <string.h>

#include "base/text_capacities.h"
#include "base/wide_text.h"
#include "install/install_text.h"
#include "package/package_loader.h"

// Formats text as the stub formats the package's texts: with the product
// name (or the window and a version, as the configure arguments are), into
// the stub's own buffer sizes and into one far too small.
inline uint32_t FormatAsTheStub(const WChar* text, const WChar* productName) {
  static WChar buffer[MESSAGE_TEXT_CAPACITY];
  FormatArg name = TextArg(productName);
  uint32_t sum = FormatText(buffer, MESSAGE_TEXT_CAPACITY, text, &name, 1);
  sum += FormatText(buffer, SUBTITLE_TEXT_CAPACITY, text, &name, 1);
  sum += FormatText(buffer, 3, text, &name, 1);
  FormatArg configure[2] = {NumberArg(-0x12345), TextArg(productName)};
  sum += FormatText(buffer, LAUNCH_LABEL_CAPACITY, text, configure, 2);
  sum += FormatText(buffer, 1, text, nullptr, 0);
  static WChar command[COMMAND_CAPACITY];
  uint32_t quoteEnd = 0;
  if (BuildQuotedProgram(command, COMMAND_CAPACITY, productName, &quoteEnd))
    sum += AppendConfigureArgs(command, COMMAND_CAPACITY, quoteEnd, text, 0x1234, productName);
  return sum;
}

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
  if (package.Config[CFG_CONFIGURE_ARGS])
    sink = sink + FormatAsTheStub(package.Config[CFG_CONFIGURE_ARGS], package.Config[CFG_PRODUCT_NAME]);
  for (uint32_t l = 0; l < h->LanguageCount; ++l) {
    for (uint32_t s = 0; s < LANGUAGE_STRINGS; ++s) {
      sink = sink + TouchWide(package.Languages[l].Strings[s]);
      sink = sink + FormatAsTheStub(package.Languages[l].Strings[s], package.Config[CFG_PRODUCT_NAME]);
    }
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
