// The stub's English refusal texts, above all the architecture message.
#include <gtest/gtest.h>

#include <string>

#include "env/refusal_texts.h"

namespace {

std::u16string ArchitectureMessage(uint32_t mask) {
  WChar text[256];
  FormatArchitectureMessage(mask, text, 256);
  return text;
}

TEST(RefusalTexts, FixedTexts) {
  EXPECT_EQ(std::u16string(kDamagedText), u"This setup package is damaged!");
  EXPECT_EQ(std::u16string(kUnsupportedOsText), u"This operating system is not supported!");
}

TEST(RefusalTexts, ArchitectureMessageForEveryKnownMask) {
  struct Case {
    uint32_t Mask;
    const char16_t* List;
  } cases[] = {
      {1, u"x86"},       {2, u"x64"},       {3, u"x86/x64"},         {4, u"arm64"},
      {5, u"x86/arm64"}, {6, u"x64/arm64"}, {7, u"x86/x64/arm64"},
      // Other bits are ignored.
      {0x09, u"x86"},    {0x0E, u"x64/arm64"}, {0xFF, u"x86/x64/arm64"}, {0xF2, u"x64"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ArchitectureMessage(c.Mask),
              u"This setup can only be installed on Windows " + std::u16string(c.List) + u"!")
        << c.Mask;
  }
}

TEST(RefusalTexts, MaskWithoutKnownBitsNamesNoArchitecture) {
  for (uint32_t mask : {0x00u, 0x08u, 0x10u, 0x80u, 0xF8u}) {
    std::u16string text = ArchitectureMessage(mask);
    EXPECT_EQ(text, u"This setup cannot be installed on this processor architecture!") << mask;
  }
}

TEST(RefusalTexts, ArchitectureTextsStayInsideSmallBuffers) {
  // Every capacity from 0 to the full length, with guard characters behind.
  for (uint32_t mask = 0; mask < 16; ++mask) {
    std::u16string full = ArchitectureMessage(mask);
    for (uint32_t capacity = 0; capacity <= full.size() + 1; ++capacity) {
      WChar buffer[300];
      for (WChar& c : buffer) c = u'#';
      FormatArchitectureMessage(mask, buffer, capacity);
      for (uint32_t i = capacity; i < 300; ++i) ASSERT_EQ(buffer[i], u'#') << mask << " " << capacity;
      if (capacity > 0) {
        EXPECT_EQ(std::u16string(buffer), full.substr(0, capacity - 1));
      }
    }
  }
}

}  // namespace
