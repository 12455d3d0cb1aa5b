#include "packer/commands.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "package/package_loader.h"
#include "packer/package_listing.h"
#include "packer/manifest.h"
#include "packer/packer_error.h"
#include "packer/product_files.h"

namespace {

const char kUsage[] =
    "usage: packer build --manifest M.toml --product-dir DIR --stub STUB.exe --output SETUP.exe\n"
    "                    [--end-marker] [--properties N] [--dictionary N] [--extra-size N]\n"
    "                    [--slack N] [--corrupt-checksum] [--level N] [--quiet]\n"
    "       packer inspect SETUP.exe\n";

uint32_t ParseNumber(const std::string& option, const std::string& text, uint64_t max) {
  errno = 0;
  char* end = nullptr;
  unsigned long long value = strtoull(text.c_str(), &end, 0);
  if (text.empty() || text[0] == '-' || *end != 0 || errno != 0 || value > max)
    throw PackerError("command line", option, "must be a number from 0 to " + std::to_string(max));
  return static_cast<uint32_t>(value);
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
    else if (option == "--level") request.Level = ParseNumber(option, value(), MAX_LEVEL);
    else if (option == "--quiet") request.Quiet = true;
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
  if (request.Level) manifest.Lzma.Level = *request.Level;

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

  std::string temporary = request.Output + ".tmp" + std::to_string(getpid());
  FILE* file = fopen(temporary.c_str(), "wb");
  if (!file) throw PackerError(temporary, "", std::string("cannot create: ") + strerror(errno));
  try {
    {
      ProgressLine progress(!request.Quiet && isatty(STDERR_FILENO));
      WriteSetupFile(file, stub, manifest.Contents, options, [&](uint64_t done, uint64_t total, uint64_t written) {
        progress.Update(done, total, written);
      });
    }
    bool ok = fflush(file) == 0;
    ok = fclose(file) == 0 && ok;
    file = nullptr;
    if (!ok) throw PackerError(request.Output, "", "cannot write");
    if (rename(temporary.c_str(), request.Output.c_str()) != 0)
      throw PackerError(request.Output, "", std::string("cannot write: ") + strerror(errno));
  } catch (...) {
    if (file) fclose(file);
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
