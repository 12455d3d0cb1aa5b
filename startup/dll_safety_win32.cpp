#include "startup/dll_safety_win32.h"

#include "base/kernel32_function_win32.h"
#include "base/system_library_win32.h"
#include "base/wide_text.h"
#include "base/win_text_win32.h"
#include "base/windows_version_win32.h"

namespace {

const DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
typedef BOOL(WINAPI* SetDefaultDllDirectoriesFn)(DWORD);
typedef BOOL(WINAPI* SetDllDirectoryFn)(LPCWSTR);

bool IsVista() {
  DWORD major = 0, minor = 0;
  GetWindowsVersion(&major, &minor);
  return major == 6 && minor == 0;
}

}  // namespace

void RestrictDllSearch() {
  SetDefaultDllDirectoriesFn setDefault =
      reinterpret_cast<SetDefaultDllDirectoriesFn>(Kernel32Function("SetDefaultDllDirectories"));
  // On Vista the restriction breaks creating the ShellLink object.
  if (setDefault && !IsVista() && setDefault(kSearchSystem32)) return;

  // Without it (XP, Vista, 7 without the update) the program's own folder
  // is searched first. Take the current directory out of the search (XP SP1
  // and later) and load from the system directory, before anything asks for
  // them by bare name, the DLLs that system code loads late.
  SetDllDirectoryFn setDllDirectory = reinterpret_cast<SetDllDirectoryFn>(Kernel32Function("SetDllDirectoryW"));
  if (setDllDirectory) setDllDirectory(L"");
  // One run of 8-bit names rather than a table of wide ones: half the bytes,
  // and no relocation per name.
  static const char kPreload[] =
      "uxtheme.dll\0userenv.dll\0setupapi.dll\0apphelp.dll\0propsys.dll\0dwmapi.dll\0cryptbase.dll\0"
      "oleacc.dll\0clbcatq.dll\0ntmarta.dll\0version.dll\0profapi.dll\0sspicli.dll\0windowscodecs.dll\0";
  WChar name[24];
  for (const char* next = kPreload; *next;) {
    WideCopyAscii(name, 24, next);
    LoadSystemLibrary(WinText(name));
    while (*next++) {
    }
  }
}
