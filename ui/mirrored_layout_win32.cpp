#include "ui/mirrored_layout.h"

#include "ui/dialog_ids.h"

namespace {

// Only for bits whose state is known.
void FlipExStyle(HWND window, LONG bits) {
  SetWindowLongW(window, GWL_EXSTYLE, GetWindowLongW(window, GWL_EXSTYLE) ^ bits);
}

}  // namespace

// Mirroring is the window's layout, not a move of each control: positions
// given later in the dialog's client coordinates (a wider Browse button, a
// layout at another DPI) come out mirrored as well.
DWORD KeepPathsLeftToRight(HWND dialog) {
  if (!(GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_LAYOUTRTL)) return 0;
  // A mirrored icon would be drawn flipped; a path read right to left
  // moves its leading and trailing separators to the other end.
  FlipExStyle(GetDlgItem(dialog, IDC_HEADER_ICON), WS_EX_LAYOUTRTL);
  FlipExStyle(GetDlgItem(dialog, IDC_DIR_EDIT), WS_EX_LAYOUTRTL);
  // The pane shows a licence in the direction its text gives and the log's
  // paths left to right.
  FlipExStyle(dialog, WS_EX_NOINHERITLAYOUT);
  return WS_EX_LEFTSCROLLBAR;
}
