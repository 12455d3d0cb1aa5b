#include "packer/utf8_paths.h"

#include <string.h>

FILE* OpenUtf8File(const std::string& path, const char* mode) {
#ifdef _WIN32
  std::wstring wideMode(mode, mode + strlen(mode));
  return _wfopen(PathFromUtf8(path).c_str(), wideMode.c_str());
#else
  return fopen(path.c_str(), mode);
#endif
}
