// The parts of a mirrored (right-to-left) wizard that stay left to right.
#pragma once
#include <windows.h>

// For a dialog that ChooseLanguage's layout mirrored, with every control
// then mirrored in place: the header icon is drawn as it is, the directory
// field reads left to right, and windows made later are not mirrored.
// Returns the extended style of the text pane, made next: its scroll bar on
// the mirrored (left) side. Without mirroring it changes nothing and returns 0.
// Once per dialog: it flips the styles it changes.
DWORD KeepPathsLeftToRight(HWND dialog);
