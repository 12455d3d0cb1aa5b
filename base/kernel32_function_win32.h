// Functions of kernel32 that older supported Windows versions lack: looked
// up at run time rather than imported, so that the stub still starts there.
#pragma once
#include <windows.h>

// The named kernel32 export, or null where this Windows has none.
FARPROC Kernel32Function(const char* name);
