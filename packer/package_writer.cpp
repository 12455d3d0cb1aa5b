#include "packer/package_writer.h"

#include <string.h>

#include "packer/default_texts.h"
#include "packer/packer_error.h"
#include "packer/utf16.h"

namespace {

void PutU16(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

void PutWide(std::vector<uint8_t>& out, const std::u16string& text) {
  for (char16_t c : text) PutU16(out, c);
  PutU16(out, 0);
}

// Records are written in host order; the packer runs on little-endian hosts.
template <typename Record>
void PutRecord(std::vector<uint8_t>& out, const Record& record) {
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&record);
  out.insert(out.end(), bytes, bytes + sizeof record);
}

}  // namespace

uint64_t PlannedBlockSize(const PackageContents& c) {
  uint64_t size = sizeof(PackageHeader) + uint64_t{sizeof(FileEntry)} * c.Files.size();
  for (const PackageLanguage& l : c.Languages) {
    size += 2;
    for (const std::u16string& s : l.Strings) size += 2 * (s.size() + 1);
  }
  for (const std::u16string& s : c.Config) size += 2 * (s.size() + 1);
  for (const PackageFileEntry& f : c.Files) size += f.Name.size() + 1 + f.Data.size();
  return size;
}

PackageLanguage EnglishLanguage() {
  PackageLanguage english;
  english.LangId = 0x409;
  english.Strings[0] = u"English";
  for (int id = 0; id < TXT_COUNT; ++id)
    english.Strings[1 + id] = Utf8ToUtf16(DefaultEnglishText(static_cast<TextId>(id)));
  return english;
}

std::vector<uint8_t> BuildBlock(const PackageContents& c, BlockLayout* layout,
                                const BlockOverrides& overrides) {
  if (c.Languages.size() > 255)
    throw PackerError("package", "language", "more than 255 languages");
  if (PlannedBlockSize(c) > MAX_BLOCK_SIZE)
    throw PackerError("package", "file", "the package would exceed 2 GiB");

  BlockLayout local;
  BlockLayout& at = layout ? *layout : local;
  at = BlockLayout();
  std::vector<uint8_t> block;
  block.reserve(static_cast<size_t>(PlannedBlockSize(c)));

  PackageHeader header = {};
  header.FileCount = static_cast<uint32_t>(c.Files.size());
  header.OsMask = c.OsMask;
  header.LicenseEntry = c.LicenseEntry;
  header.LanguageCount = static_cast<uint8_t>(c.Languages.size());
  header.ArchMask = c.ArchMask;
  header.Flags = c.HeaderFlags;
  PutRecord(block, overrides.Header ? *overrides.Header : header);

  // The entries need the names' and data's offsets; reserve their room and
  // fill it in once those are known.
  block.resize(block.size() + sizeof(FileEntry) * c.Files.size());

  at.LanguagesAt = static_cast<uint32_t>(block.size());
  for (const PackageLanguage& l : c.Languages) {
    PutU16(block, l.LangId);
    for (const std::u16string& s : l.Strings) PutWide(block, s);
  }
  at.ConfigAt = static_cast<uint32_t>(block.size());
  for (const std::u16string& s : c.Config) PutWide(block, s);

  at.NamesAt = static_cast<uint32_t>(block.size());
  for (const PackageFileEntry& f : c.Files) {
    at.NameOffsets.push_back(static_cast<uint32_t>(block.size()) - at.NamesAt);
    block.insert(block.end(), f.Name.begin(), f.Name.end());
    block.push_back(0);
  }
  // Identical contents are stored twice: the stub writes each entry straight
  // from its own range, and sharing would gain nothing after compression.
  at.DataAt = static_cast<uint32_t>(block.size());
  for (const PackageFileEntry& f : c.Files) {
    at.DataOffsets.push_back(static_cast<uint32_t>(block.size()));
    block.insert(block.end(), f.Data.begin(), f.Data.end());
  }

  for (uint32_t i = 0; i < c.Files.size(); ++i) {
    const PackageFileEntry& f = c.Files[i];
    FileEntry entry = {};
    entry.LastWriteTimeLow = static_cast<uint32_t>(f.LastWriteTime);
    entry.LastWriteTimeHigh = static_cast<uint32_t>(f.LastWriteTime >> 32);
    entry.Flags = f.Flags;
    entry.DataSize = static_cast<uint32_t>(f.Data.size());
    entry.NameOffset = at.NameOffsets[i];
    entry.DataOffset = at.DataOffsets[i];
    auto raw = overrides.Entries.find(i);
    if (raw != overrides.Entries.end()) entry = raw->second;
    memcpy(block.data() + sizeof(PackageHeader) + i * sizeof(FileEntry), &entry, sizeof entry);
  }
  if (overrides.TruncateAt && *overrides.TruncateAt < block.size()) block.resize(*overrides.TruncateAt);
  return block;
}

std::vector<uint8_t> MakeSetupImage(const std::vector<uint8_t>& stub, const std::vector<uint8_t>& block,
                                    const SetupOptions& options) {
  std::vector<uint8_t> packed = CompressBlock(block.data(), block.size(), options.Lzma);
  uint64_t total = uint64_t{stub.size()} + options.ExtraSize + packed.size() + TRAILER_SIZE + options.Slack;
  // The stub reads with 32-bit signed offsets.
  if (total > 0x7FFFFFFFu) throw PackerError("package", "file", "the setup file would reach 2 GiB");

  std::vector<uint8_t> image;
  image.reserve(static_cast<size_t>(total));
  image.insert(image.end(), stub.begin(), stub.end());
  image.resize(image.size() + options.ExtraSize, 0);
  image.insert(image.end(), packed.begin(), packed.end());

  PackageTrailer trailer = {};
  trailer.Checksum = PackageChecksum(block.data(), static_cast<uint32_t>(block.size()));
  if (options.CorruptChecksum) trailer.Checksum ^= 0x01000000u;
  trailer.UnpackedSize = static_cast<uint32_t>(block.size());
  trailer.PackedSize = static_cast<uint32_t>(packed.size());
  trailer.ExtraSize = options.ExtraSize;
  trailer.Magic = TRAILER_MAGIC;
  PutRecord(image, trailer);
  image.resize(image.size() + options.Slack, 0);
  return image;
}
