// The wizard dialog: initialisation, the text pane, the five pages and the
// commands that move between them and start the installation.
#include <windows.h>
#include <commctrl.h>
#include <richedit.h>
#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "env/app_message_win32.h"
#include "env/localised_strings.h"
#include "base/text_capacities.h"
#include "env/refusals.h"
#include "install/install_flow.h"
#include "install/install_location.h"
#include "install/install_run.h"
#include "install/launch.h"
#include "install/running_instances.h"
#include "package/package.h"
#include "base/system_library_win32.h"
#include "ui/accessible_name.h"
#include "ui/dialog_ids.h"
#include "ui/dir_field.h"
#include "ui/layout_scale.h"
#include "ui/license_text.h"
#include "ui/mirrored_layout.h"
#include "install/log_output.h"
#include "ui/wizard.h"

namespace {

// A read-only, multi-line pane that scrolls down with what is added. Tabbing
// into it keeps its caret where the reader left it instead of selecting all.
const DWORD kTextPaneStyle =
    WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY | ES_SAVESEL;
const COLORREF kErrorBarColour = 0x000000F0;  // red 240
// Vista's progress-bar state, absent from the XP-level headers.
const UINT kProgressSetState = WM_USER + 16;  // PBM_SETSTATE
const UINT kProgressGetState = WM_USER + 17;  // PBM_GETSTATE
const WPARAM kProgressStateError = 2;       // PBST_ERROR
typedef HRESULT(WINAPI* SetWindowThemeFn)(HWND, LPCWSTR, LPCWSTR);
const DWORD kBrowseFlags = BIF_RETURNONLYFSDIRS | BIF_DONTGOBELOWDOMAIN | BIF_EDITBOX | BIF_NEWDIALOGSTYLE;
// Windows 8.1's, absent from the XP-level headers.
const UINT kDpiChanged = 0x02E0;  // WM_DPICHANGED

// The install path buffer of the wizard's run: InstallDir, then relative names.
WChar InstallPath[PATH_CAPACITY];
HFONT PaneFont;
HFONT TitleFont;
// The template's font for the controls at the window's DPI, once it changed.
HFONT ControlFont;
HICON Icons[2];  // small, large
HINSTANCE Instance;
// The rich text pane: the licence, then the installation log.
HWND TextPane;
// From Install to the outcome page. The run's waits take in messages (the
// package, the folder question, the file phase, the configure command): no
// command may start anything meanwhile.
bool Running;

// Sizes this file gives in pixels are those of a 96-dpi screen. The manifest
// declares the setup aware of each screen's DPI, so Windows no longer
// stretches the window as a bitmap where the screen has more; the sizes grow
// with the DPI instead, as the template's dialog units grow with the dialog
// font. The window starts at the system's DPI and follows it from screen to
// screen (WM_DPICHANGED).
int StartDpi, Dpi;

int ScreenPixels(int pixelsAt96Dpi) { return MulDiv(pixelsAt96Dpi, Dpi, 96); }

// Pitch and family FIXED_PITCH, not DEFAULT_PITCH: the face the font mapper
// then picks is part of how this window looks.
HFONT CreateDialogFont(int height, int weight) {
  return CreateFontW(ScreenPixels(height), 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH, L"MS Shell Dlg");
}

void ShowControl(HWND dialog, int id, bool show) {
  ShowWindow(GetDlgItem(dialog, id), show ? SW_SHOW : SW_HIDE);
}

void SetControlText(HWND dialog, int id, const WChar* text) { SetDlgItemTextW(dialog, id, WinText(text)); }

bool IsChecked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

// A command button counts only while the user could press it: Enter reaches
// the dialog as IDOK and Escape as IDCANCEL whatever the buttons' state, and
// any program can post a command for a hidden control.
bool IsUsable(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  return control && IsWindowVisible(control) && IsWindowEnabled(control);
}

bool HighContrast() {
  HIGHCONTRASTW contrast = {sizeof contrast, 0, nullptr};
  return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0) &&
         (contrast.dwFlags & HCF_HIGHCONTRASTON);
}

// The bar of a failed run: the visual style's red error state, or else the
// red bar colour. A style without the error state (XP's, Wine's) also
// ignores the bar colour, so the bar then loses its style and is drawn
// plainly in red. A high-contrast scheme keeps its own colours; the page's
// title tells the failure.
void ShowErrorBar(HWND bar) {
  SendMessageW(bar, kProgressSetState, kProgressStateError, 0);
  if (HighContrast()) return;
  SendMessageW(bar, PBM_SETBARCOLOR, 0, kErrorBarColour);
  if (SendMessageW(bar, kProgressGetState, 0, 0) == static_cast<LRESULT>(kProgressStateError)) return;
  HMODULE uxtheme = LoadSystemLibrary(L"uxtheme.dll");
  SetWindowThemeFn setWindowTheme =
      uxtheme ? reinterpret_cast<SetWindowThemeFn>(GetProcAddress(uxtheme, "SetWindowTheme")) : nullptr;
  // A blank, not an empty, class list: one that names no class of the style.
  if (!setWindowTheme || FAILED(setWindowTheme(bar, L" ", L" "))) return;
  // The plain bar has a sunken edge again; have its frame drawn.
  SetWindowPos(bar, nullptr, 0, 0, 0, 0, SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The header also names for screen readers the controls that have no label:
// the text pane by the page's title (the licence, the log), the directory
// field by the destination page's question, the bar by the installing
// page's subtitle.
void SetHeaderTexts(HWND dialog, int page, int titleId, int subtitleId) {
  const WChar* title = GetText(titleId);
  SetControlText(dialog, IDC_TITLE, title);
  SetAccessibleName(TextPane, WinText(title));
  WChar subtitle[SUBTITLE_TEXT_CAPACITY];
  FormatArg name = TextArg(Config(CFG_PRODUCT_NAME));
  FormatText(subtitle, SUBTITLE_TEXT_CAPACITY, GetText(subtitleId), &name, 1);
  SetControlText(dialog, IDC_SUBTITLE, subtitle);
  SetAccessibleName(GetDlgItem(dialog, page == PAGE_DESTINATION ? IDC_DIR_EDIT : IDC_PROGRESS), WinText(subtitle));
}

HWND CreateTextPane(HWND dialog, HINSTANCE instance, DWORD exStyle) {
  RECT frame;
  GetWindowRect(GetDlgItem(dialog, IDC_TEXT_FRAME), &frame);
  // Inside the frame's line, one pixel wide at any DPI.
  InflateRect(&frame, -1, -1);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&frame), 2);

  static const wchar_t* const kLibraries[] = {L"msftedit.dll", L"riched20.dll"};
  static const wchar_t* const kClasses[] = {L"RICHEDIT50W", L"RichEdit20W"};
  HWND pane = nullptr;
  for (int i = 0; i < 2 && !pane; ++i) {
    // By full path: a DLL of the same name beside the setup file must not load.
    if (!LoadSystemLibrary(kLibraries[i])) continue;
    pane = CreateWindowExW(exStyle, kClasses[i], L"", kTextPaneStyle, frame.left, frame.top, frame.right - frame.left,
                           frame.bottom - frame.top, dialog,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_RICHTEXT)), instance, nullptr);
  }
  if (!pane) return nullptr;
  PaneFont = CreateDialogFont(13, FW_NORMAL);
  SendMessageW(pane, WM_SETFONT, reinterpret_cast<WPARAM>(PaneFont), TRUE);
  // The default limit of 32767 characters would also stop an RTF licence and
  // a long log (EM_REPLACESEL) short.
  SendMessageW(pane, EM_EXLIMITTEXT, 0, 0x7FFFFFFE);
  return pane;
}

// The pane's text keeps its place in points at any DPI: rather than a new
// font, which would undo an RTF licence's formatting, it is zoomed from the
// start-up DPI, and its text rectangle set in from the default by the inset.
void FitPaneToDpi() {
  SendMessageW(TextPane, EM_SETZOOM, Dpi, StartDpi);
  SendMessageW(TextPane, EM_SETRECTNP, 0, 0);
  RECT text;
  SendMessageW(TextPane, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&text));
  int inset = ScreenPixels(7);
  InflateRect(&text, -inset, -inset);
  SendMessageW(TextPane, EM_SETRECTNP, 0, reinterpret_cast<LPARAM>(&text));
}

// The title's font, the icons (each at its size for the DPI) and the pane,
// at start-up and again whenever the window moves to a screen of another DPI.
void FitToDpi(HWND dialog) {
  HFONT oldTitleFont = TitleFont;
  TitleFont = CreateDialogFont(12, FW_BOLD);
  SendDlgItemMessageW(dialog, IDC_TITLE, WM_SETFONT, reinterpret_cast<WPARAM>(TitleFont), TRUE);
  DeleteObject(oldTitleFont);
  HICON oldIcons[2] = {Icons[0], Icons[1]};
  for (int i = ICON_SMALL; i <= ICON_BIG; ++i) {
    int size = ScreenPixels(16 << i);
    Icons[i] = static_cast<HICON>(LoadImageW(Instance, MAKEINTRESOURCEW(IDI_SETUP), IMAGE_ICON, size, size, 0));
    SendMessageW(dialog, WM_SETICON, i, reinterpret_cast<LPARAM>(Icons[i]));
  }
  SendDlgItemMessageW(dialog, IDC_HEADER_ICON, STM_SETICON, reinterpret_cast<WPARAM>(Icons[ICON_BIG]), 0);
  // Null handles (the first time, a pane that failed) fail harmlessly.
  for (HICON icon : oldIcons) DestroyIcon(icon);
  FitPaneToDpi();
}

// The suggested window rectangle, the controls placed in it as at start-up,
// the template's font for the new DPI (its size in points kept), then what
// FitToDpi makes. The pane keeps its text, and the reader's place in it,
// which resizing and zooming give up.
void OnDpiChanged(HWND dialog, int dpi, const RECT* window) {
  LRESULT topLine = SendMessageW(TextPane, EM_GETFIRSTVISIBLELINE, 0, 0);
  HFONT oldFont = ControlFont ? ControlFont : reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
  LOGFONTW font;
  if (!GetObjectW(oldFont, sizeof font, &font)) return;
  int points = MulDiv(-font.lfHeight, 72, Dpi);
  font.lfHeight = -MulDiv(points, dpi, 72);
  Dpi = dpi;
  HFONT newFont = CreateFontIndirectW(&font);
  RescaleLayout(dialog, window, oldFont, newFont);
  DeleteObject(ControlFont);
  ControlFont = newFont;
  FitToDpi(dialog);
  SendMessageW(TextPane, EM_LINESCROLL, 0, topLine - SendMessageW(TextPane, EM_GETFIRSTVISIBLELINE, 0, 0));
  // The header's controls overlap: painted each as it changed, the band
  // would cover the texts. All at once they paint as at start-up.
  InvalidateRect(dialog, nullptr, TRUE);
}

void ShowLicenseText() {
  LicenseText license = PrepareLicenseText(&Package);
  if (license.Text && TextPane) {
    // Narrow text in the system code page. EM_SETTEXTEX, unlike WM_SETTEXT
    // to a Unicode window class, reaches the control unconverted, so it can
    // recognise RTF (shown formatted); other text shows plain in the pane font.
    SETTEXTEX mode = {ST_DEFAULT, CP_ACP};
    SendMessageW(TextPane, EM_SETTEXTEX, reinterpret_cast<WPARAM>(&mode), reinterpret_cast<LPARAM>(license.Text));
    // The caret, left at the end, would show the end first and have a
    // screen reader start reading there.
    SendMessageW(TextPane, EM_SETSEL, 0, 0);
  }
  ReleaseLicenseText(&license);
}

// Empties the pane for the log. The formatting that an RTF licence left at
// its end (size, bold, colour, alignment) would otherwise carry over to every
// log line.
void ClearPaneForLog() {
  if (!TextPane) return;
  SetWindowTextW(TextPane, L"");
  SendMessageW(TextPane, WM_SETFONT, reinterpret_cast<WPARAM>(PaneFont), FALSE);
  CHARFORMAT2W plain;
  ZeroMemory(&plain, sizeof plain);
  plain.cbSize = sizeof plain;
  plain.dwMask = CFM_BOLD | CFM_ITALIC | CFM_UNDERLINE | CFM_STRIKEOUT | CFM_COLOR | CFM_BACKCOLOR;
  plain.dwEffects = CFE_AUTOCOLOR | CFE_AUTOBACKCOLOR;
  SendMessageW(TextPane, EM_SETCHARFORMAT, SCF_ALL, reinterpret_cast<LPARAM>(&plain));
  PARAFORMAT2 paragraph;
  ZeroMemory(&paragraph, sizeof paragraph);
  paragraph.cbSize = sizeof paragraph;
  paragraph.dwMask = PFM_ALIGNMENT | PFM_STARTINDENT | PFM_RIGHTINDENT | PFM_OFFSET;
  paragraph.wAlignment = PFA_LEFT;
  SendMessageW(TextPane, EM_SETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&paragraph));
}

// The Browse button shares its row with the directory field; a label longer
// than the button (as translations have) takes room from the field instead
// of being clipped.
void FitBrowseButton(HWND dialog) {
  HWND button = GetDlgItem(dialog, IDC_BROWSE);
  HWND field = GetDlgItem(dialog, IDC_DIR_EDIT);
  wchar_t label[128];
  if (!GetWindowTextW(button, label, 128)) return;
  HDC dc = GetDC(button);
  if (!dc) return;
  HGDIOBJ oldFont = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(button, WM_GETFONT, 0, 0)));
  RECT text = {0, 0, 0, 0};
  DrawTextW(dc, label, -1, &text, DT_CALCRECT | DT_SINGLELINE);
  SelectObject(dc, oldFont);
  ReleaseDC(button, dc);

  RECT margins = {0, 0, 10, 0};  // 5 dialog units each side
  MapDialogRect(dialog, &margins);
  RECT buttonRect, fieldRect;
  GetWindowRect(button, &buttonRect);
  GetWindowRect(field, &fieldRect);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&buttonRect), 2);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&fieldRect), 2);
  int grow = text.right + margins.right - (buttonRect.right - buttonRect.left);
  // Keep at least half of the field.
  int fieldWidth = fieldRect.right - fieldRect.left;
  if (grow <= 0 || grow > fieldWidth / 2) return;
  SetWindowPos(button, nullptr, buttonRect.left - grow, buttonRect.top, buttonRect.right - buttonRect.left + grow,
               buttonRect.bottom - buttonRect.top, SWP_NOZORDER | SWP_NOACTIVATE);
  SetWindowPos(field, nullptr, 0, 0, fieldWidth - grow, fieldRect.bottom - fieldRect.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void InitWizard(HWND dialog, HINSTANCE instance) {
  Instance = instance;
  HDC screen = GetDC(nullptr);
  Dpi = StartDpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  TextPane = CreateTextPane(dialog, instance, KeepPathsLeftToRight(dialog));
  SetLogPane(TextPane);
  ShowLicenseText();
  FitToDpi(dialog);
  // The only ways out are Cancel/Finish (or Escape), never the close box.
  EnableMenuItem(GetSystemMenu(dialog, FALSE), SC_CLOSE, MF_GRAYED);

  HWND dirEdit = GetDlgItem(dialog, IDC_DIR_EDIT);
  SendMessageW(dirEdit, EM_LIMITTEXT, PATH_CAPACITY - 1, 0);
  SHAutoComplete(dirEdit, SHACF_FILESYSTEM);

  WChar title[TITLE_TEXT_CAPACITY];
  FormatWindowTitle(title);
  SetWindowTextW(dialog, WinText(title));

  CheckDlgButton(dialog, IDC_DESKTOP_SHORTCUT, BST_CHECKED);
  // A table in bytes costs the stub less than a call per control.
  static const uint8_t kControlTexts[][2] = {{IDC_ACCEPT, TXT_ACCEPT},
                                             {IDC_BROWSE, TXT_BROWSE},
                                             {IDC_DESKTOP_SHORTCUT, TXT_DESKTOP_SHORTCUT},
                                             {IDC_BACK, TXT_BACK},
                                             {IDC_CANCEL, TXT_CANCEL}};
  for (const uint8_t* c : kControlTexts) SetControlText(dialog, c[0], GetText(c[1]));
  FitBrowseButton(dialog);
  RememberLayout(dialog);
  SetPage(dialog, PAGE_LICENSE);

  WChar dir[PATH_CAPACITY];
  bool append = ChooseInstallDir(dir);
  if (!FreshInstall) CheckDlgButton(dialog, IDC_ACCEPT, BST_CHECKED);
  // Setting the field raises its change notification, which judges IDC_NEXT.
  SetDirField(dir, dialog, append);
  SetControlText(dialog, IDC_NEXT, GetText(FreshInstall ? TXT_NEXT : TXT_INSTALL));
}

void OnAcceptClicked(HWND dialog) {
  bool accepted = IsChecked(dialog, IDC_ACCEPT);
  if (FreshInstall) {
    SetPage(dialog, accepted ? PAGE_DESTINATION : PAGE_LICENSE);
    UpdateNextButton(dialog);
  } else {
    // The upgrade's directory was judged when the field was filled.
    EnableWindow(GetDlgItem(dialog, IDC_NEXT), accepted);
  }
}

void ShowInstallingPage(HWND dialog) {
  HWND bar = GetDlgItem(dialog, IDC_PROGRESS);
  SendMessageW(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 10000));
  InvalidateRect(bar, nullptr, TRUE);
  ClearPaneForLog();
  SetPage(dialog, PAGE_INSTALLING);
}

// After a wait for the package, a refusal before anything was installed
// brings back the page Install or Next was pressed on, as it was.
void ReturnFromInstallingPage(HWND dialog) {
  SetPage(dialog, FreshInstall ? PAGE_DESTINATION : PAGE_LICENSE);
  ShowControl(dialog, IDC_PROGRESS, false);
  ShowControl(dialog, IDC_NEXT, true);
  EnableWindow(GetDlgItem(dialog, IDC_CANCEL), TRUE);
  SendMessageW(GetDlgItem(dialog, IDC_PROGRESS), PBM_SETPOS, 0, 0);
  ShowLicenseText();
  SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, IDC_NEXT)), TRUE);
}

void ShowDecodedShare(void* bar) {
  SendMessageW(static_cast<HWND>(bar), PBM_SETPOS, PackageDecodedShare(), 0);
}

void ShowWaitCursor(HWND) { SetCursor(LoadCursorW(nullptr, IDC_WAIT)); }

void ShowInstallingPageWaiting(HWND dialog) {
  ShowInstallingPage(dialog);
  ShowWaitCursor(dialog);
}

void InstallAsChosen(HWND dialog) {
  int desktopShortcut = IsChecked(dialog, IDC_DESKTOP_SHORTCUT) ? 1 : 0;
  uint32_t namePosition = ReadDirField(dialog, InstallPath, PATH_CAPACITY);
  if (namePosition == 0) return;
  // An upgrade enables Install with the accept box alone; an earlier
  // location that is no absolute path would be taken relative to the
  // setup's current directory.
  if (!IsValidInstallDir(InstallPath, namePosition)) return;
  // Before the folder is made: a refusal must not leave an empty folder
  // behind for the next attempt to ask about.
  if (!ProgramPathFits(namePosition)) return;

  // The folder is the first thing written: before it, the whole package
  // must be verified. A user faster than the decoder sees the installing
  // page meanwhile, its bar showing the decoding.
  HWND bar = GetDlgItem(dialog, IDC_PROGRESS);
  bool waited = !IsPackageComplete();
  if (waited) ShowInstallingPage(dialog);
  // Also when the decoding has ended: it may have ended in damage.
  LoadResult rest = AwaitPackage(ShowDecodedShare, bar);
  if (rest != LOAD_OK) {
    RefuseLoad(rest, dialog);
    EndDialog(dialog, WIZARD_PACKAGE_DAMAGED);
    return;
  }
  if (waited) SendMessageW(bar, PBM_SETPOS, 0, 0);
  if (!PrepareInstall(InstallPath, namePosition, dialog)) {
    if (waited) ReturnFromInstallingPage(dialog);
    return;
  }
  HCURSOR previous = GetCursor();
  int result = InstallPrepared(dialog, bar, InstallPath, namePosition, desktopShortcut,
                               waited ? ShowWaitCursor : ShowInstallingPageWaiting);
  SetPage(dialog, result ? PAGE_FAILED : PAGE_DONE);
  SetCursor(previous);
}

void StartInstall(HWND dialog) {
  Running = true;
  InstallAsChosen(dialog);
  Running = false;
}

int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM, LPARAM data) {
  const WChar* start = reinterpret_cast<const WChar*>(data);
  if (message == BFFM_INITIALIZED && start[0])
    SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, data);
  return 0;
}

void FreeIdList(LPITEMIDLIST list) {
  IMalloc* allocator = nullptr;
  if (SUCCEEDED(SHGetMalloc(&allocator)) && allocator) {
    allocator->Free(list);
    allocator->Release();
  }
}

void BrowseForInstallDir(HWND dialog) {
  LPITEMIDLIST root = nullptr;
  if (FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &root)) || !root) return;
  // The browser starts on the program-files directory, not on the field's text.
  WChar dir[PATH_CAPACITY];
  dir[0] = 0;
  GetDefaultInstallDir(dir, false);

  BROWSEINFOW info;
  ZeroMemory(&info, sizeof info);
  info.hwndOwner = dialog;
  info.pidlRoot = root;
  info.lpszTitle = WinText(GetText(TXT_BROWSE_PROMPT));
  info.ulFlags = kBrowseFlags;
  info.lpfn = BrowseCallback;
  info.lParam = reinterpret_cast<LPARAM>(dir);

  HRESULT init = CoInitialize(nullptr);
  LPITEMIDLIST picked = SHBrowseForFolderW(&info);
  if (picked) {
    if (SHGetPathFromIDListW(picked, WinText(dir)) && GetFileAttributesW(WinText(dir)) != INVALID_FILE_ATTRIBUTES)
      SetDirField(dir, dialog, true);
    FreeIdList(picked);
  }
  FreeIdList(root);
  if (SUCCEEDED(init)) CoUninitialize();
}

// Finish with the launch box checked opens the product in the directory
// field's (normalised) directory.
void LaunchIfChosen(HWND dialog) {
  if (!IsChecked(dialog, IDC_LAUNCH)) return;
  WChar directory[PATH_CAPACITY];
  ReadDirField(dialog, directory, PATH_CAPACITY);
  LaunchProduct(directory);
}

void OnCommand(HWND dialog, WPARAM wParam) {
  int id = LOWORD(wParam);
  // The field's notifications come whether it is shown or not.
  if (Running || (id != IDC_DIR_EDIT && !IsUsable(dialog, id))) return;
  switch (id) {
    case IDC_NEXT:
      StartInstall(dialog);
      break;
    case IDC_CANCEL:
      if (InstallFinished) LaunchIfChosen(dialog);
      EndDialog(dialog, 0);
      break;
    case IDC_BACK:
      CheckDlgButton(dialog, IDC_ACCEPT, BST_UNCHECKED);
      OnAcceptClicked(dialog);
      break;
    case IDC_BROWSE:
      BrowseForInstallDir(dialog);
      break;
    case IDC_ACCEPT:
      if (HIWORD(wParam) == BN_CLICKED) OnAcceptClicked(dialog);
      break;
    case IDC_DIR_EDIT:
      UpdateNextButton(dialog);
      break;
    default:
      break;
  }
}

// What a page shows: its header texts and the controls it shows and hides,
// in the order it does so (hiding the control that holds the focus moves the
// focus on to one still visible). Controls a page does not list keep their
// state: the bar of a failed run stays in view.
const bool SHOW = true, HIDE = false;
struct PageControl {
  uint8_t Id;
  bool Shown;
};
struct PageLayout {
  uint8_t Title, Subtitle;
  PageControl Controls[9];  // unused entries have Id 0
};
// Byte-aligned: the default 32-byte alignment of arrays would pad the stub.
alignas(1) const PageLayout kPages[] = {
    {TXT_LICENSE_TITLE,
     TXT_LICENSE_SUBTITLE,
     {{IDC_ACCEPT, SHOW}, {IDC_RICHTEXT, SHOW}, {IDC_TEXT_FRAME, SHOW}, {IDC_BACK, HIDE}, {IDC_DIR_EDIT, HIDE},
      {IDC_DESKTOP_SHORTCUT, HIDE}, {IDC_BROWSE, HIDE}}},
    {TXT_DEST_TITLE,
     TXT_DEST_SUBTITLE_FMT,
     {{IDC_ACCEPT, HIDE}, {IDC_RICHTEXT, HIDE}, {IDC_TEXT_FRAME, HIDE}, {IDC_BACK, SHOW}, {IDC_DIR_EDIT, SHOW},
      {IDC_DESKTOP_SHORTCUT, SHOW}, {IDC_BROWSE, SHOW}}},
    {TXT_INSTALLING_TITLE,
     TXT_INSTALLING_SUBTITLE_FMT,
     {{IDC_ACCEPT, HIDE}, {IDC_BACK, HIDE}, {IDC_DIR_EDIT, HIDE}, {IDC_DESKTOP_SHORTCUT, HIDE}, {IDC_BROWSE, HIDE},
      {IDC_RICHTEXT, SHOW}, {IDC_TEXT_FRAME, SHOW}, {IDC_PROGRESS, SHOW}, {IDC_NEXT, HIDE}}},
    {TXT_DONE_TITLE,
     TXT_FINISH_SUBTITLE,
     {{IDC_RICHTEXT, HIDE}, {IDC_TEXT_FRAME, HIDE}, {IDC_PROGRESS, HIDE}, {IDC_LAUNCH, SHOW}}},
    {TXT_FAILED_TITLE, TXT_FINISH_SUBTITLE, {}},
};
static_assert(sizeof kPages / sizeof kPages[0] == PAGE_FAILED, "one layout per page, in WizardPage order");

void OfferLaunch(HWND dialog) {
  WChar launch[LAUNCH_LABEL_CAPACITY];
  FormatArg name = TextArg(Config(CFG_PRODUCT_NAME));
  FormatText(launch, LAUNCH_LABEL_CAPACITY, GetText(TXT_LAUNCH_FMT), &name, 1);
  SetControlText(dialog, IDC_LAUNCH, launch);
  CheckDlgButton(dialog, IDC_LAUNCH, BST_CHECKED);
}

// Cancel becomes Finish, and Enter means Finish: after a run that ended
// well, the pane that held the focus is hidden. A click or key made during
// the run and still queued was not meant for Finish: it is dropped first
// (the wizard's windows are its thread's only ones).
void ShowFinishButton(HWND dialog) {
  MSG message;
  while (PeekMessageW(&message, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE) ||
         PeekMessageW(&message, nullptr, WM_MOUSEFIRST, WM_MOUSELAST, PM_REMOVE)) {
  }
  SetControlText(dialog, IDC_CANCEL, GetText(TXT_FINISH));
  EnableWindow(GetDlgItem(dialog, IDC_CANCEL), TRUE);
  // Enter means Finish from any control of the page, the launch box too.
  SendMessageW(dialog, DM_SETDEFID, IDC_CANCEL, 0);
  SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, IDC_CANCEL)), TRUE);
}

// The header band is drawn as a window's background is: white, or what a
// high-contrast scheme makes it.
bool IsHeaderControl(int id) {
  return id == IDC_HEADER_BAND || id == IDC_TITLE || id == IDC_SUBTITLE || id == IDC_HEADER_ICON ||
         id == IDC_RICHTEXT;
}

}  // namespace

void SetPage(HWND dialog, int page) {
  if (page < PAGE_LICENSE || page > PAGE_FAILED) return;
  const PageLayout& layout = kPages[page - PAGE_LICENSE];
  SetHeaderTexts(dialog, page, layout.Title, layout.Subtitle);
  for (const PageControl& control : layout.Controls)
    if (control.Id) ShowControl(dialog, control.Id, control.Shown);
  switch (page) {
    case PAGE_INSTALLING:
      EnableWindow(GetDlgItem(dialog, IDC_CANCEL), FALSE);
      break;
    case PAGE_DONE:
      OfferLaunch(dialog);
      ShowFinishButton(dialog);
      break;
    case PAGE_FAILED:
      ShowErrorBar(GetDlgItem(dialog, IDC_PROGRESS));
      ShowFinishButton(dialog);
      break;
    default:
      break;
  }
}

void UpdateNextButton(HWND dialog) {
  WChar dir[PATH_CAPACITY];
  uint32_t length = ReadDirField(dialog, dir, PATH_CAPACITY);
  bool enable = IsChecked(dialog, IDC_ACCEPT) && IsValidInstallDir(dir, length);
  EnableWindow(GetDlgItem(dialog, IDC_NEXT), enable);
}

INT_PTR CALLBACK WizardDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      InitWizard(dialog, reinterpret_cast<HINSTANCE>(lParam));
      return TRUE;
    case WM_COMMAND:
      OnCommand(dialog, wParam);
      return TRUE;
    // Handled here, the dialog manager's own rescaling stays out of the way.
    case kDpiChanged:
      OnDpiChanged(dialog, LOWORD(wParam), reinterpret_cast<const RECT*>(lParam));
      return TRUE;
    case WM_CTLCOLORSTATIC:
      if (IsHeaderControl(GetDlgCtrlID(reinterpret_cast<HWND>(lParam)))) {
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        SetBkMode(dc, TRANSPARENT);
        return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_WINDOW));
      }
      return FALSE;
    default:
      return FALSE;
  }
}
