// The folder extract writes into, which someone else may have prepared:
// every folder and file below it is reached one component at a time without
// following links (an openat chain with O_NOFOLLOW on Linux; on Windows,
// whose lstat does not see reparse points, each folder opened by handle and
// held without delete sharing while the file below it is made), and each file
// is created anew, so that a hard link or a link planted at a name leads no
// write outside the folder.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

class OutputFolder {
 public:
  // Creates dir when missing; throws PackerError when it cannot.
  explicit OutputFolder(const std::string& dir);
  ~OutputFolder();
  OutputFolder(const OutputFolder&) = delete;
  OutputFolder& operator=(const OutputFolder&) = delete;

  // Creates the folders parts names below dir (UTF-8 components), each
  // inside the one before. Throws PackerError at a link, a file in the way,
  // or a folder that cannot be created.
  void MakeFolders(const std::vector<std::string>& parts);
  // Writes a file at parts (its folders made first) with the FILETIME given,
  // replacing a file of that name by a new one.
  void WriteFile(const std::vector<std::string>& parts, const uint8_t* data, uint32_t size, uint64_t fileTime);

 private:
  std::string dir_;
#ifndef _WIN32
  // Opens the folder at parts, made when missing; the caller closes it.
  int OpenFolder(const std::vector<std::string>& parts, size_t count);
  int root_ = -1;
#endif
};
