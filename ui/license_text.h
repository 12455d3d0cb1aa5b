// The licence text shown in the wizard's pane, as a terminated 8-bit text.
#pragma once
#include <stdint.h>

#include "package/package_loader.h"

struct LicenseText {
  char* Text;     // null: the package has no licence text to show
  bool OwnBlock;  // Text was allocated for this display: ReleaseLicenseText frees it
};

// Copies the licence entry's bytes and a terminating NUL into the package's
// 64 KB scratch buffer when they fit there (below 65536 bytes), otherwise
// into a new block of size + 1 bytes. Gives no text for LicenseEntry 0xFFFF,
// an entry of size 0, an index outside the entry table, or a failed
// allocation.
LicenseText PrepareLicenseText(const LoadedPackage* package);
void ReleaseLicenseText(LicenseText* text);
