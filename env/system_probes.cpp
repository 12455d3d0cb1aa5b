#include "env/system_probes.h"

#include "base/wide_text.h"

uint32_t OsClass = 0;
uint32_t ArchClass = 0;
uint32_t RegistryView = 0;

uint32_t ClassifyOsVersion(uint32_t major, uint32_t minor) {
  if (major == 5) return minor == 0 ? OS_WIN2000 : OS_XP;
  if (major == 6) return minor == 0 ? OS_VISTA : minor == 1 ? OS_WIN7 : OS_WIN8;
  if (major == 10) return OS_WIN10;
  if (major > 10) return OS_WIN11_LATER;
  return 0;
}

uint32_t ClassifyNativeMachine(uint16_t machine) {
  switch (machine) {
    case 0x014C: return ARCH_X86;
    case 0x8664: return ARCH_X64;
    case 0xAA64: return ARCH_ARM64;
  }
  return 0;
}

uint32_t ClassifyProcessorArchitecture(uint16_t architecture) {
  switch (architecture) {
    case 0: return ARCH_X86;
    case 9: return ARCH_X64;
    case 12: return ARCH_ARM64;
  }
  return 0;
}

void ArchitectureList(uint32_t mask, char16_t* dest, uint32_t capacity) {
  if (capacity == 0) return;
  dest[0] = 0;
  for (const NamedBit& arch : kArchNames) {
    if (!(mask & arch.Bit)) continue;
    if (dest[0]) WideAppend(dest, capacity, u"/");
    uint32_t n = WideLength(dest);
    WideCopyAscii(dest + n, capacity - n, arch.Name);
  }
}
