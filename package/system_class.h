// The classes of system a package selects: one bit per Windows generation
// and per processor architecture, as the probes report the running system
// and as the package's masks and the entries' flags name the systems they
// are for. Their names are the manifest's, the listing's and extract's.
#pragma once
#include <stdint.h>

#include "package/package_format.h"

enum : uint32_t {
  OS_WIN2000 = 1,
  OS_XP = 2,  // and Server 2003
  OS_VISTA = 4,
  OS_WIN7 = 8,
  OS_WIN8 = 16,  // and 8.1
  OS_WIN10 = 32,  // and 11, which reports 10.0
  OS_WIN11_LATER = 64,  // any later major version
  OS_EVERY = HEADER_OS_ALL,  // admits every package
};

enum : uint32_t {
  ARCH_X86 = 1,
  ARCH_X64 = 2,
  ARCH_ARM64 = 4,
  ARCH_EVERY = HEADER_ARCH_ALL,
};

struct NamedBit {
  const char* Name;
  uint32_t Bit;
};

// Inline, so that a build emits only the tables it uses.
inline constexpr NamedBit kOsNames[7] = {{"win2000", OS_WIN2000}, {"xp", OS_XP},     {"vista", OS_VISTA},
                                         {"win7", OS_WIN7},       {"win8", OS_WIN8}, {"win10", OS_WIN10},
                                         {"win11+", OS_WIN11_LATER}};
inline constexpr NamedBit kArchNames[3] = {{"x86", ARCH_X86}, {"x64", ARCH_X64}, {"arm64", ARCH_ARM64}};

enum SystemAdmission { SYSTEM_ADMITTED, SYSTEM_OS_REFUSED, SYSTEM_ARCH_REFUSED };

// The start-up's checks of the package header's masks, OS first: a mask of
// 0 admits every system. Inline: the stub makes the check once.
inline SystemAdmission PackageAdmitsSystem(const PackageHeader* header, uint32_t osClass, uint32_t archClass) {
  if (header->OsMask != 0 && (header->OsMask & osClass) == 0) return SYSTEM_OS_REFUSED;
  if (header->ArchMask != 0 && (header->ArchMask & archClass) == 0) return SYSTEM_ARCH_REFUSED;
  return SYSTEM_ADMITTED;
}
