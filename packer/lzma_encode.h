// Raw LZMA1 compression of the unpacked block into the package's compressed
// block: five property bytes, then the stream.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <vector>

struct LzmaSettings {
  uint8_t Properties = 0x5D;     // (pb * 5 + lp) * 9 + lc
  uint32_t Dictionary = 1u << 23;  // written as given; 0 is read as 1
  bool EndMarker = false;
};

// Compresses data. Properties the encoder cannot produce (above 224, or
// lc + lp above 4) are still written as given, in front of a stream made
// with 0x5D, so that tests can build packages a reader must refuse.
// Throws PackerError when liblzma fails.
std::vector<uint8_t> CompressBlock(const uint8_t* data, size_t size, const LzmaSettings& settings);

// True when liblzma can encode with this properties byte.
bool IsEncodableProperties(uint8_t properties);
