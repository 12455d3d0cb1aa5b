#include "ui/mirrored_layout.h"

#include "ui/dialog_ids.h"

// Mirroring is the window's layout, not a move of each control: positions
// given later in the dialog's client coordinates (a wider Browse button, a
// layout at another DPI) come out mirrored as well.
DWORD KeepPathsLeftToRight(HWND dialog) {
  LONG style = GetWindowLongW(dialog, GWL_EXSTYLE);
  if (!(style & WS_EX_LAYOUTRTL)) return 0;
  // A mirrored icon would be drawn flipped; a path read right to left
  // moves its trailing separators to the front.
  static const BYTE kUnmirrored[] = {IDC_HEADER_ICON, IDC_DIR_EDIT};
  for (BYTE id : kUnmirrored) {
    HWND control = GetDlgItem(dialog, id);
    SetWindowLongW(control, GWL_EXSTYLE, GetWindowLongW(control, GWL_EXSTYLE) & ~WS_EX_LAYOUTRTL);
  }
  // The pane shows a licence in the direction its text gives and the log's
  // paths left to right.
  SetWindowLongW(dialog, GWL_EXSTYLE, style | WS_EX_NOINHERITLAYOUT);
  return WS_EX_LEFTSCROLLBAR;
}
