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

// liblzma's lzma_crc32 fills its table in a constructor, which the stub,
// without C runtime start-up, never runs; a table of sixteen entries is
// enough for the few hundred kilobytes of a prefix.
uint32_t Crc32(const uint8_t* data, uint32_t size) {
  static const uint32_t kNibble[16] = {
      0x00000000u, 0x1DB71064u, 0x3B6E20C8u, 0x26D930ACu, 0x76DC4190u, 0x6B6B51F4u, 0x4DB26158u, 0x5005713Cu,
      0xEDB88320u, 0xF00F9344u, 0xD6D6A3E8u, 0xCB61B38Cu, 0x9B64C2B0u, 0x86D3D2D4u, 0xA00AE278u, 0xBDBDF21Cu};
  uint32_t crc = 0xFFFFFFFFu;
  for (uint32_t i = 0; i < size; ++i) {
    crc ^= data[i];
    crc = (crc >> 4) ^ kNibble[crc & 15];
    crc = (crc >> 4) ^ kNibble[crc & 15];
  }
  return ~crc;
}

bool ParseLzmaProperties(uint8_t props, uint32_t* lc, uint32_t* lp, uint32_t* pb) {
  if (props > 224) return false;
  *pb = props / 45u;
  *lp = (props % 45u) / 9u;
  *lc = props % 9u;
  return true;
}
