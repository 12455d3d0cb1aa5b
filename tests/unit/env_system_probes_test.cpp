// Classification of the Windows version and the processor architecture, the
// registry view that follows from it, and the architectures' names.
#include <gtest/gtest.h>

#include "env/system_probes.h"
#include "packer_test_support.h"

using namespace packer_test;

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

TEST(SystemProbes, RegistryViewFollowsArchitectureAndFlag) {
  struct Case {
    uint32_t ArchClass;
    uint8_t Flags;
    uint32_t View;
  } cases[] = {{1, PH_REGISTRY_64, 0},     {1, 0, 0},     {2, PH_REGISTRY_64, 0x100},
               {2, 0, 0x200},              {4, PH_REGISTRY_64, 0x100}, {4, 0, 0x200}, {0, PH_REGISTRY_64, 0}};
  for (const Case& k : cases) {
    PackageContents c = SmallContents();
    c.HeaderFlags = k.Flags;
    Loaded loaded;
    LoadImage(MakeImage(c), &loaded, 32, k.ArchClass);
    ASSERT_EQ(loaded.Result, LOAD_OK);
    // The flag as the packer wrote it and the loader read it.
    EXPECT_EQ(RegistryViewFor(k.ArchClass, loaded.Package.Header->Flags), k.View)
        << "arch " << k.ArchClass << " flags " << int{k.Flags};
  }
}

TEST(SystemProbes, ArchitectureListIsBounded) {
  struct Case {
    uint32_t Capacity;
    const char16_t* Expected;
  } cases[] = {{1, u""}, {2, u"x"}, {4, u"x86"}, {5, u"x86/"}, {8, u"x86/x64"}, {13, u"x86/x64/arm6"},
               {14, u"x86/x64/arm64"}, {128, u"x86/x64/arm64"}};
  for (const Case& c : cases) {
    WChar buffer[130];
    for (WChar& w : buffer) w = u'#';
    ArchitectureList(7, buffer, c.Capacity);
    EXPECT_EQ(std::u16string(buffer), c.Expected) << c.Capacity;
    for (uint32_t i = c.Capacity; i < 130; ++i) ASSERT_EQ(buffer[i], u'#') << c.Capacity;
  }
  WChar untouched = u'#';
  ArchitectureList(7, &untouched, 0);
  EXPECT_EQ(untouched, u'#');
}

}  // namespace
