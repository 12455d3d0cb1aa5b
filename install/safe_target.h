// Where the elevated install run writes: folders and files that a standard
// user may have prepared (a link planted at the install folder or below it,
// a hard link at a file's name, a folder of theirs or one they may write
// into) are refused or taken back instead of written through, the folders
// the run checked stay open so that they cannot be swapped for links while
// it writes, and the folders the run makes are not left writable to
// standard users. A refusal is a Win32 error, reported as a failed install.
#pragma once
#include <windows.h>

#include "base/wide_text.h"
#include "install/install_location.h"

// Asks Windows (10 2004 and later) to ignore, in this process, links that a
// non-administrator made. At process entry.
void TrustOnlyAdminRedirections();

// Reads what the checks need (program-files folders, the account running the
// setup) and loads, by full path, the system DLLs that the checks call into,
// so that none is looked up while file-system redirection is off. Before the
// first check; again is harmless.
void PrepareTargetChecks();

// How far CheckExistingFolder judges an existing folder's access rules.
enum FolderCheck {
  FOLDER_LINKS_ONLY,      // a level above the install folder: only links
  FOLDER_REFUSE_FOREIGN,  // a foreign owner is refused, rules that let others write are taken back
  FOLDER_TAKE_BACK,       // the product's own folder: both are taken back
};

// 0, or why the existing folder at path (trailing backslash or not) must not
// be written into: a link (ERROR_REPARSE_POINT_ENCOUNTERED, also when its
// final path is not path: a link higher up), an owner that is neither SYSTEM,
// Administrators, TrustedInstaller nor the account running the setup
// (ERROR_INVALID_OWNER), or rules that could not be taken back. Where others
// may write, the folder gets owner Administrators and the rules MakeFolder
// gives, which Windows passes on to what inherits below. The folder stays
// open, and cannot be renamed or removed, until ReleaseTargetHolds. A check
// that this Windows lacks the function for is skipped.
DWORD CheckExistingFolder(const WChar* path, FolderCheck check);

// CreateDirectoryW with SYSTEM and Administrators given full control and
// Users read and execute, inherited below and not taken from the parent,
// except below a program-files folder, whose own rights are kept. The folder
// made stays open as CheckExistingFolder leaves it. 0, or the error
// (ERROR_ALREADY_EXISTS when something of that name is there).
DWORD MakeFolder(const WChar* path);

// The install folder, checked as CheckExistingFolder does; its final path is
// then what every file's final path is compared with (namePosition: where
// the relative names start in the paths OpenTargetFile is given).
DWORD CheckInstallFolder(const WChar* path, uint32_t namePosition, FolderCheck check);

// A file of the package being written. A new name is written in place; an
// existing file is replaced by a new one written beside it (name.tmp~) and
// renamed over it, so that no owner or rule of the old file survives.
struct TargetFile {
  HANDLE Handle;
  bool Replacing;
  WChar Written[PATH_CAPACITY + 8];  // the name the data goes to
};

// Opens path's file for writing, empty. Refused: a link at the name, a file
// with another link (ERROR_TOO_MANY_LINKS), a file that ends up elsewhere than
// path (ERROR_REPARSE_POINT_ENCOUNTERED), a file in use
// (ERROR_SHARING_VIOLATION: MoveLockedFileAside may help). 0, or the error.
DWORD OpenTargetFile(const WChar* path, TargetFile* file);
// Puts the written file in place and closes it. With hold, the file is opened
// again for reading only (the same file, by its id) and kept so until
// ReleaseHeldFile or ReleaseTargetHolds: nobody can change or replace it
// before it is started.
DWORD CommitTargetFile(TargetFile* file, const WChar* path, bool hold);
// Deletes a file that could not be written in full, through its handle.
void DiscardTargetFile(TargetFile* file);

// Moves the locked file at path aside to path.tmpa (or the first free or
// deletable letter, z when none is) and schedules that name for deletion at
// restart, once the move succeeded. Every name is opened without following
// links and moved or deleted through its handle. 0, or the error.
DWORD MoveLockedFileAside(const WChar* path);

// Lets go of the file CommitTargetFile holds, so that a later entry of the
// same name can replace it.
void ReleaseHeldFile();
// Creates the log file at path anew, for writing. Refused: a link at the
// name or above it (ERROR_REPARSE_POINT_ENCOUNTERED), a file with another
// name (ERROR_TOO_MANY_LINKS). 0 and *file, or the error.
DWORD CreateLogFile(const WChar* path, HANDLE* file);

// Closes the folders and the file that the run kept open.
void ReleaseTargetHolds();
