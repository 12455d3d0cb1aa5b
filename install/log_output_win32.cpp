#include "install/log_output.h"

#include <richedit.h>

#include "env/app_message_win32.h"
#include "env/log_file_win32.h"
#include "install/log_output_batch.h"

namespace {

HWND LogPane;

// Held lines pass from the thread writing the files to the pane's thread.
// The writer never sends to the pane, which would make it wait for the
// pane's thread at every line; it waits only for room in the held lines.
LogBatch PendingLines;
CRITICAL_SECTION PendingLock;
HANDLE LinesTaken;  // auto-reset: the pane's thread took the held lines
HANDLE LinesFull;   // auto-reset: the writer waits for room
WChar TakenLines[LOG_BATCH_CAPACITY];

void ShowInPane(const WChar* text) {
  SetFocus(LogPane);
  SendMessageW(LogPane, EM_SETSEL, static_cast<WPARAM>(-1), -1);
  SendMessageW(LogPane, EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(text));
}

// A sink that only copies: the pane is written to after the lock is left,
// while the writer goes on.
void TakeLines(const WChar* text) { WideCopy(TakenLines, LOG_BATCH_CAPACITY, text); }

void ShowTakenLines() {
  if (!TakenLines[0]) return;
  SetEvent(LinesTaken);
  ShowInPane(TakenLines);
  TakenLines[0] = 0;
}

}  // namespace

void AppendLog(const WChar* format, const FormatArg* args, uint32_t argCount) {
  // Without a pane (silent mode) the line goes only to the log file;
  // SetFocus(null) would take the focus from whatever window holds it.
  if (!LogPane && !HasLogFile()) return;
  WChar line[LOG_LINE_CAPACITY];
  FormatText(line, LOG_LINE_CAPACITY, format, args, argCount);
  // Written here, by the calling thread: lines come from one thread at a
  // time, in the pane's order, and a line held for the pane is already in
  // the file if the setup is killed.
  WriteLogFile(line);
  if (!LogPane) return;
  // Only the writer appends while lines are held, and only the pane's
  // thread switches holding on and off, while no writer runs.
  if (!PendingLines.Holding) {
    ShowInPane(line);
    return;
  }
  EnterCriticalSection(&PendingLock);
  while (!AddToBatch(&PendingLines, line)) {
    LeaveCriticalSection(&PendingLock);
    SetEvent(LinesFull);
    WaitForSingleObject(LinesTaken, INFINITE);
    EnterCriticalSection(&PendingLock);
  }
  LeaveCriticalSection(&PendingLock);
}

// The log is never undone: without an undo limit the pane would record
// every inserted line only to drop it.
bool StartLogHandOver() {
  if (!LogPane) return false;
  SendMessageW(LogPane, EM_SETUNDOLIMIT, 0, 0);
  if (!LinesTaken) {
    InitializeCriticalSection(&PendingLock);
    LinesTaken = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    LinesFull = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  }
  if (!LinesTaken || !LinesFull) return false;
  StartBatching(&PendingLines, GetTickCount());
  return true;
}

HANDLE LogHandOverFullEvent() { return LinesFull; }

void ShowHandedOverLog() {
  if (!PendingLines.Holding) return;
  EnterCriticalSection(&PendingLock);
  EmitDueBatch(&PendingLines, GetTickCount(), TakeLines);
  LeaveCriticalSection(&PendingLock);
  ShowTakenLines();
}

void EndLogHandOver() {
  if (!PendingLines.Holding) return;
  EmitBatchAndStop(&PendingLines, GetTickCount(), TakeLines);
  ShowTakenLines();
}

void SetLogPane(HWND pane) { LogPane = pane; }
