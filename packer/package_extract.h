// The packer's extract command: writes the files a setup file would install
// on a given system into a folder, so that a product team can check a setup
// file without Windows.
#pragma once
#include <stdint.h>

#include <ostream>
#include <string>

struct ExtractRequest {
  std::string SetupFile, Dir;
  // One OsClass or ArchClass bit, as the stub's probes give them; 0 for
  // every system (then the package's own masks are not checked either).
  uint32_t OsClass = 0;
  uint32_t ArchClass = 0;
  // The most bytes the files may hold together. Entries may share their
  // data, so a small setup file can ask for far more than its own size.
  uint64_t MaxTotal = DEFAULT_MAX_TOTAL;
  static constexpr uint64_t DEFAULT_MAX_TOTAL = uint64_t{4} << 30;
};

// Loads the package with the stub's loader, applies the stub's start-up
// checks of the package's OS and architecture masks, then writes every
// applicable entry in package order below Dir as the stub's install run does:
// parent folders first, FE_NO_EXTRACT entries only their folders, each file
// with its stored last-write time, later entries of a name (compared as
// Windows does, without case) replacing earlier ones. The loader has checked
// every name with the stub's rule before anything is written; the total is
// checked against MaxTotal before the files' data is decoded. Returns 0 done,
// 1 no valid package or a system the package refuses (told on err); throws
// PackerError when the total is over MaxTotal, a link or a file is in the
// way, or a file cannot be written.
int ExtractSetupFile(const ExtractRequest& request, std::ostream& err);
