#include "startup/silent_install.h"
int RunSilentInstall() { return 1; }  // TEMPORARY: replaced by the install work
