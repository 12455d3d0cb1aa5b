// The packer's command line: build, inspect, extract, languages and winget. Lives in
// the library so that tests run exactly what the executable runs.
#pragma once
#include <stdint.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

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
};

// Parses the arguments after "build"; throws PackerError on a bad option.
BuildRequest ParseBuildArguments(const std::vector<std::string>& args);

// The whole command line (args without the program name). Returns the exit
// code: 0 done, 1 inspect found no valid package, 2 error or bad usage.
int RunPacker(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
