// Names that screen readers speak for controls without a label of their own.
#pragma once
#include <windows.h>

// Annotates the control's accessible name (MSAA's name property, which UI
// Automation also reads); nothing happens where the service is missing.
void SetAccessibleName(HWND control, LPCWSTR name);
