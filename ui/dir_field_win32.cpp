#include "ui/dir_field.h"

#include "env/app_message_win32.h"
#include "install/install_location.h"
#include "package/package.h"
#include "ui/dialog_ids.h"

void SetDirField(WChar* path, HWND dialog, bool appendProductFolder) {
  if (appendProductFolder) AppendProductFolder(path, PATH_CAPACITY, Config(CFG_PRODUCT_NAME));
  SetDlgItemTextW(dialog, IDC_DIR_EDIT, WinText(path));
}

uint32_t ReadDirField(HWND dialog, WChar* buffer, uint32_t capacity) {
  if (capacity == 0) return 0;
  buffer[0] = 0;
  // A text that GetDlgItemTextW would cut is refused rather than shortened.
  int total = GetWindowTextLengthW(GetDlgItem(dialog, IDC_DIR_EDIT));
  if (total <= 0 || static_cast<uint32_t>(total) >= capacity) return 0;
  int n = GetDlgItemTextW(dialog, IDC_DIR_EDIT, WinText(buffer), static_cast<int>(capacity));
  if (n <= 0) {
    buffer[0] = 0;
    return 0;
  }
  return NormaliseDirText(buffer, capacity);
}
