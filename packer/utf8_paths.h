// Paths inside the packer are UTF-8 strings. On Linux they are the bytes
// the command line gave; on Windows every file API gets them as UTF-16, so
// that a path outside the ANSI code page opens as named.
#pragma once
#include <stdio.h>

#include <filesystem>
#include <string>

inline std::filesystem::path PathFromUtf8(const std::string& path) { return std::filesystem::u8path(path); }

// fopen for a UTF-8 path (_wfopen on Windows).
FILE* OpenUtf8File(const std::string& path, const char* mode);
