#include "packer/chunk_plan.h"

#include <errno.h>
#include <math.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <string>

#include "packer/packer_error.h"
#include "packer/utf8_paths.h"

namespace {

enum : size_t { SAMPLE_PIECE = 16 << 10, SAMPLE_PIECES = 3 };
// Below this a sample says too little, and the file costs the encoder little.
enum : uint64_t { SMALLEST_SAMPLED = 512 };

// Up to SAMPLE_PIECES pieces: the start, the middle and the end.
std::vector<uint8_t> Sample(const PackageFileEntry& file) {
  const uint64_t size = DataSizeOf(file);
  std::vector<uint8_t> sample;
  FILE* stream = nullptr;
  if (!file.Source.empty()) {
    stream = OpenUtf8File(file.Source, "rb");
    if (!stream) throw PackerError(file.Source, "", std::string("cannot open: ") + strerror(errno));
  }
  for (size_t piece = 0; piece < SAMPLE_PIECES; ++piece) {
    uint64_t at = size <= SAMPLE_PIECE * SAMPLE_PIECES ? piece * SAMPLE_PIECE
                                                       : (size - SAMPLE_PIECE) * piece / (SAMPLE_PIECES - 1);
    if (at >= size) break;
    size_t n = static_cast<size_t>(std::min<uint64_t>(SAMPLE_PIECE, size - at));
    size_t had = sample.size();
    sample.resize(had + n);
    if (!stream) {
      memcpy(sample.data() + had, file.Data.data() + at, n);
    } else if (fseeko(stream, static_cast<off_t>(at), SEEK_SET) != 0 || fread(sample.data() + had, 1, n, stream) != n) {
      fclose(stream);
      throw PackerError(file.Source, "", "cannot read");
    }
  }
  if (stream) fclose(stream);
  return sample;
}

}  // namespace

bool LooksIncompressible(const PackageFileEntry& file) {
  if (DataSizeOf(file) < SMALLEST_SAMPLED) return false;
  std::vector<uint8_t> sample = Sample(file);
  uint64_t counts[256] = {};
  for (uint8_t b : sample) ++counts[b];
  const double n = static_cast<double>(sample.size());
  double bits = 0;
  for (uint64_t count : counts) {
    if (count) bits -= count / n * log2(count / n);
  }
  // A sample of n random bytes falls short of 8 bits by about 255 / (2 n ln 2);
  // text stays below 5 bits and programs below 7, compressed data above 7.95.
  return bits > 7.9 - 255 / (2 * n * log(2.0));
}

std::vector<uint32_t> ChunkedEntryOrder(const PackageContents& c, size_t* incompressibleFrom) {
  const uint32_t count = static_cast<uint32_t>(c.Files.size());
  DataPlan plan = PlanData(c);
  std::vector<std::vector<uint32_t>> copies(count);
  for (uint32_t i = 0; i < count; ++i) {
    if (plan.StoredAs[i] != i) copies[plan.StoredAs[i]].push_back(i);
  }
  // The stub checks each folder level as its run enters the folder: the
  // entries of a folder stay together, folders in the order the manifest
  // first names them, and the kinds side by side only within a folder.
  std::map<std::string, uint32_t> folders;
  std::vector<uint32_t> folderRank(count);
  for (uint32_t i = 0; i < count; ++i) {
    const std::string& name = c.Files[i].Name;
    size_t slash = name.find_last_of("\\/");
    auto placed = folders.emplace(slash == std::string::npos ? std::string() : name.substr(0, slash),
                                  static_cast<uint32_t>(folders.size()));
    folderRank[i] = placed.first->second;
  }
  std::vector<uint32_t> storeOrder = plan.StoreOrder;
  std::stable_sort(storeOrder.begin(), storeOrder.end(),
                   [&](uint32_t a, uint32_t b) { return folderRank[a] < folderRank[b]; });
  std::vector<uint32_t> order, incompressible;
  for (uint32_t stored : storeOrder) {
    bool licence = c.LicenseEntry < count && plan.StoredAs[c.LicenseEntry] == stored && order.empty();
    // Copies of data that does not compress stay with the rest: beside the
    // first, the encoder codes each further copy in a few bytes, where a
    // stored chunk would hold it whole again.
    const bool store = !licence && copies[stored].empty() && LooksIncompressible(c.Files[stored]);
    std::vector<uint32_t>& into = store ? incompressible : order;
    into.push_back(stored);
    into.insert(into.end(), copies[stored].begin(), copies[stored].end());
  }
  // The licence entry itself first: its data opens the prefix.
  if (c.LicenseEntry < count) {
    auto at = std::find(order.begin(), order.end(), uint32_t{c.LicenseEntry});
    std::rotate(order.begin(), at, at + 1);
  }
  *incompressibleFrom = order.size();
  order.insert(order.end(), incompressible.begin(), incompressible.end());

  // Names the same but for case: their places, in order, go to them in
  // their manifest order.
  std::map<std::string, std::vector<size_t>> byName;
  for (size_t place = 0; place < order.size(); ++place) {
    std::string name = c.Files[order[place]].Name;
    for (char& ch : name) ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
    byName[name].push_back(place);
  }
  const bool licenceFirst = c.LicenseEntry < count;
  for (auto& [name, places] : byName) {
    // The licence keeps the first place: its data must open the block.
    if (places.size() < 2 || (licenceFirst && places[0] == 0)) continue;
    std::vector<uint32_t> entries;
    for (size_t place : places) entries.push_back(order[place]);
    std::sort(entries.begin(), entries.end());
    for (size_t k = 0; k < places.size(); ++k) order[places[k]] = entries[k];
  }
  return order;
}

std::vector<PlannedChunk> PlanChunks(uint64_t prefixSize, uint64_t incompressibleAt, uint64_t blockSize,
                                     uint32_t chunkSize) {
  std::vector<PlannedChunk> chunks;
  chunks.push_back({0, static_cast<uint32_t>(prefixSize), false});
  const std::pair<uint64_t, bool> regions[] = {{incompressibleAt, false}, {blockSize, true}};
  uint64_t at = prefixSize;
  for (const auto& [end, stored] : regions) {
    for (; at < end; at += chunks.back().UnpackedSize)
      chunks.push_back({at, static_cast<uint32_t>(std::min<uint64_t>(chunkSize, end - at)), stored});
  }
  return chunks;
}
