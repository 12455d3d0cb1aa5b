#include "env/app_message_win32.h"

#include "base/text_capacities.h"
#include "env/log_file_win32.h"
#include "package/package.h"

int ShowAppMessage(HWND owner, UINT type, const WChar* format, const WChar* argument) {
  WChar text[MESSAGE_TEXT_CAPACITY];
  FormatArg arg = TextArg(argument);
  FormatText(text, MESSAGE_TEXT_CAPACITY, format, &arg, 1);
  // Suppressed, every question is answered no: nothing is done unasked.
  int answer = MessageBoxesSuppressed ? ((type & MB_TYPEMASK) == MB_YESNO ? IDNO : IDCANCEL)
                                      : MessageBoxW(owner, WinText(text), WinText(Config(CFG_PRODUCT_NAME)), type);
  LogMessageBox(text, answer);
  return answer;
}
