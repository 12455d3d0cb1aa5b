#pragma once

// Installs without a window; 0 when the installation ran to its end, 1
// otherwise. It is the process's exit code.
int RunSilentInstall();
