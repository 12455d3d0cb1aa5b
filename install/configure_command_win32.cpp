#include "install/configure_command.h"

#include "base/message_pump_win32.h"
#include "env/app_message_win32.h"
#include "install/install_location.h"
#include "install/safe_target.h"
#include "package/package.h"
#include "install/log_output.h"

namespace {

// Nothing waits for a command that cannot be started, and its exit code is
// not looked at. It starts in directory: the setup's own current directory
// is one that whoever started the setup chose.
void RunAndWait(WChar* commandLine, const WChar* directory) {
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  ZeroMemory(&process, sizeof process);
  BOOL started =
      CreateProcessW(nullptr, WinText(commandLine), nullptr, nullptr, FALSE, 0, nullptr, WinText(directory), &startup, &process);
  // The program has been started from the file the run wrote, or will not
  // be: the product may now change its own folders.
  ReleaseTargetHolds();
  if (!started) return;
  CloseHandle(process.hThread);
  WaitDispatchingMessages(process.hProcess, INFINITE, nullptr, nullptr);
  DispatchWaitingMessages();
  CloseHandle(process.hProcess);
}

}  // namespace

void RunConfigureCommand(const WChar* program, uint32_t namePosition, HWND window) {
  const WChar* configureArgs = Config(CFG_CONFIGURE_ARGS);
  if (!configureArgs) return;
  WChar command[COMMAND_CAPACITY];
  uint32_t quoteEnd = 0;
  if (!BuildQuotedProgram(command, COMMAND_CAPACITY, program, &quoteEnd)) return;
  // Arguments that do not fit are not run cut short.
  if (!AppendConfigureArgs(command, COMMAND_CAPACITY, quoteEnd, configureArgs,
                           static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window)), PreviousVersion))
    return;
  FormatArg arg = TextArg(command);
  AppendLog(u"Config: %s\r\n", &arg, 1);
  WChar directory[PATH_CAPACITY];
  WideCopy(directory, PATH_CAPACITY, program);
  directory[namePosition] = 0;
  RunAndWait(command, directory);
}
