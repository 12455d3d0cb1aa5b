// The stub's one LoadedPackage and its Win32 loader.
#pragma once
#include "package/package_loader.h"

extern LoadedPackage Package;

// Opens the stub's own file and loads the package's prefix into Package, its
// entries counted for the system of the given classes, and starts decoding
// the rest on a worker thread. LOAD_NO_MEMORY when the package could not get
// its memory; any other result but LOAD_OK means a damaged or missing
// package. The setup file's read handle stays open until the process exits.
LoadResult LoadPackage(uint32_t osClass, uint32_t archClass);

// Whether the rest of the block is decoded (verified or not) already.
bool IsPackageComplete();
// The share of the block decoded so far, 0 to 10000.
uint32_t PackageDecodedShare();
// Waits until the whole block is decoded and verified: LOAD_OK, or why not.
// Meanwhile serves the thread's messages and calls onWait (when given) about
// every 50 ms. Only what the prefix holds may be used before it returned
// LOAD_OK.
LoadResult AwaitPackage(void (*onWait)(void* context), void* context);

// The block's bytes at offset, decoded and verified, into *data, and how
// many follow there (at least one) into *available: 0, or the Win32 error
// of the chunk that holds them (ERROR_CRC when it failed its check,
// ERROR_NOT_ENOUGH_MEMORY when its decoder got no memory). After
// AwaitPackage's LOAD_OK, on one thread, with offsets that never go back: a
// chunked package's chunks pass through a window, and each one passed gives
// its place to a later one.
unsigned long PackageBytes(uint32_t offset, const uint8_t** data, uint32_t* available);

// ConfigString i of the package, or null when absent.
inline const WChar* Config(int index) { return Package.Config[index]; }
