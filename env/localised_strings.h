// Language choice and the package's user-interface texts.
#pragma once
#include <stdint.h>

#include "base/wide_text.h"
#include "package/package_loader.h"

extern uint32_t ChosenLanguage;

// Portable choice over the package's languages (see ChooseLanguage).
uint32_t ChooseLanguageIndex(const LanguageEntry* languages, uint32_t count, uint16_t userLangId);

// Win32: chooses from GetUserDefaultLangID; called once at start-up.
void ChooseLanguage();
// The chosen language's text for id (a TextId); never null.
const WChar* GetText(int id);

// ProductName, one blank, ProductVersion; cut to capacity.
void FormatNameVersion(WChar* dest, uint32_t capacity);
// TXT_TITLE_FMT with FormatNameVersion's text, into TITLE_TEXT_CAPACITY
// (base/text_capacities.h) characters.
void FormatWindowTitle(WChar* dest);
