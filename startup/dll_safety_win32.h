#pragma once
#include <windows.h>

// Keeps DLLs planted beside the setup file (a downloads folder) from being
// loaded: restricts the search to the system directory, or, where Windows
// cannot, preloads from there the DLLs it would otherwise look for beside us.
void RestrictDllSearch();
