// Memory for the portable core. The stub provides it with LocalAlloc, native
// builds with malloc; memory lives until it is freed or the process exits.
#pragma once
#include <stdint.h>

void* PlatformAlloc(uint32_t size);  // null when memory is exhausted
void PlatformFree(void* block);

#ifndef _WIN32
// Native builds only: while set, an allocation for which it answers true
// fails as if memory were exhausted, so tests can reach those paths.
extern bool (*PlatformAllocRefused)(uint32_t size);
#endif
