#include "packer/product_files.h"

#include <ctype.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "packer/packer_error.h"
#include "packer/utf8_paths.h"

namespace fs = std::filesystem;

std::vector<std::string> ListProductFiles(const std::string& dir) {
  std::vector<std::string> files;
  std::error_code error;
  const fs::path root = PathFromUtf8(dir);
  if (!fs::is_directory(root, error)) throw PackerError(dir, "", "the product folder does not exist");
  // Directory links are not followed: a link cycle would never end.
  fs::recursive_directory_iterator it(root, fs::directory_options::none, error);
  for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_regular_file(error)) files.push_back(fs::relative(it->path(), root, error).generic_u8string());
  }
  if (error) throw PackerError(dir, "", "cannot list the product folder: " + error.message());
  std::sort(files.begin(), files.end());
  return files;
}

SourceFileInfo StatSourceFile(const std::string& path) {
  SourceFileInfo info;
#ifdef _WIN32
  // The C runtime's stat keeps whole seconds only; the file system's own
  // time is what the stub will set on the installed file.
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(PathFromUtf8(path).c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return info;
  info.Exists = true;
  info.Size = uint64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow;
  info.LastWriteTime = uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32 | data.ftLastWriteTime.dwLowDateTime;
#else
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return info;
  info.Exists = true;
  info.Size = static_cast<uint64_t>(st.st_size);
  info.LastWriteTime = UnixTimeToFileTime(st.st_mtim.tv_sec, static_cast<uint32_t>(st.st_mtim.tv_nsec));
#endif
  return info;
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  std::ifstream in(PathFromUtf8(path), std::ios::binary | std::ios::ate);
  if (!in) throw PackerError(path, "", std::string("cannot open: ") + strerror(errno));
  std::streamoff size = in.tellg();
  std::vector<uint8_t> data(static_cast<size_t>(size));
  in.seekg(0);
  if (!in.read(reinterpret_cast<char*>(data.data()), size)) throw PackerError(path, "", "cannot read");
  return data;
}

uint64_t UnixTimeToFileTime(int64_t seconds, uint32_t nanoseconds) {
  const int64_t kEpochDifference = 11644473600;  // 1601-01-01 to 1970-01-01
  int64_t since1601 = seconds + kEpochDifference;
  if (since1601 < 0) return 0;
  return static_cast<uint64_t>(since1601) * 10000000u + nanoseconds / 100u;
}

std::optional<uint64_t> SourceDateEpoch() {
  const char* text = getenv("SOURCE_DATE_EPOCH");
  if (!text || !*text) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  long long seconds = strtoll(text, &end, 10);
  if (*end != 0 || errno != 0 || seconds < 0 || !isdigit(static_cast<unsigned char>(text[0])))
    throw PackerError("SOURCE_DATE_EPOCH", "", "must be a number of seconds since 1970-01-01 UTC");
  return UnixTimeToFileTime(seconds, 0);
}
