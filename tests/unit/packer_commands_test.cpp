// The command line: packer build's options, checks of the stub, warnings and
// progress, the winget manifests, and the usage of every command.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <functional>
#include <sstream>

#include <nlohmann/json.hpp>

#include "packer/commands.h"
#include "packer/packer_error.h"
#include "packer/product_files.h"
#include "packer/shipped_languages.h"
#include "packer/stub_capabilities.h"
#include "packer/winget_manifests.h"
#include "package/sha256.h"
#include "base/text_capacities.h"
#include "resources/stub_capabilities.h"
#include "packer_test_support.h"

using namespace packer_test;

namespace {

using PackerCommands = PackerBuildTest;

TEST_F(PackerCommands, WarnsWhenTheSetupFileNeedsA64BitWindows) {
  // The dictionary field counts as written, whatever the encoder used.
  std::string errors;
  ASSERT_EQ(Build(kProduct, &errors, {"--dictionary", "0x5FFF0000"}), 0) << errors;
  EXPECT_EQ(errors, "");
  ASSERT_EQ(Build(kProduct, &errors, {"--dictionary", "0x60000000"}), 0) << errors;
  EXPECT_EQ(errors.rfind("warning: " + Output() + ": packed ", 0), 0u) << errors;
  EXPECT_NE(errors.find(" + dictionary 1610612736 bytes exceed 1.5 GiB: such a setup file needs a 64-bit "
                        "Windows to install\n"),
            std::string::npos)
      << errors;
  EXPECT_TRUE(std::filesystem::exists(Output())) << "the file is still written";
}

TEST_F(PackerCommands, CommandLineOverridesCompressionAndShapesTheFile) {
  std::string errors;
  ASSERT_EQ(Build(std::string(kProduct) + "[compression]\nproperties = 0\ndictionary = 4096\n", &errors,
                  {"--properties", "0x5E", "--dictionary", "65536", "--extra-size", "10", "--slack", "3"}),
            0)
      << errors;
  std::ifstream in(Output(), std::ios::binary);
  std::vector<uint8_t> image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t trailer = image.size() - 3 - TRAILER_SIZE;
  EXPECT_EQ(U32At(image, trailer + 16), TRAILER_MAGIC);
  EXPECT_EQ(U32At(image, trailer + 12), 10u + sizeof(PrefixRecord)) << "the zero bytes, then the prefix record";
  size_t packed = trailer - U32At(image, trailer + 8);
  EXPECT_EQ(packed, FakePeStub().size() + 10 + sizeof(PrefixRecord));
  EXPECT_EQ(U32At(image, packed - sizeof(PrefixRecord)), PREFIX_MAGIC);
  EXPECT_EQ(image[packed], 0x5E);
  EXPECT_EQ(U32At(image, packed + 1), 65536u);
  EXPECT_EQ(FilesInDir(), 3u) << "no temporary file left";

  ASSERT_EQ(Build(kProduct, &errors, {"--extra-size", "10", "--no-prefix-record"}), 0) << errors;
  std::ifstream older(Output(), std::ios::binary);
  image.assign(std::istreambuf_iterator<char>(older), std::istreambuf_iterator<char>());
  trailer = image.size() - TRAILER_SIZE;
  EXPECT_EQ(U32At(image, trailer + 12), 10u) << "the zero bytes alone";
  EXPECT_EQ(trailer - U32At(image, trailer + 8), FakePeStub().size() + 10);
}

// Everything written to fd 2 while building, with fd 2 on a terminal or a pipe.
std::string CaptureStderr(bool terminal, const std::function<void()>& run) {
  int reader = -1, writer = -1;
  if (terminal) {
    EXPECT_EQ(openpty(&reader, &writer, nullptr, nullptr, nullptr), 0);
  } else {
    int ends[2];
    EXPECT_EQ(pipe(ends), 0);
    reader = ends[0];
    writer = ends[1];
  }
  fflush(stderr);
  int saved = dup(2);
  dup2(writer, 2);
  run();
  fflush(stderr);
  dup2(saved, 2);
  close(saved);
  close(writer);
  fcntl(reader, F_SETFL, O_NONBLOCK);
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(reader, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
  close(reader);
  return text;
}

TEST_F(PackerCommands, ProgressOnlyOnATerminalAndErasedAtTheEnd) {
  std::string errors;
  auto build = [&](std::vector<std::string> extra) {
    return [&, extra] { EXPECT_EQ(Build(kProduct, &errors, extra), 0) << errors; };
  };
  std::string shown = CaptureStderr(true, build({}));
  EXPECT_NE(shown.find("\r\033[Kread "), std::string::npos) << shown;
  EXPECT_NE(shown.find(" of "), std::string::npos) << shown;
  EXPECT_NE(shown.find("%), written "), std::string::npos) << shown;
  EXPECT_EQ(shown.substr(shown.size() - 4), "\r\033[K") << "the line is erased at the end";
  EXPECT_EQ(CaptureStderr(true, build({"--quiet"})), "");
  EXPECT_EQ(CaptureStderr(false, build({})), "") << "logs stay clean";
}

TEST_F(PackerCommands, StubMustBeAnUnsignedPeImage) {
  std::vector<uint8_t> signedStub = FakePeStub();
  PutU32At(signedStub, kCertificateEntryAt, 0x1000);
  struct Case {
    std::string Stub;
    std::string Problem;
  } cases[] = {
      {"MZ but nothing else", "not a PE image"},
      {std::string(signedStub.begin(), signedStub.end()), "signed"},
  };
  for (const Case& k : cases) {
    dir_.Write("stub.exe", k.Stub);
    std::string errors;
    EXPECT_EQ(Build(kProduct, &errors), 2);
    EXPECT_NE(errors.find(k.Problem), std::string::npos) << errors;
    EXPECT_FALSE(std::filesystem::exists(Output()));
  }
}

TEST_F(PackerCommands, UnicodeNamesOnlyWithAStubThatReadsThem) {
  // What a stub declares: none in an older stub, one that cannot be read, or
  // this version's.
  std::vector<uint8_t> capable = FakePeStubWithCapabilities(STUB_CAN_UTF8_NAMES);
  std::vector<uint8_t> cut(capable.begin(), capable.begin() + 0x250);
  std::vector<uint8_t> pointingOutside = capable;
  PutU32At(pointingOutside, 0x200 + 0x48, 0x5000);
  EXPECT_EQ(ReadStubCapabilities(FakePeStub()), 0u);
  EXPECT_EQ(ReadStubCapabilities(FakePeStubWithCapabilities(0)), 0u);
  EXPECT_EQ(ReadStubCapabilities(cut), 0u);
  EXPECT_EQ(ReadStubCapabilities(pointingOutside), 0u);
  EXPECT_EQ(ReadStubCapabilities(capable), uint32_t{STUB_CAN_UTF8_NAMES});

  const std::string names[] = {"\u00dcbersicht.txt", "\u041f\u0440\u0438\u0432\u0435\u0442/\u0444\u0430\u0439\u043b.txt",
                               "\u65e5\u672c\u8a9e.txt"};
  std::string manifest = kProduct;
  for (const std::string& name : names) {
    dir_.Write("product/" + name, "bytes of " + name);
    manifest += "[[file]]\nsource = \"" + name + "\"\n";
  }
  std::string errors;
  EXPECT_EQ(Build(manifest, &errors), 2);
  EXPECT_EQ(errors, "error: " + stub_ +
                        ": the stub does not support Unicode file names; build with a stub of this version "
                        "(build/win/setup-stub.exe)\n");
  EXPECT_FALSE(std::filesystem::exists(Output()));

  dir_.Write("stub.exe", std::string(capable.begin(), capable.end()));
  ASSERT_EQ(Build(manifest, &errors), 0) << errors;
  std::ostringstream out, err;
  ASSERT_EQ(RunPacker({"inspect", "--json", Output()}, out, err), 0) << err.str();
  nlohmann::json doc = nlohmann::json::parse(out.str());
  EXPECT_EQ(doc["header"]["utf8_names"], true);
  EXPECT_EQ(doc["entries"][1]["name"], "\u041f\u0440\u0438\u0432\u0435\u0442\\\u0444\u0430\u0439\u043b.txt");
  // Extract writes the real names with their bytes.
  ASSERT_EQ(RunPacker({"extract", Output(), (dir_.Path / "x").string()}, out, err), 0) << err.str();
  for (const std::string& name : names) {
    std::ifstream in(dir_.Path / "x" / name, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), "bytes of " + name);
  }

  // ASCII names: the flag stays clear and the package is what the older
  // stub gets, byte for byte.
  std::string ascii = std::string(kProduct) + "[[file]]\nsource = \"app.exe\"\n";
  ASSERT_EQ(Build(ascii, &errors), 0) << errors;
  std::vector<uint8_t> withCapable = ReadWholeFile(Output());
  std::vector<uint8_t> older = FakePeStub(0x300);
  dir_.Write("stub.exe", std::string(older.begin(), older.end()));
  ASSERT_EQ(Build(ascii, &errors), 0) << errors;
  std::vector<uint8_t> withOlder = ReadWholeFile(Output());
  ASSERT_EQ(withCapable.size(), withOlder.size());
  EXPECT_TRUE(std::equal(withCapable.begin() + 0x300, withCapable.end(), withOlder.begin() + 0x300));
}

std::string ReadText(const std::filesystem::path& path) {
  std::vector<uint8_t> bytes = ReadWholeFile(path.string());
  return std::string(bytes.begin(), bytes.end());
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST_F(PackerCommands, WingetWritesTheThreeManifestsOfTheSetupFile) {
  std::string errors;
  ASSERT_EQ(Build(std::string(kProduct) + "[package]\narch = [\"x86\", \"arm64\"]\n", &errors), 0) << errors;
  std::filesystem::path dir = dir_.Path / "manifests";
  std::ostringstream out, err;
  const std::vector<std::string> args = {"winget", Output(), "--url", "https://example.com/setup.exe",
                                        "--output", dir.string()};
  ASSERT_EQ(RunPacker(args, out, err), 0) << err.str();
  EXPECT_EQ(err.str(), "");
  EXPECT_EQ(out.str(), (dir / "Pub.Sample.yaml").string() + "\n" + (dir / "Pub.Sample.installer.yaml").string() +
                           "\n" + (dir / "Pub.Sample.locale.en-US.yaml").string() + "\n");

  std::string version = ReadText(dir / "Pub.Sample.yaml");
  EXPECT_EQ(version.rfind("# yaml-language-server: $schema=https://aka.ms/winget-manifest.version.1.10.0.schema.json\n",
                          0),
            0u);
  EXPECT_TRUE(Has(version, "PackageIdentifier: \"Pub.Sample\"\nPackageVersion: \"1.0\"\nDefaultLocale: \"en-US\"\n"));

  std::vector<uint8_t> setup = ReadWholeFile(Output());
  Sha256 sha;
  Sha256Init(&sha);
  Sha256Add(&sha, setup.data(), static_cast<uint32_t>(setup.size()));
  uint8_t digest[SHA256_SIZE];
  Sha256Finish(&sha, digest);
  std::string hex;
  for (uint8_t byte : digest) hex += "0123456789ABCDEF"[byte >> 4], hex += "0123456789ABCDEF"[byte & 15];
  std::string installer = ReadText(dir / "Pub.Sample.installer.yaml");
  EXPECT_EQ(Count(installer, "- Architecture: "), 2u) << installer;
  EXPECT_TRUE(Has(installer, "- Architecture: \"x86\"\n  InstallerUrl: \"https://example.com/setup.exe\"\n"
                             "  InstallerSha256: \"" + hex + "\"\n- Architecture: \"arm64\"\n"))
      << installer;
  EXPECT_TRUE(Has(installer, "InstallerType: \"exe\"\nScope: \"machine\"\n"));
  EXPECT_TRUE(Has(installer, "  Log: \"/LOG=\\\"<LOGPATH>\\\"\"\n"));
  EXPECT_TRUE(Has(installer, "- InstallerReturnCode: 2\n  ReturnResponse: \"packageInUse\"\n"));
  EXPECT_TRUE(Has(installer, "  ProductCode: \"Sample\"\n"));
  EXPECT_TRUE(Has(installer, "ManifestType: \"installer\"\nManifestVersion: \"1.10.0\"\n"));

  std::string locale = ReadText(dir / "Pub.Sample.locale.en-US.yaml");
  EXPECT_TRUE(Has(locale, "Publisher: \"Pub\"\nPackageName: \"Sample\"\nLicense: \"Proprietary\"\n"
                          "ShortDescription: \"Sample\"\nManifestType: \"defaultLocale\"\n"))
      << locale;
}

TEST_F(PackerCommands, WingetForEveryArchitectureAndItsRefusals) {
  std::vector<uint8_t> image = MakeImage(SmallContents());
  std::string setup = dir_.Write("small.exe", std::string(image.begin(), image.end()));
  const std::string url = "https://example.com/setup.exe", outDir = (dir_.Path / "m").string();
  std::ostringstream out, err;
  ASSERT_EQ(RunPacker({"winget", setup, "--url", url, "--output", outDir}, out, err), 0) << err.str();
  EXPECT_EQ(err.str(), "");
  std::string installer = ReadText(dir_.Path / "m" / "SamplePublisher.Sample.installer.yaml");
  EXPECT_EQ(Count(installer, "- Architecture: "), 3u) << "a mask of 0 admits every architecture";

  struct Case {
    std::vector<std::string> Args;
    std::string Err;
  } cases[] = {
      {{"winget", stub_, "--url", url}, "error: " + stub_ + ": no valid package: "},
      {{"winget", setup, "--url", url, "--id", "NoDot"}, "error: command line: --id: \"NoDot\" is not a winget"},
      {{"winget", setup, "--url", url, "--id", "A.B c"}, "error: command line: --id: \"A.B c\" is not a winget"},
      {{"winget", setup, "--url", url, "--description", "ab"}, "error: winget: --description: \"ab\" must have 3"},
      {{"winget", setup, "--url", url, "--license", "x\xFF\xFE"}, "error: command line: --license: is not UTF-8\n"},
  };
  for (const Case& k : cases) {
    std::ostringstream o, e;
    EXPECT_EQ(RunPacker(k.Args, o, e), 2) << k.Err;
    EXPECT_EQ(e.str().substr(0, k.Err.size()), k.Err);
  }
  EXPECT_EQ(YamlQuoted("a\"b\\c\td\x01\u00fc\u2028"), "\"a\\\"b\\\\c\\td\\x01\u00fc\\u2028\"");
}

TEST(PackerCommandLine, RefusesBadArguments) {
  const std::vector<std::string> base = {"--manifest", "m", "--product-dir", "d", "--stub", "s", "--output", "o"};
  struct Case {
    std::vector<std::string> Extra;
    std::string Key;
  } cases[] = {
      {{"--properties", "256"}, "--properties"}, {{"--properties", "-1"}, "--properties"},
      {{"--dictionary", "4294967296"}, "--dictionary"}, {{"--slack", "x"}, "--slack"},
      {{"--extra-size"}, "--extra-size"},        {{"--colour"}, "--colour"},
      {{"--level", "10"}, "--level"},            {{"--level"}, "--level"},
  };
  for (const Case& k : cases) {
    std::vector<std::string> args = base;
    args.insert(args.end(), k.Extra.begin(), k.Extra.end());
    try {
      ParseBuildArguments(args);
      ADD_FAILURE() << k.Key;
    } catch (const PackerError& error) {
      EXPECT_EQ(error.Key, k.Key);
    }
  }
  for (size_t drop = 0; drop < base.size(); drop += 2) {
    std::vector<std::string> args = base;
    args.erase(args.begin() + drop, args.begin() + drop + 2);
    EXPECT_THROW(ParseBuildArguments(args), PackerError) << base[drop];
  }
  BuildRequest request = ParseBuildArguments(
      {"--manifest", "m", "--product-dir", "d", "--stub", "s", "--output", "o", "--end-marker", "--properties",
       "0x5D", "--dictionary", "0", "--corrupt-checksum", "--level", "3", "--quiet"});
  EXPECT_TRUE(request.EndMarker);
  EXPECT_EQ(request.Level, 3u);
  EXPECT_TRUE(request.Quiet);
  EXPECT_TRUE(request.CorruptChecksum);
  EXPECT_EQ(request.Properties, 0x5D);
  EXPECT_EQ(request.Dictionary, 0u);

  std::ostringstream out, err;
  EXPECT_EQ(RunPacker({}, out, err), 2);
  EXPECT_NE(err.str().find("usage"), std::string::npos);
}

TEST(PackerCommandLine, HelpAndVersionOnStdoutWrongUsageOnStderr) {
  struct Case {
    std::vector<std::string> Args;
    int Code;
    std::string Out, Err;  // the start of each; "" for nothing
  } cases[] = {
      {{"--help"}, 0, "usage: packer build", ""},
      {{"-h"}, 0, "usage: packer build", ""},
      {{"help"}, 0, "usage: packer build", ""},
      {{"build", "--help"}, 0, "usage: packer build --manifest", ""},
      {{"build", "--manifest", "m.toml", "--help"}, 0, "usage: packer build --manifest", ""},
      {{"inspect", "--help"}, 0, "usage: packer inspect [--json]", ""},
      {{"extract", "--help"}, 0, "usage: packer extract", ""},
      {{"--version"}, 0, "packer " PACKER_VERSION "\n", ""},
      {{}, 2, "", "usage: packer build"},
      {{"pack"}, 2, "", "usage: packer build"},
      {{"inspect"}, 2, "", "usage: packer build"},
      {{"inspect", "a.exe", "b.exe"}, 2, "", "usage: packer build"},
      {{"build", "--colour"}, 2, "", "error: command line: --colour: unknown option\n"},
      {{"extract", "a.exe"}, 2, "", "error: command line: extract: needs SETUP.exe and DIR\n"},
      {{"extract", "a.exe", "d", "--os", "win95"}, 2, "", "error: command line: --os: unknown name \"win95\""},
      {{"extract", "a.exe", "d", "--arch", "mips"}, 2, "", "error: command line: --arch: unknown name \"mips\""},
      {{"extract", "a.exe", "d", "--arch"}, 2, "", "error: command line: --arch: needs a value\n"},
      {{"winget", "--help"}, 0, "usage: packer winget SETUP.exe --url URL", ""},
      {{"winget", "a.exe"}, 2, "", "error: command line: --url: is required\n"},
      {{"winget", "a.exe", "--url", "http://example.com/a.exe"}, 2, "", "error: command line: --url: \"http:"},
      {{"winget", "a.exe", "b.exe", "--url", "https://x/a.exe"}, 2, "", "error: command line: winget: needs one"},
  };
  for (const Case& k : cases) {
    std::string line;
    for (const std::string& a : k.Args) line += a + " ";
    SCOPED_TRACE(line);
    std::ostringstream out, err;
    EXPECT_EQ(RunPacker(k.Args, out, err), k.Code);
    EXPECT_EQ(out.str().substr(0, k.Out.size()), k.Out);
    EXPECT_EQ(out.str().empty(), k.Out.empty()) << out.str();
    EXPECT_EQ(err.str().substr(0, k.Err.size()), k.Err);
    EXPECT_EQ(err.str().empty(), k.Err.empty()) << err.str();
  }
}

TEST(PackerCommandLine, LanguagesListsTheShippedTranslations) {
  std::ostringstream out, err;
  EXPECT_EQ(RunPacker({"languages"}, out, err), 0);
  EXPECT_EQ(err.str(), "");
  std::istringstream lines(out.str());
  std::string line;
  size_t count = 0;
  while (std::getline(lines, line)) {
    const ShippedLanguage& l = kShippedLanguages[count++];
    char id[8];
    snprintf(id, sizeof id, "0x%04X", static_cast<unsigned>(l.LangId));
    std::string expected = CanonicalTag(l) + "\t" + id + "\t" + l.NativeName + "\t" + l.EnglishName;
    EXPECT_EQ(line.substr(0, expected.size()), expected);
  }
  EXPECT_EQ(count, kShippedLanguageCount);
  EXPECT_NE(out.str().find("de\t0x0407\tDeutsch\tGerman\tde-DE\n"), std::string::npos);
  EXPECT_NE(out.str().find("zh-TW\t0x0404\t中文(繁體)\tChinese (Traditional, Taiwan)\tzh-Hant\n"), std::string::npos);

  std::ostringstream json, jsonErr;
  EXPECT_EQ(RunPacker({"languages", "--json"}, json, jsonErr), 0);
  nlohmann::json list = nlohmann::json::parse(json.str());
  ASSERT_EQ(list.size(), kShippedLanguageCount);
  EXPECT_EQ(list[1]["tag"], "de");
  EXPECT_EQ(list[1]["tags"], nlohmann::json::array({"de", "de-DE"}));
  EXPECT_EQ(list[1]["id"], 0x407);
  EXPECT_EQ(list[1]["name"], "Deutsch");
  EXPECT_EQ(list[1]["texts"].size(), size_t{TXT_COUNT});
  EXPECT_EQ(list[1]["texts"]["TXT_BACK"], "< &Zurück");

  const std::vector<std::vector<std::string>> refused = {{"languages", "de"}, {"languages", "--json", "x"}};
  for (const std::vector<std::string>& args : refused) {
    std::ostringstream o, e;
    EXPECT_EQ(RunPacker(args, o, e), 2);
    EXPECT_EQ(e.str().rfind("usage: packer build", 0), 0u);
  }
  std::ostringstream help, helpErr;
  EXPECT_EQ(RunPacker({"languages", "--help"}, help, helpErr), 0);
  EXPECT_EQ(help.str().rfind("usage: packer languages [--json]", 0), 0u);
}

}  // namespace

TEST_F(PackerCommands, QuietUninstallArgsOnlyWithAStubThatReadsThem) {
  const std::string manifest = std::string(kProduct) + "quiet_uninstall_args = \"/uninstall /quiet\"\n";
  std::vector<uint8_t> older = FakePeStubWithCapabilities(STUB_CAN_UTF8_NAMES);
  dir_.Write("stub.exe", std::string(older.begin(), older.end()));
  std::string errors;
  EXPECT_EQ(Build(manifest, &errors), 2);
  EXPECT_EQ(errors, "error: " + stub_ +
                        ": the stub does not support quiet_uninstall_args; build with a stub of this version "
                        "(build/win/setup-stub.exe)\n");
  EXPECT_FALSE(std::filesystem::exists(Output()));
  // Without the key the older stub still pairs.
  ASSERT_EQ(Build(kProduct, &errors), 0) << errors;

  std::vector<uint8_t> capable = FakePeStubWithCapabilities(STUB_CAN_UTF8_NAMES | STUB_CAN_QUIET_UNINSTALL);
  dir_.Write("stub.exe", std::string(capable.begin(), capable.end()));
  std::ostringstream out, err;
  ASSERT_EQ(RunPacker({"inspect", Output()}, out, err), 0) << err.str();
  EXPECT_NE(out.str().find("\nquiet uninstall args: none\n"), std::string::npos) << out.str();
  out.str("");
  ASSERT_EQ(RunPacker({"inspect", "--json", Output()}, out, err), 0) << err.str();
  EXPECT_TRUE(nlohmann::json::parse(out.str())["quiet_uninstall_args"].is_null());

  ASSERT_EQ(Build(manifest, &errors), 0) << errors;
  out.str("");
  ASSERT_EQ(RunPacker({"inspect", Output()}, out, err), 0) << err.str();
  EXPECT_NE(out.str().find("\nquiet uninstall args: \"/uninstall /quiet\"\n"), std::string::npos) << out.str();
  out.str("");
  ASSERT_EQ(RunPacker({"inspect", "--json", Output()}, out, err), 0) << err.str();
  EXPECT_EQ(nlohmann::json::parse(out.str())["quiet_uninstall_args"], "/uninstall /quiet");

  // The quoted "Sample.exe", a blank and the arguments fill the command.
  const size_t room = COMMAND_CAPACITY - 4 - std::string("Sample.exe").size();
  ASSERT_EQ(Build(std::string(kProduct) + "quiet_uninstall_args = \"" + std::string(room, 'a') + "\"\n", &errors), 0)
      << errors;
  EXPECT_EQ(Build(std::string(kProduct) + "quiet_uninstall_args = \"" + std::string(room + 1, 'a') + "\"\n", &errors),
            2);
  EXPECT_NE(errors.find("product.quiet_uninstall_args"), std::string::npos) << errors;
}

TEST_F(PackerCommands, ChunkedPackagesOnlyWithAStubThatReadsThem) {
  std::string text;
  for (int i = 0; text.size() < 300000; ++i) text += "line " + std::to_string(i) + "\n";
  dir_.Write("product/big.txt", text);
  const std::string manifest = std::string(kProduct) + "[[file]]\nsource = \"big.txt\"\n";
  std::string errors;
  EXPECT_EQ(Build(manifest, &errors, {"--chunk-size", "64K"}), 2);
  EXPECT_EQ(errors, "error: " + stub_ +
                        ": the stub does not read chunked packages; build with a stub of this version "
                        "(build/win/setup-stub.exe) or with --chunk-size 0\n");
  EXPECT_FALSE(std::filesystem::exists(Output()));
  // One stream, or a block that fits in one chunk, pairs with any stub; the
  // default chunk size only with a stub that reads chunks.
  ASSERT_EQ(Build(manifest, &errors, {"--chunk-size", "0"}), 0) << errors;
  ASSERT_EQ(Build(manifest, &errors, {"--chunk-size", "1M"}), 0) << errors;
  std::ostringstream out, err;
  ASSERT_EQ(RunPacker({"inspect", "--json", Output()}, out, err), 0) << err.str();
  EXPECT_TRUE(nlohmann::json::parse(out.str())["chunks"].is_null());

  std::vector<uint8_t> capable = FakePeStubWithCapabilities(STUB_CAN_UTF8_NAMES | STUB_CAN_CHUNKS);
  dir_.Write("stub.exe", std::string(capable.begin(), capable.end()));
  ASSERT_EQ(Build(manifest, &errors, {"--chunk-size", "64K", "--threads", "3"}), 0) << errors;
  out.str("");
  ASSERT_EQ(RunPacker({"inspect", "--json", Output()}, out, err), 0) << err.str();
  nlohmann::json chunks = nlohmann::json::parse(out.str())["chunks"];
  ASSERT_EQ(chunks.size(), 1 + (text.size() + 0xFFFF) / 0x10000) << "the prefix, then 64 KiB each";
  EXPECT_EQ(chunks[1]["unpacked_size"], 0x10000);
  EXPECT_EQ(chunks[1]["packed_offset"], chunks[0]["packed_offset"].get<uint64_t>() + chunks[0]["packed_size"].get<uint64_t>());
  EXPECT_EQ(chunks[1]["stored"], false);
  out.str("");
  ASSERT_EQ(RunPacker({"inspect", Output()}, out, err), 0) << err.str();
  EXPECT_NE(out.str().find("\nchunks: " + std::to_string(chunks.size()) + "\n  0: packed "), std::string::npos) << out.str();
  ASSERT_EQ(RunPacker({"extract", Output(), (dir_.Path / "out").string()}, out, err), 0) << err.str();
  std::ifstream extracted(dir_.Path / "out" / "big.txt", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(extracted), {}), text);

  // By default a block above 32 MiB is chunked for a stub that reads chunks,
  // and one stream for an older stub.
  std::filesystem::resize_file(dir_.Write("product/zeros.bin", ""), 40u << 20);
  const std::string zeros = std::string(kProduct) + "[[file]]\nsource = \"zeros.bin\"\n";
  for (bool older : {true, false}) {
    std::vector<uint8_t> stub = FakePeStubWithCapabilities(older ? STUB_CAN_UTF8_NAMES : STUB_CAN_CHUNKS);
    dir_.Write("stub.exe", std::string(stub.begin(), stub.end()));
    ASSERT_EQ(Build(zeros, &errors), 0) << errors;
    out.str("");
    ASSERT_EQ(RunPacker({"inspect", "--json", Output()}, out, err), 0) << err.str();
    nlohmann::json listed = nlohmann::json::parse(out.str())["chunks"];
    EXPECT_EQ(listed.is_null() ? 0u : listed.size(), older ? 0u : 3u) << "the prefix, 32 MiB, 8 MiB";
  }

  // Blocks beyond what the trailer's and the entries' 32-bit fields hold are
  // refused before anything is read: 2 GiB in one stream, 4 GiB in chunks.
  std::filesystem::resize_file(dir_.Write("product/huge.bin", ""), (uint64_t{2} << 30) + 1);
  const std::string huge = std::string(kProduct) + "[[file]]\nsource = \"huge.bin\"\n";
  EXPECT_EQ(Build(huge, &errors, {"--chunk-size", "0"}), 2);
  EXPECT_EQ(errors, "error: package: file: the package would exceed 2 GiB\n");
  std::filesystem::resize_file(dir_.Path / "product" / "huge.bin", uint64_t{4} << 30);
  EXPECT_EQ(Build(huge, &errors), 2);
  EXPECT_NE(errors.find(": file: 1 files of 4294968"), std::string::npos) << errors;
  EXPECT_NE(errors.find(" bytes: a package holds at most 4 GiB\n"), std::string::npos) << errors;
}
