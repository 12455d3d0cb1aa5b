// The sample product's main program. It doubles as its own configurator and
// uninstaller, as products installed by the stub do:
//   Sample.exe /configure HWND PREVIOUS   records the call and returns
//   Sample.exe /uninstall                  removes the uninstall entry
//   Sample.exe                             shows that the product runs
#include <windows.h>
#include <wchar.h>

static void AppendToLog(const wchar_t* line) {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  while (n && path[n - 1] != L'\\') --n;
  lstrcpynW(path + n, L"sample.log", MAX_PATH - n);
  HANDLE f = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;
  DWORD written;
  WriteFile(f, line, lstrlenW(line) * sizeof(wchar_t), &written, nullptr);
  WriteFile(f, L"\r\n", 4, &written, nullptr);
  CloseHandle(f);
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR args, int) {
  AppendToLog(GetCommandLineW());
  if (!wcsncmp(args, L"/configure", 10)) return 0;
  if (!wcsncmp(args, L"/uninstall", 10)) {
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Sample");
    return 0;
  }
  MessageBoxW(nullptr, L"Sample is installed and running.", L"Sample", MB_OK | MB_ICONINFORMATION);
  return 0;
}
