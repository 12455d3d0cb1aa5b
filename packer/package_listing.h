// The packer's inspect command: loads a setup file with the stub's own
// loader and prints what the package holds.
#pragma once
#include <ostream>
#include <string>

#include "package/package_loader.h"

// Prints trailer, header, entries (flags with masks by name), languages and
// configuration strings to out and returns 0; with json, the same as one
// JSON document. When the file holds no valid package, tells why on err and
// returns 1. Throws PackerError when the file cannot be read.
int InspectSetupFile(const std::string& path, std::ostream& out, std::ostream& err, bool json = false);
// The same for a setup file already open as source, shown under the name
// path; isPe tells whether it is a PE image.
int InspectPackage(const std::string& path, const PackageSource& source, bool isPe, std::ostream& out,
                   std::ostream& err, bool json);

// False when the package region is not the one bound to the stub's image,
// which the stub refuses as damaged; true without a bound hash.
bool BoundHashAdmits(const PackageSource& source);

// "os=win10,win11+ arch=x64 no_extract" for normalised entry flags.
std::string DescribeEntryFlags(uint32_t flags);
// FILETIME as "2020-01-02T03:04:05Z" (fractions of a second when present).
std::string FormatFileTime(uint64_t fileTime);
