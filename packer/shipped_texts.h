// The shipped translations of the wizard's texts and the tags by which a
// manifest names them, as data; packer/shipped_languages.h looks them up.
#pragma once
#include <stddef.h>
#include <stdint.h>

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
