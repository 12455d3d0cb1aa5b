#include "packer/manifest.h"

#include <stdio.h>

#include <algorithm>
#include <optional>

#include "base/text_capacities.h"
#include "env/localised_strings.h"
#include "packer/content_rules.h"
#include "packer/default_texts.h"
#include "packer/manifest_reader.h"
#include "packer/mask_names.h"
#include "packer/packer_error.h"
#include "packer/product_files.h"
#include "packer/shipped_languages.h"
#include "packer/utf16.h"

namespace {

// A source path must stay inside the product folder.
bool IsInsideFolder(const std::string& source) {
  if (source.empty() || source[0] == '/') return false;
  size_t start = 0;
  while (start <= source.size()) {
    size_t end = source.find('/', start);
    if (end == std::string::npos) end = source.size();
    if (source.compare(start, end - start, "..") == 0) return false;
    start = end + 1;
  }
  return true;
}

// Installed names separate components with backslashes; '/' is accepted in
// the manifest for convenience.
std::string ToInstalledName(std::string source) {
  for (char& c : source) {
    if (c == '/') c = '\\';
  }
  return source;
}

struct PlannedFile {
  std::string SourcePath;
  uint64_t Size;
};

void ReadProduct(const ManifestReader& r, const toml::table& root, PackageContents& c) {
  const toml::table* product = r.Table(root, "", "product");
  if (!product) r.Fail(nullptr, "product", "required table [product] is missing");
  r.OnlyKeys(*product, "product",
             {"name", "version", "publisher", "main_program", "launch_command", "default_install_dir",
              "configure_args", "uninstall_args", "quiet_uninstall_args", "unsupported_os_target"});
  c.Config[CFG_PRODUCT_NAME] = r.RequiredString(*product, "product", "name");
  std::string problem = CheckProductName(c.Config[CFG_PRODUCT_NAME]);
  if (!problem.empty()) r.Fail(product->get("name"), "product.name", problem);
  c.Config[CFG_PRODUCT_VERSION] = r.RequiredString(*product, "product", "version");
  problem = CheckNameVersion(c.Config[CFG_PRODUCT_NAME], c.Config[CFG_PRODUCT_VERSION]);
  if (!problem.empty()) r.Fail(product->get("version"), "product.version", problem);
  c.Config[CFG_PUBLISHER_NAME] = r.RequiredString(*product, "product", "publisher");

  const std::pair<const char*, ConfigIndex> optional[] = {
      {"main_program", CFG_MAIN_PROGRAM},
      {"launch_command", CFG_LAUNCH_COMMAND},
      {"default_install_dir", CFG_DEFAULT_INSTALL_DIR},
      {"configure_args", CFG_CONFIGURE_ARGS},
      {"uninstall_args", CFG_UNINSTALL_ARGS},
      {"unsupported_os_target", CFG_UNSUPPORTED_OS_TARGET},
  };
  for (const auto& [name, index] : optional) c.Config[index] = r.String(*product, "product", name).value_or(u"");
  c.QuietUninstallArgs = r.String(*product, "product", "quiet_uninstall_args").value_or(u"");
  // The stub's command: the quoted program (at least its name), a blank, the
  // arguments, a terminator.
  const std::u16string& program =
      c.Config[CFG_MAIN_PROGRAM].empty() ? c.Config[CFG_PRODUCT_NAME] + u".exe" : c.Config[CFG_MAIN_PROGRAM];
  if (!c.QuietUninstallArgs.empty() && program.size() + c.QuietUninstallArgs.size() + 4 > COMMAND_CAPACITY)
    r.Fail(product->get("quiet_uninstall_args"), "product.quiet_uninstall_args",
           "with the quoted main program \"" + Utf16ToUtf8(program) + "\" it must be at most " +
               std::to_string(COMMAND_CAPACITY - 4 - program.size()) + " characters (the stub's " +
               std::to_string(COMMAND_CAPACITY - 1) + "-character command)");

  if (const toml::table* running = r.Table(root, "", "running")) {
    r.OnlyKeys(*running, "running", {"mutex", "window_class", "window_title"});
    c.Config[CFG_RUNNING_MUTEX] = r.String(*running, "running", "mutex").value_or(u"");
    c.Config[CFG_RUNNING_WINDOW_CLASS] = r.String(*running, "running", "window_class").value_or(u"");
    c.Config[CFG_RUNNING_WINDOW_TITLE] = r.String(*running, "running", "window_title").value_or(u"");
  }
}

void ReadCompression(const ManifestReader& r, const toml::table& root, LzmaSettings& lzma) {
  const toml::table* compression = r.Table(root, "", "compression");
  if (!compression) return;
  r.OnlyKeys(*compression, "compression", {"properties", "dictionary", "end_marker", "level"});
  lzma.Properties = static_cast<uint8_t>(r.Integer(*compression, "compression", "properties", 255).value_or(0x5D));
  // No stub decodes these; the command line's --properties still writes
  // them, for tests of the refusal.
  uint32_t lc, lp, pb;
  if (!ParseLzmaProperties(lzma.Properties, &lc, &lp, &pb) || lc + lp > 4)
    r.Fail(compression->get("properties"), "compression.properties",
           "no decoder reads this properties byte: it must be at most 224 with lc + lp at most 4");
  lzma.Dictionary = static_cast<uint32_t>(
      r.Integer(*compression, "compression", "dictionary", 0xFFFFFFFFu).value_or(lzma.Dictionary));
  lzma.EndMarker = r.Boolean(*compression, "compression", "end_marker");
  lzma.Level = static_cast<uint32_t>(r.Integer(*compression, "compression", "level", MAX_LEVEL).value_or(lzma.Level));
}

std::vector<PlannedFile> ReadFiles(const ManifestReader& r, const toml::table& root, const std::string& productDir,
                                   PackageContents& c) {
  const std::optional<uint64_t> latest = SourceDateEpoch();
  auto fileTime = [&](const SourceFileInfo& info) {
    return latest ? std::min(info.LastWriteTime, *latest) : info.LastWriteTime;
  };
  std::vector<PlannedFile> planned;
  const toml::array* files = r.TableArray(root, "file");
  if (!files) {
    // No list: the whole folder, for every system.
    for (const std::string& source : ListProductFiles(productDir)) {
      PackageFileEntry entry;
      entry.Name = ToInstalledName(source);
      std::string problem = CheckInstalledName(entry.Name);
      if (!problem.empty()) r.Fail(nullptr, "file", problem + " (from " + productDir + "/" + source + ")");
      SourceFileInfo info = StatSourceFile(productDir + "/" + source);
      entry.LastWriteTime = fileTime(info);
      c.Files.push_back(entry);
      planned.push_back({productDir + "/" + source, info.Size});
    }
    return planned;
  }
  c.Files.reserve(files->size());
  planned.reserve(files->size());
  for (size_t i = 0; i < files->size(); ++i) {
    const toml::table& file = *(*files)[i].as_table();
    std::string prefix = "file[" + std::to_string(i) + "]";
    r.OnlyKeys(file, prefix, {"source", "name", "os", "arch", "no_extract", "replace_locked", "time"});
    std::optional<std::string> source = r.NarrowString(file, prefix, "source");
    if (!source) r.Fail(&file, prefix + ".source", "required key is missing");
    // Backslashes separate folders too, so that one manifest serves the
    // Windows and the Linux packer alike.
    // The path goes to the C library, which would end it at a NUL and read
    // another file than the one named.
    if (source->find('\0') != std::string::npos)
      r.Fail(file.get("source"), prefix + ".source", "must not contain NUL characters");
    std::replace(source->begin(), source->end(), '\\', '/');
    if (!IsInsideFolder(*source))
      r.Fail(file.get("source"), prefix + ".source", "must be a relative path inside the product folder");
    std::string path = productDir + "/" + *source;
    SourceFileInfo info = StatSourceFile(path);
    if (!info.Exists) r.Fail(file.get("source"), prefix + ".source", "source file not found (or not a regular file): " + path);

    PackageFileEntry entry;
    entry.Name = ToInstalledName(r.NarrowString(file, prefix, "name").value_or(*source));
    std::string problem = CheckInstalledName(entry.Name);
    if (!problem.empty()) r.Fail(file.get("name") ? file.get("name") : file.get("source"), prefix + ".name", problem);
    uint32_t arch = r.Mask(file, prefix, "arch", kArchNames, ENTRY_ARCH_ALL);
    entry.Flags = MakeEntryFlags(r.Mask(file, prefix, "os", kOsNames, ENTRY_OS_ALL), arch, 0);
    if (r.Boolean(file, prefix, "no_extract")) entry.Flags |= FE_NO_EXTRACT;
    if (r.Boolean(file, prefix, "replace_locked")) entry.Flags |= FE_REPLACE_LOCKED;
    const toml::node* time = file.get("time");
    entry.LastWriteTime = time ? r.FileTime(*time, prefix + ".time") : fileTime(info);
    c.Files.push_back(entry);
    planned.push_back({path, info.Size});
  }
  return planned;
}

void ReadPackageTable(const ManifestReader& r, const toml::table& root, PackageContents& c) {
  c.LicenseEntry = NO_LICENSE_ENTRY;
  const toml::table* package = r.Table(root, "", "package");
  if (!package) return;
  r.OnlyKeys(*package, "package", {"os", "arch", "registry_64", "license"});
  c.OsMask = static_cast<uint16_t>(r.Mask(*package, "package", "os", kOsNames, HEADER_OS_ALL));
  c.ArchMask = static_cast<uint8_t>(r.Mask(*package, "package", "arch", kArchNames, HEADER_ARCH_ALL));
  if (r.Boolean(*package, "package", "registry_64")) c.HeaderFlags |= PH_REGISTRY_64;
  std::optional<std::string> license = r.NarrowString(*package, "package", "license");
  if (!license) return;
  license = ToInstalledName(*license);
  for (size_t i = 0; i < c.Files.size(); ++i) {
    if (c.Files[i].Name != *license) continue;
    if (i >= NO_LICENSE_ENTRY)
      r.Fail(package->get("license"), "package.license", "the licence must be among the first 65535 files");
    c.LicenseEntry = static_cast<uint16_t>(i);
    return;
  }
  r.Fail(package->get("license"), "package.license", "names no installed file of the package: \"" + *license + "\"");
}

std::string LangIdText(uint16_t id) {
  char text[8];
  snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(id));
  return text;
}

// One text of language against the buffer it is formatted into; at and
// prefix name where a problem is reported.
void CheckLanguageText(const ManifestReader& r, TextId id, const PackageLanguage& language, const PackageContents& c,
                       const toml::node* at, const std::string& prefix) {
  std::string problem =
      CheckLanguageText(id, language.Strings[1 + id], c.Config[CFG_PRODUCT_NAME], c.Config[CFG_PRODUCT_VERSION]);
  if (!problem.empty()) r.Fail(at, prefix + ".texts." + TextIdName(id), problem);
}

// `languages`: shipped translations by tag or LANGID, in package order.
void ReadListedLanguages(const ManifestReader& r, const toml::node& node, PackageContents& c) {
  if (!node.is_array() || node.as_array()->empty())
    r.Fail(&node, "languages", "must be a list of at least one language tag or LANGID");
  const toml::array& list = *node.as_array();
  for (size_t i = 0; i < list.size(); ++i) {
    const toml::node& item = list[i];
    std::string key = "languages[" + std::to_string(i) + "]";
    const ShippedLanguage* shipped = nullptr;
    if (item.is_string()) {
      shipped = FindShippedLanguage(item.as_string()->get());
      if (!shipped)
        r.Fail(&item, key, "no shipped translation has the tag \"" + item.as_string()->get() +
                               "\" (\"packer languages\" lists them)");
    } else if (item.is_integer()) {
      int64_t id = item.as_integer()->get();
      if (id < 0 || id > 0xFFFF) r.Fail(&item, key, "must be a LANGID from 0 to 65535");
      shipped = FindShippedLanguage(static_cast<uint16_t>(id));
      if (!shipped)
        r.Fail(&item, key, "no shipped translation for LANGID " + LangIdText(static_cast<uint16_t>(id)) +
                               "; give its texts in a [[language]] table instead");
    } else {
      r.Fail(&item, key, "must be a language tag (a string) or a LANGID (an integer)");
    }
    for (const PackageLanguage& earlier : c.Languages) {
      if (earlier.LangId == shipped->LangId)
        r.Fail(&item, key, "names language " + LangIdText(shipped->LangId) + " (" + CanonicalTag(*shipped) +
                               ") a second time");
    }
    c.Languages.push_back(ToPackageLanguage(*shipped));
    // Long product names can still push a shipped text past its buffer.
    for (int t = 0; t < TXT_COUNT; ++t) CheckLanguageText(r, static_cast<TextId>(t), c.Languages.back(), c, &item, key);
  }
}

// `rtl = true` marks the language right to left for the stub: its own name,
// which no stub shows, then begins with RIGHT-TO-LEFT MARK. Stubs from before
// the mark lay such a wizard out left to right, as they do every language.
void MarkReadingDirection(const ManifestReader& r, const toml::table& table, const std::string& prefix,
                          PackageLanguage& language) {
  if (!table.get("rtl")) return;
  bool rightToLeft = IsRightToLeft(language.LangId, language.Strings[0].c_str());
  if (r.Boolean(table, prefix, "rtl")) {
    if (language.Strings[0][0] != RIGHT_TO_LEFT_MARK) language.Strings[0].insert(0, 1, RIGHT_TO_LEFT_MARK);
  } else if (rightToLeft) {
    r.Fail(table.get("rtl"), prefix + ".rtl",
           "cannot be false for " + LangIdText(language.LangId) +
               (language.Strings[0][0] == RIGHT_TO_LEFT_MARK ? ", whose name begins with RIGHT-TO-LEFT MARK"
                                                            : ", a right-to-left language by its LANGID"));
  }
}

// A [[language]] table of an id that `languages` lists changes that entry in
// place; any other is added after the listed ones, starting from the shipped
// translation of its id (English when there is none) and an empty name.
void ReadLanguages(const ManifestReader& r, const toml::table& root, PackageContents& c) {
  const toml::node* listed = root.get("languages");
  if (listed) ReadListedLanguages(r, *listed, c);
  const size_t listedCount = c.Languages.size();
  const toml::array* languages = r.TableArray(root, "language");
  if (!languages) {
    if (!listed) c.Languages.push_back(EnglishLanguage());
    return;
  }
  if (listedCount + languages->size() > 255)
    r.Fail(&(*languages)[255 - listedCount], "language", "more than 255 languages");
  std::vector<bool> changed(listedCount, false);
  for (size_t i = 0; i < languages->size(); ++i) {
    const toml::table& table = *(*languages)[i].as_table();
    std::string prefix = "language[" + std::to_string(i) + "]";
    r.OnlyKeys(table, prefix, {"id", "name", "texts", "rtl"});
    std::optional<uint64_t> id = r.Integer(table, prefix, "id", 0xFFFF);
    if (!id) r.Fail(&table, prefix + ".id", "required key is missing");
    const uint16_t langId = static_cast<uint16_t>(*id);
    size_t at = 0;
    while (at < listedCount && c.Languages[at].LangId != langId) ++at;
    PackageLanguage language;
    if (at < listedCount) {
      if (changed[at])
        r.Fail(table.get("id"), prefix + ".id",
               "a second [[language]] table for " + LangIdText(langId) + ", which `languages` lists");
      changed[at] = true;
      language = c.Languages[at];
      if (std::optional<std::u16string> name = r.String(table, prefix, "name")) language.Strings[0] = *name;
    } else {
      const ShippedLanguage* shipped = FindShippedLanguage(langId);
      language = shipped ? ToPackageLanguage(*shipped) : EnglishLanguage();
      language.LangId = langId;
      language.Strings[0] = r.String(table, prefix, "name").value_or(u"");
    }
    MarkReadingDirection(r, table, prefix, language);
    const toml::table* texts = r.Table(table, prefix, "texts");
    if (texts) {
      for (auto&& [key, value] : *texts) {
        if (TextIdFromName(std::string(key.str())) == TXT_COUNT)
          r.Fail(&value, prefix + ".texts." + std::string(key.str()), "unknown text name");
      }
    }
    for (int t = 0; t < TXT_COUNT; ++t) {
      TextId textId = static_cast<TextId>(t);
      const toml::node* where = &table;
      if (texts && texts->get(TextIdName(textId))) {
        where = texts->get(TextIdName(textId));
        language.Strings[1 + t] = *r.String(*texts, prefix + ".texts", TextIdName(textId));
      }
      CheckLanguageText(r, textId, language, c, where, prefix);
    }
    if (at < listedCount)
      c.Languages[at] = std::move(language);
    else
      c.Languages.push_back(std::move(language));
  }
}

}  // namespace

Manifest ReadManifest(const std::string& manifestPath, const std::string& productDir) {
  ManifestReader r(manifestPath);
  toml::table root;
  try {
    // Read here rather than by toml++, which opens the path in the ANSI code
    // page on Windows.
    std::vector<uint8_t> text = ReadWholeFile(manifestPath);
    root = toml::parse(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()), manifestPath);
  } catch (const toml::parse_error& error) {
    throw PackerError(manifestPath, static_cast<int>(error.source().begin.line), "",
                      std::string(error.description()));
  }
  r.OnlyKeys(root, "", {"product", "running", "package", "compression", "file", "languages", "language"});

  Manifest m;
  ReadProduct(r, root, m.Contents);
  ReadCompression(r, root, m.Lzma);
  std::vector<PlannedFile> planned = ReadFiles(r, root, productDir, m.Contents);
  ReadPackageTable(r, root, m.Contents);
  ReadLanguages(r, root, m.Contents);
  // Names are marked UTF-8 only when one needs it: a package of ASCII names
  // stays byte for byte what every stub reads.
  for (const PackageFileEntry& f : m.Contents.Files) {
    if (std::any_of(f.Name.begin(), f.Name.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; }))
      m.Contents.HeaderFlags |= PH_UTF8_NAMES;
  }

  // Sizes first, so that an oversized product fails before it is read.
  uint64_t total = PlannedBlockSize(m.Contents);
  for (const PlannedFile& f : planned) total += f.Size;
  // In chunks; one stream holds less (see BuildHead).
  if (total > MAX_CHUNKED_BLOCK_SIZE)
    r.Fail(nullptr, "file", std::to_string(planned.size()) + " files of " + std::to_string(total) +
                                " bytes: a package holds at most " + BlockLimitText(MAX_CHUNKED_BLOCK_SIZE));
  // The data is read while packing; the sizes fix the block's layout.
  for (size_t i = 0; i < planned.size(); ++i) {
    m.Contents.Files[i].Source = planned[i].SourcePath;
    m.Contents.Files[i].SourceSize = planned[i].Size;
  }
  return m;
}
