#include "packer/winget_manifests.h"

#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <filesystem>
#include <vector>

#include "package/package_loader.h"
#include "package/sha256.h"
#include "package/system_class.h"
#include "packer/mask_names.h"
#include "packer/package_listing.h"
#include "packer/packer_error.h"
#include "packer/setup_file_source.h"
#include "packer/utf16.h"
#include "packer/utf8_paths.h"

namespace {

const char kManifestVersion[] = "1.10.0";
const char kLocale[] = "en-US";

bool IsUtf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    int extra = c < 0x80 ? 0 : c >= 0xC2 && c < 0xE0 ? 1 : c >= 0xE0 && c < 0xF0 ? 2 : c >= 0xF0 && c < 0xF5 ? 3 : -1;
    if (extra < 0 || i + extra >= text.size()) return false;
    char32_t point = extra == 0 ? c : c & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
      if ((text[i + k] & 0xC0) != 0x80) return false;
      point = point << 6 | (text[i + k] & 0x3F);
    }
    const char32_t least[] = {0, 0x80, 0x800, 0x10000};
    if (point < least[extra] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

// text must be valid UTF-8.
std::vector<char32_t> CodePoints(const std::string& text) {
  std::vector<char32_t> points;
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    char32_t point = extra == 0 ? c : c & (0x3F >> extra);
    for (int k = 1; k <= extra && i + k < text.size(); ++k) point = point << 6 | (text[i + k] & 0x3F);
    points.push_back(point);
    i += extra + 1;
  }
  return points;
}

std::string Utf8(char32_t c) {
  std::u16string wide;
  if (c >= 0x10000) {
    wide += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
    wide += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
  } else {
    wide += static_cast<char16_t>(c);
  }
  return Utf16ToUtf8(wide);
}

// ECMAScript's \s, which the schemas' patterns use.
bool IsSpace(char32_t c) {
  return (c >= 9 && c <= 13) || c == ' ' || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
         c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000 || c == 0xFEFF;
}

// What PackageIdentifier's and PackageVersion's patterns refuse anywhere.
bool IsRefusedInName(char32_t c) { return c < 0x20 || (c < 0x80 && strchr("\\/:*?\"<>|", static_cast<int>(c))); }

bool IsIdCharacter(char32_t c) { return c != '.' && !IsSpace(c) && !IsRefusedInName(c); }

// One segment of a PackageIdentifier: 1 to 32 characters.
std::string IdSegment(const std::string& text) {
  std::string segment;
  size_t count = 0;
  for (char32_t c : CodePoints(text)) {
    if (!IsIdCharacter(c)) continue;
    if (++count > 32) break;
    segment += Utf8(c);
  }
  return segment;
}

bool IsValidId(const std::string& id) {
  std::vector<char32_t> points = CodePoints(id);
  if (points.size() > 128) return false;
  size_t segments = 1, length = 0;
  for (char32_t c : points) {
    if (c == '.') {
      if (length == 0) return false;
      ++segments;
      length = 0;
    } else if (!IsIdCharacter(c) || ++length > 32) {
      return false;
    }
  }
  return length > 0 && segments >= 2 && segments <= 8;
}

void RequireLength(const std::string& what, const std::string& value, size_t min, size_t max,
                   const std::string& remedy) {
  size_t n = CodePoints(value).size();
  if (n < min || n > max)
    throw PackerError("winget", what,
                      "\"" + value + "\" must have " + std::to_string(min) + " to " + std::to_string(max) +
                          " characters" + (remedy.empty() ? "" : "; " + remedy));
}

std::string ConfigText(const LoadedPackage& p, int c) {
  return p.Config[c] ? Utf16ToUtf8(std::u16string(p.Config[c])) : std::string();
}

std::string FileSha256(const std::string& path) {
  FILE* file = OpenUtf8File(path, "rb");
  if (!file) throw PackerError(path, "", std::string("cannot read: ") + strerror(errno));
  Sha256 sha;
  Sha256Init(&sha);
  std::vector<uint8_t> chunk(1 << 20);
  size_t got;
  while ((got = fread(chunk.data(), 1, chunk.size(), file)) > 0)
    Sha256Add(&sha, chunk.data(), static_cast<uint32_t>(got));
  bool failed = ferror(file) != 0;
  fclose(file);
  if (failed) throw PackerError(path, "", "cannot read");
  uint8_t digest[SHA256_SIZE];
  Sha256Finish(&sha, digest);
  std::string hex;
  for (uint8_t byte : digest) {
    char pair[3];
    snprintf(pair, sizeof pair, "%02X", byte);
    hex += pair;
  }
  return hex;
}

struct PackageFacts {
  std::string Name, Version, Publisher;
  std::vector<std::string> Architectures;
};

PackageFacts ReadPackageFacts(const std::string& path) {
  SetupFileSource file(path);
  LoadedPackage package;
  LoadResult result = LoadPackageWithinPackerLimits(&file.Source(), OS_EVERY, ARCH_EVERY, &package);
  if (result != LOAD_OK) throw PackerError(path, "", std::string("no valid package: ") + LoadResultText(result));
  PackageFacts facts;
  facts.Name = ConfigText(package, CFG_PRODUCT_NAME);
  facts.Version = ConfigText(package, CFG_PRODUCT_VERSION);
  facts.Publisher = ConfigText(package, CFG_PUBLISHER_NAME);
  uint32_t mask = package.Header->ArchMask;
  for (const NamedBit& n : kArchNames) {
    if (mask == 0 || (mask & n.Bit)) facts.Architectures.push_back(n.Name);
  }
  FreeLoadedPackage(&package);
  if (!BoundHashAdmits(file.Source()))
    throw PackerError(path, "", "the package is not the one bound to the stub; setup refuses it as damaged");
  if (facts.Architectures.empty())
    throw PackerError(path, "arch", "the package admits none of " + NameList(kArchNames));
  return facts;
}

struct Manifests {
  std::string Id, Version, Installer, Locale;
};

std::string Header(const char* type) {
  return std::string("# yaml-language-server: $schema=https://aka.ms/winget-manifest.") + type + "." +
         kManifestVersion + ".schema.json\n\n";
}

std::string Field(const std::string& indent, const char* key, const std::string& value) {
  return indent + key + ": " + YamlQuoted(value) + "\n";
}

std::string Identity(const std::string& id, const std::string& version) {
  return Field("", "PackageIdentifier", id) + Field("", "PackageVersion", version);
}

std::string Tail(const char* type) {
  return Field("", "ManifestType", type) + Field("", "ManifestVersion", kManifestVersion);
}

Manifests Compose(const WingetRequest& request, const PackageFacts& facts, const std::string& sha256,
                  std::ostream& err) {
  std::vector<char32_t> version = CodePoints(facts.Version);
  for (char32_t c : version) {
    if (IsRefusedInName(c))
      throw PackerError(request.SetupFile, "ProductVersion",
                        "\"" + facts.Version + "\" holds a character winget refuses in a version");
  }
  RequireLength("ProductVersion", facts.Version, 1, 128, "");
  RequireLength("ProductName", facts.Name, 2, 256, "");
  // The loader refuses a package without name, version or publisher.
  const std::string& publisher = facts.Publisher;
  RequireLength("Publisher", publisher, 2, 256, "");
  std::string description = request.Description.empty() ? facts.Name : request.Description;
  RequireLength("--description", description, 3, 256, "give one with --description");
  RequireLength("--license", request.License, 3, 512, "");

  Manifests m;
  if (!request.Id.empty()) {
    if (!IsValidId(request.Id))
      throw PackerError("command line", "--id",
                        "\"" + request.Id + "\" is not a winget identifier (2 to 8 dot-separated parts of 1 to 32 "
                        "characters, no spaces or \\/:*?\"<>|)");
    m.Id = request.Id;
  } else {
    std::string first = IdSegment(publisher), second = IdSegment(facts.Name);
    if (first.empty() || second.empty())
      throw PackerError(request.SetupFile, "--id", "no identifier can be made from the names; give one with --id");
    m.Id = first + "." + second;
  }
  // The stub names the uninstall key with the low byte of each character,
  // which Windows reads in the ANSI code page.
  for (char32_t c : CodePoints(facts.Name)) {
    if (c >= 0x80) {
      err << "warning: " << request.SetupFile << ": ProductName \"" << facts.Name
          << "\" is not ASCII; the uninstall key's name, and so ProductCode, depends on the ANSI code page\n";
      break;
    }
  }

  m.Version = Header("version") + Identity(m.Id, facts.Version) + Field("", "DefaultLocale", kLocale) + Tail("version");

  std::string& in = m.Installer;
  in = Header("installer") + Identity(m.Id, facts.Version);
  in += Field("", "InstallerType", "exe") + Field("", "Scope", "machine");
  in += "InstallerSwitches:\n";
  in += Field("  ", "Silent", "/S /SUPPRESSMSGBOXES") + Field("  ", "SilentWithProgress", "/S /SUPPRESSMSGBOXES");
  in += Field("  ", "InstallLocation", "/D=<INSTALLPATH>") + Field("  ", "Log", "/LOG=\"<LOGPATH>\"");
  in += "ExpectedReturnCodes:\n- InstallerReturnCode: 2\n" + Field("  ", "ReturnResponse", "packageInUse");
  in += Field("", "ElevationRequirement", "elevatesSelf");
  // DisplayName as the stub registers it: name and version.
  in += "AppsAndFeaturesEntries:\n" + Field("- ", "DisplayName", facts.Name + " " + facts.Version);
  in += Field("  ", "Publisher", publisher) + Field("  ", "DisplayVersion", facts.Version);
  in += Field("  ", "ProductCode", facts.Name);
  in += "Installers:\n";
  for (const std::string& arch : facts.Architectures)
    in += Field("- ", "Architecture", arch) + Field("  ", "InstallerUrl", request.Url) +
          Field("  ", "InstallerSha256", sha256);
  in += Tail("installer");

  m.Locale = Header("defaultLocale") + Identity(m.Id, facts.Version) + Field("", "PackageLocale", kLocale) +
             Field("", "Publisher", publisher) + Field("", "PackageName", facts.Name) +
             Field("", "License", request.License) + Field("", "ShortDescription", description) +
             Tail("defaultLocale");
  return m;
}

void WriteText(const std::string& path, const std::string& text) {
  FILE* file = OpenUtf8File(path, "wb");
  if (!file) throw PackerError(path, "", std::string("cannot create: ") + strerror(errno));
  bool ok = fwrite(text.data(), 1, text.size(), file) == text.size();
  ok = fclose(file) == 0 && ok;
  if (!ok) throw PackerError(path, "", "cannot write");
}

}  // namespace

std::string YamlQuoted(const std::string& text) {
  std::string out = "\"";
  for (char32_t c : CodePoints(text)) {
    char escape[16];
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F)) {
      snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned>(c));
      out += escape;
    } else if (c == 0x2028 || c == 0x2029 || c == 0xFEFF || (c >= 0xD800 && c <= 0xDFFF) || c == 0xFFFE ||
               c == 0xFFFF) {
      // Line separators and the byte order mark are not printable in YAML.
      snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(c));
      out += escape;
    } else {
      out += Utf8(c);
    }
  }
  return out + "\"";
}

WingetRequest ParseWingetArguments(const std::vector<std::string>& args) {
  WingetRequest request;
  std::vector<std::string> positional;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& option = args[i];
    auto value = [&]() -> const std::string& { return OptionValue(args, &i); };
    if (option == "--url") request.Url = value();
    else if (option == "--id") request.Id = value();
    else if (option == "--output") request.OutputDir = value();
    else if (option == "--description") request.Description = value();
    else if (option == "--license") request.License = value();
    else if (option.size() > 1 && option[0] == '-') throw PackerError("command line", option, "unknown option");
    else positional.push_back(option);
  }
  if (positional.size() != 1) throw PackerError("command line", "winget", "needs one SETUP.exe");
  const std::pair<const char*, const std::string*> texts[] = {
      {"--url", &request.Url}, {"--id", &request.Id}, {"--description", &request.Description},
      {"--license", &request.License}};
  for (const auto& [name, text] : texts) {
    if (!IsUtf8(*text)) throw PackerError("command line", name, "is not UTF-8");
  }
  request.SetupFile = positional[0];
  if (request.Url.empty()) throw PackerError("command line", "--url", "is required");
  std::string scheme = request.Url.substr(0, 8);
  for (char& c : scheme) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  bool plain = request.Url.size() > 8 && scheme == "https://";
  for (char32_t c : CodePoints(request.Url)) plain = plain && !IsSpace(c) && c >= 0x20 && c != 0x7F;
  if (!plain || CodePoints(request.Url).size() > 2048)
    throw PackerError("command line", "--url", "\"" + request.Url + "\" is not an https URL");
  if (request.OutputDir.empty()) request.OutputDir = ".";
  return request;
}

void WriteWingetManifests(const WingetRequest& request, std::ostream& out, std::ostream& err) {
  PackageFacts facts = ReadPackageFacts(request.SetupFile);
  Manifests m = Compose(request, facts, FileSha256(request.SetupFile), err);
  std::error_code error;
  std::filesystem::create_directories(PathFromUtf8(request.OutputDir), error);
  if (error) throw PackerError(request.OutputDir, "", "cannot create: " + error.message());
  const std::pair<std::string, const std::string*> files[] = {
      {m.Id + ".yaml", &m.Version},
      {m.Id + ".installer.yaml", &m.Installer},
      {m.Id + ".locale." + kLocale + ".yaml", &m.Locale},
  };
  for (const auto& [name, text] : files) {
    std::string path = (PathFromUtf8(request.OutputDir) / PathFromUtf8(name)).u8string();
    WriteText(path, *text);
    out << path << "\n";
  }
}
