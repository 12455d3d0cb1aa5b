#include "package/package_format.h"

#if defined(__i386__) || defined(__x86_64__)
#include <emmintrin.h>
#endif
#if defined(__i386__) && defined(_WIN32)
#include <windows.h>
#endif

#if defined(__i386__) || defined(__x86_64__)
namespace {

// The stub is built for any i686, so SSE2 is chosen at run time: psadbw
// against zero adds up eight bytes into each 64-bit half, several times as
// fast as the byte loop over the whole unpacked block. size: a multiple of 16.
__attribute__((target("sse2"))) uint32_t SumBlocksSse2(const uint8_t* data, uint32_t size) {
  const __m128i zero = _mm_setzero_si128();
  __m128i sum = zero;
  for (uint32_t i = 0; i < size; i += 16)
    sum = _mm_add_epi64(sum, _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i)), zero));
  uint32_t halves[4];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(halves), sum);
  return halves[0] + halves[2];
}

bool HasSse2() {
#if defined(__x86_64__)
  return true;
#elif defined(_WIN32)
  // Windows answers for the processor and for whether it saves the SSE state.
  return IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE);
#else
  return __builtin_cpu_supports("sse2");
#endif
}

}  // namespace
#endif

uint32_t PackageChecksum(const uint8_t* data, uint32_t size) {
  // A 32-bit sum of the bytes: addition wraps the same way in any order.
  uint32_t sum = 0, i = 0;
#if defined(__i386__) || defined(__x86_64__)
  if (HasSse2()) {
    i = size & ~15u;
    sum = SumBlocksSse2(data, i);
  }
#endif
  for (; i < size; ++i) sum += data[i];
  return sum;
}

namespace {

// Table k gives a byte's CRC k bytes further on, so that four bytes are
// folded in at once.
uint32_t CrcTables[4][256];

}  // namespace

// liblzma's lzma_crc32 fills its table in a constructor, which the stub,
// without C runtime start-up, never runs. These tables are filled by the
// first call, which comes before any second thread computes a CRC: the
// loader's records are checked on one thread, and the packer calls Crc32
// before it starts its encoders. Every chunk's bytes pass here: four bytes
// at a time take a fifth of the time of a nibble at a time.
uint32_t Crc32(const uint8_t* data, uint32_t size) {
  if (!CrcTables[0][128]) {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = c & 1 ? c >> 1 ^ 0xEDB88320u : c >> 1;
      CrcTables[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; ++i) {
      for (int k = 1; k < 4; ++k) CrcTables[k][i] = CrcTables[0][CrcTables[k - 1][i] & 0xFF] ^ CrcTables[k - 1][i] >> 8;
    }
  }
  uint32_t crc = 0xFFFFFFFFu, i = 0;
  for (; i + 4 <= size; i += 4) {
    crc ^= static_cast<uint32_t>(data[i]) | static_cast<uint32_t>(data[i + 1]) << 8 |
           static_cast<uint32_t>(data[i + 2]) << 16 | static_cast<uint32_t>(data[i + 3]) << 24;
    crc = CrcTables[3][crc & 0xFF] ^ CrcTables[2][crc >> 8 & 0xFF] ^ CrcTables[1][crc >> 16 & 0xFF] ^
          CrcTables[0][crc >> 24];
  }
  for (; i < size; ++i) crc = CrcTables[0][(crc ^ data[i]) & 0xFF] ^ crc >> 8;
  return ~crc;
}

bool ParseLzmaProperties(uint8_t props, uint32_t* lc, uint32_t* lp, uint32_t* pb) {
  if (props > 224) return false;
  *pb = props / 45u;
  *lp = (props % 45u) / 9u;
  *lc = props % 9u;
  return true;
}
