#include "packer/package_writer.h"

#include <ctype.h>
#include <errno.h>
#include <string.h>

#include <algorithm>
#include <map>

#include "packer/chunked_writer.h"
#include "packer/content_reader.h"
#include "packer/default_texts.h"
#include "packer/packer_error.h"
#include "package/sha256.h"
#include "packer/read_ahead.h"
#include "packer/stub_capabilities.h"
#include "packer/utf16.h"
#include "packer/utf8_paths.h"

namespace {

// Names are stored in slots of a multiple of this many bytes (see PutNames).
enum : size_t { NAME_SLOT_ALIGN = 8 };

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

uint64_t DataSizeOf(const PackageFileEntry& file) { return file.Source.empty() ? file.Data.size() : file.SourceSize; }

uint64_t PlannedBlockSize(const PackageContents& c) {
  uint64_t size = sizeof(PackageHeader) + uint64_t{sizeof(FileEntry)} * c.Files.size();
  for (const PackageLanguage& l : c.Languages) {
    size += 2;
    for (const std::u16string& s : l.Strings) size += 2 * (s.size() + 1);
  }
  for (const std::u16string& s : c.Config) size += 2 * (s.size() + 1);
  // A name's slot is at most twice its length with the terminator, and the
  // first of a run one alignment more.
  for (const PackageFileEntry& f : c.Files) size += 2 * (f.Name.size() + 1) + NAME_SLOT_ALIGN + DataSizeOf(f);
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

namespace {

enum : size_t { READ_CHUNK = 1 << 20 };
// Smaller on the reading thread: its pieces are queued, not its buffer.
enum : size_t { READ_AHEAD_CHUNK = 256 << 10 };

uint64_t ContentHash(const PackageFileEntry& file, std::vector<uint8_t>& buffer) {
  ContentReader reader(file);
  uint64_t crc = 0;
  while (size_t n = reader.Read(buffer.data(), buffer.size())) crc = lzma_crc64(buffer.data(), n, crc);
  return crc;
}

bool SameContents(const PackageFileEntry& a, const PackageFileEntry& b, std::vector<uint8_t>& bufferA,
                  std::vector<uint8_t>& bufferB) {
  ContentReader readA(a), readB(b);
  for (;;) {
    size_t n = readA.Read(bufferA.data(), bufferA.size());
    if (readB.Read(bufferB.data(), n) != n) return false;
    if (n == 0) return true;
    if (memcmp(bufferA.data(), bufferB.data(), n) != 0) return false;
  }
}

// Files of one kind compress best side by side: the kind is the extension,
// case folded, with compiled forms counted as their source's (a module and
// its byte code share every name and string), and the file name up to its
// first dot, so that one catalogue in every language or the licence files of
// many components follow each other.
std::pair<std::string, std::string> KindOf(const std::string& name) {
  size_t slash = name.find_last_of("\\/");
  std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
  for (char& ch : base) ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
  size_t dot = base.find_last_of('.');
  std::string extension = dot == std::string::npos || dot == 0 ? std::string() : base.substr(dot + 1);
  static const std::pair<const char*, const char*> kCompiledFrom[] = {{"pyc", "py"}, {"pyo", "py"}};
  for (const auto& [compiled, source] : kCompiledFrom) {
    if (extension == compiled) extension = source;
  }
  size_t stem = base.find('.', 1);
  return {extension, stem == std::string::npos ? base : base.substr(0, stem)};
}

}  // namespace

DataPlan PlanData(const PackageContents& c) {
  const uint32_t count = static_cast<uint32_t>(c.Files.size());
  DataPlan plan;
  plan.StoredAs.resize(count);
  for (uint32_t i = 0; i < count; ++i) plan.StoredAs[i] = i;

  // Only contents of equal size can be equal: hash those, confirm by bytes.
  std::map<uint64_t, std::vector<uint32_t>> bySize;
  for (uint32_t i = 0; i < count; ++i) {
    if (DataSizeOf(c.Files[i]) != 0) bySize[DataSizeOf(c.Files[i])].push_back(i);
  }
  std::vector<uint8_t> bufferA(READ_CHUNK), bufferB(READ_CHUNK);
  for (const auto& [size, group] : bySize) {
    if (group.size() < 2) continue;
    std::map<uint64_t, std::vector<uint32_t>> byHash;  // hash -> stored copies, in entry order
    for (uint32_t i : group) {
      std::vector<uint32_t>& copies = byHash[ContentHash(c.Files[i], bufferA)];
      for (uint32_t copy : copies) {
        if (SameContents(c.Files[copy], c.Files[i], bufferA, bufferB)) {
          plan.StoredAs[i] = copy;
          break;
        }
      }
      if (plan.StoredAs[i] == i) copies.push_back(i);
    }
  }

  // The data follows the entry table, so that each entry's DataOffset is the
  // previous one's end and the table compresses as well as its sizes allow;
  // only files of a kind that several entries share are drawn together, at
  // the place of the first of them, in the order of their names.
  std::map<std::pair<std::string, std::string>, std::vector<uint32_t>> kinds;
  std::vector<const std::vector<uint32_t>*> kindOf(count, nullptr);
  for (uint32_t i = 0; i < count; ++i) {
    if (plan.StoredAs[i] == i) kinds[KindOf(c.Files[i].Name)].push_back(i);
  }
  for (auto& [kind, members] : kinds) {
    std::stable_sort(members.begin(), members.end(),
                     [&](uint32_t a, uint32_t b) { return c.Files[a].Name < c.Files[b].Name; });
    for (uint32_t i : members) kindOf[i] = &members;
  }
  std::vector<bool> placed(count, false);
  for (uint32_t i = 0; i < count; ++i) {
    if (!kindOf[i] || placed[i]) continue;
    for (uint32_t member : *kindOf[i]) {
      plan.StoreOrder.push_back(member);
      placed[member] = true;
    }
  }
  // The wizard starts from the part of the block before the other data: the
  // licence is stored first, everything else keeps its place.
  if (c.LicenseEntry < count) {
    auto license = std::find(plan.StoreOrder.begin(), plan.StoreOrder.end(), plan.StoredAs[c.LicenseEntry]);
    if (license != plan.StoreOrder.end()) std::rotate(plan.StoreOrder.begin(), license, license + 1);
  }
  return plan;
}

namespace {

std::string FolderOf(const std::string& name) {
  size_t slash = name.find_last_of('\\');
  return slash == std::string::npos ? std::string() : name.substr(0, slash);
}

size_t SlotFor(size_t nameLength) { return (nameLength + 1 + NAME_SLOT_ALIGN - 1) / NAME_SLOT_ALIGN * NAME_SLOT_ALIGN; }

// Appends the names to block in entry order, each in a slot of NUL bytes:
// the entries of one folder get slots of one size, so that one name's folder
// lies at the same distance before the next and both the names and the
// entries' NameOffsets repeat for the encoder. A run of slots ends where its
// padding would outweigh its names. Returns each name's offset from the start
// of the names.
std::vector<uint32_t> PutNames(std::vector<uint8_t>& block, const std::vector<PackageFileEntry>& files) {
  std::vector<uint32_t> offsets;
  const size_t namesAt = block.size();
  for (size_t first = 0; first < files.size();) {
    std::string folder = FolderOf(files[first].Name);
    size_t slot = SlotFor(files[first].Name.size()), used = files[first].Name.size() + 1, end = first + 1;
    for (; end < files.size() && FolderOf(files[end].Name) == folder; ++end) {
      size_t wider = std::max(slot, SlotFor(files[end].Name.size()));
      size_t names = used + files[end].Name.size() + 1;
      if (wider * (end - first + 1) > 2 * names) break;
      slot = wider;
      used = names;
    }
    for (size_t i = first; i < end; ++i) {
      offsets.push_back(static_cast<uint32_t>(block.size() - namesAt));
      block.insert(block.end(), files[i].Name.begin(), files[i].Name.end());
      block.resize(block.size() + slot - files[i].Name.size(), 0);
    }
    first = end;
  }
  return offsets;
}

}  // namespace

std::vector<uint8_t> BuildHead(const PackageContents& c, const DataPlan& plan, BlockLayout& at,
                               uint64_t* blockSize, uint64_t maxBlockSize) {
  if (c.Languages.size() > 255)
    throw PackerError("package", "language", "more than 255 languages");
  if (PlannedBlockSize(c) > maxBlockSize)
    throw PackerError("package", "file", "the package would exceed " + BlockLimitText(maxBlockSize));

  at = BlockLayout();
  std::vector<uint8_t> block;
  PackageHeader header = {};
  header.FileCount = static_cast<uint32_t>(c.Files.size());
  header.OsMask = c.OsMask;
  header.LicenseEntry = c.LicenseEntry;
  header.LanguageCount = static_cast<uint8_t>(c.Languages.size());
  header.ArchMask = c.ArchMask;
  header.Flags = c.HeaderFlags;
  PutRecord(block, header);

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
  at.NameOffsets = PutNames(block, c.Files);

  at.DataAt = static_cast<uint32_t>(block.size());
  at.DataOffsets.assign(c.Files.size(), 0);
  uint64_t offset = block.size();
  for (uint32_t i : plan.StoreOrder) {
    at.DataOffsets[i] = static_cast<uint32_t>(offset);
    offset += DataSizeOf(c.Files[i]);
  }
  *blockSize = offset;
  for (uint32_t i = 0; i < c.Files.size(); ++i) at.DataOffsets[i] = at.DataOffsets[plan.StoredAs[i]];

  for (uint32_t i = 0; i < c.Files.size(); ++i) {
    const PackageFileEntry& f = c.Files[i];
    FileEntry entry = {};
    entry.LastWriteTimeLow = static_cast<uint32_t>(f.LastWriteTime);
    entry.LastWriteTimeHigh = static_cast<uint32_t>(f.LastWriteTime >> 32);
    entry.Flags = f.Flags;
    entry.DataSize = static_cast<uint32_t>(DataSizeOf(f));
    entry.NameOffset = at.NameOffsets[i];
    entry.DataOffset = at.DataOffsets[i];
    memcpy(block.data() + sizeof(PackageHeader) + i * sizeof(FileEntry), &entry, sizeof entry);
  }
  return block;
}

std::string BlockLimitText(uint64_t limit) {
  return std::to_string((limit + 1) >> 30) + " GiB";
}

namespace {

void PutTrailer(std::vector<uint8_t>& out, uint32_t checksum, uint32_t unpacked, uint32_t packed,
                uint32_t extraSize, const SetupOptions& options) {
  PackageTrailer trailer = {};
  trailer.Checksum = options.CorruptChecksum ? checksum ^ 0x01000000u : checksum;
  trailer.UnpackedSize = unpacked;
  trailer.PackedSize = packed;
  trailer.ExtraSize = extraSize;
  trailer.Magic = TRAILER_MAGIC;
  PutRecord(out, trailer);
  out.resize(out.size() + options.Slack, 0);
}

void CheckImageSize(uint64_t stub, uint64_t extra, uint64_t packed, const SetupOptions& options) {
  if (stub + extra + packed + TRAILER_SIZE + options.Slack > MAX_STREAM_FILE_OFFSET)
    throw PackerError("package", "file", "the setup file would reach " + BlockLimitText(MAX_STREAM_FILE_OFFSET));
}

}  // namespace

std::vector<uint8_t> BuildBlock(const PackageContents& c, BlockLayout* layout) {
  DataPlan plan = PlanData(c);
  BlockLayout local;
  uint64_t size = 0;
  std::vector<uint8_t> block = BuildHead(c, plan, layout ? *layout : local, &size);
  block.reserve(static_cast<size_t>(size));
  for (uint32_t i : plan.StoreOrder) {
    ContentReader reader(c.Files[i]);
    size_t at = block.size();
    block.resize(at + DataSizeOf(c.Files[i]));
    reader.Read(block.data() + at, block.size() - at);
    uint8_t probe;
    reader.Read(&probe, 1);
  }
  return block;
}

PackedSizes WritePackage(FILE* out, const std::vector<uint8_t>& stub, const std::vector<uint8_t>& record,
                         uint64_t blockSize, const SetupOptions& options, const PackProgress& progress,
                         const std::function<void(const ByteFeed& feed)>& produce,
                         const std::vector<uint8_t>& head) {
  Sha256 region;
  Sha256Init(&region);
  bool hashing = false;
  auto write = [out, &region, &hashing](const uint8_t* bytes, size_t size) {
    if (size && fwrite(bytes, 1, size, out) != size) throw PackerError("output", "", "cannot write");
    // Pieces are far below 4 GiB: the encoder's output and the records.
    if (hashing) Sha256Add(&region, bytes, static_cast<uint32_t>(size));
  };
  write(stub.data(), stub.size());
  hashing = true;
  std::vector<uint8_t> extra(head);
  extra.resize(extra.size() + options.ExtraSize, 0);
  extra.insert(extra.end(), record.begin(), record.end());
  write(extra.data(), extra.size());
  const uint64_t before = stub.size() + extra.size();

  BlockEncoder encoder(options.Lzma, blockSize, write);
  uint64_t done = 0;
  uint32_t checksum = 0;
  produce([&](const uint8_t* bytes, size_t size) {
    checksum += PackageChecksum(bytes, static_cast<uint32_t>(size));
    encoder.Add(bytes, size);
    done += size;
    if (progress) progress(done, blockSize, before + encoder.Written());
  });
  encoder.Finish();
  CheckImageSize(stub.size(), extra.size(), encoder.Written(), options);

  std::vector<uint8_t> trailer;
  PutTrailer(trailer, checksum, static_cast<uint32_t>(blockSize), static_cast<uint32_t>(encoder.Written()),
             static_cast<uint32_t>(extra.size()), options);
  write(trailer.data(), TRAILER_SIZE);
  hashing = false;
  write(trailer.data() + TRAILER_SIZE, trailer.size() - TRAILER_SIZE);
  uint64_t slot;
  if (FindPackageHashSlot(stub, &slot)) {
    uint8_t digest[SHA256_SIZE];
    Sha256Finish(&region, digest);
    const uint64_t end = before + encoder.Written() + trailer.size();
    if (fseeko(out, static_cast<off_t>(slot), SEEK_SET) != 0 || fwrite(digest, 1, SHA256_SIZE, out) != SHA256_SIZE ||
        fseeko(out, static_cast<off_t>(end), SEEK_SET) != 0)
      throw PackerError("output", "", "cannot write");
  }
  if (progress) progress(done, blockSize, before + encoder.Written() + trailer.size());
  return {static_cast<uint32_t>(encoder.Written()), static_cast<uint32_t>(blockSize)};
}

PackedSizes WriteSetupFile(FILE* out, const std::vector<uint8_t>& stub, const PackageContents& c,
                           const SetupOptions& options, const PackProgress& progress) {
  // Before PlanData reads files of equal sizes to compare them.
  const uint64_t maxBlockSize = options.ChunkSize ? uint64_t{MAX_CHUNKED_BLOCK_SIZE} : uint64_t{MAX_STREAM_BLOCK_SIZE};
  if (PlannedBlockSize(c) > maxBlockSize)
    throw PackerError("package", "file", "the package would exceed " + BlockLimitText(maxBlockSize));
  DataPlan plan = PlanData(c);
  BlockLayout layout;
  uint64_t blockSize = 0;
  // The prefix: the head and the licence's data, which PlanData stores first.
  // With 100,000 entries the head is megabytes, so it is built once, at its
  // final size, and freed once fed, before the encoder is at its largest.
  std::vector<uint8_t> prefix =
      BuildHead(c, plan, layout, &blockSize, maxBlockSize);
  if (options.ChunkSize && blockSize > options.ChunkSize) {
    std::vector<uint8_t>().swap(prefix);
    return WriteChunkedSetupFile(out, stub, c, options, progress);
  }
  const uint32_t licenseStored = c.LicenseEntry < c.Files.size() ? plan.StoredAs[c.LicenseEntry] : UINT32_MAX;
  if (licenseStored != UINT32_MAX) {
    ContentReader reader(c.Files[licenseStored]);
    size_t headSize = prefix.size();
    prefix.reserve(headSize + DataSizeOf(c.Files[licenseStored]));
    prefix.resize(headSize + DataSizeOf(c.Files[licenseStored]));
    reader.Read(prefix.data() + headSize, prefix.size() - headSize);
    uint8_t probe;
    reader.Read(&probe, 1);
  }
  std::vector<uint8_t> record;
  if (options.PrefixRecord) {
    PrefixRecord r = {PREFIX_MAGIC, static_cast<uint32_t>(prefix.size()),
                      lzma_crc32(prefix.data(), prefix.size(), 0)};
    PutRecord(record, r);
  }
  return WritePackage(
      out, stub, record, blockSize, options, progress, [&](const ByteFeed& feed) {
    feed(prefix.data(), prefix.size());
    std::vector<uint8_t>().swap(prefix);
    ReadAhead(
        [&](const ByteFeed& ahead) {
          std::vector<uint8_t> buffer(READ_AHEAD_CHUNK);
          for (uint32_t i : plan.StoreOrder) {
            if (i == licenseStored) continue;
            ContentReader reader(c.Files[i]);
            while (size_t n = reader.Read(buffer.data(), buffer.size())) ahead(buffer.data(), n);
          }
        },
        feed);
  }, QuietArgsRecordBytes(c.QuietUninstallArgs));
}

std::vector<uint8_t> QuietArgsRecordBytes(const std::u16string& arguments) {
  std::vector<uint8_t> bytes;
  if (arguments.empty()) return bytes;
  std::vector<uint8_t> text;
  for (char16_t unit : arguments) {
    text.push_back(static_cast<uint8_t>(unit));
    text.push_back(static_cast<uint8_t>(unit >> 8));
  }
  text.resize(text.size() + sizeof(char16_t), 0);
  QuietArgsRecord r = {QUIET_ARGS_MAGIC, static_cast<uint32_t>(text.size()), lzma_crc32(text.data(), text.size(), 0)};
  PutRecord(bytes, r);
  bytes.insert(bytes.end(), text.begin(), text.end());
  return bytes;
}
