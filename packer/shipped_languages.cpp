#include "packer/shipped_languages.h"

#include <string.h>

#include "packer/default_texts.h"
#include "packer/utf16.h"

namespace {

// Tags are ASCII; the comparison is locale-free so that both packers agree.
bool SameTag(const char* a, size_t length, const std::string& b) {
  if (length != b.size()) return false;
  for (size_t i = 0; i < length; ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

const ShippedLanguage* FindShippedLanguage(uint16_t langId) {
  for (size_t i = 0; i < kShippedLanguageCount; ++i) {
    if (kShippedLanguages[i].LangId == langId) return &kShippedLanguages[i];
  }
  return nullptr;
}

const ShippedLanguage* FindShippedLanguage(const std::string& tag) {
  for (size_t i = 0; i < kShippedLanguageCount; ++i) {
    const char* tags = kShippedLanguages[i].Tags;
    while (*tags) {
      const char* end = strchr(tags, ' ');
      size_t length = end ? static_cast<size_t>(end - tags) : strlen(tags);
      if (SameTag(tags, length, tag)) return &kShippedLanguages[i];
      tags += length;
      while (*tags == ' ') ++tags;
    }
  }
  return nullptr;
}

std::string CanonicalTag(const ShippedLanguage& language) {
  const char* end = strchr(language.Tags, ' ');
  return end ? std::string(language.Tags, end) : std::string(language.Tags);
}

std::string OtherTags(const ShippedLanguage& language) {
  const char* end = strchr(language.Tags, ' ');
  return end ? std::string(end + 1) : std::string();
}

const char* ShippedText(const ShippedLanguage& language, TextId id) {
  return language.Texts ? language.Texts[id] : DefaultEnglishText(id);
}

PackageLanguage ToPackageLanguage(const ShippedLanguage& language) {
  PackageLanguage record;
  record.LangId = language.LangId;
  record.Strings[0] = Utf8ToUtf16(language.NativeName);
  for (int id = 0; id < TXT_COUNT; ++id)
    record.Strings[1 + id] = Utf8ToUtf16(ShippedText(language, static_cast<TextId>(id)));
  return record;
}
