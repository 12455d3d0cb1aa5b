// Writing the files, then shortcuts, registration and configure command.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "base/wide_text.h"

extern bool InstallFinished;  // the run ended well

// Returns 0 for success, 1 for failure. window is the wizard and bar its
// progress bar, or both null. pathBuffer holds InstallDir (PATH_CAPACITY
// characters) up to namePosition.
int RunInstall(HWND window, HWND bar, WChar* pathBuffer, uint32_t namePosition, int desktopShortcut);
