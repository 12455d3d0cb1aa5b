// Starting the installed product after Finish. The setup runs elevated, so
// the product is opened by the desktop shell instead, through the shell's
// automation object, and runs with the logged-on user's rights. Every
// failure is silent, and there is no fallback to starting it directly.
#pragma once
#include <windows.h>
#include <shlobj.h>

#include "base/wide_text.h"

// Expands LaunchCommand and opens it through the desktop shell in directory.
void LaunchProduct(const WChar* directory);

// Asks the desktop shell to open file (default verb and show state, no
// separate arguments) in directory. Returns the COM result of the attempt.
HRESULT LaunchViaDesktopShell(const WChar* file, const WChar* directory);

// The active shell view of the desktop window as interface iid; *out is null
// on failure. Fails (E_FAIL) when no desktop window is registered with the
// shell windows collection.
HRESULT FindDesktopView(REFIID iid, void** out);

// The shell's automation object behind view as interface iid; *out is null
// on failure. The caller keeps its reference to view.
HRESULT GetDesktopAutomation(IShellView* view, REFIID iid, void** out);
