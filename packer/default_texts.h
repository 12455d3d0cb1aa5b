// The English user-interface texts a package carries when the manifest
// names no language or leaves a text out, and the manifest names of TextIds.
#pragma once
#include <string>

#include "package/package_format.h"

// English text of id, UTF-8 (line breaks are CR LF).
const char* DefaultEnglishText(TextId id);
// "TXT_TITLE_FMT" and so on; the name the manifest's [language.texts] uses.
const char* TextIdName(TextId id);
// TXT_COUNT when name is not a TextId name.
TextId TextIdFromName(const std::string& name);
