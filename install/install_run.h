// Writing the files, then shortcuts, registration and configure command.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "env/wide_text.h"

extern int InstallFinished;

// Returns 0 for success, 1 for failure. window is the wizard or null.
// pathBuffer holds InstallDir (PATH_CAPACITY characters) up to namePosition.
int RunInstall(HWND window, WChar* pathBuffer, uint32_t namePosition, int desktopShortcut);
