// A thread that waits must keep its windows answering: the waits that the
// wizard's thread makes dispatch its messages meanwhile.
#pragma once
#include <windows.h>

// Dispatches (translated) every message waiting for this thread.
void DispatchWaitingMessages();

// Waits for handle, dispatching this thread's messages, and calls onInterval
// (when given) with context after each round of them or every interval ms.
// True once handle is signalled; false when it cannot be waited for.
bool WaitDispatchingMessages(HANDLE handle, DWORD interval, void (*onInterval)(void* context), void* context);
