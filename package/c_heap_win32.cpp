// The C heap's three calls, for liblzma alone: it falls back on them when a
// stream has no allocator, which the stub always gives. Defined here rather
// than imported from msvcrt, they cost the stub less than their imports.
#include <windows.h>

#include <stddef.h>

extern "C" void* malloc(size_t size) { return LocalAlloc(LMEM_FIXED, size); }
extern "C" void* calloc(size_t count, size_t size) {
  unsigned long long bytes = static_cast<unsigned long long>(count) * size;
  return bytes > 0xFFFFFFFFu ? nullptr : LocalAlloc(LPTR, static_cast<SIZE_T>(bytes));
}
extern "C" void free(void* block) { LocalFree(block); }
