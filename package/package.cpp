#include "package/package.h"

LoadedPackage Package;
