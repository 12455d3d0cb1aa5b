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

bool ParseLzmaProperties(uint8_t props, uint32_t* lc, uint32_t* lp, uint32_t* pb) {
  if (props > 224) return false;
  *pb = props / 45u;
  *lp = (props % 45u) / 9u;
  *lc = props % 9u;
  return true;
}
