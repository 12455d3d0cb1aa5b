// The product folder on disk: which files it holds, their contents and times.
#pragma once
#include <stdint.h>

#include <optional>
#include <string>
#include <vector>

// Every regular file under dir, as relative paths with '/' separators,
// sorted bytewise. Throws PackerError when dir cannot be read.
std::vector<std::string> ListProductFiles(const std::string& dir);

struct SourceFileInfo {
  bool Exists = false;  // a regular file (symbolic links followed)
  uint64_t Size = 0;
  uint64_t LastWriteTime = 0;  // FILETIME: 100 ns since 1601-01-01 UTC
};
SourceFileInfo StatSourceFile(const std::string& path);

// Whole contents; throws PackerError naming path on failure.
std::vector<uint8_t> ReadWholeFile(const std::string& path);

// Seconds and nanoseconds since 1970-01-01 UTC as a FILETIME.
uint64_t UnixTimeToFileTime(int64_t seconds, uint32_t nanoseconds);

// SOURCE_DATE_EPOCH as a FILETIME, nothing when unset or empty. Build tools
// clamp the times of their inputs to it so that a rebuilt package is
// byte-identical to the first. Throws PackerError when it is not a number.
std::optional<uint64_t> SourceDateEpoch();
