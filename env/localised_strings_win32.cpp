#include <windows.h>

#include "env/localised_strings.h"
#include "package/package.h"

void ChooseLanguage() {
  LANGID user = GetUserDefaultLangID();
  ChosenLanguage = ChooseLanguageIndex(Package.Languages, Package.Header->LanguageCount, user);
}
