// The C heap's three calls, for liblzma's link alone: it falls back on them
// only for a stream without an allocator, and the stub gives every stream
// one. Defined here rather than imported from msvcrt, they cost the stub
// less than their imports; should one ever be called, it fails as a lack of
// memory does.
#include <stddef.h>

extern "C" void* malloc(size_t) { return nullptr; }
extern "C" void* calloc(size_t, size_t) { return nullptr; }
extern "C" void free(void*) {}
