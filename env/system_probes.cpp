#include "env/system_probes.h"

#include "env/wide_text.h"

uint32_t OsClass = 0;
uint32_t ArchClass = 0;
uint32_t RegistryView = 0;

uint32_t ClassifyOsVersion(uint32_t major, uint32_t minor) {
  if (major == 5) return minor == 0 ? 1 : 2;
  if (major == 6) return minor == 0 ? 4 : minor == 1 ? 8 : 16;
  if (major == 10) return 32;
  if (major > 10) return 64;
  return 0;
}

uint32_t ClassifyNativeMachine(uint16_t machine) {
  switch (machine) {
    case 0x014C: return 1;
    case 0x8664: return 2;
    case 0xAA64: return 4;
  }
  return 0;
}

uint32_t ClassifyProcessorArchitecture(uint16_t architecture) {
  switch (architecture) {
    case 0: return 1;
    case 9: return 2;
    case 12: return 4;
  }
  return 0;
}

void ArchitectureList(uint32_t mask, char16_t* dest, uint32_t capacity) {
  static const char* const kNames[3] = {"x86", "x64", "arm64"};
  if (capacity == 0) return;
  dest[0] = 0;
  for (uint32_t bit = 0; bit < 3; ++bit) {
    if (!(mask & (1u << bit))) continue;
    if (dest[0]) WideAppend(dest, capacity, u"/");
    uint32_t n = WideLength(dest);
    WideCopyAscii(dest + n, capacity - n, kNames[bit]);
  }
}
