// Bounded UTF-16 helpers and FormatText, the typed wsprintf subset.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/wide_text.h"

namespace {

const uint32_t kGuard = 8;

// Formats into a buffer of capacity characters followed by guard
// characters, fails when a guard was touched, and returns the text.
std::u16string Format(const char16_t* format, std::vector<FormatArg> args, uint32_t capacity = 256,
                      uint32_t* returned = nullptr) {
  std::vector<WChar> buffer(capacity + kGuard, u'#');
  uint32_t n = FormatText(buffer.data(), capacity, format, args.data(), static_cast<uint32_t>(args.size()));
  for (uint32_t i = capacity; i < capacity + kGuard; ++i) EXPECT_EQ(buffer[i], u'#') << "written past capacity";
  if (returned) *returned = n;
  if (capacity == 0) return u"<none>";
  std::u16string text(buffer.data());
  EXPECT_EQ(n, text.size());
  return text;
}

TEST(FormatText, Conversions) {
  struct Case {
    const char16_t* Format;
    std::vector<FormatArg> Args;
    const char16_t* Expected;
  } cases[] = {
      {u"Copy %s\r\n", {TextArg(u"a\\b.txt")}, u"Copy a\\b.txt\r\n"},
      {u"code: %d", {NumberArg(5)}, u"code: 5"},
      {u"%d", {NumberArg(-2147483647 - 1)}, u"-2147483648"},
      {u"%i", {NumberArg(-7)}, u"-7"},
      {u"%u", {NumberArg(-1)}, u"4294967295"},
      {u"%x %X", {NumberArg(0xBEEF), NumberArg(0xBEEF)}, u"beef BEEF"},
      {u"%#x %#X %#x", {NumberArg(255), NumberArg(255), NumberArg(0)}, u"0xff 0XFF 0"},
      {u"100%%", {}, u"100%"},
      {u"%%s", {TextArg(u"unused")}, u"%s"},
      {u"%c%c", {NumberArg('o'), NumberArg('k')}, u"ok"},
      {u"/configure %u \"%s\"", {NumberArg(1234), TextArg(u"C:\\P F\\")}, u"/configure 1234 \"C:\\P F\\\""},
      {u"%ls|%hs|%S|%lu|%hd|%I64u", {TextArg(u"a"), TextArg(u"b"), TextArg(u"c"), NumberArg(1), NumberArg(2), NumberArg(3)},
       u"a|b|c|1|2|3"},
      {u"no conversions", {}, u"no conversions"},
      {u"", {}, u""},
      {u"%s", {TextArg(nullptr)}, u""},
      {u"trailing %", {}, u"trailing "},
      {u"%q%s", {TextArg(u"x")}, u"qx"},  // unknown conversions print their letter
      {u"%", {NumberArg(1)}, u""},
  };
  for (const Case& c : cases) EXPECT_EQ(Format(c.Format, c.Args), c.Expected) << std::u16string(c.Format).size();
}

TEST(FormatText, WidthPrecisionAndFlags) {
  struct Case {
    const char16_t* Format;
    FormatArg Arg;
    const char16_t* Expected;
  } cases[] = {
      {u"[%5d]", NumberArg(42), u"[   42]"},
      {u"[%-5d]", NumberArg(42), u"[42   ]"},
      {u"[%05d]", NumberArg(42), u"[00042]"},
      {u"[%05d]", NumberArg(-42), u"[-0042]"},
      {u"[%5d]", NumberArg(-42), u"[  -42]"},
      {u"[%2d]", NumberArg(12345), u"[12345]"},  // width never cuts
      {u"[%.3d]", NumberArg(7), u"[007]"},
      {u"[%08X]", NumberArg(0x1F), u"[0000001F]"},
      {u"[%#06x]", NumberArg(0x1F), u"[0x001f]"},
      {u"[%6s]", TextArg(u"ab"), u"[    ab]"},
      {u"[%-6s]", TextArg(u"ab"), u"[ab    ]"},
      {u"[%06s]", TextArg(u"ab"), u"[    ab]"},  // zero padding is for numbers only
      {u"[%.2s]", TextArg(u"abcdef"), u"[ab]"},
      {u"[%.0s]", TextArg(u"abcdef"), u"[]"},
      {u"[%8.3s]", TextArg(u"abcdef"), u"[     abc]"},
  };
  for (const Case& c : cases) EXPECT_EQ(Format(c.Format, {c.Arg}), c.Expected) << std::u16string(c.Format).size();
}

TEST(FormatText, MismatchedArgumentsAreSafe) {
  struct Case {
    const char16_t* Format;
    std::vector<FormatArg> Args;
    const char16_t* Expected;
  } cases[] = {
      // A number where a text is expected shows its value, never memory.
      {u"%s", {NumberArg(1234)}, u"1234"},
      {u"%s", {NumberArg(-5)}, u"-5"},
      // A text where a number is expected counts as 0.
      {u"%d %x %u", {TextArg(u"a"), TextArg(u"b"), TextArg(u"c")}, u"0 0 0"},
      {u"[%c]", {TextArg(u"a")}, u"[]"},
      // More conversions than arguments: the extra ones print nothing.
      {u"%s and %s and %d", {TextArg(u"one")}, u"one and  and "},
      {u"%s", {}, u""},
      // Surplus arguments are ignored.
      {u"%s", {TextArg(u"a"), TextArg(u"b")}, u"a"},
  };
  for (const Case& c : cases) EXPECT_EQ(Format(c.Format, c.Args), c.Expected) << std::u16string(c.Format).size();
}

TEST(FormatText, CutsAtCapacity) {
  // Every capacity around the full length, for texts, numbers and padding.
  struct Case {
    const char16_t* Format;
    std::vector<FormatArg> Args;
  } cases[] = {
      {u"Copy %s\r\n", {TextArg(u"folder\\file.txt")}},
      {u"Failed to write file: %s, code: %d\r\n", {TextArg(u"x.dll"), NumberArg(-32)}},
      {u"[%-20s][%020d]", {TextArg(u"ab"), NumberArg(-99)}},
      {u"%#x%%", {NumberArg(0xABCDEF)}},
  };
  for (const Case& c : cases) {
    std::u16string full = Format(c.Format, c.Args);
    for (uint32_t capacity = 0; capacity <= full.size() + 2; ++capacity) {
      uint32_t n = 0;
      std::u16string got = Format(c.Format, c.Args, capacity, &n);
      if (capacity == 0) {
        EXPECT_EQ(n, 0u);
        continue;
      }
      uint32_t keep = capacity - 1 < full.size() ? capacity - 1 : static_cast<uint32_t>(full.size());
      EXPECT_EQ(got, full.substr(0, keep)) << "capacity " << capacity;
    }
  }
}

TEST(FormatText, HugeWidthsAndPrecisionsStayBounded) {
  std::u16string got = Format(u"%99999999d|", {NumberArg(1)}, 64);
  EXPECT_EQ(got.size(), 63u);
  EXPECT_EQ(got.back(), u' ');
  got = Format(u"%.99999999d", {NumberArg(1)}, 64);
  EXPECT_LE(got.size(), 63u);
  EXPECT_EQ(got.back(), u'1');
  got = Format(u"%-99999s|", {TextArg(u"x")}, 32);
  EXPECT_EQ(got, u"x" + std::u16string(30, u' '));
}

TEST(WideText, CopyAndAppendReportCutting) {
  WChar buffer[8 + kGuard];
  for (WChar& c : buffer) c = u'#';
  EXPECT_TRUE(WideCopy(buffer, 8, u"1234567"));
  EXPECT_EQ(std::u16string(buffer), u"1234567");
  EXPECT_FALSE(WideCopy(buffer, 8, u"12345678"));
  EXPECT_EQ(std::u16string(buffer), u"1234567");
  EXPECT_TRUE(WideCopy(buffer, 8, u"abc"));
  EXPECT_TRUE(WideAppend(buffer, 8, u"defg"));
  EXPECT_EQ(std::u16string(buffer), u"abcdefg");
  EXPECT_FALSE(WideAppend(buffer, 8, u"h"));
  EXPECT_EQ(std::u16string(buffer), u"abcdefg");
  EXPECT_FALSE(WideCopyAscii(buffer, 4, "abcdef"));
  EXPECT_EQ(std::u16string(buffer), u"abc");
  EXPECT_FALSE(WideCopy(buffer, 0, u"x"));
  for (uint32_t i = 8; i < 8 + kGuard; ++i) EXPECT_EQ(buffer[i], u'#');
  // An unterminated destination is never read past its capacity.
  WChar full[4] = {u'a', u'b', u'c', u'd'};
  EXPECT_FALSE(WideAppend(full, 4, u"x"));
  EXPECT_EQ(WideLengthBounded(full, 4), 4u);
}

TEST(WideText, AsciiCopyKeepsBytesAbove0x7FAsLatin1) {
  WChar buffer[8];
  EXPECT_TRUE(WideCopyAscii(buffer, 8, "a\xe9z"));
  EXPECT_EQ(std::u16string(buffer), u"a\u00e9z");
}

}  // namespace
