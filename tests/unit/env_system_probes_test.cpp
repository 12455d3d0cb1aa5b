// Classification of the Windows version and the processor architecture.
#include <gtest/gtest.h>

#include "env/system_probes.h"

namespace {

TEST(SystemProbes, OsVersionClasses) {
  struct Case {
    uint32_t Major, Minor, Class;
  } cases[] = {
      {5, 0, 1},   {5, 1, 2},   {5, 2, 2},    {5, 99, 2},           // 2000; XP, Server 2003
      {6, 0, 4},   {6, 1, 8},   {6, 2, 16},   {6, 3, 16}, {6, 4, 16},  // Vista, 7, 8, 8.1
      {10, 0, 32}, {10, 1, 32},                                      // 10 and 11 report 10.0
      {11, 0, 64}, {12, 5, 64}, {0xFFFFFFFF, 0, 64},                 // unsigned: huge is newer
      {0, 0, 0},   {3, 51, 0},  {4, 0, 0},    {7, 0, 0},  {8, 1, 0}, {9, 0, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ClassifyOsVersion(c.Major, c.Minor), c.Class) << c.Major << "." << c.Minor;
}

TEST(SystemProbes, NativeMachineClasses) {
  struct Case {
    uint16_t Machine;
    uint32_t Class;
  } cases[] = {
      {0x014C, 1}, {0x8664, 2}, {0xAA64, 4},
      {0x0000, 0}, {0x0200, 0} /* IA64 */, {0x01C4, 0} /* ARMNT */, {0x014D, 0}, {0xFFFF, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(ClassifyNativeMachine(c.Machine), c.Class) << std::hex << c.Machine;
}

TEST(SystemProbes, ProcessorArchitectureClasses) {
  struct Case {
    uint16_t Architecture;
    uint32_t Class;
  } cases[] = {
      {0, 1}, {9, 2}, {12, 4},
      {5, 0} /* ARM */, {6, 0} /* IA64 */, {10, 0} /* IA32 on Win64 */, {0xFFFF, 0} /* unknown */,
  };
  for (const Case& c : cases)
    EXPECT_EQ(ClassifyProcessorArchitecture(c.Architecture), c.Class) << c.Architecture;
}

}  // namespace
