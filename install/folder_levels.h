// Which directories the install run makes for a name. Files of a package
// come folder by folder, so the run remembers the folder whose directories
// it made last and makes only the levels that a name does not share with it:
// about one directory call per folder of the package instead of one per
// level of every name.
#pragma once
#include <stdint.h>

#include "base/wide_text.h"

// 0, or an error that stops the name (a level that must not be written into).
typedef uint32_t (*MakeDirectoryFn)(const WChar* path);

// made: the full path of the folder made last, with its final backslash;
// empty when none was (or when it may have gone since, see ForgetMadeFolder).
// Calls makeDirectory, outermost first, for each directory of the relative
// name at namePosition in path that made does not begin with, and records
// the name's folder in made (capacity: that of path). Returns the first error
// of makeDirectory; made is then empty, so that the level is met again.
uint32_t MakeFolderLevels(WChar* path, uint32_t namePosition, WChar* made, MakeDirectoryFn makeDirectory);
// The next name makes all its levels again.
inline void ForgetMadeFolder(WChar* made) { made[0] = 0; }
