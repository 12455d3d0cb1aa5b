// Reads a TOML manifest and the product folder it names into the contents
// of a package.
#pragma once
#include <string>

#include "packer/lzma_encode.h"
#include "packer/package_writer.h"

struct Manifest {
  PackageContents Contents;  // files by Source, read while packing
  LzmaSettings Lzma;         // from [compression], defaults otherwise
};

// Validates every key of manifestPath and every rule a package must meet
// (names the stub can install, text limits, the licence entry, sizes), then
// loads the files from productDir. Throws PackerError naming the manifest,
// the line and the key of the first problem. With SOURCE_DATE_EPOCH set,
// times taken from the files are no later than that moment.
Manifest ReadManifest(const std::string& manifestPath, const std::string& productDir);
