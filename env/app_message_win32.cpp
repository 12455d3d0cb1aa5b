#include "env/app_message_win32.h"

#include "package/package.h"

int ShowAppMessage(HWND owner, UINT type, const WChar* format, const WChar* argument) {
  WChar text[512];
  FormatArg arg = TextArg(argument);
  FormatText(text, 512, format, &arg, 1);
  return MessageBoxW(owner, W(text), W(Config(CFG_PRODUCT_NAME)), type);
}
