// Process entry and the start-up driver. No C runtime start-up runs: no
// static initialisers, no exit handlers; ExitProcess ends the process.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include "env/app_message_win32.h"
#include "env/localised_strings.h"
#include "env/log_file_win32.h"
#include "env/system_probes.h"
#include "package/package.h"
#include "startup/command_tail.h"
#include "install/install_flow.h"
#include "install/install_text.h"
#include "install/launch.h"
#include "install/safe_target.h"
#include "startup/dll_safety_win32.h"
#include "startup/os_target.h"
#include "env/refusal_texts.h"
#include "env/refusals.h"
#include "startup/silent_install.h"
#include "ui/dialog_ids.h"
#include "ui/wizard.h"

namespace {

CommandOptions Options;

// /D= as a folder: a drive or UNC path; "C:name" would be found relative to
// the drive's current folder.
bool IsAbsoluteDir(const WChar* dir) {
  return IsValidInstallDir(dir, WideLength(dir)) && (dir[0] == u'\\' || dir[2] == u'\\');
}

int SetupMain(HINSTANCE instance, const char* commandTail) {
  ParseCommandOptions(reinterpret_cast<const WChar*>(GetCommandLineW()), &Options);
  MessageBoxesSuppressed = Options.SuppressMessageBoxes;
  bool silent = IsSilentSwitch(commandTail);
  // Before anything else, so that every refusal reaches it; a path that
  // cannot be made the log safely ends the setup before anything is done.
  if (Options.LogGiven) {
    HANDLE log;
    if (!Options.LogPath[0] || CreateLogFile(Options.LogPath, &log)) return 1;
    SetLogFile(log);
  }
  if (Options.DirGiven) {
    if (IsAbsoluteDir(Options.Dir)) RequestedInstallDir = Options.Dir;
    else if (silent) return 1;  // the wizard's user chooses anyway
  }
  ProbeSystem();
  LoadResult loaded = LoadPackage(OsClass, ArchClass);
  if (loaded != LOAD_OK) {
    RefuseLoad(loaded, nullptr);
    return 1;
  }
  const PackageHeader* header = Package.Header;
  RegistryView = RegistryViewFor(ArchClass, header->Flags);
  SystemAdmission admission = PackageAdmitsSystem(header, OsClass, ArchClass);
  if (admission == SYSTEM_OS_REFUSED) {
    // The box has only OK, and every way of closing it answers IDOK. The
    // target opens unelevated, as the product after Finish does; a relative
    // one would be found in a folder of the caller's choosing, and is not.
    const WChar* target = Config(CFG_UNSUPPORTED_OS_TARGET);
    if (ShowRefusal(kUnsupportedOsText, nullptr) == IDOK && IsAbsoluteTarget(target)) LaunchViaDesktopShell(target, u"");
    return 1;
  }
  if (admission == SYSTEM_ARCH_REFUSED) {
    RefuseArchitecture(header->ArchMask);
    return 1;
  }
  ChooseLanguage();
  if (!IsUserAnAdmin()) {  // shell32 ordinal 680
    ShowRefusal(GetText(TXT_NEED_ADMIN), nullptr);
    return 1;
  }
  // Never uninitialised: the shortcuts rely on it until the process ends.
  CoInitialize(nullptr);
  // Deployment tools read a silent run's exit code as its outcome; the
  // wizard's user has seen the outcome.
  if (silent) return RunSilentInstall();
  InitCommonControls();  // comctl32 ordinal 17
  INT_PTR closed = DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_WIZARD), nullptr, WizardDialogProc,
                                   reinterpret_cast<LPARAM>(instance));
  return closed == WIZARD_PACKAGE_DAMAGED ? 1 : 0;
}

}  // namespace

// The image's entry point (the link names it), in place of the C runtime's.
extern "C" void WINAPI ProcessEntry();

extern "C" void WINAPI ProcessEntry() {
  RestrictDllSearch();
  // Before any path is opened: a link that a standard user made may then
  // redirect nothing this process opens.
  TrustOnlyAdminRedirections();
  const char* tail = FindCommandTail(GetCommandLineA());
  ExitProcess(static_cast<UINT>(SetupMain(GetModuleHandleA(nullptr), tail)));
}
