// The stub's one LoadedPackage and its Win32 loader.
#pragma once
#include "package/package_loader.h"

extern LoadedPackage Package;

// Opens the stub's own file and loads the package into Package, its entries
// counted for the system of the given classes. LOAD_NO_MEMORY when the
// package could not get its memory; any other result but LOAD_OK means a
// damaged or missing package. The setup file's read handle stays open until the process exits.
LoadResult LoadPackage(uint32_t osClass, uint32_t archClass);

// ConfigString i of the package, or null when absent.
inline const WChar* Config(int index) { return Package.Config[index]; }
