#include "ui/layout_scale.h"

namespace {

// The template's controls and the text pane, with room to spare.
const int kMaxControls = 24;
struct PlacedControl {
  HWND Control;
  RECT Place;  // in the start-up client area
};
PlacedControl Placed[kMaxControls];
int PlacedCount;
RECT StartClient;

}  // namespace

void RememberLayout(HWND dialog) {
  GetClientRect(dialog, &StartClient);
  for (HWND control = GetWindow(dialog, GW_CHILD); control && PlacedCount < kMaxControls;
       control = GetWindow(control, GW_HWNDNEXT)) {
    PlacedControl& placed = Placed[PlacedCount++];
    placed.Control = control;
    GetWindowRect(control, &placed.Place);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&placed.Place), 2);
  }
}

void RescaleLayout(HWND dialog, const RECT* window, HFONT oldFont, HFONT newFont) {
  SetWindowPos(dialog, nullptr, window->left, window->top, window->right - window->left,
               window->bottom - window->top, SWP_NOZORDER | SWP_NOACTIVATE);
  RECT client;
  GetClientRect(dialog, &client);
  for (int i = 0; i < PlacedCount; ++i) {
    const PlacedControl& placed = Placed[i];
    // Edges, not sizes, are scaled: neighbours stay flush.
    LONG edges[4];
    for (int e = 0; e < 4; ++e)
      edges[e] = MulDiv((&placed.Place.left)[e], (&client.right)[e & 1], (&StartClient.right)[e & 1]);
    SetWindowPos(placed.Control, nullptr, edges[0], edges[1], edges[2] - edges[0], edges[3] - edges[1],
                 SWP_NOZORDER | SWP_NOACTIVATE);
    if (reinterpret_cast<HFONT>(SendMessageW(placed.Control, WM_GETFONT, 0, 0)) == oldFont)
      SendMessageW(placed.Control, WM_SETFONT, reinterpret_cast<WPARAM>(newFont), TRUE);
  }
}
