#pragma once
#include <windows.h>

// Asks running copies of the product to close and waits until their window
// and mutex are gone. Ends the process with exit code 0 on Cancel.
void CloseRunningInstances(HWND owner);
