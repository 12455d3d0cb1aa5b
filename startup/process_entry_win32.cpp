// Process entry and the start-up driver. No C runtime start-up runs: no
// static initialisers, no exit handlers; ExitProcess ends the process.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include "env/app_message_win32.h"
#include "env/localised_strings.h"
#include "env/system_probes.h"
#include "package/package.h"
#include "startup/command_tail.h"
#include "startup/dll_safety_win32.h"
#include "startup/silent_install.h"
#include "ui/dialog_ids.h"
#include "ui/wizard.h"

namespace {

void ShowError(const WChar* text) { MessageBoxW(nullptr, W(text), nullptr, MB_ICONERROR); }

}  // namespace

void ShowArchitectureMessage(uint32_t mask) {
  WChar list[128];
  ArchitectureList(mask, list, 128);
  WChar text[256];
  FormatArg arg = TextArg(list);
  FormatText(text, 256, u"This setup can only be installed on Windows %s!", &arg, 1);
  ShowError(text);
}

int SetupMain(HINSTANCE instance, const char* commandTail) {
  if (!LoadPackage()) {
    ShowError(u"This setup package is damaged!");
    return 1;
  }
  const PackageHeader* header = Package.Header;
  if (header->OsMask != 0 && (header->OsMask & OsClass) == 0) {
    int answer = MessageBoxW(nullptr, L"This operating system is not supported!", nullptr, MB_ICONERROR);
    if (answer == IDOK && Config(CFG_UNSUPPORTED_OS_TARGET))
      ShellExecuteW(nullptr, L"open", W(Config(CFG_UNSUPPORTED_OS_TARGET)), nullptr, nullptr, SW_SHOWNORMAL);
    return 1;
  }
  if (header->ArchMask != 0 && (header->ArchMask & ArchClass) == 0) {
    ShowArchitectureMessage(header->ArchMask);
    return 1;
  }
  ChooseLanguage();
  if (!IsUserAnAdmin()) {
    ShowError(GetText(TXT_NEED_ADMIN));
    return 1;
  }
  CoInitialize(nullptr);
  if (IsSilentSwitch(commandTail)) {
    RunSilentInstall();
    return 0;
  }
  InitCommonControls();
  DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_WIZARD), nullptr, WizardDialogProc,
                  reinterpret_cast<LPARAM>(instance));
  return 0;
}

extern "C" void WINAPI ProcessEntry() {
  RestrictDllSearch();
  const char* tail = FindCommandTail(GetCommandLineA());
  ExitProcess(static_cast<UINT>(SetupMain(GetModuleHandleA(nullptr), tail)));
}
