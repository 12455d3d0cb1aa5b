// Raw LZMA1 compression of the unpacked block into the package's compressed
// block: five property bytes, then the stream.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <vector>

#include <lzma.h>

enum : uint32_t { MAX_LEVEL = 9, DEFAULT_LEVEL = 6 };

struct LzmaSettings {
  uint8_t Properties = 0x5D;     // (pb * 5 + lp) * 9 + lc
  uint32_t Dictionary = 1u << 23;  // written as given; 0 is read as 1
  bool EndMarker = false;
  uint32_t Level = DEFAULT_LEVEL;  // 0..MAX_LEVEL: encoder effort, not in the file
};

// Compresses the block fed piece by piece, so that it need not be held in
// memory. totalSize must be the exact number of bytes that Add will get:
// the encoder sizes its dictionary by it and stops the stream there. Output
// goes to sink as it is produced, the five property bytes first unless
// propertyBytes is false (a chunk's stream, which the block's bytes precede).
// Properties the encoder cannot produce (above 224, or lc + lp above 4) are
// still written as given, in front of a stream made with 0x5D, so that
// tests can build packages a reader must refuse. Throws PackerError when
// liblzma fails.
class BlockEncoder {
 public:
  using Sink = std::function<void(const uint8_t* bytes, size_t size)>;
  BlockEncoder(const LzmaSettings& settings, uint64_t totalSize, Sink sink, bool propertyBytes = true);
  ~BlockEncoder();
  BlockEncoder(const BlockEncoder&) = delete;
  BlockEncoder& operator=(const BlockEncoder&) = delete;

  void Add(const uint8_t* data, size_t size);
  void Finish();
  uint64_t Written() const { return written_; }  // property bytes included

 private:
  void Drain(lzma_action action);
  lzma_stream stream_ = LZMA_STREAM_INIT;
  Sink sink_;
  std::vector<uint8_t> out_;
  uint64_t written_ = 0;
};

// True when liblzma can encode with this properties byte.
bool IsEncodableProperties(uint8_t properties);
