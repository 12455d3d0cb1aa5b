// The translations of the wizard's texts that the packer ships, and the
// tags by which a manifest names them.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "package/package_format.h"
#include "packer/package_writer.h"

struct ShippedLanguage {
  // Blank-separated, the canonical tag first ("zh-CN zh-Hans"); compared
  // without case.
  const char* Tags;
  // The full LANGID: the stub prefers an exact match over one of the
  // primary language alone.
  uint16_t LangId;
  const char* NativeName;  // the record's own name
  const char* EnglishName;
  // TXT_COUNT texts in UTF-8 with CR LF line breaks; null for the English
  // defaults.
  const char* const* Texts;
};

// In the order `packer languages` lists them.
extern const ShippedLanguage kShippedLanguages[];
extern const size_t kShippedLanguageCount;

const ShippedLanguage* FindShippedLanguage(uint16_t langId);
const ShippedLanguage* FindShippedLanguage(const std::string& tag);
std::string CanonicalTag(const ShippedLanguage& language);
// The tags after the canonical one, blank-separated; empty when none.
std::string OtherTags(const ShippedLanguage& language);
const char* ShippedText(const ShippedLanguage& language, TextId id);
// The record with the shipped name and texts; English gives EnglishLanguage().
PackageLanguage ToPackageLanguage(const ShippedLanguage& language);
