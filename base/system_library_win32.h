// System DLLs loaded by their full path, never found by a search: the stub
// runs elevated from a folder (a downloads folder) that others may write.
#pragma once
#include <windows.h>

// name (e.g. L"msftedit.dll") loaded by its full system-directory path, its
// dependencies searched from there first (LOAD_WITH_ALTERED_SEARCH_PATH).
HMODULE LoadSystemLibrary(const wchar_t* name);
