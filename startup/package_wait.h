// The one gate before anything is written: the wizard's installation and the
// silent run start only once the whole package is decoded and verified.
#pragma once
#include <windows.h>

// Returns once the whole block has been verified. Until then, bar (when not
// null) shows how much is decoded. A damaged package ends the process here,
// after the start-up's message, with exit code 1.
void WaitForPackage(HWND bar);
