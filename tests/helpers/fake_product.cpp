// A stand-in for an installed product, for the Wine tests. Every start
// appends one line to invocations.log beside the executable (command line
// and working directory). Options make it behave like a running copy:
//   --window CLASS TITLE   own a top-level window (closes on WM_CLOSE)
//   --ignore-close         keep the window open on WM_CLOSE
//   --hang                 never return from WM_CLOSE
//   --ask-on-close N       answer WM_CLOSE with a message box ("save changes?")
//                          that closes itself after N seconds, then close
//   --mutex NAME           hold a named mutex
//   --lock PATH MODE       hold PATH open; MODE readdelete or none
//   --seconds N            exit after N seconds (default: 0 without options)
//   --ready PATH           create PATH once everything is set up
//   --exit-code N          exit code
#include <windows.h>
#include <stdio.h>
#include <wchar.h>

static wchar_t g_log[MAX_PATH];
static bool g_ignoreClose, g_hang;
static int g_askSeconds = -1;
static const wchar_t kAskCaption[] = L"Fake product question";

// Ends the open question as its user would, with OK.
static VOID CALLBACK AnswerQuestion(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  HWND box = FindWindowW(L"#32770", kAskCaption);
  if (box) PostMessageW(box, WM_COMMAND, IDOK, 0);
}

static void Record(const wchar_t* line) {
  FILE* f = _wfopen(g_log, L"a, ccs=UTF-8");
  if (!f) return;
  fwprintf(f, L"%ls\n", line);
  fclose(f);
}

static LRESULT CALLBACK WindowProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_CLOSE || m == 0x8066) {
    wchar_t line[128];
    swprintf(line, 128, L"message %u wparam %u lparam %u", m, (unsigned)wp, (unsigned)lp);
    Record(line);
    if (m == 0x8066) return 0;
    if (g_hang) for (;;) Sleep(1000);
    if (g_askSeconds >= 0) {
      // The box's own loop keeps the window answering while it is open.
      SetTimer(nullptr, 0, g_askSeconds * 1000u, AnswerQuestion);
      MessageBoxW(w, L"Save changes?", kAskCaption, MB_OK);
      Record(L"question answered");
    }
    if (g_ignoreClose) return 0;
    DestroyWindow(w);
    return 0;
  }
  if (m == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(w, m, wp, lp);
}

int wmain(int argc, wchar_t** argv) {
  GetModuleFileNameW(nullptr, g_log, MAX_PATH);
  wchar_t* slash = wcsrchr(g_log, L'\\');
  wcscpy(slash ? slash + 1 : g_log, L"invocations.log");
  wchar_t cwd[MAX_PATH] = L"";
  GetCurrentDirectoryW(MAX_PATH, cwd);
  static wchar_t line[4096];
  swprintf(line, 4096, L"run cmdline=[%ls] cwd=[%ls]", GetCommandLineW(), cwd);
  Record(line);

  const wchar_t *windowClass = nullptr, *windowTitle = nullptr, *mutexName = nullptr, *ready = nullptr;
  const wchar_t *lockPath = nullptr, *lockMode = nullptr;
  int seconds = -1, exitCode = 0;
  for (int i = 1; i < argc; ++i) {
    if (!wcscmp(argv[i], L"--window") && i + 2 < argc) { windowClass = argv[++i]; windowTitle = argv[++i]; }
    else if (!wcscmp(argv[i], L"--ignore-close")) g_ignoreClose = true;
    else if (!wcscmp(argv[i], L"--hang")) g_hang = true;
    else if (!wcscmp(argv[i], L"--ask-on-close") && i + 1 < argc) g_askSeconds = _wtoi(argv[++i]);
    else if (!wcscmp(argv[i], L"--mutex") && i + 1 < argc) mutexName = argv[++i];
    else if (!wcscmp(argv[i], L"--lock") && i + 2 < argc) { lockPath = argv[++i]; lockMode = argv[++i]; }
    else if (!wcscmp(argv[i], L"--seconds") && i + 1 < argc) seconds = _wtoi(argv[++i]);
    else if (!wcscmp(argv[i], L"--ready") && i + 1 < argc) ready = argv[++i];
    else if (!wcscmp(argv[i], L"--exit-code") && i + 1 < argc) exitCode = _wtoi(argv[++i]);
  }
  HANDLE mutex = mutexName ? CreateMutexW(nullptr, TRUE, mutexName) : nullptr;
  HANDLE lock = INVALID_HANDLE_VALUE;
  if (lockPath) {
    DWORD share = wcscmp(lockMode, L"none") ? (FILE_SHARE_READ | FILE_SHARE_DELETE) : 0;
    lock = CreateFileW(lockPath, GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
    if (lock == INVALID_HANDLE_VALUE) Record(L"lock failed");
  }
  HWND window = nullptr;
  if (windowClass) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = windowClass;
    RegisterClassW(&wc);
    window = CreateWindowExW(0, windowClass, windowTitle, WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                             nullptr, nullptr, wc.hInstance, nullptr);
  }
  if (ready) {
    HANDLE f = CreateFileW(ready, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    CloseHandle(f);
  }
  if (seconds < 0) seconds = (windowClass || mutexName || lockPath) ? 600 : 0;
  DWORD deadline = GetTickCount() + seconds * 1000u;
  if (window) {
    SetTimer(window, 1, 100, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      DispatchMessageW(&msg);
      if ((int)(GetTickCount() - deadline) >= 0) break;
    }
    Record(L"window closed");
  } else {
    while ((int)(GetTickCount() - deadline) < 0) Sleep(50);
  }
  if (mutex) {
    ReleaseMutex(mutex);
    CloseHandle(mutex);
  }
  if (lock != INVALID_HANDLE_VALUE) CloseHandle(lock);
  return exitCode;
}
