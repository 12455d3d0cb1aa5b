// Classification of the running system, fixed once the start-up has probed it.
#pragma once
#include <stdint.h>

#include "package/system_class.h"

extern uint32_t OsClass;       // one OS_* bit, 0 for an unknown version
extern uint32_t ArchClass;     // one ARCH_* bit, 0 for an unknown processor
extern uint32_t RegistryView;  // 0, KEY_WOW64_64KEY or KEY_WOW64_32KEY

enum : uint32_t { KEY_WOW64_64KEY_VIEW = 0x100, KEY_WOW64_32KEY_VIEW = 0x200 };

// Portable mappings, tested natively.
uint32_t ClassifyOsVersion(uint32_t major, uint32_t minor);
uint32_t ClassifyNativeMachine(uint16_t machine);          // IMAGE_FILE_MACHINE_*
uint32_t ClassifyProcessorArchitecture(uint16_t architecture);  // PROCESSOR_ARCHITECTURE_*
// The view of HKLM a package's keys go to: on 64-bit Windows the one the
// package header's PH_REGISTRY_64 flag asks for, elsewhere the only one.
// Inline: the start-up asks once.
inline uint32_t RegistryViewFor(uint32_t archClass, uint8_t headerFlags) {
  if (!(archClass & (ARCH_X64 | ARCH_ARM64))) return 0;
  return (headerFlags & PH_REGISTRY_64) ? KEY_WOW64_64KEY_VIEW : KEY_WOW64_32KEY_VIEW;
}
// "x86", "x64", "arm64" joined by "/" for the bits 1, 2, 4 of mask.
void ArchitectureList(uint32_t mask, char16_t* dest, uint32_t capacity);

// Win32: sets ArchClass, then OsClass.
void ProbeSystem();
int DisableFsRedirection(void** oldValue);
int RevertFsRedirection(void* oldValue);
