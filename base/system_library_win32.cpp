#include "base/system_library_win32.h"

HMODULE LoadSystemLibrary(const wchar_t* name) {
  WCHAR path[MAX_PATH];
  UINT n = GetSystemDirectoryW(path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return nullptr;
  if (path[n - 1] != L'\\') path[n++] = L'\\';
  for (const wchar_t* c = name; *c; ++c) {
    if (n + 1 >= MAX_PATH) return nullptr;
    path[n++] = *c;
  }
  path[n] = 0;
  // The DLL's own imports are looked for in the system directory first,
  // not beside the setup file, also where SetDefaultDllDirectories is missing.
  return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
