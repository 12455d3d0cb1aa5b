#include "install/registration.h"

#include "env/localised_strings.h"
#include "env/system_probes.h"
#include "install/configure_command.h"
#include "install/install_location.h"
#include "install/progress.h"
#include "install/registry_value_win32.h"
#include "package/package.h"

namespace {

// The product's uninstall key opened for writing; null when its path does
// not fit or the key cannot be created. Reading and writing build the key in
// the same way and the same buffer size, so that the next setup finds what
// this one writes.
HKEY CreateUninstallKey() {
  char keyPath[UNINSTALL_KEY_CAPACITY];
  if (!BuildUninstallKeyPath(keyPath, UNINSTALL_KEY_CAPACITY, Config(CFG_PRODUCT_NAME))) return nullptr;
  HKEY key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0, KEY_WRITE | RegistryView, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return nullptr;
  return key;
}

// Value name = the quoted program, a blank and the arguments; without a
// command, no value: an earlier installation's command must not stand beside
// the new values.
void WriteCommandValue(HKEY key, const wchar_t* name, bool wanted, const WChar* program, const WChar* arguments) {
  WChar command[COMMAND_CAPACITY];
  uint32_t quoteEnd = 0;
  if (wanted && BuildQuotedProgram(command, COMMAND_CAPACITY, program, &quoteEnd) &&
      AppendCommandArgs(command, COMMAND_CAPACITY, quoteEnd, arguments))
    WriteStringValue(key, name, command);
  else
    RegDeleteValueW(key, name);
}

void WriteUninstallValues(HKEY key, WChar* path, uint32_t namePosition, HWND window) {
  // PrepareTarget has made sure that the program path fits.
  bool haveProgram = WideCopy(path + namePosition, PATH_CAPACITY - namePosition, Config(CFG_MAIN_PROGRAM));
  if (haveProgram) RunConfigureCommand(path, namePosition, window);
  WriteCommandValue(key, L"UninstallString", haveProgram, path, Config(CFG_UNINSTALL_ARGS));
  const WChar* quiet = Package.QuietUninstallArgs;
  WriteCommandValue(key, L"QuietUninstallString", haveProgram && quiet, path, quiet);
  if (haveProgram) WriteStringValue(key, L"DisplayIcon", path);
  path[namePosition] = 0;
  RegSetValueExW(key, L"InstallLocation", 0, REG_SZ, reinterpret_cast<const BYTE*>(path),
                 (namePosition + 1) * sizeof(WChar));
  FormatNameVersion(path, PATH_CAPACITY);
  WriteStringValue(key, L"DisplayName", path);
  WriteStringValue(key, L"DisplayVersion", Config(CFG_PRODUCT_VERSION));
  WriteStringValue(key, L"Publisher", Config(CFG_PUBLISHER_NAME));
  WriteDwordValue(key, L"NoModify", 1);
  WriteDwordValue(key, L"NoRepair", 1);
  WriteDwordValue(key, L"EstimatedSize", EstimatedSizeKiB(Progress.Total));
}

}  // namespace

void RegisterUninstall(WChar* path, uint32_t namePosition, HWND window) {
  HKEY key = namePosition < PATH_CAPACITY ? CreateUninstallKey() : nullptr;
  if (!key) return;
  WriteUninstallValues(key, path, namePosition, window);
  RegCloseKey(key);
}
