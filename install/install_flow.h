// The order in which both front ends install, decided once: where the
// product goes, the target folder and launch command, the running copies,
// then the run.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "base/wide_text.h"

// /D=, judged absolute and of a size that fits; null when not given.
extern const WChar* RequestedInstallDir;

// Sets FreshInstall and fills dir (PATH_CAPACITY characters) with where the
// product goes: the earlier installation's folder, RequestedInstallDir, or
// the default one. True
// when dir is the program-files folder, to which the product folder is still
// to be appended.
bool ChooseInstallDir(WChar* dir);

// Once the whole package is verified: makes the target folder and prepares
// the launch command. window: the wizard, which asks before a first
// installation goes into a folder that exists; null: the silent run, which
// asks nothing. False when the folder was refused or the answer was no.
bool PrepareInstall(WChar* path, uint32_t namePosition, HWND window);

// Asks running copies to close, calls onRunning (when given: the wizard
// shows its progress) and runs the installation into path, its progress on
// bar (null in silent mode). 0 for success, 1 for failure.
int InstallPrepared(HWND window, HWND bar, WChar* path, uint32_t namePosition, int desktopShortcut,
                    void (*onRunning)(HWND window));
