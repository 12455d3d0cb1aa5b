// Classification of the running system, fixed once the package is loaded.
#pragma once
#include <stdint.h>

extern uint32_t OsClass;       // 0, 1, 2, 4, 8, 16, 32, 64
extern uint32_t ArchClass;     // 0, 1 x86, 2 x64, 4 arm64
extern uint32_t RegistryView;  // 0, KEY_WOW64_64KEY or KEY_WOW64_32KEY

// Portable mappings, tested natively.
uint32_t ClassifyOsVersion(uint32_t major, uint32_t minor);
uint32_t ClassifyNativeMachine(uint16_t machine);          // IMAGE_FILE_MACHINE_*
uint32_t ClassifyProcessorArchitecture(uint16_t architecture);  // PROCESSOR_ARCHITECTURE_*
// "x86", "x64", "arm64" joined by "/" for the bits 1, 2, 4 of mask.
void ArchitectureList(uint32_t mask, char16_t* dest, uint32_t capacity);

// Win32 probes.
uint32_t GetOsClass();
uint32_t GetArchClass();
int DisableFsRedirection(void** oldValue);
int RevertFsRedirection(void* oldValue);
