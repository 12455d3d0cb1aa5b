// The package's configure command: the installed main program with
// ConfigureArgs, run once the files are written.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "base/wide_text.h"

// Runs program (the installed main program's full path, InstallDir up to
// namePosition) with ConfigureArgs expanded for window and PreviousVersion,
// in InstallDir as its current directory, and waits until it ends, keeping
// window's messages served meanwhile. Nothing runs when the package has no
// ConfigureArgs or when the command would not fit.
void RunConfigureCommand(const WChar* program, uint32_t namePosition, HWND window);
