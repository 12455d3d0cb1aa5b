#include "package/package_format.h"

uint32_t PackageChecksum(const uint8_t* data, uint32_t size) {
  // Four independent sums let the compiler vectorise the loop; addition
  // wraps the same way in any order.
  uint32_t s0 = 0, s1 = 0, s2 = 0, s3 = 0;
  uint32_t i = 0;
  for (; i + 4 <= size; i += 4) {
    s0 += data[i];
    s1 += data[i + 1];
    s2 += data[i + 2];
    s3 += data[i + 3];
  }
  for (; i < size; ++i) s0 += data[i];
  return s0 + s1 + s2 + s3;
}

bool ParseLzmaProperties(uint8_t props, uint32_t* lc, uint32_t* lp, uint32_t* pb) {
  if (props > 224) return false;
  *pb = props / 45u;
  *lp = (props % 45u) / 9u;
  *lc = props % 9u;
  return true;
}
