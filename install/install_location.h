// Where the product goes: earlier installation, default directory, the
// directory field, target creation and the launch command.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "env/wide_text.h"
#include "install/install_text.h"

enum : uint32_t { PATH_CAPACITY = 260 };

extern int FreshInstall;           // 1: no earlier installation found
extern WChar PreviousVersion[32];  // earlier DisplayVersion, "" when none
extern int CustomLaunch;           // 1: the package supplied LaunchCommand

// 0 when an earlier installation was found (dir may hold its InstallLocation), 1 otherwise.
int FindPreviousInstall(WChar* dir, uint32_t capacity);
// 1 when dir got the program-files directory (append the product folder).
int GetDefaultInstallDir(WChar* dir, int usePackageSetting);
void SetDirField(WChar* path, HWND dialog, int append);
// Normalised length of the directory field's text in buffer; 0 when empty.
uint32_t ReadDirField(HWND dialog, WChar* buffer, uint32_t capacity);

enum TargetDirState { TARGET_EXISTS, TARGET_CREATED, TARGET_FAILED };
// TARGET_EXISTS when installDir is already a directory (the caller may ask),
// TARGET_CREATED after creating its last level, TARGET_FAILED otherwise.
TargetDirState CreateTargetDir(const WChar* installDir);
// Sets CustomLaunch, or LaunchCommand to InstallDir + MainProgram.
// False when InstallDir + MainProgram does not fit the path buffer.
bool PrepareTarget(WChar* buffer, uint32_t namePosition);

// LaunchCommand as the package or PrepareTarget left it.
const WChar* LaunchCommand();
