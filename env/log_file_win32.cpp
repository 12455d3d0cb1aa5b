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
  static const char* const kAnswers[] = {"\r\n", " -> OK\r\n", " -> Cancel\r\n", "\r\n", "\r\n", "\r\n", " -> Yes\r\n", " -> No\r\n"};
  WideCopyAscii(line + n, 16, kAnswers[answer > 0 && answer < 8 ? answer : 0]);
  WriteLogFile(line);
}
