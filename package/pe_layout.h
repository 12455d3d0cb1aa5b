// Where a PE image's headers keep what the loader (the certificate table)
// and the packer (the resource table) read from them.
#pragma once
#include <stdint.h>

enum : uint32_t {
  DOS_HEADER_SIZE = 0x40,
  PE_OFFSET_FIELD = 0x3C,  // in the DOS header: the file offset of the PE signature
  PE_SIGNATURE = 0x00004550u,  // "PE\0\0"
  PE_SIGNATURE_SIZE = 4,
  COFF_HEADER_SIZE = 20,
  // From the PE signature.
  COFF_SECTION_COUNT_AT = PE_SIGNATURE_SIZE + 2,
  COFF_OPTIONAL_HEADER_SIZE_AT = PE_SIGNATURE_SIZE + 16,
  OPTIONAL_HEADER_AT = PE_SIGNATURE_SIZE + COFF_HEADER_SIZE,
  // The optional header's first field tells PE32 from PE32+, whose data
  // directories lie further in.
  OPTIONAL_MAGIC_SIZE = 2,
  PE32_PLUS_MAGIC = 0x20B,
  PE32_DATA_DIRECTORIES_AT = 96,
  PE32_PLUS_DATA_DIRECTORIES_AT = 112,
  DATA_DIRECTORY_SIZE = 8,  // RVA (or, for the certificate table, file offset) and size
  RESOURCE_TABLE_INDEX = 2,
  CERTIFICATE_TABLE_INDEX = 4,
  SECTION_HEADER_SIZE = 40,
  // How much of an image ReadCertificateOffset is given: the headers of a
  // mapped image fill at least its first page, and the packer reads a
  // setup file's first bytes as the stub reads its own image.
  HEADER_PAGE_SIZE = 4096,
};

// Offset of data directory entry index from the optional header's start.
constexpr uint32_t DataDirectoryAt(uint32_t optionalMagic, uint32_t index) {
  return (optionalMagic == PE32_PLUS_MAGIC ? PE32_PLUS_DATA_DIRECTORIES_AT : PE32_DATA_DIRECTORIES_AT) +
         index * DATA_DIRECTORY_SIZE;
}
