// The package's configure command: the installed main program with
// ConfigureArgs, run once the files are written.
#pragma once
#include <windows.h>

#include "env/wide_text.h"

// Runs program (the installed main program's full path) with ConfigureArgs
// expanded for window and PreviousVersion, and waits until it ends, keeping
// window's messages served meanwhile. Nothing runs when the package has no
// ConfigureArgs or when the command would not fit.
void RunConfigureCommand(const WChar* program, HWND window);
