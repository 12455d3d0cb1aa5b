// A stand-in for a rich text library planted beside a setup file: built as
// riched_spy.dll, the tests copy it as msftedit.dll and riched20.dll. When
// any process loads it, it appends "loaded <own path>" to riched_spy.log
// beside itself.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t path[MAX_PATH], log[MAX_PATH];
  DWORD n = GetModuleFileNameW(instance, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return FALSE;
  lstrcpyW(log, path);
  wchar_t* slash = log;
  for (wchar_t* p = log; *p; ++p)
    if (*p == L'\\') slash = p + 1;
  lstrcpyW(slash, L"riched_spy.log");
  HANDLE file = CreateFileW(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    char line[MAX_PATH * 3 + 16] = "loaded ";
    int used = lstrlenA(line);
    used += WideCharToMultiByte(CP_UTF8, 0, path, -1, line + used, sizeof line - used - 2, nullptr, nullptr) - 1;
    line[used++] = '\n';
    DWORD written;
    WriteFile(file, line, used, &written, nullptr);
    CloseHandle(file);
  }
  return TRUE;
}
