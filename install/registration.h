#pragma once
#include <windows.h>
#include <stdint.h>

#include "base/wide_text.h"

// Writes the uninstall entry and runs the configure command. Nothing is
// written or run when the key cannot be created.
void RegisterUninstall(WChar* pathBuffer, uint32_t namePosition, HWND window);
