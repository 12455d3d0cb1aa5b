#include "env/localised_strings.h"

#include "base/text_capacities.h"
#include "package/package.h"

uint32_t ChosenLanguage = 0;

uint32_t ChooseLanguageIndex(const LanguageEntry* languages, uint32_t count, uint16_t user) {
  if (count <= 1) return 0;
  uint32_t primaryMatch = 0;
  // Language 0 is the fallback and is never compared.
  for (uint32_t i = 1; i < count; ++i) {
    if (languages[i].LangId == user) return i;
    if (primaryMatch == 0 && (languages[i].LangId & 0x3FF) == (user & 0x3FF)) primaryMatch = i;
  }
  return primaryMatch;
}

const WChar* GetText(int id) {
  if (id < 0 || id >= TXT_COUNT || !Package.Languages) return u"";
  return Package.Languages[ChosenLanguage].Strings[1 + id];
}

void FormatNameVersion(WChar* dest, uint32_t capacity) {
  WideCopy(dest, capacity, Config(CFG_PRODUCT_NAME) ? Config(CFG_PRODUCT_NAME) : u"");
  WideAppend(dest, capacity, u" ");
  WideAppend(dest, capacity, Config(CFG_PRODUCT_VERSION) ? Config(CFG_PRODUCT_VERSION) : u"");
}

void FormatWindowTitle(WChar* dest) {
  WChar nameVersion[NAME_VERSION_TEXT_CAPACITY];
  FormatNameVersion(nameVersion, NAME_VERSION_TEXT_CAPACITY);
  FormatArg arg = TextArg(nameVersion);
  FormatText(dest, TITLE_TEXT_CAPACITY, GetText(TXT_TITLE_FMT), &arg, 1);
}
