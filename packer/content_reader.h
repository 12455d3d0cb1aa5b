// An entry's contents, read in pieces whether they are in memory or in a
// file.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "packer/package_writer.h"

// Reading past the planned size, or ending before it, is an error:
// the block's layout was fixed by that size.
class ContentReader {
 public:
  // Throws PackerError when the source cannot be opened.
  explicit ContentReader(const PackageFileEntry& file);
  ~ContentReader();
  ContentReader(const ContentReader&) = delete;
  ContentReader& operator=(const ContentReader&) = delete;

  // Up to size bytes into buffer; 0 at the end.
  size_t Read(uint8_t* buffer, size_t size);

 private:
  [[noreturn]] void Changed();
  const PackageFileEntry& file_;
  FILE* stream_ = nullptr;
  uint64_t left_;
};
