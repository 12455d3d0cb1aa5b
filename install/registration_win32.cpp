#include "install/registration.h"

#include "env/app_message_win32.h"
#include "env/localised_strings.h"
#include "env/system_probes.h"
#include "install/install_location.h"
#include "install/progress.h"
#include "install/registry_value_win32.h"
#include "package/package.h"
#include "ui/log_output.h"

void PumpMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

void WaitPumping(HANDLE handle) {
  for (;;) {
    PumpMessages();
    DWORD r = MsgWaitForMultipleObjects(1, &handle, FALSE, INFINITE, QS_ALLINPUT);
    if (r != WAIT_OBJECT_0 + 1) break;
  }
  PumpMessages();
}

uint32_t RunAndWait(WChar* commandLine) {
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  ZeroMemory(&process, sizeof process);
  if (!CreateProcessW(nullptr, W(commandLine), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return RUN_FAILED;
  CloseHandle(process.hThread);
  WaitPumping(process.hProcess);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  return code;
}

void RegisterUninstall(WChar* path, uint32_t namePosition, HWND window) {
  // Reading and writing build the key in the same way and the same buffer
  // size, so that the next setup finds what this one writes.
  char keyPath[UNINSTALL_KEY_CAPACITY];
  if (!BuildUninstallKeyPath(keyPath, UNINSTALL_KEY_CAPACITY, Config(CFG_PRODUCT_NAME))) return;
  if (namePosition >= PATH_CAPACITY) return;
  HKEY key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0, KEY_WRITE | RegistryView, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return;
  // PrepareTarget has made sure that the program path fits.
  bool haveProgram = WideCopy(path + namePosition, PATH_CAPACITY - namePosition, Config(CFG_MAIN_PROGRAM));
  WChar command[COMMAND_CAPACITY];
  uint32_t quoteEnd = 0;
  bool haveCommand = haveProgram && BuildQuotedProgram(command, COMMAND_CAPACITY, path, &quoteEnd);
  const WChar* configureArgs = Config(CFG_CONFIGURE_ARGS);
  // Arguments that do not fit are not run cut short.
  if (haveCommand && configureArgs &&
      AppendConfigureArgs(command, COMMAND_CAPACITY, quoteEnd, configureArgs,
                          static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window)), PreviousVersion)) {
    FormatArg arg = TextArg(command);
    AppendLog(u"Config: %s\r\n", &arg, 1);
    RunAndWait(command);
  }
  // CreateProcessW may have changed the command line: build it again.
  if (haveCommand) haveCommand = BuildQuotedProgram(command, COMMAND_CAPACITY, path, &quoteEnd);
  if (haveCommand && AppendCommandArgs(command, COMMAND_CAPACITY, quoteEnd, Config(CFG_UNINSTALL_ARGS)))
    WriteStringValue(key, L"UninstallString", command);
  else  // an earlier installation's command must not stand beside the new values
    RegDeleteValueW(key, L"UninstallString");
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
  RegCloseKey(key);
}
