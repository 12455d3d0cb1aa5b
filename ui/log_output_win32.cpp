#include "ui/log_output.h"

#include <richedit.h>

#include "env/app_message_win32.h"

HWND LogPane;

enum : uint32_t { LOG_LINE_CAPACITY = 256 };

void AppendLog(const WChar* format, const FormatArg* args, uint32_t argCount) {
  WChar line[LOG_LINE_CAPACITY];
  FormatText(line, LOG_LINE_CAPACITY, format, args, argCount);
  // Without a pane (silent mode) the line goes nowhere; SetFocus(null)
  // would take the focus from whatever window holds it.
  if (!LogPane) return;
  SetFocus(LogPane);
  SendMessageW(LogPane, EM_SETSEL, static_cast<WPARAM>(-1), -1);
  SendMessageW(LogPane, EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(line));
}
