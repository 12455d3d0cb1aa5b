// Message boxes worded by the package and captioned with ProductName.
#pragma once
#include <windows.h>

#include "base/win_text_win32.h"

// Formats format with the one text argument (may be null) into MESSAGE_TEXT_CAPACITY
// characters and shows it; returns MessageBoxW's result unchanged.
int ShowAppMessage(HWND owner, UINT type, const WChar* format, const WChar* argument);
