// The stub's own English texts for the refusals before the language is chosen.
#pragma once
#include <stdint.h>

#include "base/wide_text.h"

extern const WChar kDamagedText[];
extern const WChar kNoMemoryText[];
extern const WChar kUnsupportedOsText[];

// "This setup can only be installed on Windows x86/x64!" for the bits 1, 2
// and 4 of mask, into dest (cut at capacity). A mask without any of those
// bits names no architecture, and no system can run such a package.
void FormatArchitectureMessage(uint32_t mask, WChar* dest, uint32_t capacity);
