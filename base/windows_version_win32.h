// The running Windows version, as GetVersionExW reports it to this process
// (which declares itself compatible in its manifest).
#pragma once
#include <windows.h>

void GetWindowsVersion(DWORD* major, DWORD* minor);
