// The capabilities a setup stub declares (resources/stub_capabilities.h),
// read from its PE image's resource tree.
#pragma once
#include <stdint.h>

#include <vector>

// The number in the stub's RCDATA resource STUB_CAPABILITIES_ID; 0 when the
// image has no such resource (a stub built before it existed) or its
// resource tree cannot be read.
uint32_t ReadStubCapabilities(const std::vector<uint8_t>& image);

// The file offset of the stub's package hash slot, the SHA256_SIZE bytes of
// its RCDATA resource STUB_PACKAGE_HASH_ID, where the packer binds the
// package to the stub (docs/packer.md); false when the image has none (a
// stub built before the slot existed) or its resource tree cannot be read.
bool FindPackageHashSlot(const std::vector<uint8_t>& image, uint64_t* at);
