#include "startup/silent_install.h"

#include "install/install_location.h"
#include "install/install_run.h"
#include "install/running_instances.h"
#include "package/package.h"
#include "startup/package_wait.h"

int RunSilentInstall() {
  WChar path[PATH_CAPACITY];
  path[0] = 0;
  FreshInstall = FindPreviousInstall(path, PATH_CAPACITY) ? 0 : 1;
  if (FreshInstall == 1 && GetDefaultInstallDir(path, true) &&
      !AppendProductFolder(path, PATH_CAPACITY, Config(CFG_PRODUCT_NAME)))
    return 1;
  // An empty or overlong directory text ends here, before anything is made.
  uint32_t namePosition = EnsureTrailingBackslash(path, PATH_CAPACITY);
  if (namePosition == 0 || !ProgramPathFits(namePosition)) return 1;
  WaitForPackage(nullptr);
  if (CreateTargetDir(path) == TARGET_FAILED) return 1;
  if (!PrepareTarget(path, namePosition)) return 1;
  CloseRunningInstances(nullptr);
  return RunInstall(nullptr, path, namePosition, 1);
}
