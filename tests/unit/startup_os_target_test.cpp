// What the refusal of an unsupported Windows may open: URLs and full paths,
// nothing that would be looked for relative to a current directory.
#include <gtest/gtest.h>

#include <string>

#include "startup/os_target.h"

namespace {

TEST(OsTarget, OnlyUrlsAndFullPathsAreOpened) {
  struct Case {
    const char16_t* Target;
    bool Absolute;
  } cases[] = {
      {u"https://example.invalid/requirements", true},
      {u"http://example.invalid", true},
      {u"mailto:support@example.invalid", true},
      {u"ms-settings:windowsupdate", true},
      {u"C:\\Readme\\requirements.txt", true},
      {u"\\\\server\\share\\requirements.txt", true},
      {u"requirements.txt", false},
      {u"docs\\requirements.txt", false},
      {u"..\\requirements.txt", false},
      {u"\\requirements.txt", false},     // the current drive's root
      {u"C:requirements.txt", false},     // the drive's current directory
      {u"C:/Readme/requirements.txt", false},
      {u"\\\\?\\C:\\requirements.txt", false},
      {u"\\\\.\\pipe\\x", false},
      {u"\\\\\\x", false},
      {u"https:", false},
      {u"", false},
      {u"1http://x", false},
  };
  for (const Case& c : cases) {
    std::u16string t(c.Target);
    EXPECT_EQ(IsAbsoluteTarget(c.Target), c.Absolute) << std::string(t.begin(), t.end());
  }
  EXPECT_FALSE(IsAbsoluteTarget(nullptr));
}

}  // namespace
