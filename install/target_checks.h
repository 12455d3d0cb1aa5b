// The pure decisions behind the checks of the folders and files that the
// elevated install run writes into (the Win32 side: safe_target.h).
#pragma once
#include <stdint.h>

#include "base/wide_text.h"

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

// A reparse point that names another place (a junction, a symbolic link, or
// any tag with the name-surrogate bit). Compressed, deduplicated and cloud
// files are reparse points too, but their content is their own.
inline bool IsLinkReparseTag(uint32_t tag) { return (tag & 0x20000000u) != 0; }

// What the run does about the access rules of an existing folder it writes
// into: keep them, take them back (owner Administrators, protected rules
// that only SYSTEM and Administrators may change), or refuse the folder.
enum FolderAccess { ACCESS_KEEP, ACCESS_TAKE_BACK, ACCESS_REFUSE };

// A folder's owner and DACL in their binary form, as Windows keeps them.
// A null Dacl is a folder without one: everyone may do anything there.
struct FolderRules {
  const uint8_t* Owner;
  uint32_t OwnerSize;
  const uint8_t* Dacl;
  uint32_t DaclSize;
};

// Whether anyone but SYSTEM, Administrators, TrustedInstaller and tokenUser
// may write, append, delete, delete children, or change the rules or the
// owner of the folder or of what is made below it (inherit-only entries
// count: the installed files would inherit them). A foreign owner may
// change the rules at will: taken back when mayTakeOwner, else refused (a
// folder that someone else made, and only the installer was told to use).
// A DACL that cannot be read is refused.
FolderAccess JudgeFolderAccess(const FolderRules* rules, const uint8_t* tokenUser, uint32_t tokenUserSize,
                               bool mayTakeOwner);

// False for a folder whose rules are the system's, not a product's: a drive
// or share root, the Windows folder and all below it, and each of shared
// (the program-files, ProgramData, Users and Public folders themselves).
// Rules that let users write there are refused rather than taken back: new
// rules would reach everything that inherits below.
bool MayTakeBackFolder(const WChar* path, const WChar* windowsDir, const WChar* const* shared, uint32_t sharedCount);
