// Loaded into a running setup by wizard_probe's layout command: measures the
// wizard's controls in their own process, where their fonts are (a font
// handle means nothing to another process). MeasureLayout, started there as
// a thread, writes into the LayoutReport it is given:
//   dpi<TAB>LOGPIXELSY of the screen
//   client<TAB>l<TAB>t<TAB>r<TAB>b       the dialog's client area
//   inset<TAB>l<TAB>t<TAB>r<TAB>b        the pane's text rectangle within the pane
//   layout<TAB>id<TAB>visible<TAB>l<TAB>t<TAB>r<TAB>b<TAB>cell height<TAB>weight<TAB>text width<TAB>text height<TAB>
//     extended style
// Rectangles in screen coordinates, the inset in the pane's; the text is
// measured on one line in the control's font, its mnemonic's & left out.
#include <windows.h>
#include <richedit.h>
#include <stdio.h>

#include "tests/helpers/dll/layout_spy.h"

namespace {

const int kPaneId = 200;

struct Writer {
  wchar_t* at;
  int left;
};

void Append(Writer* out, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  int n = _vsnwprintf(out->at, out->left, format, args);
  va_end(args);
  if (n < 0 || n >= out->left) {
    out->left = 0;
    return;
  }
  out->at += n;
  out->left -= n;
}

void AppendRect(Writer* out, const RECT& r) { Append(out, L"\t%ld\t%ld\t%ld\t%ld", r.left, r.top, r.right, r.bottom); }

struct Enumeration {
  HWND dialog;
  Writer* out;
};

BOOL CALLBACK MeasureControl(HWND control, LPARAM lp) {
  Enumeration* e = reinterpret_cast<Enumeration*>(lp);
  if (GetParent(control) != e->dialog) return TRUE;
  int id = GetDlgCtrlID(control);
  wchar_t text[512] = L"";
  if (id != kPaneId) GetWindowTextW(control, text, 512);
  HFONT font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
  HDC screen = GetDC(nullptr);
  HGDIOBJ old = SelectObject(screen, font ? static_cast<HGDIOBJ>(font) : GetStockObject(SYSTEM_FONT));
  TEXTMETRICW metrics = {};
  GetTextMetricsW(screen, &metrics);
  RECT extent = {0, 0, 0, 0};
  if (text[0]) DrawTextW(screen, text, -1, &extent, DT_CALCRECT | DT_SINGLELINE);
  SelectObject(screen, old);
  ReleaseDC(nullptr, screen);
  RECT r;
  GetWindowRect(control, &r);
  Append(e->out, L"layout\t%d\t%d", id, IsWindowVisible(control) ? 1 : 0);
  AppendRect(e->out, r);
  Append(e->out, L"\t%ld\t%ld\t%ld\t%ld\t%ld\n", metrics.tmHeight, metrics.tmWeight, extent.right - extent.left,
         extent.bottom - extent.top, GetWindowLongW(control, GWL_EXSTYLE));
  return TRUE;
}

}  // namespace

extern "C" __declspec(dllexport) DWORD WINAPI MeasureLayout(void* parameter) {
  LayoutReport* report = static_cast<LayoutReport*>(parameter);
  Writer out = {report->text, LAYOUT_REPORT_CAPACITY};
  HDC screen = GetDC(nullptr);
  Append(&out, L"dpi\t%d\n", GetDeviceCaps(screen, LOGPIXELSY));
  ReleaseDC(nullptr, screen);
  RECT client;
  GetClientRect(report->dialog, &client);
  MapWindowPoints(report->dialog, nullptr, reinterpret_cast<POINT*>(&client), 2);
  Append(&out, L"client");
  AppendRect(&out, client);
  Append(&out, L"\n");
  HWND pane = GetDlgItem(report->dialog, kPaneId);
  if (pane) {
    RECT text;
    SendMessageW(pane, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&text));
    Append(&out, L"inset");
    AppendRect(&out, text);
    Append(&out, L"\n");
  }
  Enumeration e = {report->dialog, &out};
  EnumChildWindows(report->dialog, MeasureControl, reinterpret_cast<LPARAM>(&e));
  return out.left > 0 ? 0 : 1;
}
