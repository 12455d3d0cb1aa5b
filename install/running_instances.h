#pragma once
#include <windows.h>

// Asks running copies of the product to close and waits until their window
// and mutex are gone. Cancel on the question ends the process: exit code 0
// from the wizard (owner given), 1 from a silent run (no owner), 2 when
// message boxes are suppressed.
void CloseRunningInstances(HWND owner);
