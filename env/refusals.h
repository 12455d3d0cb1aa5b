// The refusals: message boxes with the error icon and the system's caption.
// Before the wizard they have no owner; once it is there it owns them, and
// they are modal to it. The front ends decide what follows.
#pragma once
#include <windows.h>

#include "package/package_loader.h"

// Logs text; shows it unless message boxes are suppressed (then 0).
int ShowRefusal(const WChar* text, HWND owner);
// A package that needs more memory than this process can get is told apart
// from a damaged one.
void RefuseLoad(LoadResult result, HWND owner);
// "This setup can only be installed on Windows ..." for the package's mask.
void RefuseArchitecture(uint32_t mask);
