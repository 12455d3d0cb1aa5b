#pragma once

// Installs without a window; 0 on success, 1 on failure.
int RunSilentInstall();
