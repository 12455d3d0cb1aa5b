#include "packer/package_extract.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <filesystem>
#include <map>
#include <vector>

#include "package/package_loader.h"
#include "package/system_class.h"
#include "packer/mask_names.h"
#include "packer/packer_error.h"
#include "packer/product_files.h"
#include "packer/setup_file_source.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Components(const char* name) {
  std::vector<std::string> parts(1);
  for (const char* c = name; *c; ++c) {
    if (*c == '\\' || *c == '/') parts.emplace_back();
    else parts.back() += *c;
  }
  return parts;
}

std::string Folded(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// Windows compares names without case: "Data\A.txt" written after
// "data\a.txt" replaces it and keeps the first spelling. Each folded prefix
// maps to the path first written for it.
class Spellings {
 public:
  explicit Spellings(fs::path dir) : dir_(std::move(dir)) {}
  fs::path PathOf(const std::vector<std::string>& parts) {
    fs::path path = dir_;
    std::string key;
    for (const std::string& part : parts) {
      key += Folded(part) + '\\';
      auto known = first_.find(key);
      if (known == first_.end()) known = first_.emplace(key, path / part).first;
      path = known->second;
    }
    return path;
  }

 private:
  fs::path dir_;
  std::map<std::string, fs::path> first_;
};

// A link inside the folder could lead a write outside it.
void RefuseLinks(const fs::path& dir, const fs::path& path, const std::string& name) {
  fs::path at = dir;
  for (const fs::path& part : path.lexically_relative(dir)) {
    at /= part;
    std::error_code error;
    if (fs::is_symlink(fs::symlink_status(at, error)))
      throw PackerError(at.string(), "", "is a symbolic link; refusing to write \"" + name + "\" through it");
  }
}

void WriteFile(const fs::path& path, const uint8_t* data, uint32_t size) {
  std::string name = path.string();
  FILE* file = fopen(name.c_str(), "wb");
  if (!file) throw PackerError(name, "", std::string("cannot create: ") + strerror(errno));
  bool ok = fwrite(data, 1, size, file) == size;
  ok = fclose(file) == 0 && ok;
  if (!ok) throw PackerError(name, "", "cannot write");
}

}  // namespace

int ExtractSetupFile(const ExtractRequest& request, std::ostream& err) {
  // No system given: every system, which every package admits.
  const uint32_t os = request.OsClass ? request.OsClass : OS_EVERY;
  const uint32_t arch = request.ArchClass ? request.ArchClass : ARCH_EVERY;
  SetupFileSource file(request.SetupFile);
  LoadedPackage p;
  LoadResult result = LoadPackageFrom(&file.Source(), os, arch, &p);
  if (result != LOAD_OK) {
    err << request.SetupFile << ": no valid package: " << LoadResultText(result) << "\n";
    return 1;
  }
  struct Freed {
    LoadedPackage* P;
    ~Freed() { FreeLoadedPackage(P); }
  } freed{&p};

  const PackageHeader& h = *p.Header;
  switch (PackageAdmitsSystem(&h, os, arch)) {
    case SYSTEM_OS_REFUSED:
      err << request.SetupFile << ": the package does not install on " << DescribeOsMask(request.OsClass, 0xFFFF)
          << " (it installs on " << DescribeOsMask(h.OsMask, 0xFFFF) << ")\n";
      return 1;
    case SYSTEM_ARCH_REFUSED:
      err << request.SetupFile << ": the package does not install on " << DescribeArchMask(request.ArchClass, 0xFF)
          << " (it installs on " << DescribeArchMask(h.ArchMask, 0xFF) << ")\n";
      return 1;
    case SYSTEM_ADMITTED:
      break;
  }

  std::vector<const FileEntry*> applicable;
  for (uint32_t i = 0; i < h.FileCount; ++i) {
    const FileEntry& e = p.Entries[i];
    if (!IsFlagsApplicable(e.Flags, os, arch)) continue;
    const char* name = p.NamesArea + e.NameOffset;
    bool inside = IsSafeRelativeName(name);
    for (const std::string& part : Components(name)) inside = inside && !part.empty() && part != "." && part != "..";
    if (!inside) throw PackerError(request.SetupFile, "", "entry " + std::to_string(i) + " \"" + name +
                                                              "\" would be written outside the folder");
    applicable.push_back(&e);
  }

  fs::path dir(request.Dir);
  std::error_code error;
  fs::create_directories(dir, error);
  if (!fs::is_directory(dir, error)) throw PackerError(request.Dir, "", "cannot create the folder");
  Spellings spellings(dir);
  for (const FileEntry* e : applicable) {
    const char* name = p.NamesArea + e->NameOffset;
    fs::path path = spellings.PathOf(Components(name));
    RefuseLinks(dir, path, name);
    fs::create_directories(path.parent_path(), error);
    if (error) throw PackerError(path.parent_path().string(), "", "cannot create the folder: " + error.message());
    if (e->Flags & FE_NO_EXTRACT) continue;
    WriteFile(path, p.Block + e->DataOffset, e->DataSize);
    if (!SetLastWriteTime(path.string(), uint64_t{e->LastWriteTimeHigh} << 32 | e->LastWriteTimeLow))
      throw PackerError(path.string(), "", "cannot set the file's time");
  }
  return 0;
}
