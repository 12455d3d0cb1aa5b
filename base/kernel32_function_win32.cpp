#include "base/kernel32_function_win32.h"

FARPROC Kernel32Function(const char* name) {
  HMODULE kernel32 = GetModuleHandleA("kernel32");
  return kernel32 ? GetProcAddress(kernel32, name) : nullptr;
}

