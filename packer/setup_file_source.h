// A setup file on disk as the loader's PackageSource.
#pragma once
#include <stdio.h>

#include <mutex>
#include <string>

#include "package/package_loader.h"

class SetupFileSource {
 public:
  // Opens path; throws PackerError when it cannot be read or is 4 GiB or
  // more (a setup file ends below MAX_FILE_OFFSET).
  explicit SetupFileSource(const std::string& path);
  ~SetupFileSource();
  SetupFileSource(const SetupFileSource&) = delete;
  SetupFileSource& operator=(const SetupFileSource&) = delete;

  // The certificate offset comes from the PE headers in the first
  // HEADER_PAGE_SIZE bytes, as the stub takes it from its own image; 0 when
  // the file is not a PE image.
  const PackageSource& Source() const { return source_; }
  bool IsPeImage() const { return isPe_; }

 private:
  // Safe from several threads at once: a seek and its read go together.
  static uint32_t Read(void* context, uint32_t offset, void* buffer, uint32_t size);

  FILE* file_ = nullptr;
  std::mutex reading_;
  PackageSource source_ = {};
  bool isPe_ = false;
};

// LoadWholePackage for the packer's commands, which read setup files that
// anybody may have made: an UnpackedSize above what the packer itself writes
// in one stream (MAX_BLOCK_SIZE) is LOAD_BAD_TRAILER before anything is
// allocated for it, unless the package is chunked.
// The stub loads such a block when it can get the memory.
LoadResult LoadPackageWithinPackerLimits(const PackageSource* source, uint32_t osClass, uint32_t archClass,
                                         LoadedPackage* out);
// Its first stage alone (see StartStagedLoad), with the same refusal.
LoadResult StartStagedLoadWithinPackerLimits(const PackageSource* source, uint32_t osClass, uint32_t archClass,
                                             LoadedPackage* out, StagedLoad* load);
