#include "ui/log_output.h"

#include <richedit.h>

#include "env/app_message_win32.h"
#include "ui/log_output_batch.h"

HWND LogPane;

namespace {

LogBatch PendingLines;

void ShowInPane(const WChar* text) {
  SetFocus(LogPane);
  SendMessageW(LogPane, EM_SETSEL, static_cast<WPARAM>(-1), -1);
  SendMessageW(LogPane, EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(text));
}

}  // namespace

void AppendLog(const WChar* format, const FormatArg* args, uint32_t argCount) {
  WChar line[LOG_LINE_CAPACITY];
  FormatText(line, LOG_LINE_CAPACITY, format, args, argCount);
  // Without a pane (silent mode) the line goes nowhere; SetFocus(null)
  // would take the focus from whatever window holds it.
  if (!LogPane) return;
  AddLine(&PendingLines, line, GetTickCount(), ShowInPane);
}

// Without a pane no line is ever held. The log is never undone: without an
// undo limit the pane would record every inserted line only to drop it.
void HoldLog() {
  if (LogPane) SendMessageW(LogPane, EM_SETUNDOLIMIT, 0, 0);
  HoldLines(&PendingLines, GetTickCount());
}

void ShowDueLog() { ShowDueLines(&PendingLines, GetTickCount(), ShowInPane); }

void ReleaseLog() { ReleaseLines(&PendingLines, GetTickCount(), ShowInPane); }
