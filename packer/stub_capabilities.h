// The capabilities a setup stub declares (resources/stub_capabilities.h),
// read from its PE image's resource tree.
#pragma once
#include <stdint.h>

#include <vector>

// The number in the stub's RCDATA resource STUB_CAPABILITIES_ID; 0 when the
// image has no such resource (a stub built before it existed) or its
// resource tree cannot be read.
uint32_t ReadStubCapabilities(const std::vector<uint8_t>& image);
