// Where the product goes: earlier installation, default directory, the
// directory field, target creation and the launch command.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "env/wide_text.h"
#include "install/install_text.h"

enum : uint32_t { PATH_CAPACITY = 260, VERSION_CAPACITY = 32 };

extern int FreshInstall;                         // 1: no earlier installation found
extern WChar PreviousVersion[VERSION_CAPACITY];  // earlier DisplayVersion, "" when none
extern int CustomLaunch;                         // 1: the package supplied LaunchCommand

// 0 when an earlier installation was found, 1 otherwise. On 0, dir holds
// its InstallLocation, or is empty when that cannot be read as a string.
// On 1, dir is left unchanged.
int FindPreviousInstall(WChar* dir, uint32_t capacity);
// dir (PATH_CAPACITY characters) receives the default directory. 1 when it
// is the program-files directory (append the product folder), 0 otherwise.
// A directory that cannot be read or expanded in full leaves dir empty.
int GetDefaultInstallDir(WChar* dir, int usePackageSetting);
// Shows path (after appending the product folder when append is set) in the
// directory field. A path too long for the folder is shown empty.
void SetDirField(WChar* path, HWND dialog, int append);
// Normalised length of the directory field's text in buffer, which is also
// the name position; 0 when the field is empty or the text does not fit.
uint32_t ReadDirField(HWND dialog, WChar* buffer, uint32_t capacity);

enum TargetDirState { TARGET_EXISTS, TARGET_CREATED, TARGET_FAILED };
// TARGET_EXISTS when installDir is already a directory (the caller may ask),
// TARGET_CREATED after creating its last level, TARGET_FAILED otherwise.
TargetDirState CreateTargetDir(const WChar* installDir);
// True when InstallDir (ending at namePosition) + MainProgram fits the path
// buffer; PrepareTarget refuses otherwise.
bool ProgramPathFits(uint32_t namePosition);
// Sets CustomLaunch, or LaunchCommand to InstallDir + MainProgram.
// False when InstallDir + MainProgram does not fit the path buffer; nothing
// is set then.
bool PrepareTarget(WChar* buffer, uint32_t namePosition);

// LaunchCommand as the package or PrepareTarget left it; null before.
const WChar* LaunchCommand();
