#include "packer/package_listing.h"

#include <stdio.h>
#include <string.h>

#include <nlohmann/json.hpp>

#include <vector>

#include "env/localised_strings.h"
#include "package/package_loader.h"
#include "package/sha256.h"
#include "package/system_class.h"
#include "packer/default_texts.h"
#include "packer/mask_names.h"
#include "packer/parallel_load.h"
#include "packer/quoted_text.h"
#include "packer/setup_file_source.h"
#include "packer/stub_capabilities.h"
#include "packer/utf16.h"

namespace {

const char* const kConfigNames[CFG_COUNT] = {
    "ProductName",       "ProductVersion",     "MainProgram",   "LaunchCommand",
    "RunningMutex",      "RunningWindowClass", "RunningWindowTitle", "PublisherName",
    "DefaultInstallDir", "ConfigureArgs",      "UninstallArgs", "UnsupportedOsTarget",
};

// Whether configuration string c is one the loader made up, not the package's.
bool IsDefaultedConfig(const LoadedPackage& p, int c) { return c == CFG_MAIN_PROGRAM && p.MainProgramDefaulted; }

std::string Hex(uint32_t value, int digits) {
  char text[16];
  snprintf(text, sizeof text, "0x%0*X", digits, value);
  return text;
}

std::string QuoteWide(const WChar* text) { return QuotedText(Utf16ToUtf8(std::u16string(text))); }

void CivilFromDays(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}

// The prefix record as the loader reads it. Only a package that loaded is
// listed, and the loader verified the record's CRC-32 then: the block itself
// can no longer tell, as its entries' flags are normalised in place.
struct PrefixInfo {
  PrefixRecordState State;
  PrefixRecord Record;
  uint32_t Offset;
};

PrefixInfo ReadPrefixInfo(const PackageSource& source, const TrailerLocation& located) {
  PrefixInfo info = {};
  info.State = ReadPrefixRecord(&source, &located, &info.Record);
  info.Offset = PackedOffset(&located) - static_cast<uint32_t>(sizeof(PrefixRecord));
  return info;
}

// The package hash bound to the stub's image, and whether the package region
// has it. Absent when the image has no slot or an all-zero one.
struct BoundHashInfo {
  bool Present;
  uint64_t Offset;  // of the slot
  uint8_t Hash[SHA256_SIZE];
  bool Matches;
};

std::string HexBytes(const uint8_t* bytes, size_t size) {
  std::string text;
  for (size_t i = 0; i < size; ++i) {
    char pair[3];
    snprintf(pair, sizeof pair, "%02x", bytes[i]);
    text += pair;
  }
  return text;
}

// The image is what lies before the package region; a slot beyond its first
// 16 MiB (far beyond any stub) counts as none.
BoundHashInfo ReadBoundHash(const PackageSource& source, const TrailerLocation& located) {
  BoundHashInfo info = {};
  uint32_t start;
  if (!PackageRegionStart(&located, &start)) return info;
  std::vector<uint8_t> image(start < (16u << 20) ? start : 16u << 20);
  image.resize(source.Read(source.Context, 0, image.data(), static_cast<uint32_t>(image.size())));
  if (!FindPackageHashSlot(image, &info.Offset)) return info;
  memcpy(info.Hash, image.data() + info.Offset, SHA256_SIZE);
  for (uint8_t byte : info.Hash) info.Present |= byte != 0;
  if (!info.Present) return info;
  Sha256 sha;
  Sha256Init(&sha);
  std::vector<uint8_t> chunk(1 << 20);
  for (uint32_t at = start, end = PackageRegionEnd(&located); at < end;) {
    uint32_t want = end - at < chunk.size() ? end - at : static_cast<uint32_t>(chunk.size());
    if (source.Read(source.Context, at, chunk.data(), want) != want) return info;
    Sha256Add(&sha, chunk.data(), want);
    at += want;
  }
  uint8_t digest[SHA256_SIZE];
  Sha256Finish(&sha, digest);
  info.Matches = memcmp(digest, info.Hash, SHA256_SIZE) == 0;
  return info;
}

// located: the trailer of the package p, which loaded.
void PrintPackage(const LoadedPackage& p, const PackageSource& source, const TrailerLocation& located,
                  const BoundHashInfo& bound, const std::vector<ChunkRecord>& chunks, std::ostream& out) {
  const PackageTrailer& trailer = located.Trailer;
  out << "trailer: offset " << located.TrailerAt << ", checksum " << Hex(trailer.Checksum, 8) << ", unpacked "
      << trailer.UnpackedSize << ", packed " << trailer.PackedSize << ", extra " << trailer.ExtraSize << ", slack "
      << TrailerSlack(&located) << "\n";
  out << "certificate table: " << (source.CertificateOffset ? std::to_string(source.CertificateOffset) : "none")
      << "\n";
  PrefixInfo prefix = ReadPrefixInfo(source, located);
  if (prefix.State == PREFIX_NONE) out << "prefix record: none\n";
  else
    out << "prefix record: offset " << prefix.Offset << ", prefix " << prefix.Record.PrefixSize << " bytes, crc32 "
        << Hex(prefix.Record.PrefixCrc, 8) << "\n";
  out << "quiet uninstall args: " << (p.QuietUninstallArgs ? QuoteWide(p.QuietUninstallArgs) : "none") << "\n";
  if (chunks.empty()) out << "chunks: none (one stream)\n";
  else out << "chunks: " << chunks.size() << "\n";
  for (size_t i = 0; i < chunks.size(); ++i) {
    const ChunkRecord& c = chunks[i];
    out << "  " << i << ": packed " << c.PackedSize << " at " << c.PackedOffset << ", unpacked " << c.UnpackedSize
        << " at " << c.UnpackedOffset << ", crc32 " << Hex(c.Crc, 8) << ((c.Flags & CHUNK_STORED) ? ", stored" : "")
        << "\n";
  }
  if (!bound.Present) out << "bound hash: none\n";
  else
    out << "bound hash: " << HexBytes(bound.Hash, SHA256_SIZE) << " ("
        << (bound.Matches ? "matches" : "does not match") << ")\n";

  const PackageHeader& h = *p.Header;
  out << "header: files " << h.FileCount << ", languages " << unsigned{h.LanguageCount} << ", os "
      << DescribeOsMask(h.OsMask, HEADER_OS_ALL) << " (" << Hex(h.OsMask, 4) << "), arch "
      << DescribeArchMask(h.ArchMask, HEADER_ARCH_ALL) << " (" << Hex(h.ArchMask, 2) << "), flags " << Hex(h.Flags, 2)
      << ((h.Flags & PH_REGISTRY_64) ? " registry_64" : "") << ((h.Flags & PH_UTF8_NAMES) ? " utf8_names" : "")
      << ", licence ";
  if (h.LicenseEntry == NO_LICENSE_ENTRY) out << "none\n";
  else out << "entry " << h.LicenseEntry << " " << QuotedText(p.NamesArea + p.Entries[h.LicenseEntry].NameOffset) << "\n";
  out << "data total: " << p.ApplicableTotal << " bytes\n";

  out << "entries:\n";
  for (uint32_t i = 0; i < h.FileCount; ++i) {
    const FileEntry& e = p.Entries[i];
    uint64_t time = uint64_t{e.LastWriteTimeHigh} << 32 | e.LastWriteTimeLow;
    out << "  " << i << ": " << QuotedText(p.NamesArea + e.NameOffset) << " flags " << Hex(e.Flags, 8) << " "
        << DescribeEntryFlags(e.Flags) << ", size " << e.DataSize << ", offset " << e.DataOffset << ", time "
        << FormatFileTime(time) << "\n";
  }

  out << "languages:\n";
  for (uint32_t l = 0; l < h.LanguageCount; ++l) {
    const LanguageEntry& language = p.Languages[l];
    out << "  " << l << ": " << Hex(language.LangId, 4) << " " << QuoteWide(language.Strings[0])
        << (IsRightToLeft(language.LangId, language.Strings[0]) ? " right to left\n" : "\n");
    for (int t = 0; t < TXT_COUNT; ++t)
      out << "    " << TextIdName(static_cast<TextId>(t)) << " = " << QuoteWide(language.Strings[1 + t]) << "\n";
  }

  out << "config:\n";
  for (int c = 0; c < CFG_COUNT; ++c) {
    out << "  " << kConfigNames[c] << " = ";
    const WChar* value = p.Config[c];
    if (!value) out << "(absent)\n";
    else if (IsDefaultedConfig(p, c)) out << QuoteWide(value) << " (default)\n";
    else out << QuoteWide(value) << "\n";
  }
}

using Json = nlohmann::ordered_json;

// The systems a mask admits, by name; 0 admits every system.
template <size_t N>
Json MaskNames(uint32_t mask, const NamedBit (&names)[N]) {
  Json list = Json::array();
  for (const NamedBit& n : names) {
    if (mask == 0 || (mask & n.Bit)) list.push_back(n.Name);
  }
  return list;
}

Json WideJson(const WChar* text) { return text ? Json(Utf16ToUtf8(std::u16string(text))) : Json(nullptr); }

// The members before the entries.
Json HeadJson(const std::string& path, const PackageSource& source, bool isPe, const TrailerLocation& located,
              const BoundHashInfo& bound, const std::vector<ChunkRecord>& chunks, const LoadedPackage& p) {
  Json doc;
  doc["setup_file"] = {{"path", path}, {"size", source.FileSize}, {"pe_image", isPe}};
  const PackageTrailer& trailer = located.Trailer;
  Json t = {{"offset", located.TrailerAt},
            {"checksum", trailer.Checksum},
            {"unpacked_size", trailer.UnpackedSize},
            {"packed_size", trailer.PackedSize},
            {"extra_size", trailer.ExtraSize},
            {"slack", TrailerSlack(&located)}};
  uint8_t properties[5];
  if (trailer.PackedSize >= 5 && source.Read(source.Context, PackedOffset(&located), properties, 5) == 5) {
    t["properties"] = properties[0];
    t["dictionary"] = uint32_t{properties[1]} | uint32_t{properties[2]} << 8 | uint32_t{properties[3]} << 16 |
                      uint32_t{properties[4]} << 24;
  }
  // Where the parts lie, so that scripts need not search for the magic.
  t["magic_offset"] = MagicOffset(&located);
  t["packed_offset"] = PackedOffset(&located);
  t["package_end"] = located.End;
  doc["trailer"] = t;
  doc["certificate_table"] = source.CertificateOffset ? Json(source.CertificateOffset) : Json(nullptr);
  PrefixInfo prefix = ReadPrefixInfo(source, located);
  if (prefix.State == PREFIX_NONE)
    doc["prefix_record"] = nullptr;
  else
    doc["prefix_record"] = {{"offset", prefix.Offset},
                            {"prefix_size", prefix.Record.PrefixSize},
                            {"crc32", prefix.Record.PrefixCrc}};
  if (!bound.Present)
    doc["bound_hash"] = nullptr;
  else
    doc["bound_hash"] = {{"offset", bound.Offset},
                         {"sha256", HexBytes(bound.Hash, SHA256_SIZE)},
                         {"matches", bound.Matches}};
  doc["quiet_uninstall_args"] = WideJson(p.QuietUninstallArgs);
  // Offsets from the compressed block's start and in the unpacked block;
  // null for a package of one stream.
  Json list = chunks.empty() ? Json(nullptr) : Json::array();
  for (const ChunkRecord& c : chunks)
    list.push_back({{"packed_offset", c.PackedOffset},
                    {"packed_size", c.PackedSize},
                    {"unpacked_offset", c.UnpackedOffset},
                    {"unpacked_size", c.UnpackedSize},
                    {"crc32", c.Crc},
                    {"stored", (c.Flags & CHUNK_STORED) != 0}});
  doc["chunks"] = list;

  const PackageHeader& h = *p.Header;
  Json header = {{"files", h.FileCount},
                 {"languages", h.LanguageCount},
                 {"os_mask", h.OsMask},
                 {"os", MaskNames(h.OsMask, kOsNames)},
                 {"arch_mask", h.ArchMask},
                 {"arch", MaskNames(h.ArchMask, kArchNames)},
                 {"flags", h.Flags},
                 {"registry_64", (h.Flags & PH_REGISTRY_64) != 0},
                 {"utf8_names", (h.Flags & PH_UTF8_NAMES) != 0}};
  if (h.LicenseEntry == NO_LICENSE_ENTRY) {
    header["license_entry"] = nullptr;
  } else {
    header["license_entry"] = h.LicenseEntry;
    header["license_name"] = p.NamesArea + p.Entries[h.LicenseEntry].NameOffset;
  }
  doc["header"] = header;
  doc["data_total"] = p.ApplicableTotal;
  return doc;
}

Json EntryJson(const LoadedPackage& p, uint32_t i) {
  const FileEntry& e = p.Entries[i];
  uint64_t time = uint64_t{e.LastWriteTimeHigh} << 32 | e.LastWriteTimeLow;
  return {{"index", i},
          {"name", p.NamesArea + e.NameOffset},
          {"flags", e.Flags},
          {"os", MaskNames(EntryOsMask(e.Flags), kOsNames)},
          {"arch", MaskNames(EntryArchMask(e.Flags), kArchNames)},
          {"no_extract", (e.Flags & FE_NO_EXTRACT) != 0},
          {"replace_locked", (e.Flags & FE_REPLACE_LOCKED) != 0},
          {"size", e.DataSize},
          {"offset", e.DataOffset},
          {"time", FormatFileTime(time)},
          {"filetime", time}};
}

// The members after the entries.
Json TailJson(const LoadedPackage& p) {
  const PackageHeader& h = *p.Header;
  Json doc;
  Json languages = Json::array();
  for (uint32_t l = 0; l < h.LanguageCount; ++l) {
    const LanguageEntry& language = p.Languages[l];
    Json texts = Json::object();
    for (int t = 0; t < TXT_COUNT; ++t) texts[TextIdName(static_cast<TextId>(t))] = WideJson(language.Strings[1 + t]);
    languages.push_back({{"id", language.LangId},
                         {"name", WideJson(language.Strings[0])},
                         {"rtl", IsRightToLeft(language.LangId, language.Strings[0])},
                         {"texts", texts}});
  }
  doc["languages"] = languages;

  // null: absent; MainProgram made up by the loader is listed with the
  // other defaults.
  Json config = Json::object();
  Json defaults = Json::array();
  for (int c = 0; c < CFG_COUNT; ++c) {
    const WChar* value = p.Config[c];
    config[kConfigNames[c]] = WideJson(value);
    if (IsDefaultedConfig(p, c)) defaults.push_back(kConfigNames[c]);
  }
  doc["config"] = config;
  doc["config_defaults"] = defaults;
  return doc;
}

// value as dump(2) writes it depth spaces in. Names without PH_UTF8_NAMES
// are 8-bit in an unknown code page: bytes that are not UTF-8 become U+FFFD
// rather than making the document invalid.
std::string Nested(const Json& value, int depth) {
  std::string text = value.dump(2, ' ', false, Json::error_handler_t::replace);
  std::string indented;
  for (char c : text) {
    indented += c;
    if (c == '\n') indented.append(depth, ' ');
  }
  return indented;
}

void WriteMembers(const Json& members, bool* first, std::ostream& out) {
  for (const auto& [key, value] : members.items()) {
    out << (*first ? "{\n  " : ",\n  ") << Json(key).dump() << ": " << Nested(value, 2);
    *first = false;
  }
}

// The document dump(2) would write, but with the entries written one at a
// time: a few hundred bytes of package can list a hundred thousand entries,
// which as one document in memory took close to a gigabyte.
void WritePackageJson(const std::string& path, const PackageSource& source, bool isPe,
                      const TrailerLocation& located, const BoundHashInfo& bound,
                      const std::vector<ChunkRecord>& chunks, const LoadedPackage& p, std::ostream& out) {
  bool first = true;
  WriteMembers(HeadJson(path, source, isPe, located, bound, chunks, p), &first, out);
  out << ",\n  \"entries\": [";
  for (uint32_t i = 0; i < p.Header->FileCount; ++i) out << (i ? ",\n    " : "\n    ") << Nested(EntryJson(p, i), 4);
  out << (p.Header->FileCount ? "\n  ]" : "]");
  WriteMembers(TailJson(p), &first, out);
  out << "\n}\n";
}

}  // namespace

std::string DescribeEntryFlags(uint32_t flags) {
  std::string text = "os=" + DescribeOsMask(EntryOsMask(flags), ENTRY_OS_ALL) +
                     " arch=" + DescribeArchMask(EntryArchMask(flags), ENTRY_ARCH_ALL);
  if (flags & FE_NO_EXTRACT) text += " no_extract";
  if (flags & FE_REPLACE_LOCKED) text += " replace_locked";
  uint32_t other = flags & ~(FE_OS_MASK | FE_ARCH_MASK | FE_NO_EXTRACT | FE_REPLACE_LOCKED);
  if (other) text += " other=" + Hex(other, 8);
  return text;
}

std::string FormatFileTime(uint64_t fileTime) {
  const int64_t kEpochDifference = 11644473600;
  int64_t seconds = static_cast<int64_t>(fileTime / 10000000u) - kEpochDifference;
  uint32_t fraction = static_cast<uint32_t>(fileTime % 10000000u);
  int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
  int64_t rest = seconds - days * 86400;
  int64_t year;
  unsigned month, day;
  CivilFromDays(days, &year, &month, &day);
  char text[64];
  snprintf(text, sizeof text, "%04lld-%02u-%02uT%02u:%02u:%02u", static_cast<long long>(year), month, day,
           static_cast<unsigned>(rest / 3600), static_cast<unsigned>(rest / 60 % 60),
           static_cast<unsigned>(rest % 60));
  std::string out = text;
  if (fraction) {
    snprintf(text, sizeof text, ".%07u", fraction);
    out += text;
  }
  return out + "Z";
}

int InspectPackage(const std::string& path, const PackageSource& source, bool isPe, std::ostream& out,
                   std::ostream& err, bool json) {
  LoadedPackage package;
  // Every class bit set: the loader then counts every entry as applicable.
  std::vector<ChunkRecord> chunks;
  LoadResult result = LoadPackageInParallel(&source, OS_EVERY, ARCH_EVERY, &package, &chunks);
  if (result != LOAD_OK) {
    err << QuotedText(path) << ": no valid package: " << LoadResultText(result) << "\n";
    return 1;
  }
  // The loader keeps no copy of the trailer; it found it just so.
  TrailerLocation located;
  LocateTrailer(&source, &located);
  BoundHashInfo bound = ReadBoundHash(source, located);
  if (json) {
    WritePackageJson(path, source, isPe, located, bound, chunks, package, out);
  } else {
    out << "setup file: " << QuotedText(path) << " (" << source.FileSize << " bytes"
        << (isPe ? ", PE image" : ", not a PE image") << ")\n";
    PrintPackage(package, source, located, bound, chunks, out);
  }
  FreeLoadedPackage(&package);
  // Listed, but the stub refuses it: a file inspect accepts is one the stub accepts.
  if (bound.Present && !bound.Matches) {
    err << QuotedText(path) << ": the package is not the one bound to the stub; setup refuses it as damaged\n";
    return 1;
  }
  return 0;
}

bool BoundHashAdmits(const PackageSource& source) {
  TrailerLocation located;
  if (LocateTrailer(&source, &located) != LOAD_OK) return false;
  BoundHashInfo bound = ReadBoundHash(source, located);
  return !bound.Present || bound.Matches;
}

int InspectSetupFile(const std::string& path, std::ostream& out, std::ostream& err, bool json) {
  SetupFileSource file(path);
  return InspectPackage(path, file.Source(), file.IsPeImage(), out, err, json);
}
