#include "package/platform_memory.h"

#include <stdlib.h>

void* PlatformAlloc(uint32_t size) { return malloc(size ? size : 1); }
void PlatformFree(void* block) { free(block); }
