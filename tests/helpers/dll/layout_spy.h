// What wizard_probe's layout command hands layout_spy.dll in the wizard's
// process, and what it reads back.
#pragma once
#include <windows.h>

enum { LAYOUT_REPORT_CAPACITY = 16384 };

struct LayoutReport {
  HWND dialog;
  // In: the DLL's path, for LoadLibraryW. Out: the measurements, one a line.
  wchar_t text[LAYOUT_REPORT_CAPACITY];
};
