#include "packer/commands.h"

#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include <nlohmann/json.hpp>

#include "package/package_loader.h"
#include "package/pe_layout.h"
#include "packer/default_texts.h"
#include "packer/package_extract.h"
#include "packer/stub_capabilities.h"
#include "packer/utf8_paths.h"
#include "resources/stub_capabilities.h"
#include "packer/package_listing.h"
#include "packer/manifest.h"
#include "packer/mask_names.h"
#include "packer/packer_error.h"
#include "packer/product_files.h"
#include "packer/shipped_languages.h"
#include "packer/winget_manifests.h"

namespace {

const char kUsage[] =
    "usage: packer build --manifest M.toml --product-dir DIR --stub STUB.exe --output SETUP.exe\n"
    "                    [--end-marker] [--properties N] [--dictionary N] [--extra-size N]\n"
    "                    [--slack N] [--corrupt-checksum] [--no-prefix-record] [--level N] [--quiet]\n"
    "                    [--chunk-size SIZE] [--threads N]\n"
    "       packer inspect [--json] SETUP.exe\n"
    "       packer extract SETUP.exe DIR [--os NAME] [--arch NAME] [--max-total BYTES]\n"
    "       packer languages [--json]\n"
    "       packer winget SETUP.exe --url URL [--id ID] [--output DIR] [--description TEXT] [--license TEXT]\n"
    "       packer help | --help | --version\n"
    "\"packer COMMAND --help\" describes a command.\n";

const char kBuildHelp[] =
    "usage: packer build --manifest M.toml --product-dir DIR --stub STUB.exe --output SETUP.exe [OPTION]...\n"
    "Packs the product folder DIR as the manifest describes and appends it to the stub.\n"
    "The output appears only when everything succeeded.\n"
    "\n"
    "  --manifest M.toml    the manifest\n"
    "  --product-dir DIR    the folder the manifest's sources are relative to\n"
    "  --stub STUB.exe      the unsigned setup stub\n"
    "  --output SETUP.exe   the setup file to write (sign it afterwards)\n"
    "  --end-marker         end the compressed stream with an end marker\n"
    "  --properties N       LZMA properties byte, instead of [compression] properties\n"
    "  --dictionary N       dictionary size, instead of [compression] dictionary\n"
    "  --level N            0 (fastest) to 9 (smallest), instead of [compression] level\n"
    "  --quiet              no progress line on a terminal\n"
    "  --chunk-size SIZE    cut a larger block into chunks of SIZE bytes (K, M, G:\n"
    "                       binary multiples; default 32M, at most 1G) that the stub\n"
    "                       decodes on several threads; 0 writes one stream\n"
    "  --threads N          compress on N threads (default: one per processor);\n"
    "                       the setup file is the same whatever N is\n"
    "For tests: --extra-size N, --slack N (zero bytes before the prefix record, after\n"
    "the trailer), --corrupt-checksum, --no-prefix-record (a package as older packers\n"
    "wrote it). Numbers are decimal or 0x hex.\n"
    "Exit codes: 0 done, 2 error (one line on stderr).\n";

const char kInspectHelp[] =
    "usage: packer inspect [--json] SETUP.exe\n"
    "Loads the setup file with the stub's own loader and prints the trailer, the\n"
    "header, every entry, every language with its texts and the configuration\n"
    "strings; with --json, all of it as one JSON document.\n"
    "Exit codes: 0 done, 1 no valid package, 2 error.\n";

const char kExtractHelp[] =
    "usage: packer extract SETUP.exe DIR [--os NAME] [--arch NAME] [--max-total BYTES]\n"
    "Writes the files the setup file installs into DIR, with their stored times,\n"
    "after the checks the stub makes. Without --os and --arch: every entry; later\n"
    "entries of the same name replace earlier ones, as in an installation.\n"
    "\n"
    "  --os NAME     win2000, xp, vista, win7, win8, win10 or win11+\n"
    "  --arch NAME   x86, x64 or arm64\n"
    "  --max-total BYTES  refuse, before writing anything, files that together\n"
    "                hold more (entries may share their data); default 4 GiB\n"
    "Exit codes: 0 done, 1 no valid package or a system the package refuses, 2 error.\n";

const char kLanguagesHelp[] =
    "usage: packer languages [--json]\n"
    "Lists the translations of the wizard's texts that the packer ships, one a\n"
    "line: tag, LANGID, own name, English name and further tags, separated by\n"
    "tabs. A manifest names them in its languages list by any of the tags or by\n"
    "the LANGID. With --json, all of them with their texts as one JSON document.\n"
    "Exit codes: 0 done, 2 error.\n";

const char kWingetHelp[] =
    "usage: packer winget SETUP.exe --url URL [--id ID] [--output DIR] [--description TEXT] [--license TEXT]\n"
    "Writes the winget manifests (schema 1.10.0) for the setup file: ID.yaml,\n"
    "ID.installer.yaml and ID.locale.en-US.yaml, one installer for each\n"
    "architecture the package admits.\n"
    "\n"
    "  --url URL           where winget downloads the setup file (https)\n"
    "  --id ID             PackageIdentifier; default Publisher.Product from the\n"
    "                      package's names without the characters winget refuses\n"
    "  --output DIR        the folder to write into (made when missing); default .\n"
    "  --description TEXT  ShortDescription; default the product name\n"
    "  --license TEXT      License; default Proprietary\n"
    "Exit codes: 0 done, 2 error (no valid package, a bad option).\n";

void ListShippedLanguages(std::ostream& out, bool json) {
  if (!json) {
    for (size_t i = 0; i < kShippedLanguageCount; ++i) {
      const ShippedLanguage& l = kShippedLanguages[i];
      char id[8];
      snprintf(id, sizeof id, "0x%04X", static_cast<unsigned>(l.LangId));
      std::string others = OtherTags(l);
      out << CanonicalTag(l) << '\t' << id << '\t' << l.NativeName << '\t' << l.EnglishName
          << (others.empty() ? "" : "\t" + others) << '\n';
    }
    return;
  }
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (size_t i = 0; i < kShippedLanguageCount; ++i) {
    const ShippedLanguage& l = kShippedLanguages[i];
    nlohmann::ordered_json texts = nlohmann::ordered_json::object();
    for (int t = 0; t < TXT_COUNT; ++t) texts[TextIdName(static_cast<TextId>(t))] = ShippedText(l, static_cast<TextId>(t));
    std::string others = OtherTags(l);
    nlohmann::ordered_json tags = nlohmann::ordered_json::array({CanonicalTag(l)});
    for (size_t at = 0; at < others.size();) {
      size_t end = std::min(others.find(' ', at), others.size());
      tags.push_back(others.substr(at, end - at));
      at = end + 1;
    }
    list.push_back({{"tag", CanonicalTag(l)}, {"tags", tags}, {"id", l.LangId}, {"name", l.NativeName},
                    {"english_name", l.EnglishName}, {"texts", texts}});
  }
  out << list.dump(2) << "\n";
}

bool IsHelp(const std::string& arg) { return arg == "--help" || arg == "-h"; }

template <size_t N>
uint32_t ParseSystemName(const std::string& option, const std::string& text, const NamedBit (&names)[N]) {
  for (const NamedBit& n : names) {
    if (text == n.Name) return n.Bit;
  }
  throw PackerError("command line", option, "unknown name \"" + text + "\"; known names: " + NameList(names));
}

uint64_t ParseNumber(const std::string& option, const std::string& text, uint64_t max);

// A number with an optional K, M or G (binary multiples).
uint64_t ParseSize(const std::string& option, const std::string& text, uint64_t max) {
  const std::string units = "KMG";
  size_t unit = text.empty() ? std::string::npos : units.find(static_cast<char>(toupper(static_cast<unsigned char>(text.back()))));
  if (unit == std::string::npos) return ParseNumber(option, text, max);
  uint64_t value = ParseNumber(option, text.substr(0, text.size() - 1), max >> (10 * (unit + 1)));
  return value << (10 * (unit + 1));
}

uint64_t ParseNumber(const std::string& option, const std::string& text, uint64_t max) {
  errno = 0;
  char* end = nullptr;
  unsigned long long value = strtoull(text.c_str(), &end, 0);
  if (text.empty() || text[0] == '-' || *end != 0 || errno != 0 || value > max)
    throw PackerError("command line", option, "must be a number from 0 to " + std::to_string(max));
  return value;
}

ExtractRequest ParseExtractArguments(const std::vector<std::string>& args) {
  ExtractRequest request;
  std::vector<std::string> positional;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& option = args[i];
    auto value = [&]() -> const std::string& { return OptionValue(args, &i); };
    if (option == "--os") request.OsClass = ParseSystemName(option, value(), kOsNames);
    else if (option == "--arch") request.ArchClass = ParseSystemName(option, value(), kArchNames);
    else if (option == "--max-total") request.MaxTotal = ParseNumber(option, value(), UINT64_MAX);
    else if (option.size() > 1 && option[0] == '-') throw PackerError("command line", option, "unknown option");
    else positional.push_back(option);
  }
  if (positional.size() != 2) throw PackerError("command line", "extract", "needs SETUP.exe and DIR");
  request.SetupFile = positional[0];
  request.Dir = positional[1];
  return request;
}

// PackedSize + UnpackedSize + dictionary is about what the stub's loader
// holds at once; above 1.5 GiB a 32-bit process seldom finds that much.
void WarnAboutLargeSetupFile(const std::string& path, const PackedSizes& sizes, uint32_t dictionary,
                             std::ostream& err) {
  uint64_t total = uint64_t{sizes.Packed} + sizes.Unpacked + dictionary;
  if (total > (uint64_t{3} << 29))
    err << "warning: " << path << ": packed " << sizes.Packed << " + unpacked " << sizes.Unpacked
        << " + dictionary " << dictionary << " bytes exceed 1.5 GiB: "
        << "such a setup file needs a 64-bit Windows to install\n";
}

std::string Megabytes(uint64_t bytes) {
  char text[32];
  snprintf(text, sizeof text, "%.1f MB", bytes / 1e6);
  return text;
}

// One status line on a terminal, rewritten a few times a second and
// erased at the end, so that nothing of it stays in the scrollback.
class ProgressLine {
 public:
  explicit ProgressLine(bool shown) : shown_(shown), start_(Now()) {}
  ~ProgressLine() {
    if (drawn_) fputs("\r\033[K", stderr);
  }
  void Update(uint64_t done, uint64_t total, uint64_t written) {
    if (!shown_) return;
    double now = Now(), elapsed = now - start_;
    if (drawn_ && now - last_ < 0.25) return;
    last_ = now;
    double speed = elapsed > 0 ? done / elapsed : 0;
    std::string left = "estimating";
    if (elapsed >= 0.5 && speed > 0) {
      int seconds = static_cast<int>((total - done) / speed);
      left = std::to_string(seconds / 60) + ":" + (seconds % 60 < 10 ? "0" : "") + std::to_string(seconds % 60) + " left";
    }
    fprintf(stderr, "\r\033[Kread %s of %s (%d%%), written %s, %.1f MB/s, %s", Megabytes(done).c_str(),
            Megabytes(total).c_str(), total ? static_cast<int>(done * 100 / total) : 100, Megabytes(written).c_str(),
            speed / 1e6, left.c_str());
    fflush(stderr);
    drawn_ = true;
  }

 private:
  static double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
  }
  bool shown_, drawn_ = false;
  double start_, last_ = 0;
};

}  // namespace

BuildRequest ParseBuildArguments(const std::vector<std::string>& args) {
  BuildRequest request;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& option = args[i];
    auto value = [&]() -> const std::string& { return OptionValue(args, &i); };
    if (option == "--manifest") request.Manifest = value();
    else if (option == "--product-dir") request.ProductDir = value();
    else if (option == "--stub") request.Stub = value();
    else if (option == "--output") request.Output = value();
    else if (option == "--end-marker") request.EndMarker = true;
    else if (option == "--corrupt-checksum") request.CorruptChecksum = true;
    else if (option == "--no-prefix-record") request.PrefixRecord = false;
    else if (option == "--properties") request.Properties = static_cast<uint8_t>(ParseNumber(option, value(), 255));
    else if (option == "--dictionary") request.Dictionary = ParseNumber(option, value(), 0xFFFFFFFFu);
    else if (option == "--extra-size") request.ExtraSize = ParseNumber(option, value(), MAX_FILE_OFFSET);
    else if (option == "--slack") request.Slack = ParseNumber(option, value(), MAX_FILE_OFFSET);
    else if (option == "--level") request.Level = ParseNumber(option, value(), MAX_LEVEL);
    else if (option == "--quiet") request.Quiet = true;
    else if (option == "--chunk-size") request.ChunkSize = ParseSize(option, value(), MAX_CHUNK_SIZE);
    else if (option == "--threads") request.Threads = ParseNumber(option, value(), MAX_THREADS);
    else throw PackerError("command line", option, "unknown option");
  }
  const std::pair<const char*, const std::string*> required[] = {
      {"--manifest", &request.Manifest},
      {"--product-dir", &request.ProductDir},
      {"--stub", &request.Stub},
      {"--output", &request.Output},
  };
  for (const auto& [name, field] : required) {
    if (field->empty()) throw PackerError("command line", name, "is required");
  }
  return request;
}

namespace {

// Builds the setup file. Writes a temporary file next to the output and
// renames it at the end, so that no output exists after an error. Throws
// PackerError.
void RunBuild(const BuildRequest& request, std::ostream& err) {
  Manifest manifest = ReadManifest(request.Manifest, request.ProductDir);
#ifdef __GLIBC__
  // The parsed manifest is freed by now, but glibc keeps its pages, and the
  // encoder's match finder would come on top of them: with 100,000 files
  // they weigh as much as the match finder of an 8 MiB dictionary.
  malloc_trim(0);
#endif
  if (request.EndMarker) manifest.Lzma.EndMarker = true;
  if (request.Properties) manifest.Lzma.Properties = *request.Properties;
  if (request.Dictionary) manifest.Lzma.Dictionary = *request.Dictionary;
  if (request.Level) manifest.Lzma.Level = *request.Level;

  std::vector<uint8_t> stub = ReadWholeFile(request.Stub);
  uint32_t certificate = 0;
  if (!ReadCertificateOffset(stub.data(), static_cast<uint32_t>(std::min<size_t>(stub.size(), HEADER_PAGE_SIZE)), &certificate))
    throw PackerError(request.Stub, "", "the stub is not a PE image");
  // Data appended after a signature would sit outside the signed region
  // and the stub would look for the package before the certificate table.
  if (certificate != 0)
    throw PackerError(request.Stub, "", "the stub is signed; sign the setup file after packing instead");
  // An older stub would read UTF-8 names in the ANSI code page and install
  // them misspelt.
  if ((manifest.Contents.HeaderFlags & PH_UTF8_NAMES) && !(ReadStubCapabilities(stub) & STUB_CAN_UTF8_NAMES))
    throw PackerError(request.Stub, "",
                      "the stub does not support Unicode file names; build with a stub of this version "
                      "(build/win/setup-stub.exe)");
  // An older stub would skip the record and register no quiet command.
  if (!manifest.Contents.QuietUninstallArgs.empty() && !(ReadStubCapabilities(stub) & STUB_CAN_QUIET_UNINSTALL))
    throw PackerError(request.Stub, "",
                      "the stub does not support quiet_uninstall_args; build with a stub of this version "
                      "(build/win/setup-stub.exe)");

  SetupOptions options;
  options.Lzma = manifest.Lzma;
  options.ExtraSize = request.ExtraSize;
  options.Slack = request.Slack;
  options.CorruptChecksum = request.CorruptChecksum;
  options.PrefixRecord = request.PrefixRecord;
  options.ChunkSize = request.ChunkSize;
  options.Threads = request.Threads ? request.Threads : std::max(1u, std::thread::hardware_concurrency());
  options.StubReadsChunks = (ReadStubCapabilities(stub) & STUB_CAN_CHUNKS) != 0;
  options.StubName = request.Stub;

  std::string temporary = request.Output + ".tmp" + std::to_string(getpid());
  // Read back at the end: a chunked package is hashed once it is complete.
  FILE* file = OpenUtf8File(temporary, "w+b");
  if (!file) throw PackerError(temporary, "", std::string("cannot create: ") + strerror(errno));
  PackedSizes sizes;
  try {
    {
      ProgressLine progress(!request.Quiet && isatty(STDERR_FILENO));
      sizes = WriteSetupFile(file, stub, manifest.Contents, options, [&](uint64_t done, uint64_t total, uint64_t written) {
        progress.Update(done, total, written);
      });
    }
    bool ok = fflush(file) == 0;
    ok = fclose(file) == 0 && ok;
    file = nullptr;
    if (!ok) throw PackerError(request.Output, "", "cannot write");
    // std::filesystem replaces an existing output on Windows too.
    std::error_code error;
    std::filesystem::rename(PathFromUtf8(temporary), PathFromUtf8(request.Output), error);
    if (error) throw PackerError(request.Output, "", "cannot write: " + error.message());
  } catch (...) {
    if (file) fclose(file);
    std::error_code ignored;
    std::filesystem::remove(PathFromUtf8(temporary), ignored);
    throw;
  }
  // A chunked package is never held whole.
  if (!options.ChunkSize || sizes.Unpacked <= options.ChunkSize)
    WarnAboutLargeSetupFile(request.Output, sizes, options.Lzma.Dictionary, err);
}

}  // namespace

int RunPacker(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  try {
    const std::string command = args.empty() ? "" : args[0];
    const std::vector<std::string> rest(args.begin() + (args.empty() ? 0 : 1), args.end());
    const bool help = std::any_of(rest.begin(), rest.end(), IsHelp);
    if (IsHelp(command) || command == "help") {
      out << kUsage;
      return 0;
    }
    if (command == "--version") {
      out << "packer " << PACKER_VERSION << "\n";
      return 0;
    }
    if (command == "build") {
      if (help) {
        out << kBuildHelp;
        return 0;
      }
      BuildRequest request = ParseBuildArguments(rest);
      RunBuild(request, err);
      return 0;
    }
    if (command == "inspect") {
      if (help) {
        out << kInspectHelp;
        return 0;
      }
      if (rest.size() == 1 && rest[0] != "--json") return InspectSetupFile(rest[0], out, err);
      if (rest.size() == 2 && rest[0] == "--json") return InspectSetupFile(rest[1], out, err, true);
      if (rest.size() == 2 && rest[1] == "--json") return InspectSetupFile(rest[0], out, err, true);
    }
    if (command == "languages") {
      if (help) {
        out << kLanguagesHelp;
        return 0;
      }
      if (rest.size() <= 1 && (rest.empty() || rest[0] == "--json")) {
        ListShippedLanguages(out, !rest.empty());
        return 0;
      }
    }
    if (command == "winget") {
      if (help) {
        out << kWingetHelp;
        return 0;
      }
      WriteWingetManifests(ParseWingetArguments(rest), out, err);
      return 0;
    }
    if (command == "extract") {
      if (help) {
        out << kExtractHelp;
        return 0;
      }
      return ExtractSetupFile(ParseExtractArguments(rest), err);
    }
  } catch (const PackerError& error) {
    err << error.what() << "\n";
    return 2;
  } catch (const std::bad_alloc&) {
    err << "error: out of memory\n";
    return 2;
  }
  err << kUsage;
  return 2;
}
