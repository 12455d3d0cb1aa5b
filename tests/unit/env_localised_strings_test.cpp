// Language choice, text lookup and the product texts built from the package.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "env/localised_strings.h"
#include "package/package.h"

namespace {

std::vector<LanguageEntry> Languages(std::initializer_list<uint16_t> ids) {
  std::vector<LanguageEntry> languages;
  for (uint16_t id : ids) {
    LanguageEntry e = {};
    e.LangId = id;
    languages.push_back(e);
  }
  return languages;
}

TEST(LanguageChoice, ExamplesOfExactAndPrimaryMatches) {
  struct Case {
    std::vector<LanguageEntry> Package;
    uint16_t User;
    uint32_t Chosen;
  } cases[] = {
      {Languages({0x409, 0x804, 0x407, 0xC0A}), 0xC0A, 3},
      {Languages({0x409, 0x804, 0x407, 0xC0A}), 0x40A, 3},  // same primary language 0x0A
      {Languages({0x409, 0x804, 0x407, 0xC0A}), 0x807, 2},
      {Languages({0x409, 0x804, 0x407, 0xC0A}), 0x404, 1},  // 0x804's primary language is 0x04
      {Languages({0x409, 0x804, 0x407, 0xC0A}), 0x809, 0},  // only language 0 has primary 0x09
      {Languages({0x409, 0x804, 0x407, 0xC0A}), 0x411, 0},
      {Languages({0x409, 0x809, 0x409}), 0x409, 2},         // exact match beats an earlier primary one
      {Languages({0x409, 0x809}), 0x409, 1},                // language 0 is never compared
      {Languages({0x409, 0x807, 0xC07, 0x407}), 0x1007, 1}, // first primary match is kept
      {Languages({0x409, 0x807, 0xC07, 0x407}), 0x407, 3},
      {Languages({0x407}), 0x409, 0},                       // a single language is always used
      {Languages({0x407}), 0x407, 0},
      // The primary language is the low 10 bits, not the low byte.
      {Languages({0x409, 0x0107}), 0x0007, 0},
      {Languages({0x409, 0x0407}), 0xFC07, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ChooseLanguageIndex(c.Package.data(), static_cast<uint32_t>(c.Package.size()), c.User), c.Chosen)
        << std::hex << "user " << c.User;
  }
  EXPECT_EQ(ChooseLanguageIndex(nullptr, 0, 0x409), 0u);
}

TEST(LanguageChoice, RightToLeftByPrimaryLanguageOrByTheNamesMark) {
  for (uint16_t id : {0x0401, 0x3C01, 0x040D, 0x0429, 0x0420, 0x0820, 0xFC01})
    EXPECT_TRUE(IsRightToLeft(id, u"name")) << std::hex << id;
  for (uint16_t id : {0x0409, 0x0492, 0x0463, 0x0101, 0x040C, 0x0000})
    EXPECT_FALSE(IsRightToLeft(id, u"name")) << std::hex << id;
  EXPECT_TRUE(IsRightToLeft(0x0492, u"\u200F"));
  EXPECT_TRUE(IsRightToLeft(0x0409, u"\u200Fname"));
  EXPECT_FALSE(IsRightToLeft(0x0409, u"name\u200F"));
  EXPECT_FALSE(IsRightToLeft(0x0409, u"\u200Ename"));
  EXPECT_FALSE(IsRightToLeft(0x0409, u""));
}

// Sets the process-wide package up with two languages and restores it.
class PackageTexts : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = Package;
    savedChoice_ = ChosenLanguage;
    memset(&Package, 0, sizeof Package);
    header_ = {};
    header_.LanguageCount = 2;
    Package.Header = &header_;
    for (int l = 0; l < 2; ++l) {
      languages_[l] = {};
      for (uint32_t s = 0; s < LANGUAGE_STRINGS; ++s) languages_[l].Strings[s] = l == 0 ? u"english" : u"deutsch";
    }
    languages_[0].LangId = 0x409;
    languages_[1].LangId = 0x407;
    languages_[0].Strings[1 + TXT_TITLE_FMT] = u"Setup - %s";
    languages_[1].Strings[1 + TXT_TITLE_FMT] = u"Installation von %s";
    languages_[1].Strings[1 + TXT_CANCEL] = u"";
    Package.Languages = languages_;
    Package.Config[CFG_PRODUCT_NAME] = u"Sample";
    Package.Config[CFG_PRODUCT_VERSION] = u"1.0";
    ChosenLanguage = 0;
  }
  void TearDown() override {
    Package = saved_;
    ChosenLanguage = savedChoice_;
  }
  static std::u16string Title() {
    WChar title[260];
    FormatWindowTitle(title);
    return title;
  }

  PackageHeader header_;
  LanguageEntry languages_[2];
  LoadedPackage saved_;
  uint32_t savedChoice_;
};

TEST_F(PackageTexts, GetTextFollowsTheChosenLanguage) {
  EXPECT_EQ(std::u16string(GetText(TXT_TITLE_FMT)), u"Setup - %s");
  EXPECT_EQ(std::u16string(GetText(TXT_NEED_ADMIN)), u"english");
  ChosenLanguage = 1;
  EXPECT_EQ(std::u16string(GetText(TXT_TITLE_FMT)), u"Installation von %s");
  // An empty text stays empty; it does not fall back to language 0.
  EXPECT_EQ(std::u16string(GetText(TXT_CANCEL)), u"");
  // Ids past the last TextId give an empty text instead of reading past the table.
  EXPECT_EQ(std::u16string(GetText(-1)), u"");
  EXPECT_EQ(std::u16string(GetText(TXT_COUNT)), u"");
}

TEST_F(PackageTexts, WindowTitle) {
  EXPECT_EQ(Title(), u"Setup - Sample 1.0");
  ChosenLanguage = 1;
  EXPECT_EQ(Title(), u"Installation von Sample 1.0");
  // Without "%s" the title carries no name and version.
  languages_[1].Strings[1 + TXT_TITLE_FMT] = u"Setup";
  EXPECT_EQ(Title(), u"Setup");
  languages_[1].Strings[1 + TXT_TITLE_FMT] = u"100%% %s";
  EXPECT_EQ(Title(), u"100% Sample 1.0");
}

TEST_F(PackageTexts, NameAndVersion) {
  WChar text[128];
  FormatNameVersion(text, 128);
  EXPECT_EQ(std::u16string(text), u"Sample 1.0");
  // Cut at the buffer, never past it.
  WChar small[8];
  for (WChar& c : small) c = u'#';
  FormatNameVersion(small, 5);
  EXPECT_EQ(std::u16string(small), u"Samp");
  EXPECT_EQ(small[5], u'#');
}

TEST_F(PackageTexts, OverlongTextsAreCutAtTheirBuffers) {
  // ProductName and ProductVersion beyond 126 characters, and a title
  // format that would grow far past 260 characters.
  std::u16string longName(200, u'N'), longVersion(100, u'V');
  Package.Config[CFG_PRODUCT_NAME] = longName.c_str();
  Package.Config[CFG_PRODUCT_VERSION] = longVersion.c_str();
  std::u16string longFormat = std::u16string(250, u'T') + u"%s%s%s";
  languages_[0].Strings[1 + TXT_TITLE_FMT] = longFormat.c_str();
  WChar title[300];
  for (WChar& c : title) c = u'#';
  FormatWindowTitle(title);
  std::u16string got = title;
  ASSERT_EQ(got.size(), 259u);
  EXPECT_EQ(got, std::u16string(250, u'T') + std::u16string(9, u'N'));
  for (int i = 260; i < 300; ++i) EXPECT_EQ(title[i], u'#');

  // The name-and-version part alone is cut at 127 characters.
  languages_[0].Strings[1 + TXT_TITLE_FMT] = u"%s";
  FormatWindowTitle(title);
  EXPECT_EQ(std::u16string(title), std::u16string(127, u'N'));
}

}  // namespace
