// Rules a package must meet beyond its byte layout: names the stub can
// install, and texts that fit the stub's fixed buffers once formatted.
// Each check returns an empty string when the value is fine, otherwise the
// problem in words.
#pragma once
#include <string>

#include "package/package_format.h"
#include "packer/package_writer.h"

// An installed relative name (UTF-8, backslashes between components).
std::string CheckInstalledName(const std::string& name);

// ProductName: length and characters that would break the folder name or
// the 8-bit uninstall key built from it.
std::string CheckProductName(const std::u16string& name);
std::string CheckNameVersion(const std::u16string& name, const std::u16string& version);

// A text that becomes part of a package string must not hold NUL, which
// would end it early and shift every string after it.
std::string CheckNoNul(const std::u16string& text);

// One language text once formatted as the stub formats it; id names it.
std::string CheckLanguageText(TextId id, const std::u16string& text, const std::u16string& productName,
                              const std::u16string& productVersion);

// Upper bound for a directory the folder-exists question is formatted with.
enum : uint32_t { MAX_DIRECTORY_ARGUMENT = 259 };
