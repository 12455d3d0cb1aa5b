#include "package/platform_memory.h"

#include <stdlib.h>

bool (*PlatformAllocRefused)(uint32_t size);

void* PlatformAlloc(uint32_t size) {
  if (PlatformAllocRefused && PlatformAllocRefused(size)) return nullptr;
  return malloc(size ? size : 1);
}
void PlatformFree(void* block) { free(block); }
