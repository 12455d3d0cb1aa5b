#include <windows.h>

#include "env/localised_strings.h"
#include "package/package.h"

void ChooseLanguage() {
  LANGID user = GetUserDefaultLangID();
  ChosenLanguage = ChooseLanguageIndex(Package.Languages, Package.Header->LanguageCount, user);
  const LanguageEntry& chosen = Package.Languages[ChosenLanguage];
  if (IsRightToLeft(chosen.LangId, chosen.Strings[0])) SetProcessDefaultLayout(LAYOUT_RTL);
}
