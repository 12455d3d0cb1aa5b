#include "env/refusals.h"

#include "base/win_text_win32.h"
#include "env/log_file_win32.h"
#include "env/refusal_texts.h"

int ShowRefusal(const WChar* text, HWND owner) {
  LogMessageBox(text, 0);
  // 0, not IDOK: what follows an answered refusal does not happen unasked.
  return MessageBoxesSuppressed ? 0 : MessageBoxW(owner, WinText(text), nullptr, MB_ICONERROR);
}

void RefuseLoad(LoadResult result, HWND owner) {
  ShowRefusal(result == LOAD_NO_MEMORY ? kNoMemoryText : kDamagedText, owner);
}

void RefuseArchitecture(uint32_t mask) {
  WChar text[256];
  FormatArchitectureMessage(mask, text, 256);
  ShowRefusal(text, nullptr);
}
