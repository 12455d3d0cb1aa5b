// A setup file in memory, for the tests and the fuzzers: written by the
// packer's own writer, read as the loader's PackageSource (the counterpart
// of SetupFileSource).
#pragma once
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "package/package_loader.h"
#include "package/pe_layout.h"
#include "packer/package_writer.h"

struct MemorySource {
  const uint8_t* Data;
  uint32_t Size;
  PackageSource Source;
};

inline uint32_t ReadMemorySource(void* context, uint32_t offset, void* buffer, uint32_t size) {
  const MemorySource* memory = static_cast<const MemorySource*>(context);
  if (offset >= memory->Size) return 0;
  uint32_t n = size < memory->Size - offset ? size : memory->Size - offset;
  memcpy(buffer, memory->Data + offset, n);
  return n;
}

// Sets memory up over size bytes at data, the certificate offset taken from
// their PE headers as the stub takes it from its own image (0 when they are
// no PE image). memory must stay where it is while Source is used.
inline void OpenMemorySource(MemorySource* memory, const uint8_t* data, uint32_t size) {
  memory->Data = data;
  memory->Size = size;
  memory->Source = {0, size, ReadMemorySource, memory, nullptr};
  if (!ReadCertificateOffset(data, size < HEADER_PAGE_SIZE ? size : HEADER_PAGE_SIZE, &memory->Source.CertificateOffset))
    memory->Source.CertificateOffset = 0;
}

// The bytes write puts into the stream it is given (a temporary file, which
// can be read back and seeked as an output file); an exception from it
// passes through.
template <typename Write>
std::vector<uint8_t> WrittenToMemory(const Write& write) {
  FILE* out = tmpfile();
  if (!out) abort();
  try {
    write(out);
  } catch (...) {
    fclose(out);
    throw;
  }
  if (fflush(out) != 0 || fseeko(out, 0, SEEK_END) != 0) abort();
  std::vector<uint8_t> bytes(static_cast<size_t>(ftello(out)));
  rewind(out);
  if (fread(bytes.data(), 1, bytes.size(), out) != bytes.size()) abort();
  fclose(out);
  return bytes;
}

// The setup file around a block made beforehand, whatever its bytes (one
// that breaks the rules a reader must enforce), without a prefix record.
inline PackedSizes WriteBlockSetupFile(FILE* out, const std::vector<uint8_t>& stub, const std::vector<uint8_t>& block,
                                       const SetupOptions& options) {
  return WritePackage(out, stub, {}, block.size(), options, {},
                      [&](const ByteFeed& feed) { feed(block.data(), block.size()); });
}
