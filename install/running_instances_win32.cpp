#include "install/running_instances.h"

#include "env/app_message_win32.h"
#include "env/log_file_win32.h"
#include "env/localised_strings.h"
#include "package/package.h"

namespace {

// Products whose name begins with a capital I also close on this message; no package setting names it.
enum : UINT { MSG_PRODUCT_CLOSE = WM_APP + 0x66 };
enum : LPARAM { CLOSE_LPARAM = 1024 };
enum : DWORD { CLOSE_PAUSE_MS = 600, ANSWER_POLL_MS = 100 };
// Close requests sent before the user is first asked to close the product,
// in the wizard as in a silent run.
enum : int { REQUESTS_BEFORE_ASKING = 5 };

// Requests are numbered; a copy's answer carries the number of the request
// it answers. Process-wide, because an answer can still arrive after the
// setup has stopped waiting for it.
ULONG_PTR SentRequest, AnsweredRequest;

VOID CALLBACK RequestAnswered(HWND, UINT, ULONG_PTR request, LRESULT) {
  if (request > AnsweredRequest) AnsweredRequest = request;
}

bool RequestPending() { return AnsweredRequest != SentRequest; }

// Waits until the copy has handled the last request. A copy that asks its
// own user first ("save changes?") keeps reading its messages and is waited
// for as long as that takes: another request would only stack a second
// question on the first. A copy that stops reading its messages counts as
// hung after 5 seconds (IsHungAppWindow) and holds the setup no longer; nor
// does a window that has gone. Only sent messages and answers are taken in
// meanwhile, as SendMessageW would: the wizard is not operated.
void AwaitAnswer(HWND window) {
  while (RequestPending() && IsWindow(window) && !IsHungAppWindow(window)) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, ANSWER_POLL_MS, QS_SENDMESSAGE);
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

void SendRequest(HWND window, UINT message, LPARAM lParam) {
  ++SentRequest;
  if (!SendMessageCallbackW(window, message, 0, lParam, RequestAnswered, SentRequest)) {
    AnsweredRequest = SentRequest;  // nothing to wait for
    return;
  }
  AwaitAnswer(window);
}

// Cancel abandons the whole setup; a box that cannot be shown counts as OK.
// The wizard's user has seen the outcome (exit code 0); a silent run, the
// one without an owner, did not install (exit code 1). Suppressed, the
// answer is Cancel and nobody saw it: exit code 2 tells the caller why.
void AskToClose(HWND owner) {
  const WChar* product = Config(CFG_PRODUCT_NAME);
  if (ShowAppMessage(owner, MB_OKCANCEL | MB_ICONQUESTION, GetText(TXT_APP_RUNNING_FMT), product) == IDCANCEL)
    ExitProcess(MessageBoxesSuppressed ? 2 : owner ? 0 : 1);
}

}  // namespace

void CloseRunningInstances(HWND owner) {
  const WChar* windowClass = Config(CFG_RUNNING_WINDOW_CLASS);
  const WChar* windowTitle = Config(CFG_RUNNING_WINDOW_TITLE);
  const WChar* product = Config(CFG_PRODUCT_NAME);
  bool alsoProductClose = product && product[0] == u'I';
  int attempts = 0;
  HWND asked = nullptr;
  // With neither class nor title FindWindowW would match any window.
  while (windowClass || windowTitle) {
    HWND window = FindWindowW(WinText(windowClass), WinText(windowTitle));
    if (!window) break;
    // A hung copy still holds the last request: it is not sent again.
    if (window != asked || !RequestPending()) {
      asked = window;
      SendRequest(window, WM_CLOSE, CLOSE_LPARAM);
      if (alsoProductClose && !RequestPending()) SendRequest(window, MSG_PRODUCT_CLOSE, 0);
    }
    Sleep(CLOSE_PAUSE_MS);
    if (++attempts > REQUESTS_BEFORE_ASKING) AskToClose(owner);
  }
  const WChar* mutexName = Config(CFG_RUNNING_MUTEX);
  if (!mutexName) return;
  for (;;) {
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, WinText(mutexName));
    if (!mutex) return;
    CloseHandle(mutex);
    AskToClose(owner);
  }
}
