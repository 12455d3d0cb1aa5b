// The shipped translations: every text of every language meets the rules a
// manifest's texts must meet, keeps the English text's arguments, line
// breaks and mnemonics, and the mnemonics shown together on a page differ.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "packer/content_rules.h"
#include "packer/default_texts.h"
#include "packer/shipped_languages.h"
#include "packer/utf16.h"

namespace {

size_t Count(const std::u16string& text, const std::u16string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::u16string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

// The characters a label marks with a single '&' ("&&" is a literal one).
std::u16string Mnemonics(const std::u16string& text) {
  std::u16string marked;
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != u'&') continue;
    if (text[i + 1] != u'&') marked += text[i + 1];
    ++i;
  }
  return marked;
}

// Lower case for the scripts the translations use, as a keyboard user
// presses a mnemonic without Shift.
char16_t Folded(char16_t c) {
  if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 0x20;
  if (c == 0x130) return u'i';
  if (c >= 0x100 && c <= 0x17F) {
    bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    return oddUpper ? (c % 2 ? c + 1 : c) : (c % 2 ? c : c + 1);
  }
  if (c >= 0x391 && c <= 0x3A9) return c + 0x20;
  if (c == 0x386) return 0x3AC;
  if (c >= 0x388 && c <= 0x38A) return c + 0x25;
  if (c == 0x38C) return 0x3CC;
  if (c == 0x38E || c == 0x38F) return c + 0x3F;
  if (c >= 0x410 && c <= 0x42F) return c + 0x20;
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;
  return c;
}

bool IsLetterOrDigit(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c >= 0xC0;
}

std::u16string Text(const ShippedLanguage& l, TextId id) { return Utf8ToUtf16(ShippedText(l, id)); }

// The labels on screen together, as the wizard's pages show them: Next and
// Install take turns on one button.
const std::vector<std::vector<TextId>> kPages = {
    {TXT_NEXT, TXT_CANCEL, TXT_ACCEPT},
    {TXT_INSTALL, TXT_CANCEL, TXT_ACCEPT},
    {TXT_BACK, TXT_NEXT, TXT_CANCEL, TXT_BROWSE, TXT_DESKTOP_SHORTCUT},
    {TXT_BACK, TXT_INSTALL, TXT_CANCEL, TXT_BROWSE, TXT_DESKTOP_SHORTCUT},
    {TXT_FINISH, TXT_LAUNCH_FMT},
};

TEST(ShippedLanguages, EveryTextMeetsTheManifestRulesAndKeepsTheEnglishForm) {
  // The longest name and version a manifest allows.
  const std::u16string longName(MAX_PRODUCT_NAME, u'W'), longVersion(126 - MAX_PRODUCT_NAME, u'9');
  ASSERT_GE(kShippedLanguageCount, 39u);
  for (size_t i = 0; i < kShippedLanguageCount; ++i) {
    const ShippedLanguage& l = kShippedLanguages[i];
    SCOPED_TRACE(CanonicalTag(l));
    EXPECT_FALSE(std::string(l.NativeName).empty());
    EXPECT_FALSE(std::string(l.EnglishName).empty());
    for (int t = 0; t < TXT_COUNT; ++t) {
      TextId id = static_cast<TextId>(t);
      SCOPED_TRACE(TextIdName(id));
      ASSERT_NE(ShippedText(l, id), nullptr);
      std::u16string text = Text(l, id), english = Utf8ToUtf16(DefaultEnglishText(id));
      EXPECT_FALSE(text.empty());
      EXPECT_EQ(CheckLanguageText(id, text, longName, longVersion), "");
      EXPECT_EQ(CheckLanguageText(id, text, u"S", u"1"), "");
      if (l.Texts) {
        EXPECT_NE(text, english) << "left in English";
      }
      // Every '%' is the argument's "%s", as often as in English.
      EXPECT_EQ(Count(text, u"%"), Count(english, u"%s"));
      EXPECT_EQ(Count(text, u"%s"), Count(english, u"%s"));
      // Line breaks are CR LF pairs where the English has them, and only there.
      EXPECT_EQ(Count(text, u"\r\n"), Count(english, u"\r\n"));
      EXPECT_EQ(Count(text, u"\r"), Count(text, u"\r\n"));
      EXPECT_EQ(Count(text, u"\n"), Count(text, u"\r\n"));
      // One mnemonic where the English has one, on a letter.
      std::u16string marked = Mnemonics(text);
      EXPECT_EQ(marked.size(), Mnemonics(english).size());
      for (char16_t c : marked) EXPECT_TRUE(IsLetterOrDigit(c)) << "mnemonic U+" << std::hex << unsigned(c);
    }
    // Right-to-left texts too: their reading order mirrors the arrows on screen.
    EXPECT_EQ(Text(l, TXT_BACK).rfind(u"< ", 0), 0u);
    std::u16string next = Text(l, TXT_NEXT);
    EXPECT_TRUE(next.size() > 2 && next.compare(next.size() - 2, 2, u" >") == 0);
  }
}

TEST(ShippedLanguages, MnemonicsDifferOnEachPage) {
  for (size_t i = 0; i < kShippedLanguageCount; ++i) {
    const ShippedLanguage& l = kShippedLanguages[i];
    for (const std::vector<TextId>& page : kPages) {
      std::set<char16_t> seen;
      for (TextId id : page) {
        // The English defaults' "< &Back" and "&Browse..." share B (Alt+B
        // then moves between the two): they stay as they are, so that the
        // packages of existing manifests do not change.
        if (!l.Texts && id == TXT_BROWSE) continue;
        for (char16_t c : Mnemonics(Text(l, id)))
          EXPECT_TRUE(seen.insert(Folded(c)).second)
              << CanonicalTag(l) << ": " << TextIdName(id) << " repeats a mnemonic of its page";
      }
    }
  }
}

TEST(ShippedLanguages, IdsAndTagsAreUniqueAndFindTheirLanguage) {
  std::set<uint16_t> ids;
  std::set<std::string> tags;
  for (size_t i = 0; i < kShippedLanguageCount; ++i) {
    const ShippedLanguage& l = kShippedLanguages[i];
    EXPECT_TRUE(ids.insert(l.LangId).second) << CanonicalTag(l);
    EXPECT_NE(l.LangId & 0x3FFu, 0u) << "a full LANGID with its primary language";
    EXPECT_EQ(FindShippedLanguage(l.LangId), &l);
    std::string all = l.Tags;
    for (size_t at = 0; at < all.size();) {
      size_t end = std::min(all.find(' ', at), all.size());
      std::string tag = all.substr(at, end - at), lower;
      for (char c : tag) lower += static_cast<char>(tolower(static_cast<unsigned char>(c)));
      EXPECT_TRUE(tags.insert(lower).second) << tag;
      EXPECT_EQ(FindShippedLanguage(tag), &l) << tag;
      EXPECT_EQ(FindShippedLanguage(lower), &l) << "tags are compared without case: " << lower;
      at = end + 1;
    }
  }
  EXPECT_EQ(FindShippedLanguage(std::string("zh")), nullptr) << "Simplified or Traditional must be said";
  EXPECT_EQ(FindShippedLanguage(std::string("")), nullptr);
  EXPECT_EQ(FindShippedLanguage(std::string("de ")), nullptr);
  EXPECT_EQ(FindShippedLanguage(uint16_t{0x801}), nullptr) << "Arabic in Iraq is matched by primary language";
}

TEST(ShippedLanguages, EnglishIsTheDefaultRecordAndOthersTheirOwn) {
  const ShippedLanguage* english = FindShippedLanguage(std::string("en"));
  ASSERT_NE(english, nullptr);
  PackageLanguage shipped = ToPackageLanguage(*english), defaults = EnglishLanguage();
  EXPECT_EQ(shipped.LangId, defaults.LangId);
  for (uint32_t s = 0; s < LANGUAGE_STRINGS; ++s) EXPECT_EQ(shipped.Strings[s], defaults.Strings[s]) << s;

  const struct {
    const char* Tag;
    uint16_t Id;
    const char* Name;
    TextId Text;
    const char* Expected;
  } kCases[] = {
      {"de-DE", 0x0407, "Deutsch", TXT_NEXT, "&Weiter >"},
      {"ja", 0x0411, "日本語", TXT_NEXT, "次へ(&N) >"},
      {"zh-Hans", 0x0804, "中文(简体)", TXT_CANCEL, "取消"},
      {"ZH-hant", 0x0404, "中文(繁體)", TXT_LICENSE_TITLE, "授權合約"},
      {"zh-HK", 0x0C04, "中文(香港)", TXT_LICENSE_TITLE, "授權合約"},
      {"pt-br", 0x0416, "Português (Brasil)", TXT_BACK, "< &Voltar"},
      {"he-IL", 0x040D, "עברית", TXT_NEXT, "ה&בא >"},
  };
  for (const auto& k : kCases) {
    const ShippedLanguage* l = FindShippedLanguage(std::string(k.Tag));
    ASSERT_NE(l, nullptr) << k.Tag;
    PackageLanguage record = ToPackageLanguage(*l);
    EXPECT_EQ(record.LangId, k.Id) << k.Tag;
    EXPECT_EQ(record.Strings[0], Utf8ToUtf16(k.Name)) << k.Tag;
    EXPECT_EQ(record.Strings[1 + k.Text], Utf8ToUtf16(k.Expected)) << k.Tag;
  }
}

}  // namespace
