#include "packer/chunked_writer.h"

#include <string.h>

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

#include "package/sha256.h"
#include "packer/chunk_plan.h"
#include "packer/content_reader.h"
#include "packer/packer_error.h"
#include "packer/stub_capabilities.h"

namespace {

template <typename Record>
void PutRecord(std::vector<uint8_t>& out, const Record& record) {
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&record);
  out.insert(out.end(), bytes, bytes + sizeof record);
}

struct ChunkJob {
  PlannedChunk Plan;
  std::vector<uint8_t> Input;
  std::vector<uint8_t> Output;  // the stream, or empty for a stored chunk
  uint32_t Crc = 0;
  bool Done = false;
};

// Compresses the chunks handed to it on its threads; each job is compressed
// alone, so the bytes do not depend on the number of threads.
class ChunkEncoders {
 public:
  ChunkEncoders(const LzmaSettings& settings, uint32_t threads) : settings_(settings) {
    Crc32(nullptr, 0);  // its table filled before the threads share it
    for (uint32_t i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
  }
  ~ChunkEncoders() {
    {
      std::lock_guard<std::mutex> hold(lock_);
      stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& t : threads_) t.join();
  }
  ChunkEncoders(const ChunkEncoders&) = delete;
  ChunkEncoders& operator=(const ChunkEncoders&) = delete;

  void Add(ChunkJob* job) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      waiting_.push_back(job);
    }
    changed_.notify_all();
  }
  // Waits until job is done; throws what its encoder threw.
  void Await(ChunkJob* job) {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [&] { return job->Done || failure_; });
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  void Work() {
    for (;;) {
      ChunkJob* job;
      {
        std::unique_lock<std::mutex> hold(lock_);
        changed_.wait(hold, [&] { return stopping_ || !waiting_.empty(); });
        if (stopping_) return;
        job = waiting_.front();
        waiting_.pop_front();
      }
      try {
        Encode(job);
        std::lock_guard<std::mutex> hold(lock_);
        job->Done = true;
      } catch (...) {
        std::lock_guard<std::mutex> hold(lock_);
        if (!failure_) failure_ = std::current_exception();
      }
      changed_.notify_all();
    }
  }

  void Encode(ChunkJob* job) const {
    job->Crc = lzma_crc32(job->Input.data(), job->Input.size(), 0);
    if (job->Plan.Stored) return;
    std::vector<uint8_t>& output = job->Output;
    BlockEncoder encoder(
        settings_, job->Input.size(), [&](const uint8_t* bytes, size_t size) { output.insert(output.end(), bytes, bytes + size); },
        false);
    encoder.Add(job->Input.data(), job->Input.size());
    encoder.Finish();
    // Data that does not shrink is stored as it is.
    if (output.size() >= job->Input.size()) {
      job->Plan.Stored = true;
      std::vector<uint8_t>().swap(output);
    }
  }

  const LzmaSettings settings_;
  std::vector<std::thread> threads_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<ChunkJob*> waiting_;
  bool stopping_ = false;
  std::exception_ptr failure_;
};

void Write(FILE* out, const uint8_t* bytes, size_t size) {
  if (size && fwrite(bytes, 1, size, out) != size) throw PackerError("output", "", "cannot write");
}

void Seek(FILE* out, uint64_t at) {
  if (fseeko(out, static_cast<off_t>(at), SEEK_SET) != 0) throw PackerError("output", "", "cannot write");
}

// The SHA-256 of the file's bytes from at to end, read back.
void HashWritten(FILE* out, uint64_t at, uint64_t end, uint8_t digest[SHA256_SIZE]) {
  if (fflush(out) != 0) throw PackerError("output", "", "cannot write");
  Seek(out, at);
  Sha256 hash;
  Sha256Init(&hash);
  std::vector<uint8_t> buffer(1 << 20);
  while (at < end) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(buffer.size(), end - at));
    if (fread(buffer.data(), 1, want, out) != want) throw PackerError("output", "", "cannot read back");
    Sha256Add(&hash, buffer.data(), static_cast<uint32_t>(want));
    at += want;
  }
  Sha256Finish(&hash, digest);
}

}  // namespace

PackedSizes WriteChunkedSetupFile(FILE* out, const std::vector<uint8_t>& stub, const PackageContents& c,
                                  const SetupOptions& options, const PackProgress& progress) {
  if (!options.StubReadsChunks)
    throw PackerError(options.StubName, "",
                      "the stub does not read chunked packages; build with a stub of this version "
                      "(build/win/setup-stub.exe) or with --chunk-size 0");
  // The entries in data order: the table follows it and the licence opens it.
  size_t incompressibleFrom = 0;
  std::vector<uint32_t> order = ChunkedEntryOrder(c, &incompressibleFrom);
  PackageContents ordered;
  ordered.OsMask = c.OsMask;
  ordered.ArchMask = c.ArchMask;
  ordered.HeaderFlags = c.HeaderFlags;
  ordered.LicenseEntry = c.LicenseEntry < c.Files.size() ? 0 : NO_LICENSE_ENTRY;
  ordered.Languages = c.Languages;
  for (int i = 0; i < CFG_COUNT; ++i) ordered.Config[i] = c.Config[i];
  ordered.QuietUninstallArgs = c.QuietUninstallArgs;
  DataPlan plan;
  for (uint32_t i : order) {
    plan.StoreOrder.push_back(static_cast<uint32_t>(ordered.Files.size()));
    plan.StoredAs.push_back(static_cast<uint32_t>(ordered.Files.size()));
    ordered.Files.push_back(c.Files[i]);
  }
  BlockLayout layout;
  uint64_t blockSize = 0;
  std::vector<uint8_t> prefix = BuildHead(ordered, plan, layout, &blockSize, MAX_CHUNKED_BLOCK_SIZE);
  size_t firstData = 0;
  if (ordered.LicenseEntry == 0) {
    ContentReader reader(ordered.Files[0]);
    size_t headSize = prefix.size();
    prefix.resize(headSize + DataSizeOf(ordered.Files[0]));
    reader.Read(prefix.data() + headSize, prefix.size() - headSize);
    uint8_t probe;
    reader.Read(&probe, 1);
    firstData = 1;
  }
  uint64_t incompressibleAt = incompressibleFrom < order.size() ? layout.DataOffsets[incompressibleFrom] : blockSize;
  std::vector<PlannedChunk> chunks = PlanChunks(prefix.size(), incompressibleAt, blockSize, options.ChunkSize);

  // stub | records before the zero bytes | zero bytes | chunk table | prefix
  // record | property bytes | chunks | trailer | slack
  std::vector<uint8_t> extra = QuietArgsRecordBytes(c.QuietUninstallArgs);
  extra.resize(extra.size() + options.ExtraSize, 0);
  const uint64_t tableAt = stub.size() + extra.size();
  const uint64_t tableSize = chunks.size() * sizeof(ChunkRecord) + sizeof(ChunkTableRecord);
  extra.resize(extra.size() + tableSize, 0);
  PrefixRecord record = {PREFIX_MAGIC, static_cast<uint32_t>(prefix.size()), lzma_crc32(prefix.data(), prefix.size(), 0)};
  PutRecord(extra, record);
  Write(out, stub.data(), stub.size());
  Write(out, extra.data(), extra.size());
  uint8_t properties[5] = {options.Lzma.Properties};
  for (int i = 0; i < 4; ++i) properties[1 + i] = static_cast<uint8_t>(options.Lzma.Dictionary >> (8 * i));
  Write(out, properties, sizeof properties);
  const uint64_t blockAt = stub.size() + extra.size();

  std::vector<ChunkRecord> records;
  uint64_t packed = sizeof properties, done = 0;
  uint32_t checksum = 0;
  auto report = [&] {
    if (progress) progress(done, blockSize, blockAt + packed);
  };
  {
    const uint32_t threads = std::max<uint32_t>(options.Threads, 1);
    // Before the encoders, so that they have stopped before the jobs go.
    std::deque<ChunkJob> jobs;
    ChunkEncoders encoders(options.Lzma, threads);
    // Two more in hand than threads: one being filled, one being written.
    const size_t inFlight = threads + 2;
    auto writeOldest = [&] {
      ChunkJob& job = jobs.front();
      encoders.Await(&job);
      const std::vector<uint8_t>& bytes = job.Plan.Stored ? job.Input : job.Output;
      Write(out, bytes.data(), bytes.size());
      records.push_back({packed, bytes.size(), job.Plan.UnpackedOffset, job.Plan.UnpackedSize, job.Crc,
                         job.Plan.Stored ? CHUNK_STORED : 0u});
      packed += bytes.size();
      if (stub.size() + extra.size() + packed + TRAILER_SIZE + options.Slack > MAX_CHUNKED_FILE_SIZE)
        throw PackerError("package", "file", "the setup file would reach 4 GiB");
      jobs.pop_front();
      report();
    };
    // The block's bytes in order, cut at the chunks' ends.
    size_t next = 0;
    auto feed = [&](const uint8_t* bytes, size_t size) {
      checksum += PackageChecksum(bytes, static_cast<uint32_t>(size));
      done += size;
      while (size) {
        if (jobs.empty() || jobs.back().Input.size() == jobs.back().Plan.UnpackedSize) {
          if (jobs.size() == inFlight) writeOldest();
          jobs.emplace_back();
          jobs.back().Plan = chunks[next++];
          jobs.back().Input.reserve(jobs.back().Plan.UnpackedSize);
        }
        ChunkJob& job = jobs.back();
        size_t n = std::min<size_t>(size, job.Plan.UnpackedSize - job.Input.size());
        job.Input.insert(job.Input.end(), bytes, bytes + n);
        if (job.Input.size() == job.Plan.UnpackedSize) encoders.Add(&job);
        bytes += n;
        size -= n;
      }
    };
    feed(prefix.data(), prefix.size());
    std::vector<uint8_t>().swap(prefix);
    std::vector<uint8_t> buffer(1 << 20);
    for (size_t i = firstData; i < ordered.Files.size(); ++i) {
      ContentReader reader(ordered.Files[i]);
      while (size_t n = reader.Read(buffer.data(), buffer.size())) feed(buffer.data(), n);
    }
    while (!jobs.empty()) writeOldest();
  }

  std::vector<uint8_t> tail;
  PackageTrailer trailer = {options.CorruptChecksum ? checksum ^ 0x01000000u : checksum,
                            static_cast<uint32_t>(blockSize), static_cast<uint32_t>(packed),
                            static_cast<uint32_t>(extra.size()), TRAILER_MAGIC};
  PutRecord(tail, trailer);
  tail.resize(tail.size() + options.Slack, 0);
  Write(out, tail.data(), tail.size());
  const uint64_t end = blockAt + packed + tail.size();

  std::vector<uint8_t> table;
  for (const ChunkRecord& r : records) PutRecord(table, r);
  ChunkTableRecord tableRecord = {CHUNK_TABLE_MAGIC, static_cast<uint32_t>(records.size()),
                                  lzma_crc32(table.data(), table.size(), 0)};
  PutRecord(table, tableRecord);
  Seek(out, tableAt);
  Write(out, table.data(), table.size());
  uint64_t slot;
  if (FindPackageHashSlot(stub, &slot)) {
    uint8_t digest[SHA256_SIZE];
    HashWritten(out, stub.size(), blockAt + packed + TRAILER_SIZE, digest);
    Seek(out, slot);
    Write(out, digest, SHA256_SIZE);
  }
  Seek(out, end);
  return {static_cast<uint32_t>(packed), static_cast<uint32_t>(blockSize)};
}
