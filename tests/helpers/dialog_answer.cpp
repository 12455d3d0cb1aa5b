// Answers a dialog or message box for the Wine tests, the way a user would:
// waits for a visible top-level dialog with the given caption, then clicks
// the button with the given id (IDOK 1, IDCANCEL 2, IDYES 6, IDNO 7).
//   dialog_answer.exe CAPTION BUTTON_ID [TIMEOUT_MS]
// Prints the box's text, then owner<TAB>caption when a window owns it, and
// exits 0 once clicked, 1 on time-out.
#include <windows.h>
#include <stdio.h>
#include <wchar.h>

struct Search {
  const wchar_t* caption;
  HWND found;
};

static BOOL CALLBACK FindBox(HWND w, LPARAM lp) {
  Search* s = reinterpret_cast<Search*>(lp);
  wchar_t cls[64], title[512];
  GetClassNameW(w, cls, 64);
  GetWindowTextW(w, title, 512);
  if (IsWindowVisible(w) && !wcscmp(cls, L"#32770") && !wcscmp(title, s->caption)) {
    s->found = w;
    return FALSE;
  }
  return TRUE;
}

static BOOL CALLBACK PrintStatic(HWND w, LPARAM) {
  wchar_t cls[64], text[2048];
  GetClassNameW(w, cls, 64);
  if (!_wcsicmp(cls, L"Static") && GetWindowTextW(w, text, 2048) > 0) wprintf(L"%ls\n", text);
  return TRUE;
}

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  Search s = {argv[1], nullptr};
  int button = _wtoi(argv[2]);
  DWORD timeout = argc > 3 ? (DWORD)_wtoi(argv[3]) : 30000;
  DWORD start = GetTickCount();
  while (!s.found) {
    EnumWindows(FindBox, reinterpret_cast<LPARAM>(&s));
    if (s.found) break;
    if (GetTickCount() - start > timeout) return 1;
    Sleep(100);
  }
  EnumChildWindows(s.found, PrintStatic, 0);
  if (HWND owner = GetWindow(s.found, GW_OWNER)) {
    wchar_t caption[512] = L"";
    GetWindowTextW(owner, caption, 512);
    wprintf(L"owner\t%ls\n", caption);
  }
  fflush(stdout);
  HWND control = GetDlgItem(s.found, button);
  PostMessageW(s.found, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), (LPARAM)control);
  return 0;
}
