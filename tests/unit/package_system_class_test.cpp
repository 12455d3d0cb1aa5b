// The start-up's admission of the running system by the package header's
// masks, and the names of the class bits.
#include <gtest/gtest.h>

#include "package/system_class.h"

namespace {

TEST(SystemClass, PackageAdmitsSystemOsFirst) {
  struct Case {
    uint16_t OsMask;
    uint8_t ArchMask;
    uint32_t Os, Arch;
    SystemAdmission Expected;
  } cases[] = {
      {0, 0, OS_WIN10, ARCH_X64, SYSTEM_ADMITTED},                 // 0: every system
      {0, 0, 0, 0, SYSTEM_ADMITTED},                               // even an unknown one
      {OS_WIN7 | OS_WIN10, ARCH_X64, OS_WIN10, ARCH_X64, SYSTEM_ADMITTED},
      {OS_WIN7 | OS_WIN10, 0, OS_XP, ARCH_X64, SYSTEM_OS_REFUSED},
      {OS_WIN10, 0, 0, ARCH_X64, SYSTEM_OS_REFUSED},               // a version the probes do not know
      {0, ARCH_X64 | ARCH_ARM64, OS_WIN10, ARCH_X86, SYSTEM_ARCH_REFUSED},
      {0, ARCH_X64, OS_WIN10, 0, SYSTEM_ARCH_REFUSED},
      {0, 0x10, OS_WIN10, ARCH_X64, SYSTEM_ARCH_REFUSED},          // only unknown bits: nothing runs it
      {OS_WIN10, ARCH_X64, OS_XP, ARCH_X86, SYSTEM_OS_REFUSED},    // both wrong: the OS is told
      {0x8000, 0x80, OS_EVERY, ARCH_EVERY, SYSTEM_ADMITTED},       // extract without a system
  };
  for (const Case& k : cases) {
    PackageHeader header = {};
    header.OsMask = k.OsMask;
    header.ArchMask = k.ArchMask;
    EXPECT_EQ(PackageAdmitsSystem(&header, k.Os, k.Arch), k.Expected)
        << std::hex << k.OsMask << " " << unsigned{k.ArchMask} << " on " << k.Os << " " << k.Arch;
  }
}

TEST(SystemClass, NamesCoverEveryClassOnce) {
  uint32_t os = 0, arch = 0;
  for (const NamedBit& n : kOsNames) {
    EXPECT_EQ(os & n.Bit, 0u) << n.Name;
    os |= n.Bit;
  }
  for (const NamedBit& n : kArchNames) {
    EXPECT_EQ(arch & n.Bit, 0u) << n.Name;
    arch |= n.Bit;
  }
  EXPECT_EQ(os, uint32_t{OS_WIN2000 | OS_XP | OS_VISTA | OS_WIN7 | OS_WIN8 | OS_WIN10 | OS_WIN11_LATER});
  EXPECT_EQ(arch, uint32_t{ARCH_X86 | ARCH_X64 | ARCH_ARM64});
  EXPECT_EQ(arch & ~FE_ARCH_MASK, 0u) << "entry flags hold every architecture";
  EXPECT_STREQ(kOsNames[6].Name, "win11+");
  EXPECT_STREQ(kArchNames[2].Name, "arm64");
}

}  // namespace
