// The portable core's memory in the stub and in the Windows helpers that
// link the core.
#include <windows.h>

#include "package/platform_memory.h"

void* PlatformAlloc(uint32_t size) { return LocalAlloc(LMEM_FIXED, size); }
void PlatformFree(void* block) { LocalFree(block); }
