// TEMPORARY: weak stand-ins until the install work lands; deleted before handing over.
#include "install/registration.h"
#include "install/shortcuts.h"
__attribute__((weak)) void RegisterUninstall(WChar*, uint32_t, HWND) {}
__attribute__((weak)) void CreateShortcuts(const WChar*, int) {}
