#include "base/message_pump_win32.h"

void DispatchWaitingMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

bool WaitDispatchingMessages(HANDLE handle, DWORD interval, void (*onInterval)(void* context), void* context) {
  // Messages queued before the wait would not wake it: they go first.
  DispatchWaitingMessages();
  for (;;) {
    DWORD woken = MsgWaitForMultipleObjects(1, &handle, FALSE, interval, QS_ALLINPUT);
    if (woken == WAIT_OBJECT_0) return true;
    if (woken == WAIT_FAILED) return false;
    DispatchWaitingMessages();
    if (onInterval) onInterval(context);
  }
}
