// The packer's command line: build, inspect, extract, languages and winget. Lives in
// the library so that tests run exactly what the executable runs.
#pragma once
#include <stdint.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

// A block larger than this is cut into chunks that decode on separate threads.
enum : uint32_t { DEFAULT_CHUNK_SIZE = 32u << 20, MAX_CHUNK_SIZE = 1u << 30, MAX_THREADS = 256 };

struct BuildRequest {
  std::string Manifest, ProductDir, Stub, Output;
  // Command-line values override the manifest's [compression].
  bool EndMarker = false;
  std::optional<uint8_t> Properties;
  std::optional<uint32_t> Dictionary;
  uint32_t ExtraSize = 0;
  uint32_t Slack = 0;
  bool CorruptChecksum = false;
  bool PrefixRecord = true;
  std::optional<uint32_t> Level;
  bool Quiet = false;  // no progress line even on a terminal
  uint32_t ChunkSize = DEFAULT_CHUNK_SIZE;  // 0: one stream
  uint32_t Threads = 0;  // 0: one per processor
};

// Parses the arguments after "build"; throws PackerError on a bad option.
BuildRequest ParseBuildArguments(const std::vector<std::string>& args);

// The whole command line (args without the program name). Returns the exit
// code: 0 done, 1 inspect found no valid package, 2 error or bad usage.
int RunPacker(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
