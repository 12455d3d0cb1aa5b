#include "install/install_flow.h"

#include "env/app_message_win32.h"
#include "env/localised_strings.h"
#include "env/log_file_win32.h"
#include "install/install_location.h"
#include "install/install_run.h"
#include "install/running_instances.h"

const WChar* RequestedInstallDir;

bool ChooseInstallDir(WChar* dir) {
  dir[0] = 0;
  FreshInstall = !FindPreviousInstall(dir, PATH_CAPACITY);
  if (!FreshInstall) {
    // Two folders would leave the earlier files behind. To the file only:
    // the wizard's pane still shows the licence.
    if (RequestedInstallDir) {
      WChar line[MESSAGE_TEXT_CAPACITY];
      FormatArg arg = TextArg(dir);
      FormatText(line, MESSAGE_TEXT_CAPACITY, u"Upgrade: installing into the earlier installation's folder %s\r\n", &arg, 1);
      WriteLogFile(line);
    }
    return false;
  }
  if (RequestedInstallDir) return !WideCopy(dir, PATH_CAPACITY, RequestedInstallDir);
  return GetDefaultInstallDir(dir, true);
}

bool PrepareInstall(WChar* path, uint32_t namePosition, HWND window) {
  TargetDirState target = CreateTargetDir(path);
  if (target == TARGET_FAILED) return false;
  if (window && target == TARGET_EXISTS && FreshInstall &&
      ShowAppMessage(window, MB_YESNO | MB_ICONQUESTION, GetText(TXT_FOLDER_EXISTS_FMT), path) == IDNO)
    return false;
  return PrepareTarget(path, namePosition);
}

int InstallPrepared(HWND window, HWND bar, WChar* path, uint32_t namePosition, int desktopShortcut,
                    void (*onRunning)(HWND window)) {
  CloseRunningInstances(window);
  if (onRunning) onRunning(window);
  return RunInstall(window, bar, path, namePosition, desktopShortcut);
}
