#include "install/shortcuts.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include "env/app_message_win32.h"
#include "install/install_location.h"
#include "package/package.h"
#include "install/log_output.h"

namespace {

bool CreateShellLink(const WChar* link, const WChar* target, const WChar* arguments, const WChar* directory,
                     const WChar* icon, int iconIndex) {
  IShellLinkW* shellLink = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&shellLink))))
    return false;
  IPersistFile* file = nullptr;
  if (FAILED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
    shellLink->Release();
    return false;
  }
  shellLink->SetPath(WinText(target));
  if (arguments) shellLink->SetArguments(WinText(arguments));
  if (directory) shellLink->SetWorkingDirectory(WinText(directory));
  if (icon) shellLink->SetIconLocation(WinText(icon), iconIndex);
  HRESULT saved = file->Save(WinText(link), TRUE);
  file->Release();
  shellLink->Release();
  return SUCCEEDED(saved);
}

// One shortcut in a special folder. A link path that does not fit is
// skipped like a folder the system cannot name.
void MakeShortcut(int folder, const WChar* logLine, const WChar* target, const WChar* arguments,
                  const WChar* installDir, const WChar* icon) {
  WChar link[PATH_CAPACITY];
  if (!SHGetSpecialFolderPathW(nullptr, WinText(link), folder, TRUE)) return;
  if (!MakeLinkPath(link, PATH_CAPACITY, Config(CFG_PRODUCT_NAME))) return;
  AppendLog(logLine);
  CreateShellLink(link, target, arguments, installDir, icon, 0);
  SHChangeNotify(SHCNE_CREATE, SHCNF_PATHW, link, nullptr);
}

}  // namespace

void CreateShortcuts(const WChar* installDir, int desktop) {
  // A command or icon path that would have to be cut makes no shortcut at
  // all: a cut target would point at another file.
  WChar command[LAUNCH_COMMAND_CAPACITY];
  const WChar* launch = LaunchCommand();
  if (!launch || !WideCopy(command, LAUNCH_COMMAND_CAPACITY, launch)) return;
  const WChar* arguments = nullptr;
  const WChar* icon = nullptr;
  WChar iconPath[PATH_CAPACITY];
  if (CustomLaunch) {
    if (!JoinPath(iconPath, PATH_CAPACITY, installDir, Config(CFG_MAIN_PROGRAM))) return;
    icon = iconPath;
    arguments = SplitLaunchCommand(command);
  }
  if (desktop)
    MakeShortcut(CSIDL_DESKTOPDIRECTORY, u"Create desktop shortcut\r\n", command, arguments, installDir, icon);
  MakeShortcut(CSIDL_COMMON_PROGRAMS, u"Create start menu shortcut\r\n", command, arguments, installDir, icon);
}
