// Names of the OsClass and ArchClass bits, shared by the manifest (names to
// bits) and inspect (bits to names).
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>

struct NamedBit {
  const char* Name;
  uint32_t Bit;
};

extern const NamedBit kOsNames[7];    // win2000 .. win11+, OsClass 1 .. 64
extern const NamedBit kArchNames[3];  // x86, x64, arm64

// "win2000, xp, ..." for messages.
template <size_t N>
std::string NameList(const NamedBit (&names)[N]) {
  std::string list;
  for (const NamedBit& n : names) list += std::string(list.empty() ? "" : ", ") + n.Name;
  return list;
}

// "win10,win11+" for the set bits, bits without a name in hex; "all" when
// mask is 0 or has all of allBits.
std::string DescribeOsMask(uint32_t mask, uint32_t allBits);
std::string DescribeArchMask(uint32_t mask, uint32_t allBits);
