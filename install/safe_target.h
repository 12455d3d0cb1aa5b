// Where the elevated install run writes: folders and files that a standard
// user may have prepared (a link planted at the install folder or below it,
// a hard link at a file's name, a folder of theirs) are refused instead of
// written through, and the folders the run makes are not left writable to
// standard users. A refusal is a Win32 error, reported as a failed install.
#pragma once
#include <windows.h>

#include "env/wide_text.h"

// Asks Windows (10 2004 and later) to ignore, in this process, links that a
// non-administrator made. Once, before the first write.
void TrustOnlyAdminRedirections();

// 0, or why the existing folder at path (trailing backslash or not) must not
// be written into: a reparse point (ERROR_REPARSE_POINT_ENCOUNTERED), a final
// path other than path (ERROR_REPARSE_POINT_ENCOUNTERED, a link higher up)
// or, with checkOwner, an owner that is neither SYSTEM, Administrators,
// TrustedInstaller nor the account running the setup (ERROR_INVALID_OWNER).
// A check that this Windows lacks the function for is skipped.
DWORD CheckExistingFolder(const WChar* path, bool checkOwner);

// CreateDirectoryW with SYSTEM and Administrators given full control and
// Users read and execute, inherited below and not taken from the parent,
// except below a program-files folder, whose own rights are kept. 0, or the
// error (ERROR_ALREADY_EXISTS when something of that name is there).
DWORD MakeFolder(const WChar* path);

// The file at path opened for writing, empty: made new, or, when a file is
// there, that file itself (not what a link there points to) unless it is a
// reparse point or has another link (ERROR_TOO_MANY_LINKS). On failure
// INVALID_HANDLE_VALUE with GetLastError() telling why.
HANDLE OpenTargetFile(const WChar* path);

// Moves the locked file at path aside to path.tmpa (or the first free or
// deletable letter, z when none is) and schedules that name for deletion at
// restart, once the move succeeded. The file moved is the one opened and
// checked as OpenTargetFile checks. 0, or the error.
DWORD MoveLockedFileAside(const WChar* path);
