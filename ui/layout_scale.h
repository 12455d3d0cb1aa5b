// The wizard's layout on a screen of another DPI. Each control keeps its
// place as a fraction of the client area, always computed from the layout
// the dialog had when it was made, so that moving between screens and back
// brings every control back to the same pixel.
#pragma once
#include <windows.h>

// Records the place of each of the dialog's controls. Called once the
// start-up layout is complete: any control moved or added before counts.
void RememberLayout(HWND dialog);
// Moves the dialog to window (screen coordinates), places every control for
// its new client area, and gives each control that has the font oldFont the
// font newFont instead.
void RescaleLayout(HWND dialog, const RECT* window, HFONT oldFont, HFONT newFont);
