#include "base/windows_version_win32.h"

void GetWindowsVersion(DWORD* major, DWORD* minor) {
  OSVERSIONINFOW info;
  ZeroMemory(&info, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;  // 276: the plain structure
  GetVersionExW(&info);
  *major = info.dwMajorVersion;
  *minor = info.dwMinorVersion;
}
