#pragma once
#include "base/wide_text.h"

// Desktop (when asked) and start-menu shortcuts of a fresh installation.
void CreateShortcuts(const WChar* installDir, int desktop);
