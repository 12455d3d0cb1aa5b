#include "packer/commands.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>

#include "package/package_loader.h"
#include "packer/package_listing.h"
#include "packer/manifest.h"
#include "packer/packer_error.h"
#include "packer/product_files.h"

namespace {

const char kUsage[] =
    "usage: packer build --manifest M.toml --product-dir DIR --stub STUB.exe --output SETUP.exe\n"
    "                    [--end-marker] [--properties N] [--dictionary N] [--extra-size N]\n"
    "                    [--slack N] [--corrupt-checksum]\n"
    "       packer inspect SETUP.exe\n";

uint32_t ParseNumber(const std::string& option, const std::string& text, uint64_t max) {
  errno = 0;
  char* end = nullptr;
  unsigned long long value = strtoull(text.c_str(), &end, 0);
  if (text.empty() || text[0] == '-' || *end != 0 || errno != 0 || value > max)
    throw PackerError("command line", option, "must be a number from 0 to " + std::to_string(max));
  return static_cast<uint32_t>(value);
}

void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* file = fopen(path.c_str(), "wb");
  if (!file) throw PackerError(path, "", std::string("cannot create: ") + strerror(errno));
  bool ok = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  ok = fflush(file) == 0 && ok;
  ok = fclose(file) == 0 && ok;
  if (!ok) throw PackerError(path, "", "cannot write");
}

}  // namespace

BuildRequest ParseBuildArguments(const std::vector<std::string>& args) {
  BuildRequest request;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& option = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw PackerError("command line", option, "needs a value");
      return args[++i];
    };
    if (option == "--manifest") request.Manifest = value();
    else if (option == "--product-dir") request.ProductDir = value();
    else if (option == "--stub") request.Stub = value();
    else if (option == "--output") request.Output = value();
    else if (option == "--end-marker") request.EndMarker = true;
    else if (option == "--corrupt-checksum") request.CorruptChecksum = true;
    else if (option == "--properties") request.Properties = static_cast<uint8_t>(ParseNumber(option, value(), 255));
    else if (option == "--dictionary") request.Dictionary = ParseNumber(option, value(), 0xFFFFFFFFu);
    else if (option == "--extra-size") request.ExtraSize = ParseNumber(option, value(), 0x7FFFFFFFu);
    else if (option == "--slack") request.Slack = ParseNumber(option, value(), 0x7FFFFFFFu);
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

void RunBuild(const BuildRequest& request) {
  Manifest manifest = ReadManifest(request.Manifest, request.ProductDir);
  if (request.EndMarker) manifest.Lzma.EndMarker = true;
  if (request.Properties) manifest.Lzma.Properties = *request.Properties;
  if (request.Dictionary) manifest.Lzma.Dictionary = *request.Dictionary;

  std::vector<uint8_t> stub = ReadWholeFile(request.Stub);
  uint32_t certificate = 0;
  if (!ReadCertificateOffset(stub.data(), static_cast<uint32_t>(std::min<size_t>(stub.size(), 4096)), &certificate))
    throw PackerError(request.Stub, "", "the stub is not a PE image");
  // Data appended after a signature would sit outside the signed region
  // and the stub would look for the package before the certificate table.
  if (certificate != 0)
    throw PackerError(request.Stub, "", "the stub is signed; sign the setup file after packing instead");

  SetupOptions options;
  options.Lzma = manifest.Lzma;
  options.ExtraSize = request.ExtraSize;
  options.Slack = request.Slack;
  options.CorruptChecksum = request.CorruptChecksum;
  std::vector<uint8_t> image = MakeSetupImage(stub, BuildBlock(manifest.Contents), options);

  std::string temporary = request.Output + ".tmp" + std::to_string(getpid());
  try {
    WriteAll(temporary, image);
    if (rename(temporary.c_str(), request.Output.c_str()) != 0)
      throw PackerError(request.Output, "", std::string("cannot write: ") + strerror(errno));
  } catch (...) {
    remove(temporary.c_str());
    throw;
  }
}

int RunPacker(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  try {
    if (args.size() >= 1 && args[0] == "build") {
      RunBuild(ParseBuildArguments(std::vector<std::string>(args.begin() + 1, args.end())));
      return 0;
    }
    if (args.size() == 2 && args[0] == "inspect") return InspectSetupFile(args[1], out, err);
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
