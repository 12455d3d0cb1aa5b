#include "startup/silent_install.h"

#include "install/install_location.h"
#include "install/install_flow.h"
#include "package/package.h"
#include "env/refusals.h"

int RunSilentInstall() {
  WChar path[PATH_CAPACITY];
  if (ChooseInstallDir(path) && !AppendProductFolder(path, PATH_CAPACITY, Config(CFG_PRODUCT_NAME))) return 1;
  // An empty or overlong directory text ends here, before anything is made.
  uint32_t namePosition = EnsureTrailingBackslash(path, PATH_CAPACITY);
  if (namePosition == 0 || !ProgramPathFits(namePosition)) return 1;
  LoadResult rest = AwaitPackage(nullptr, nullptr);
  if (rest != LOAD_OK) {
    RefuseLoad(rest, nullptr);
    return 1;
  }
  if (!PrepareInstall(path, namePosition, nullptr)) return 1;
  return InstallPrepared(nullptr, nullptr, path, namePosition, 1, nullptr);
}
