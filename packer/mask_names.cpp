#include "packer/mask_names.h"

#include <stdio.h>

namespace {

template <size_t N>
std::string Describe(uint32_t mask, uint32_t allBits, const NamedBit (&names)[N]) {
  if (mask == 0 || (mask & allBits) == allBits) return "all";
  std::string text;
  for (const NamedBit& n : names) {
    if (mask & n.Bit) {
      text += std::string(text.empty() ? "" : ",") + n.Name;
      mask &= ~n.Bit;
    }
  }
  if (mask) {
    char rest[16];
    snprintf(rest, sizeof rest, "0x%X", mask);
    text += std::string(text.empty() ? "" : ",") + rest;
  }
  return text;
}

}  // namespace

std::string DescribeOsMask(uint32_t mask, uint32_t allBits) { return Describe(mask, allBits, kOsNames); }
std::string DescribeArchMask(uint32_t mask, uint32_t allBits) { return Describe(mask, allBits, kArchNames); }
