#include "install/install_location.h"

#include "env/app_message_win32.h"
#include "env/system_probes.h"
#include "install/registry_value_win32.h"
#include "install/safe_target.h"
#include "package/package.h"

bool FreshInstall;
WChar PreviousVersion[VERSION_CAPACITY];
bool CustomLaunch;
bool TargetDirCreated;

namespace {

// The defaulted launch command, InstallDir + MainProgram; lives until exit.
WChar DefaultLaunch[PATH_CAPACITY];

}  // namespace

bool FindPreviousInstall(WChar* dir, uint32_t capacity) {
  char keyPath[UNINSTALL_KEY_CAPACITY];
  if (!BuildUninstallKeyPath(keyPath, UNINSTALL_KEY_CAPACITY, Config(CFG_PRODUCT_NAME))) return false;
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ | RegistryView, &key) != ERROR_SUCCESS) return false;
  // Only a DisplayVersion makes it an earlier installation, and only then is
  // its location taken: a stray InstallLocation must not become the default.
  DWORD bytes = 0;
  bool found = ReadStringValue(key, L"DisplayVersion", PreviousVersion, VERSION_CAPACITY, &bytes) && bytes > 0;
  if (!found) {
    PreviousVersion[0] = 0;
  } else if (!ReadStringValue(key, L"InstallLocation", dir, capacity, &bytes)) {
    if (capacity) dir[0] = 0;
  }
  RegCloseKey(key);
  return found;
}

bool GetDefaultInstallDir(WChar* dir, bool usePackageSetting) {
  const WChar* packageDir = Config(CFG_DEFAULT_INSTALL_DIR);
  if (usePackageSetting && packageDir) {
    DWORD n = ExpandEnvironmentStringsW(WinText(packageDir), WinText(dir), PATH_CAPACITY);
    if (n == 0 || n > PATH_CAPACITY || WideLengthBounded(dir, PATH_CAPACITY) == PATH_CAPACITY) dir[0] = 0;
    return false;
  }
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0,
                    KEY_READ | RegistryView, &key) != ERROR_SUCCESS) {
    dir[0] = 0;
    return false;
  }
  DWORD bytes = 0;
  bool read = ReadStringValue(key, L"ProgramFilesDir", dir, PATH_CAPACITY, &bytes) && dir[0];
  RegCloseKey(key);
  if (!read) {
    // Without it the product folder alone would be a relative path.
    dir[0] = 0;
    return false;
  }
  return true;
}

TargetDirState CreateTargetDir(const WChar* installDir) {
  DWORD attributes = GetFileAttributesW(WinText(installDir));
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return TARGET_EXISTS;
  // Made only where its parent is what it says: a link higher up would have
  // the folder made in the link's target.
  WChar parent[PATH_CAPACITY];
  WideCopy(parent, PATH_CAPACITY, installDir);
  uint32_t n = WideLength(parent);
  if (n && parent[n - 1] == u'\\') --n;
  while (n && parent[n - 1] != u'\\') --n;
  parent[n] = 0;
  if (!n || CheckExistingFolder(parent, FOLDER_LINKS_ONLY) || MakeFolder(installDir)) return TARGET_FAILED;
  TargetDirCreated = true;
  return TARGET_CREATED;
}

bool ProgramPathFits(uint32_t namePosition) {
  const WChar* program = Config(CFG_MAIN_PROGRAM);
  if (!program || namePosition >= PATH_CAPACITY) return false;
  return WideLength(program) < PATH_CAPACITY - namePosition;
}

bool PrepareTarget(WChar* buffer, uint32_t namePosition) {
  if (!ProgramPathFits(namePosition)) return false;
  if (Config(CFG_LAUNCH_COMMAND)) {
    CustomLaunch = true;
    return true;
  }
  WideCopy(buffer + namePosition, PATH_CAPACITY - namePosition, Config(CFG_MAIN_PROGRAM));
  WideCopy(DefaultLaunch, PATH_CAPACITY, buffer);
  return true;
}

const WChar* LaunchCommand() {
  if (Config(CFG_LAUNCH_COMMAND)) return Config(CFG_LAUNCH_COMMAND);
  return DefaultLaunch[0] ? DefaultLaunch : nullptr;
}
