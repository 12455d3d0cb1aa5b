#include "env/log_file_win32.h"

#include "base/text_capacities.h"
#include "base/win_text_win32.h"

bool MessageBoxesSuppressed;

namespace {
HANDLE LogFile;
}  // namespace

void SetLogFile(HANDLE file) { LogFile = file; }

bool HasLogFile() { return LogFile != nullptr; }

void WriteLogFile(const WChar* text) {
  if (!LogFile) return;
  // Each UTF-16 unit becomes at most 3 bytes.
  char bytes[3 * MESSAGE_TEXT_CAPACITY];
  int n = WideCharToMultiByte(CP_UTF8, 0, WinText(text), -1, bytes, sizeof bytes, nullptr, nullptr);
  DWORD written;
  // Unbuffered: a setup that is killed leaves every line it wrote.
  if (n > 1) WriteFile(LogFile, bytes, n - 1, &written, nullptr);
}

void LogMessageBox(const WChar* text, int answer) {
  if (!LogFile) return;
  WChar line[MESSAGE_TEXT_CAPACITY + 16];
  uint32_t n = 0;
  for (; text[n] && n < MESSAGE_TEXT_CAPACITY; ++n) line[n] = text[n] < 0x20 ? u' ' : text[n];
  // The line's end after each answer a box can give (IDOK 1, IDCANCEL 2,
  // IDYES 6, IDNO 7; any other: none), as offsets into one run of texts
  // rather than a table of pointers, each of which the loader relocates.
  static const char kAnswers[] = " -> OK\r\n\0 -> Cancel\r\n\0 -> Yes\r\n\0 -> No\r\n";
  static const uint8_t kAnswerAt[8] = {6, 0, 9, 6, 6, 6, 22, 32};
  WideCopyAscii(line + n, 16, kAnswers + kAnswerAt[answer > 0 && answer < 8 ? answer : 0]);
  WriteLogFile(line);
}
