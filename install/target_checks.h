// The pure decisions behind the checks of the folders and files that the
// elevated install run writes into (the Win32 side: safe_target.h).
#pragma once
#include <stdint.h>

#include "env/wide_text.h"

// True when final (a handle's final path, as GetFinalPathNameByHandleW gives
// it: \\?\C:\... or \\?\UNC\server\...) names the same place as asked (a full
// DOS path, trailing backslash or not): equal apart from the prefix, a final
// backslash and ASCII case. A link at any level makes them differ.
bool IsSameFinalPath(const WChar* asked, const WChar* final);

// True when the owner of an existing folder may stay the owner of what the
// run installs there: SYSTEM, Administrators, TrustedInstaller, or tokenUser
// (the account running the setup, which holds administrator rights). SIDs are
// in their binary form; sizes bound what may be read.
bool IsAcceptedOwner(const uint8_t* owner, uint32_t ownerSize, const uint8_t* tokenUser, uint32_t tokenUserSize);

// True when path lies below folder (a full path, trailing backslash or not),
// compared without regard to ASCII case and only at a backslash.
bool IsBelowFolder(const WChar* path, const WChar* folder);
