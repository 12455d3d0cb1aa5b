#pragma once
#include <windows.h>

// Finish with the launch box checked: starts the product through the
// desktop shell, with the logged-on user's rights.
void LaunchAfterFinish(HWND dialog);
