// The names of the OsClass and ArchClass bits (package/system_class.h) in
// the packer's messages and listings.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "package/system_class.h"

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
