#include "install/running_instances.h"

#include "env/app_message_win32.h"
#include "env/localised_strings.h"
#include "package/package.h"

namespace {

enum : UINT { MSG_PRODUCT_CLOSE = 0x8066 };
enum : LPARAM { CLOSE_LPARAM = 1024 };
enum : DWORD { CLOSE_PAUSE_MS = 600, MUTEX_SYNCHRONIZE = 0x100000 };
enum : int { SILENT_ATTEMPTS = 5 };
// A copy whose window procedure never returns must not hold the setup for
// ever. Long enough for a product that saves its state before it closes.
enum : UINT { CLOSE_REQUEST_TIMEOUT_MS = 5000 };

void SendBounded(HWND window, UINT message, LPARAM lParam) {
  DWORD_PTR result = 0;
  SendMessageTimeoutW(window, message, 0, lParam, SMTO_NORMAL | SMTO_ABORTIFHUNG, CLOSE_REQUEST_TIMEOUT_MS,
                      &result);
}

// Cancel abandons the whole setup; a box that cannot be shown counts as OK.
void AskToClose(HWND owner) {
  const WChar* product = Config(CFG_PRODUCT_NAME);
  if (ShowAppMessage(owner, MB_OKCANCEL | MB_ICONQUESTION, GetText(TXT_APP_RUNNING_FMT), product) == IDCANCEL)
    ExitProcess(0);
}

}  // namespace

void CloseRunningInstances(HWND owner) {
  const WChar* windowClass = Config(CFG_RUNNING_WINDOW_CLASS);
  const WChar* windowTitle = Config(CFG_RUNNING_WINDOW_TITLE);
  const WChar* product = Config(CFG_PRODUCT_NAME);
  bool alsoProductClose = product && product[0] == u'I';
  int attempts = 0;
  // With neither class nor title FindWindowW would match any window.
  while (windowClass || windowTitle) {
    HWND window = FindWindowW(W(windowClass), W(windowTitle));
    if (!window) break;
    SendBounded(window, WM_CLOSE, CLOSE_LPARAM);
    if (alsoProductClose) SendBounded(window, MSG_PRODUCT_CLOSE, 0);
    Sleep(CLOSE_PAUSE_MS);
    if (++attempts > SILENT_ATTEMPTS) AskToClose(owner);
  }
  const WChar* mutexName = Config(CFG_RUNNING_MUTEX);
  if (!mutexName) return;
  for (;;) {
    HANDLE mutex = OpenMutexW(MUTEX_SYNCHRONIZE, FALSE, W(mutexName));
    if (!mutex) return;
    CloseHandle(mutex);
    AskToClose(owner);
  }
}
