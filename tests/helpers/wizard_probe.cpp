// Looks at and drives the wizard of a running setup for the Wine tests, the
// way a user would: buttons that are hidden or disabled cannot be clicked.
// Output is UTF-8, one record a line, fields separated by tabs; texts escape
// backslash, tab, CR and LF as \\ \t \r \n.
//   wizard_probe find [TIMEOUT_MS]     dialog<TAB>hwnd<TAB>caption   (exit 1: none)
//                                      then found<TAB>time (as click's times)
//   wizard_probe install [watch]       clicks Next as a user's click arrives (posted)
//       and waits for the run's end (Cancel, disabled by the click, enabled again):
//       installed<TAB>ms from the click to the outcome page<TAB>click time<TAB>end time
//       (times as click's); with watch, the
//       screen image of the pane and the bar is sampled meanwhile, and
//       <TAB>visible changes<TAB>longest ms between two  follow
//   wizard_probe answers [input]       clicks Next as install does and, until the
//       outcome page, sends WM_NULL every 250 ms, giving up on one after 1 s:
//       answers<TAB>samples<TAB>longest reply ms<TAB>samples not answered
//       with input, a user's click on Cancel and Enter are posted at the first
//       sample, as input queued meanwhile, and <TAB>1 follows when the run
//       still went on after them (else 0); on the outcome page a posted click
//       on the launch box, handled after them, then tells whether they pressed
//       Finish: <TAB>stayed, or <TAB>closed
//   wizard_probe state                 dialog, then one line per control:
//       control<TAB>id<TAB>class<TAB>visible<TAB>enabled<TAB>checked<TAB>text
//     then focus<TAB>id and progress<TAB>pos<TAB>min<TAB>max<TAB>barcolor<TAB>pixel<TAB>state<TAB>far pixel
//     (pixel: the screen colour inside the bar's left end, where a bar fills
//     from; far pixel: inside its right end, where a mirrored one does;
//     state: PBM_GETSTATE)
//   wizard_probe click ID              BM_CLICK, returning once the wizard has
//                                      handled it (exit 3 and "refused" when the
//                                      control is hidden or disabled):
//       clicked<TAB>id<TAB>sent<TAB>returned   (QueryPerformanceCounter, 100 ns units
//                                      under Wine, for timing the Install command)
//   wizard_probe post-click ID         the same, returning at once (for clicks
//                                      that open a modal box)
//   wizard_probe type ID TEXT          replaces the edit's text keystroke by keystroke
//   wizard_probe command ID [CODE]     WM_COMMAND to the dialog, as Enter (IDOK) or
//                                      Escape (IDCANCEL) would send it
//   wizard_probe pane                  the rich text pane's text
//   wizard_probe charformat START END  the pane's character format of a range:
//       charformat<TAB>bold<TAB>italic<TAB>face<TAB>height_twips<TAB>pitch_and_family
//   wizard_probe rect ID               screen rectangle (ID 0: the dialog window):
//       rect<TAB>l<TAB>t<TAB>r<TAB>b
//   wizard_probe names                 each visible control's accessible name, as a
//                                      screen reader asks for it (AccessibleObjectFromWindow):
//       name<TAB>id<TAB>hwnd<TAB>HRESULT of get_accName<TAB>name
//   wizard_probe colours ID            the colours the screen shows of the control, the
//                                      most frequent first: colour<TAB>0xBBGGRR<TAB>pixels
//   wizard_probe dpi-change DPI L T R B  WM_DPICHANGED as Windows sends it when the
//                                      window moves to a screen of DPI, suggesting the
//                                      window rectangle L T R B: dpichanged<TAB>DPI
//   wizard_probe panetop [LINES]       scrolls the pane by LINES, then prints its first
//       visible line and its selection: panetop<TAB>line<TAB>start<TAB>end
//   wizard_probe layout                the geometry and fonts of the window, measured
//                                      in the wizard's process by layout_spy.dll
//                                      (beside this program); its lines as it writes them
//   wizard_probe browse-open [TIMEOUT_MS]  exit 0 once the folder browser is open,
//                                      1 when it is not (after TIMEOUT_MS, default 10 s)
//   wizard_probe browse-select PATH    selects PATH in the open folder browser
//   wizard_probe browse-ok             presses OK in the open folder browser
//   wizard_probe browse-cancel         presses Cancel in the open folder browser
//   wizard_probe loadlib NAME          LoadLibraryW(NAME) in this process:
//       loaded<TAB>module path, or notloaded (exit 1)
//   wizard_probe await-window EXE TIMEOUT_MS cancel|through   for the benchmark,
//       started before the setup: ready, then window<TAB>caption as soon as a
//       visible top-level dialog with a Cancel button (our wizard, NSIS's)
//       of a process named EXE appears, each line written the moment it is
//       known so that the reader's clock times it. cancel: then clicks Cancel.
//       through (our wizard): accepts, keeps the directory, installs, then
//       Finish without launching, as click, install and click 11, 2 print
#include <windows.h>
#include <commctrl.h>
#include <oleacc.h>
#include <richedit.h>
#include <shlobj.h>
#include <stdio.h>
#include <tlhelp32.h>
#include <wchar.h>

#include "tests/helpers/dll/layout_spy.h"

static const int kFrameId = 24, kProgressId = 22, kPaneId = 200;

// GetWindowTextW does not ask a control of another process for its text.
static void ControlText(HWND w, wchar_t* text, int capacity) {
  text[0] = 0;
  DWORD_PTR ignored;
  SendMessageTimeoutW(w, WM_GETTEXT, capacity, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, &ignored);
  text[capacity - 1] = 0;
}

static void WriteUtf8(const wchar_t* text) {
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 1) return;
  char* buffer = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, bytes));
  WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, bytes, nullptr, nullptr);
  DWORD written;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), buffer, bytes - 1, &written, nullptr);
  HeapFree(GetProcessHeap(), 0, buffer);
}

static void WriteEscaped(const wchar_t* text) {
  wchar_t chunk[512];
  int n = 0;
  for (const wchar_t* p = text; *p; ++p) {
    if (n > 500) {
      chunk[n] = 0;
      WriteUtf8(chunk);
      n = 0;
    }
    switch (*p) {
      case L'\\': chunk[n++] = L'\\'; chunk[n++] = L'\\'; break;
      case L'\t': chunk[n++] = L'\\'; chunk[n++] = L't'; break;
      case L'\r': chunk[n++] = L'\\'; chunk[n++] = L'r'; break;
      case L'\n': chunk[n++] = L'\\'; chunk[n++] = L'n'; break;
      default: chunk[n++] = *p;
    }
  }
  chunk[n] = 0;
  WriteUtf8(chunk);
}

static void Line(const wchar_t* format, ...) {
  wchar_t text[1024];
  va_list args;
  va_start(args, format);
  _vsnwprintf(text, 1023, format, args);
  va_end(args);
  text[1023] = 0;
  WriteUtf8(text);
}

static bool HasClass(HWND w, const wchar_t* name) {
  wchar_t cls[64] = L"";
  GetClassNameW(w, cls, 64);
  return !_wcsicmp(cls, name);
}

static BOOL CALLBACK FindWizard(HWND w, LPARAM lp) {
  if (IsWindowVisible(w) && HasClass(w, L"#32770")) {
    HWND frame = GetDlgItem(w, kFrameId), bar = GetDlgItem(w, kProgressId);
    if (frame && bar && HasClass(bar, L"msctls_progress32")) {
      *reinterpret_cast<HWND*>(lp) = w;
      return FALSE;
    }
  }
  return TRUE;
}

static long long Now() {
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return counter.QuadPart;
}

static double Milliseconds(long long ticks) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return ticks * 1000.0 / frequency.QuadPart;
}

static HWND Wizard(DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    HWND found = nullptr;
    EnumWindows(FindWizard, reinterpret_cast<LPARAM>(&found));
    if (found || GetTickCount() - start >= timeoutMs) return found;
    Sleep(10);
  }
}

static HWND g_browser;
static BOOL CALLBACK FindBrowser(HWND w, LPARAM owner) {
  if (IsWindowVisible(w) && HasClass(w, L"#32770") && GetWindow(w, GW_OWNER) == reinterpret_cast<HWND>(owner)) {
    g_browser = w;
    return FALSE;
  }
  return TRUE;
}

static void PrintDialog(HWND dialog) {
  wchar_t caption[512] = L"";
  GetWindowTextW(dialog, caption, 512);
  Line(L"dialog\t%p\t", dialog);
  WriteEscaped(caption);
  WriteUtf8(L"\n");
}

static BOOL CALLBACK PrintControl(HWND w, LPARAM lp) {
  HWND dialog = reinterpret_cast<HWND>(lp);
  if (GetParent(w) != dialog) return TRUE;
  wchar_t cls[64] = L"";
  GetClassNameW(w, cls, 64);
  int id = GetDlgCtrlID(w);
  LRESULT checked = 0;
  if (!_wcsicmp(cls, L"Button")) checked = SendMessageW(w, BM_GETCHECK, 0, 0);
  static wchar_t text[1024];
  text[0] = 0;
  // The pane's text can be long; "pane" reads it whole.
  if (id != kPaneId) ControlText(w, text, 1024);
  Line(L"control\t%d\t%ls\t%d\t%d\t%d\t", id, cls, IsWindowVisible(w) ? 1 : 0, IsWindowEnabled(w) ? 1 : 0,
       static_cast<int>(checked));
  WriteEscaped(text);
  WriteUtf8(L"\n");
  return TRUE;
}

// Focus of the wizard's thread, read through its GUI thread information.
static int FocusId(HWND dialog) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info) || !info.hwndFocus) return 0;
  return GetDlgCtrlID(info.hwndFocus);
}

static BOOL CALLBACK PrintName(HWND w, LPARAM lp) {
  if (GetParent(w) != reinterpret_cast<HWND>(lp) || !IsWindowVisible(w)) return TRUE;
  IAccessible* accessible = nullptr;
  BSTR name = nullptr;
  HRESULT hr = AccessibleObjectFromWindow(w, OBJID_CLIENT, IID_IAccessible, reinterpret_cast<void**>(&accessible));
  if (SUCCEEDED(hr)) {
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    hr = accessible->get_accName(self, &name);
    accessible->Release();
  }
  Line(L"name\t%d\t%p\t0x%08lx\t", GetDlgCtrlID(w), w, static_cast<unsigned long>(hr));
  WriteEscaped(name ? name : L"");
  WriteUtf8(L"\n");
  SysFreeString(name);
  return TRUE;
}

static void PrintProgress(HWND dialog) {
  HWND bar = GetDlgItem(dialog, kProgressId);
  LRESULT pos = SendMessageW(bar, PBM_GETPOS, 0, 0);
  // Limits as return values: a PBRANGE pointer would not cross the process.
  LRESULT low = SendMessageW(bar, PBM_GETRANGE, TRUE, 0);
  LRESULT high = SendMessageW(bar, PBM_GETRANGE, FALSE, 0);
  LRESULT colour = SendMessageW(bar, WM_USER + 15, 0, 0);  // PBM_GETBARCOLOR
  COLORREF pixel = CLR_INVALID, farPixel = CLR_INVALID;
  RECT r;
  if (IsWindowVisible(bar) && GetWindowRect(bar, &r)) {
    HDC screen = GetDC(nullptr);
    pixel = GetPixel(screen, r.left + 4, (r.top + r.bottom) / 2);
    farPixel = GetPixel(screen, r.right - 5, (r.top + r.bottom) / 2);
    ReleaseDC(nullptr, screen);
  }
  LRESULT state = SendMessageW(bar, WM_USER + 17, 0, 0);  // PBM_GETSTATE
  Line(L"progress\t%d\t%d\t%d\t0x%06lx\t0x%06lx\t%d\t0x%06lx\n", static_cast<int>(pos), static_cast<int>(low),
       static_cast<int>(high), static_cast<unsigned long>(colour), static_cast<unsigned long>(pixel),
       static_cast<int>(state), static_cast<unsigned long>(farPixel));
}

static int Click(HWND dialog, int id, bool wait) {
  HWND control = GetDlgItem(dialog, id);
  if (!control) {
    Line(L"refused\tmissing\n");
    return 3;
  }
  if (!IsWindowVisible(control) || !IsWindowEnabled(control)) {
    Line(L"refused\t%ls\n", IsWindowVisible(control) ? L"disabled" : L"hidden");
    return 3;
  }
  long long sent = Now();
  if (wait) {
    DWORD_PTR ignored;
    if (!SendMessageTimeoutW(control, BM_CLICK, 0, 0, SMTO_NORMAL, 300000, &ignored)) {
      Line(L"timeout\n");
      return 4;
    }
  } else {
    PostMessageW(control, BM_CLICK, 0, 0);
  }
  Line(L"clicked\t%d\t%lld\t%lld\n", id, sent, Now());
  return 0;
}

// A cheap fingerprint of what the screen shows of one control.
static unsigned ScreenHash(HDC screen, HDC memory, HBITMAP bitmap, HWND control, unsigned* pixels, int capacity) {
  RECT r;
  if (!GetWindowRect(control, &r)) return 0;
  int width = r.right - r.left, height = r.bottom - r.top;
  if (width * height > capacity) height = capacity / width;
  BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  if (!GetDIBits(memory, bitmap, 0, height, pixels, &info, DIB_RGB_COLORS)) return 0;
  unsigned hash = 2166136261u;
  for (int i = 0; i < width * height; ++i) hash = (hash ^ pixels[i]) * 16777619u;
  return hash;
}

static int PrintColours(HWND control) {
  RECT r;
  if (!control || !GetWindowRect(control, &r)) return 1;
  int width = r.right - r.left, height = r.bottom - r.top;
  static unsigned pixels[1024 * 1024];
  if (width * height > 1024 * 1024) height = 1024 * 1024 / width;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  BITMAPINFO info = {};
  info.bmiHeader = {sizeof info.bmiHeader, width, -height, 1, 32, BI_RGB};
  GetDIBits(memory, bitmap, 0, height, pixels, &info, DIB_RGB_COLORS);
  DeleteDC(memory);
  DeleteObject(bitmap);
  ReleaseDC(nullptr, screen);
  static unsigned colours[256], counts[256];
  int distinct = 0;
  for (int i = 0; i < width * height; ++i) {
    unsigned rgb = pixels[i] & 0xFFFFFF, colour = (rgb & 0xFF) << 16 | (rgb & 0xFF00) | rgb >> 16;
    int k = 0;
    while (k < distinct && colours[k] != colour) ++k;
    if (k == distinct && distinct < 256) colours[distinct++] = colour;
    if (k < distinct) ++counts[k];
  }
  for (int printed = 0; printed < distinct; ++printed) {
    int most = 0;
    for (int k = 1; k < distinct; ++k)
      if (counts[k] > counts[most]) most = k;
    if (!counts[most]) break;
    Line(L"colour\t0x%06x\t%u\n", colours[most], counts[most]);
    counts[most] = 0;
  }
  return 0;
}

// Neither the screen reads nor IsWindowEnabled wait for the wizard's thread,
// which does not answer messages while it writes files.
static int Install(HWND dialog, bool watch) {
  HWND next = GetDlgItem(dialog, 1), cancel = GetDlgItem(dialog, 2);
  HWND pane = GetDlgItem(dialog, kPaneId), bar = GetDlgItem(dialog, kProgressId);
  if (!IsWindowVisible(next) || !IsWindowEnabled(next)) {
    Line(L"refused\tnext\n");
    return 3;
  }
  const int capacity = 1024 * 1024;
  static unsigned pixels[1024 * 1024];
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, 1024, 1024);
  SelectObject(memory, bitmap);
  long long start = Now();
  PostMessageW(next, BM_CLICK, 0, 0);
  // The click disables Cancel for the run; the outcome page enables it.
  while (IsWindowEnabled(cancel) && Milliseconds(Now() - start) < 60000) Sleep(1);
  unsigned last[2] = {0, 0};
  if (watch) {
    last[0] = ScreenHash(screen, memory, bitmap, pane, pixels, capacity);
    last[1] = ScreenHash(screen, memory, bitmap, bar, pixels, capacity);
  }
  long long lastChange = 0, longest = 0;
  int changes = 0;
  while (!IsWindowEnabled(cancel) && Milliseconds(Now() - start) < 600000) {
    if (!watch) {
      Sleep(1);
      continue;
    }
    unsigned now[2] = {ScreenHash(screen, memory, bitmap, pane, pixels, capacity),
                       ScreenHash(screen, memory, bitmap, bar, pixels, capacity)};
    long long t = Now();
    if (now[0] != last[0] || now[1] != last[1]) {
      if (changes++ > 0 && t - lastChange > longest) longest = t - lastChange;
      lastChange = t;
      last[0] = now[0];
      last[1] = now[1];
    }
    Sleep(5);
  }
  long long end = Now();
  DeleteDC(memory);
  DeleteObject(bitmap);
  ReleaseDC(nullptr, screen);
  Line(L"installed\t%.0f\t%lld\t%lld", Milliseconds(end - start), start, end);
  if (watch) Line(L"\t%d\t%.0f", changes, Milliseconds(longest));
  Line(L"\n");
  return 0;
}

static void PostInput(HWND dialog, HWND cancel) {
  RECT r;
  GetClientRect(cancel, &r);
  LPARAM middle = MAKELPARAM(r.right / 2, r.bottom / 2);
  PostMessageW(cancel, WM_LBUTTONDOWN, MK_LBUTTON, middle);
  PostMessageW(cancel, WM_LBUTTONUP, 0, middle);
  PostMessageW(dialog, WM_KEYDOWN, VK_RETURN, 1);
  PostMessageW(dialog, WM_KEYUP, VK_RETURN, 0xC0000001);
}

// Whether the dialog is still there once everything posted to it before now
// has been handled: a posted click on the launch box clears it.
static bool Stays(HWND dialog) {
  HWND launch = GetDlgItem(dialog, 11);
  PostMessageW(launch, BM_CLICK, 0, 0);
  for (DWORD start = GetTickCount(); GetTickCount() - start < 30000; Sleep(10)) {
    DWORD_PTR checked = BST_CHECKED;
    bool answered = SendMessageTimeoutW(launch, BM_GETCHECK, 0, 0, SMTO_NORMAL, 1000, &checked);
    if (!IsWindowVisible(dialog)) return false;
    if (answered && checked == BST_UNCHECKED) return true;
  }
  return false;
}

static int Answers(HWND dialog, bool input) {
  HWND next = GetDlgItem(dialog, 1), cancel = GetDlgItem(dialog, 2);
  if (!IsWindowVisible(next) || !IsWindowEnabled(next)) {
    Line(L"refused\tnext\n");
    return 3;
  }
  DWORD start = GetTickCount();
  PostMessageW(next, BM_CLICK, 0, 0);
  while (IsWindowEnabled(cancel) && GetTickCount() - start < 60000) Sleep(1);
  int samples = 0, failures = 0, during = 0;
  double longest = 0;
  for (DWORD due = GetTickCount(); !IsWindowEnabled(cancel) && GetTickCount() - start < 600000; due += 250) {
    if (input && samples == 0) {
      PostInput(dialog, cancel);
      during = !IsWindowEnabled(cancel);
    }
    long long sent = Now();
    DWORD_PTR ignored;
    if (!SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &ignored)) ++failures;
    double took = Milliseconds(Now() - sent);
    if (took > longest) longest = took;
    ++samples;
    DWORD now = GetTickCount();
    if (static_cast<int>(due + 250 - now) > 0) Sleep(due + 250 - now);
    else due = now - 250;
  }
  Line(L"answers\t%d\t%.0f\t%d", samples, longest, failures);
  if (input) Line(L"\t%d\t%ls", during, Stays(dialog) ? L"stayed" : L"closed");
  Line(L"\n");
  return 0;
}

static int Type(HWND dialog, int id, const wchar_t* text) {
  HWND edit = GetDlgItem(dialog, id);
  if (!edit || !IsWindowVisible(edit) || !IsWindowEnabled(edit)) {
    Line(L"refused\tnot editable\n");
    return 3;
  }
  SendMessageW(edit, EM_SETSEL, 0, -1);
  SendMessageW(edit, WM_CHAR, VK_BACK, 1);
  for (const wchar_t* p = text; *p; ++p) SendMessageW(edit, WM_CHAR, *p, 1);
  wchar_t now[1024] = L"";
  ControlText(edit, now, 1024);
  WriteUtf8(L"typed\t");
  WriteEscaped(now);
  WriteUtf8(L"\n");
  return 0;
}

static int PrintPane(HWND dialog) {
  HWND pane = GetDlgItem(dialog, kPaneId);
  if (!pane) {
    Line(L"nopane\n");
    return 1;
  }
  LRESULT length = SendMessageW(pane, WM_GETTEXTLENGTH, 0, 0);
  wchar_t* text = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, (length + 2) * sizeof(wchar_t)));
  SendMessageW(pane, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text));
  wchar_t cls[64] = L"";
  GetClassNameW(pane, cls, 64);
  Line(L"paneclass\t%ls\npanelength\t%d\npane\t", cls, static_cast<int>(length));
  WriteEscaped(text);
  WriteUtf8(L"\n");
  HeapFree(GetProcessHeap(), 0, text);
  return 0;
}

// Messages whose argument points at memory: the memory must be in the
// wizard's process.
struct Remote {
  HANDLE process;
  void* address;
};

static bool OpenRemote(HWND window, SIZE_T size, Remote* remote) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  remote->process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE | PROCESS_CREATE_THREAD |
                                    PROCESS_QUERY_INFORMATION, FALSE, pid);
  if (!remote->process) return false;
  remote->address = VirtualAllocEx(remote->process, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
  return remote->address != nullptr;
}

static void CloseRemote(Remote* remote) {
  VirtualFreeEx(remote->process, remote->address, 0, MEM_RELEASE);
  CloseHandle(remote->process);
}

static int PrintCharFormat(HWND dialog, int start, int end) {
  HWND pane = GetDlgItem(dialog, kPaneId);
  Remote remote;
  if (!pane || !OpenRemote(pane, sizeof(CHARFORMAT2W), &remote)) return 1;
  CHARFORMAT2W format = {};
  format.cbSize = sizeof format;
  format.dwMask = CFM_BOLD | CFM_ITALIC | CFM_FACE | CFM_SIZE;
  WriteProcessMemory(remote.process, remote.address, &format, sizeof format, nullptr);
  SendMessageW(pane, EM_SETSEL, start, end);
  SendMessageW(pane, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(remote.address));
  ReadProcessMemory(remote.process, remote.address, &format, sizeof format, nullptr);
  SendMessageW(pane, EM_SETSEL, 0, 0);
  CloseRemote(&remote);
  Line(L"charformat\t%d\t%d\t", (format.dwEffects & CFE_BOLD) ? 1 : 0, (format.dwEffects & CFE_ITALIC) ? 1 : 0);
  WriteEscaped(format.szFaceName);
  Line(L"\t%ld\t%u\n", static_cast<long>(format.yHeight), static_cast<unsigned>(format.bPitchAndFamily));
  return 0;
}

// The thread's exit code, or STILL_ACTIVE when it did not run to its end.
static DWORD RunRemote(HANDLE process, const void* function, void* parameter) {
  HANDLE thread = CreateRemoteThread(process, nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(function),
                                     parameter, 0, nullptr);
  if (!thread) return STILL_ACTIVE;
  DWORD code = STILL_ACTIVE;
  if (WaitForSingleObject(thread, 30000) == WAIT_OBJECT_0) GetExitCodeThread(thread, &code);
  CloseHandle(thread);
  return code;
}

static BYTE* RemoteModule(DWORD pid, const wchar_t* name) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
  if (snapshot == INVALID_HANDLE_VALUE) return nullptr;
  MODULEENTRY32W module = {};
  module.dwSize = sizeof module;
  BYTE* base = nullptr;
  for (BOOL more = Module32FirstW(snapshot, &module); more && !base; more = Module32NextW(snapshot, &module))
    if (!_wcsicmp(module.szModule, name)) base = module.modBaseAddr;
  CloseHandle(snapshot);
  return base;
}

// LoadLibraryW of kernel32, at the same address in every process of the
// machine, loads the DLL there; its MeasureLayout lies at the same offset
// from the DLL's base as here.
static int PrintLayout(HWND dialog) {
  static LayoutReport report;
  report.dialog = dialog;
  DWORD length = GetModuleFileNameW(nullptr, report.text, MAX_PATH);
  wchar_t* name = report.text + length;
  while (name > report.text && name[-1] != L'\\') --name;
  wcscpy(name, L"layout_spy.dll");
  HMODULE local = LoadLibraryW(report.text);
  FARPROC measure = local ? GetProcAddress(local, "MeasureLayout") : nullptr;
  Remote remote;
  if (!measure || !OpenRemote(dialog, sizeof report, &remote)) {
    Line(L"nospy\n");
    return 1;
  }
  DWORD pid = 0;
  GetWindowThreadProcessId(dialog, &pid);
  WriteProcessMemory(remote.process, remote.address, &report, sizeof report, nullptr);
  FARPROC load = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "LoadLibraryW");
  void* path = static_cast<LayoutReport*>(remote.address)->text;
  DWORD loaded = RunRemote(remote.process, reinterpret_cast<void*>(load), path);
  BYTE* base = loaded && loaded != STILL_ACTIVE ? RemoteModule(pid, L"layout_spy.dll") : nullptr;
  BYTE* function = base ? base + (reinterpret_cast<BYTE*>(measure) - reinterpret_cast<BYTE*>(local)) : nullptr;
  bool measured = function && RunRemote(remote.process, function, remote.address) == 0;
  ReadProcessMemory(remote.process, remote.address, &report, sizeof report, nullptr);
  CloseRemote(&remote);
  if (!measured) {
    Line(L"nolayout\n");
    return 1;
  }
  report.text[LAYOUT_REPORT_CAPACITY - 1] = 0;
  WriteUtf8(report.text);
  return 0;
}

static int ChangeDpi(HWND dialog, wchar_t** args) {
  RECT suggested = {_wtoi(args[1]), _wtoi(args[2]), _wtoi(args[3]), _wtoi(args[4])};
  Remote remote;
  if (!OpenRemote(dialog, sizeof suggested, &remote)) return 1;
  WriteProcessMemory(remote.process, remote.address, &suggested, sizeof suggested, nullptr);
  WPARAM dpi = _wtoi(args[0]);
  DWORD_PTR ignored;
  SendMessageTimeoutW(dialog, 0x02E0, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(remote.address), SMTO_NORMAL,
                      30000, &ignored);
  CloseRemote(&remote);
  Line(L"dpichanged\t%d\n", static_cast<int>(dpi));
  return 0;
}

static HWND Browser(HWND dialog, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    g_browser = nullptr;
    EnumWindows(FindBrowser, reinterpret_cast<LPARAM>(dialog));
    if (g_browser || GetTickCount() - start >= timeoutMs) return g_browser;
    Sleep(100);
  }
}

static int BrowseCommand(HWND dialog, const wchar_t* verb, const wchar_t* argument) {
  DWORD timeout = !wcscmp(verb, L"browse-open") && argument ? static_cast<DWORD>(_wtoi(argument)) : 10000;
  HWND browser = Browser(dialog, timeout);
  if (!browser) {
    Line(L"nobrowser\n");
    return 1;
  }
  if (!wcscmp(verb, L"browse-ok") || !wcscmp(verb, L"browse-cancel")) {
    int button = !wcscmp(verb, L"browse-ok") ? IDOK : IDCANCEL;
    PostMessageW(browser, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(browser, button)));
  } else if (!wcscmp(verb, L"browse-select") && argument) {
    SIZE_T bytes = (wcslen(argument) + 1) * sizeof(wchar_t);
    Remote remote;
    if (!OpenRemote(browser, bytes, &remote)) return 1;
    WriteProcessMemory(remote.process, remote.address, argument, bytes, nullptr);
    SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(remote.address));
    CloseRemote(&remote);
  }
  Line(L"browser\n");
  return 0;
}

struct AwaitedWindow {
  const wchar_t* exe;
  HWND found;
};

static bool ProcessNamed(HWND w, const wchar_t* exe) {
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!process) return false;
  wchar_t path[MAX_PATH] = L"";
  DWORD length = MAX_PATH;
  bool named = QueryFullProcessImageNameW(process, 0, path, &length);
  CloseHandle(process);
  const wchar_t* name = path + wcslen(path);
  while (name > path && name[-1] != L'\\' && name[-1] != L'/') --name;
  return named && !_wcsicmp(name, exe);
}

static BOOL CALLBACK FindSetupWindow(HWND w, LPARAM lp) {
  AwaitedWindow* awaited = reinterpret_cast<AwaitedWindow*>(lp);
  // NSIS's "verifying" box has no Cancel button; the wizards have.
  if (IsWindowVisible(w) && HasClass(w, L"#32770") && GetDlgItem(w, IDCANCEL) && ProcessNamed(w, awaited->exe)) {
    awaited->found = w;
    return FALSE;
  }
  return TRUE;
}

// A user clicks as soon as the control takes clicks.
static void AwaitUsable(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  for (DWORD start = GetTickCount(); control && GetTickCount() - start < 30000; Sleep(1))
    if (IsWindowVisible(control) && IsWindowEnabled(control)) return;
}

static int ClickWhenUsable(HWND dialog, int id) {
  AwaitUsable(dialog, id);
  return Click(dialog, id, true);
}

static int AwaitWindow(const wchar_t* exe, DWORD timeoutMs, bool through) {
  Line(L"ready\n");
  AwaitedWindow awaited = {exe, nullptr};
  for (DWORD start = GetTickCount(); !awaited.found; Sleep(5)) {
    EnumWindows(FindSetupWindow, reinterpret_cast<LPARAM>(&awaited));
    if (!awaited.found && GetTickCount() - start >= timeoutMs) {
      Line(L"nowindow\n");
      return 1;
    }
  }
  wchar_t caption[512] = L"";
  GetWindowTextW(awaited.found, caption, 512);
  WriteUtf8(L"window\t");
  WriteEscaped(caption);
  WriteUtf8(L"\n");
  if (!through) {
    PostMessageW(GetDlgItem(awaited.found, IDCANCEL), BM_CLICK, 0, 0);
    return 0;
  }
  HWND dialog = awaited.found;
  int code = ClickWhenUsable(dialog, 9);  // the accept box; the destination page follows
  if (!code) {
    AwaitUsable(dialog, IDOK);
    code = Install(dialog, false);
  }
  if (!code) code = ClickWhenUsable(dialog, 11);  // the launch box, unchecked
  if (!code) code = ClickWhenUsable(dialog, IDCANCEL);  // Finish
  return code;
}

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  const wchar_t* verb = argv[1];
  if (!wcscmp(verb, L"loadlib") && argc > 2) {
    HMODULE module = LoadLibraryW(argv[2]);
    if (!module) {
      Line(L"notloaded\n");
      return 1;
    }
    wchar_t path[MAX_PATH] = L"";
    GetModuleFileNameW(module, path, MAX_PATH);
    WriteUtf8(L"loaded\t");
    WriteEscaped(path);
    WriteUtf8(L"\n");
    return 0;
  }
  if (!wcscmp(verb, L"await-window") && argc > 4)
    return AwaitWindow(argv[2], static_cast<DWORD>(_wtoi(argv[3])), !wcscmp(argv[4], L"through"));
  DWORD timeout = !wcscmp(verb, L"find") && argc > 2 ? static_cast<DWORD>(_wtoi(argv[2])) : 5000;
  HWND dialog = Wizard(timeout);
  if (!dialog) {
    Line(L"nowizard\n");
    return 1;
  }
  if (!wcscmp(verb, L"find")) {
    long long found = Now();
    PrintDialog(dialog);
    Line(L"found\t%lld\n", found);
    return 0;
  }
  if (!wcscmp(verb, L"install")) return Install(dialog, argc > 2 && !wcscmp(argv[2], L"watch"));
  if (!wcscmp(verb, L"answers")) return Answers(dialog, argc > 2 && !wcscmp(argv[2], L"input"));
  if (!wcscmp(verb, L"state")) {
    PrintDialog(dialog);
    EnumChildWindows(dialog, PrintControl, reinterpret_cast<LPARAM>(dialog));
    Line(L"focus\t%d\n", FocusId(dialog));
    PrintProgress(dialog);
    return 0;
  }
  if (!wcscmp(verb, L"click") && argc > 2) return Click(dialog, _wtoi(argv[2]), true);
  if (!wcscmp(verb, L"post-click") && argc > 2) return Click(dialog, _wtoi(argv[2]), false);
  if (!wcscmp(verb, L"type") && argc > 3) return Type(dialog, _wtoi(argv[2]), argv[3]);
  if (!wcscmp(verb, L"command") && argc > 2) {
    int id = _wtoi(argv[2]);
    int code = argc > 3 ? _wtoi(argv[3]) : 0;
    DWORD_PTR ignored;
    // A command that opens a modal box would not return: give up after 30 s.
    if (!SendMessageTimeoutW(dialog, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)),
                             SMTO_NORMAL, 30000, &ignored)) {
      Line(L"timeout\n");
      return 4;
    }
    Line(L"sent\t%d\n", id);
    return 0;
  }
  if (!wcscmp(verb, L"pane")) return PrintPane(dialog);
  if (!wcscmp(verb, L"charformat") && argc > 3) return PrintCharFormat(dialog, _wtoi(argv[2]), _wtoi(argv[3]));
  if (!wcscmp(verb, L"rect") && argc > 2) {
    RECT r = {};
    HWND control = _wtoi(argv[2]) ? GetDlgItem(dialog, _wtoi(argv[2])) : dialog;
    if (!control || !GetWindowRect(control, &r)) return 1;
    Line(L"rect\t%ld\t%ld\t%ld\t%ld\n", r.left, r.top, r.right, r.bottom);
    return 0;
  }
  if (!wcscmp(verb, L"layout")) return PrintLayout(dialog);
  if (!wcscmp(verb, L"dpi-change") && argc > 6) return ChangeDpi(dialog, argv + 2);
  if (!wcscmp(verb, L"panetop")) {
    HWND pane = GetDlgItem(dialog, kPaneId);
    if (argc > 2) SendMessageW(pane, EM_LINESCROLL, 0, _wtoi(argv[2]));
    // Positions as the return value: pointers would not cross the process.
    LRESULT selection = SendMessageW(pane, EM_GETSEL, 0, 0);
    Line(L"panetop\t%d\t%d\t%d\n", static_cast<int>(SendMessageW(pane, EM_GETFIRSTVISIBLELINE, 0, 0)),
         LOWORD(selection), HIWORD(selection));
    return 0;
  }
  if (!wcscmp(verb, L"colours") && argc > 2) return PrintColours(GetDlgItem(dialog, _wtoi(argv[2])));
  if (!wcscmp(verb, L"names")) {
    CoInitialize(nullptr);
    EnumChildWindows(dialog, PrintName, reinterpret_cast<LPARAM>(dialog));
    return 0;
  }
  if (!wcsncmp(verb, L"browse-", 7)) return BrowseCommand(dialog, verb, argc > 2 ? argv[2] : nullptr);
  return 2;
}
