// Where the product goes: earlier installation, default directory, target
// creation and the launch command.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "base/text_capacities.h"
#include "base/wide_text.h"
#include "install/install_text.h"

enum : uint32_t { VERSION_CAPACITY = 32 };

extern bool FreshInstall;                        // no earlier installation found
extern WChar PreviousVersion[VERSION_CAPACITY];  // earlier DisplayVersion, "" when none
extern bool CustomLaunch;                        // the package supplied LaunchCommand

// True when an earlier installation was found; dir then holds its
// InstallLocation, or is empty when that cannot be read as a string.
// Otherwise dir is left unchanged.
bool FindPreviousInstall(WChar* dir, uint32_t capacity);
// dir (PATH_CAPACITY characters) receives the default directory. True when
// it is the program-files directory (append the product folder), false
// otherwise. A directory that cannot be read or expanded in full leaves dir
// empty.
bool GetDefaultInstallDir(WChar* dir, bool usePackageSetting);

enum TargetDirState { TARGET_EXISTS, TARGET_CREATED, TARGET_FAILED };
// TARGET_EXISTS when installDir is already a directory (the caller may ask),
// TARGET_CREATED after creating its last level (see MakeFolder for its
// rights), TARGET_FAILED otherwise. Sets TargetDirCreated.
TargetDirState CreateTargetDir(const WChar* installDir);
extern bool TargetDirCreated;  // this run made the install directory
// True when InstallDir (ending at namePosition) + MainProgram fits the path
// buffer; PrepareTarget refuses otherwise.
bool ProgramPathFits(uint32_t namePosition);
// Sets CustomLaunch, or LaunchCommand to InstallDir + MainProgram.
// False when InstallDir + MainProgram does not fit the path buffer; nothing
// is set then.
bool PrepareTarget(WChar* buffer, uint32_t namePosition);

// LaunchCommand as the package or PrepareTarget left it; null before.
const WChar* LaunchCommand();
