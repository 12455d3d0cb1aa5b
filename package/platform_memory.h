// Memory for the portable core. The stub provides it with LocalAlloc, native
// builds with malloc; memory lives until it is freed or the process exits.
#pragma once
#include <stdint.h>

void* PlatformAlloc(uint32_t size);  // null when memory is exhausted
void PlatformFree(void* block);
