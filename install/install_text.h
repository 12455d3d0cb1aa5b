// Text rules of the installation: directory texts, the uninstall key path,
// command lines and link names. Portable and bounded: every writer takes its
// buffer's capacity in characters (terminator included) and refuses a text
// that does not fit instead of cutting it, because a cut path would name a
// different file, directory or key than the one meant.
#pragma once
#include <stdint.h>

#include "base/text_capacities.h"
#include "base/wide_text.h"
#include "package/package_format.h"

// The uninstall key lies below HKEY_LOCAL_MACHINE.
#define UNINSTALL_KEY_PREFIX "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
enum : uint32_t {
  UNINSTALL_KEY_PREFIX_LENGTH = sizeof UNINSTALL_KEY_PREFIX - 1,
  // The prefix, the longest ProductName a package may have, a terminator.
  UNINSTALL_KEY_CAPACITY = UNINSTALL_KEY_PREFIX_LENGTH + MAX_PRODUCT_NAME + 1,
  // LaunchCommand as given, and with its environment variables expanded.
  LAUNCH_COMMAND_CAPACITY = 388,
};
static_assert(UNINSTALL_KEY_CAPACITY == 128, "the uninstall key path's buffer, which earlier setups share");

// The directory field's text after GetDlgItemTextW: leading and trailing
// blanks (U+0020) removed, then a final backslash added when missing.
// Returns the new length, the name position of the directory. Returns 0 (and
// leaves an empty text) when nothing but blanks remains or when there is no
// room for the backslash.
uint32_t NormaliseDirText(WChar* text, uint32_t capacity);

// A normalised directory the wizard accepts: a drive ("C:...") or UNC
// ("\\...") path of more than two characters.
bool IsValidInstallDir(const WChar* text, uint32_t length);

// Adds a final backslash unless path already ends in one and returns the
// name position (the index of the terminator). Returns 0 for an empty path
// and for a path with no room left for the backslash; the path is then
// unchanged.
uint32_t EnsureTrailingBackslash(WChar* path, uint32_t capacity);

// path + a backslash (unless empty or already ending in one) + folder.
// When the result does not fit, path becomes empty and false is returned:
// a shortened folder name would be another directory.
bool AppendProductFolder(WChar* path, uint32_t capacity, const WChar* folder);

// UNINSTALL_KEY_PREFIX followed by the low 8 bits of each UTF-16 unit of
// productName. False (dest empty) when it does not fit, or when a unit's low
// byte is 0, which would end the key path early and name another key.
bool BuildUninstallKeyPath(char* dest, uint32_t capacity, const WChar* productName);

// A double quote, program, a double quote; *quoteEnd receives the index just
// after the closing quote. False (command empty) when it does not fit.
bool BuildQuotedProgram(WChar* command, uint32_t capacity, const WChar* program, uint32_t* quoteEnd);

// After the quoted program: a blank and arguments, or just the terminator
// when arguments is null. False (and the command ends at quoteEnd) when the
// arguments do not fit.
bool AppendCommandArgs(WChar* command, uint32_t capacity, uint32_t quoteEnd, const WChar* arguments);

// After the quoted program: a blank and the expansion of format with the two
// configure arguments (the window handle value, then previousVersion). False
// (and the command ends at quoteEnd) when the expansion does not fit.
bool AppendConfigureArgs(WChar* command, uint32_t capacity, uint32_t quoteEnd, const WChar* format,
                         uint32_t window, const WChar* previousVersion);

// The applicable size in KiB, truncated to 32 bits.
uint32_t EstimatedSizeKiB(uint64_t total);

// Splits a custom launch command at its last blank: the blank becomes the
// terminator and the text after it is returned as the arguments. Null when
// the command holds no blank.
const WChar* SplitLaunchCommand(WChar* command);

// folder + a backslash (unless it ends in one) + name + ".lnk", in place.
// False (folder unchanged) when it does not fit.
bool MakeLinkPath(WChar* folder, uint32_t capacity, const WChar* name);

// path + ".tmp" + letter. False (dest empty) when it does not fit.
bool BuildRenameCandidate(WChar* dest, uint32_t capacity, const WChar* path, WChar letter);

// dest = dir + name; false (dest empty) when it does not fit.
bool JoinPath(WChar* dest, uint32_t capacity, const WChar* dir, const WChar* name);
