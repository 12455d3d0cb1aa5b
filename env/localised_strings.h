// Language choice and the package's user-interface texts.
#pragma once
#include <stdint.h>

#include "base/wide_text.h"
#include "package/package_loader.h"

extern uint32_t ChosenLanguage;

// Portable choice over the package's languages (see ChooseLanguage).
uint32_t ChooseLanguageIndex(const LanguageEntry* languages, uint32_t count, uint16_t userLangId);

// Arabic, Hebrew, Persian and Urdu by their primary language; any other
// language by its own name (never shown) beginning with RIGHT-TO-LEFT MARK,
// the packer's mark for a manifest's `rtl = true`.
enum : WChar { RIGHT_TO_LEFT_MARK = 0x200F };
inline bool IsRightToLeft(uint16_t langId, const WChar* ownName) {
  uint32_t primary = langId & 0x3FFu;
  return primary == 0x01 || primary == 0x0D || primary == 0x20 || primary == 0x29 || ownName[0] == RIGHT_TO_LEFT_MARK;
}

// Win32: chooses from GetUserDefaultLangID; called once at start-up. A
// right-to-left choice mirrors every window the process makes without an
// owner, and so the wizard and the controls it holds.
void ChooseLanguage();
// The chosen language's text for id (a TextId); never null.
const WChar* GetText(int id);

// ProductName, one blank, ProductVersion; cut to capacity.
void FormatNameVersion(WChar* dest, uint32_t capacity);
// TXT_TITLE_FMT with FormatNameVersion's text, into TITLE_TEXT_CAPACITY
// (base/text_capacities.h) characters.
void FormatWindowTitle(WChar* dest);
