#include "packer/package_extract.h"

#include <map>
#include <vector>

#include "package/package_loader.h"
#include "package/system_class.h"
#include "packer/mask_names.h"
#include "packer/packer_error.h"
#include "packer/output_folder.h"
#include "packer/parallel_load.h"
#include "packer/quoted_text.h"
#include "packer/setup_file_source.h"

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
// maps to the component first written for it.
class Spellings {
 public:
  std::vector<std::string> Of(const std::vector<std::string>& parts) {
    std::vector<std::string> spelled;
    std::string key;
    for (const std::string& part : parts) {
      key += Folded(part) + '\\';
      auto known = first_.find(key);
      if (known == first_.end()) known = first_.emplace(key, part).first;
      spelled.push_back(known->second);
    }
    return spelled;
  }

 private:
  std::map<std::string, std::string> first_;
};

}  // namespace

int ExtractSetupFile(const ExtractRequest& request, std::ostream& err) {
  // No system given: every system, which every package admits.
  const uint32_t os = request.OsClass ? request.OsClass : OS_EVERY;
  const uint32_t arch = request.ArchClass ? request.ArchClass : ARCH_EVERY;
  SetupFileSource file(request.SetupFile);
  LoadedPackage p;
  StagedLoad load;
  // The entry table comes with the head of the block: the checks below need
  // no more of it decoded.
  LoadResult result = StartStagedLoadWithinPackerLimits(&file.Source(), os, arch, &p, &load);
  if (result != LOAD_OK) {
    err << QuotedText(request.SetupFile) << ": no valid package: " << LoadResultText(result) << "\n";
    return 1;
  }
  struct Freed {
    LoadedPackage* P;
    StagedLoad* Load;
    ~Freed() {
      if (Load) AbandonStagedLoad(Load);
      FreeLoadedPackage(P);
    }
  } freed{&p, &load};

  const PackageHeader& h = *p.Header;
  switch (PackageAdmitsSystem(&h, os, arch)) {
    case SYSTEM_OS_REFUSED:
      err << QuotedText(request.SetupFile) << ": the package does not install on " << DescribeOsMask(request.OsClass, HEADER_OS_ALL)
          << " (it installs on " << DescribeOsMask(h.OsMask, HEADER_OS_ALL) << ")\n";
      return 1;
    case SYSTEM_ARCH_REFUSED:
      err << QuotedText(request.SetupFile) << ": the package does not install on " << DescribeArchMask(request.ArchClass, HEADER_ARCH_ALL)
          << " (it installs on " << DescribeArchMask(h.ArchMask, HEADER_ARCH_ALL) << ")\n";
      return 1;
    case SYSTEM_ADMITTED:
      break;
  }

  std::vector<const FileEntry*> applicable;
  uint64_t total = 0;
  for (uint32_t i = 0; i < h.FileCount; ++i) {
    const FileEntry& e = p.Entries[i];
    if (!IsFlagsApplicable(e.Flags, os, arch)) continue;
    if (!(e.Flags & FE_NO_EXTRACT)) total += e.DataSize;
    applicable.push_back(&e);
  }
  if (total > request.MaxTotal)
    throw PackerError(QuotedText(request.SetupFile), "",
                      "the files would take " + std::to_string(total) + " bytes, more than --max-total " +
                          std::to_string(request.MaxTotal) + "; nothing written");

  freed.Load = nullptr;
  result = FinishStagedLoadInParallel(&load, &p, DecodeThreads());
  if (result != LOAD_OK) {
    err << QuotedText(request.SetupFile) << ": no valid package: " << LoadResultText(result) << "\n";
    return 1;
  }

  OutputFolder folder(request.Dir);
  Spellings spellings;
  for (const FileEntry* e : applicable) {
    std::vector<std::string> parts = spellings.Of(Components(p.NamesArea + e->NameOffset));
    if (e->Flags & FE_NO_EXTRACT) {
      parts.pop_back();
      folder.MakeFolders(parts);
      continue;
    }
    folder.WriteFile(parts, p.Block + e->DataOffset, e->DataSize,
                     uint64_t{e->LastWriteTimeHigh} << 32 | e->LastWriteTimeLow);
  }
  return 0;
}
