// Text rules of the installation: the directory field, key path, command
// lines, shortcut split and link names, at their examples and their limits.
#include <gtest/gtest.h>

#include <string>

#include "install/install_text.h"

namespace {

std::u16string Repeat(char16_t c, size_t n) { return std::u16string(n, c); }

// A buffer with a guard band after the capacity, to see that nothing is
// written past it.
struct Guarded {
  static constexpr uint32_t Guard = 8;
  WChar Data[600];
  uint32_t Capacity;
  Guarded(const std::u16string& text, uint32_t capacity) : Capacity(capacity) {
    for (auto& c : Data) c = u'#';
    for (size_t i = 0; i < text.size() && i < capacity; ++i) Data[i] = text[i];
    if (text.size() < capacity) Data[text.size()] = 0;
  }
  bool GuardIntact() const {
    for (uint32_t i = Capacity; i < Capacity + Guard; ++i)
      if (Data[i] != u'#') return false;
    return true;
  }
  std::u16string Text() const { return std::u16string(Data); }
};

TEST(InstallText, DirectoryFieldNormalisation) {
  struct Case {
    std::u16string In;
    std::u16string Out;
    uint32_t Length;
    bool Valid;
  } cases[] = {
      {u"  C:\\Data  ", u"C:\\Data\\", 8, true},
      {u"C:\\Data\\", u"C:\\Data\\", 8, true},
      {u"C:", u"C:\\", 3, true},
      {u"C", u"C\\", 2, false},
      {u"\\\\server\\share", u"\\\\server\\share\\", 15, true},
      {u"\\\\", u"\\\\", 2, false},
      {u"apps\\sample", u"apps\\sample\\", 12, false},
      {u"   ", u"", 0, false},
      {u"", u"", 0, false},
      {u"\tC:\\x", u"\tC:\\x\\", 6, false},  // only blanks are trimmed
      {u" D:\\A B \\ ", u"D:\\A B \\", 8, true},
  };
  for (const Case& k : cases) {
    Guarded b(k.In, 260);
    uint32_t n = NormaliseDirText(b.Data, 260);
    EXPECT_EQ(n, k.Length) << std::string(k.In.begin(), k.In.end());
    EXPECT_EQ(b.Text(), k.Out);
    EXPECT_EQ(IsValidInstallDir(b.Data, n), k.Valid) << std::string(k.In.begin(), k.In.end());
  }
}

TEST(InstallText, DirectoryFieldAtTheBufferLimit) {
  std::u16string d258 = u"C:\\" + Repeat(u'a', 255);
  struct Case {
    std::u16string In;
    uint32_t Length;  // 0: refused, the text is emptied
  } cases[] = {
      {d258, 259},                       // the backslash just fits
      {d258 + u"a", 0},                  // 259 characters: no room for it
      {d258 + u"\\", 259},               // already ends in one
      {u"  " + d258 + u"a  ", 0},        // the blanks do not make room
      {u"  C:\\" + Repeat(u'a', 252) + u"  ", 256},
  };
  for (const Case& k : cases) {
    Guarded b(k.In, 260);
    EXPECT_EQ(NormaliseDirText(b.Data, 260), k.Length);
    if (k.Length == 0) EXPECT_EQ(b.Text(), u"");
    else EXPECT_EQ(b.Text().back(), u'\\');
    EXPECT_TRUE(b.GuardIntact());
  }
  // Not terminated within the capacity: refused without reading past it.
  Guarded full(Repeat(u'x', 20), 20);
  EXPECT_EQ(NormaliseDirText(full.Data, 20), 0u);
  EXPECT_TRUE(full.GuardIntact());
}

TEST(InstallText, EnsureTrailingBackslash) {
  struct Case {
    std::u16string In;
    uint32_t Capacity;
    uint32_t Position;  // 0: refused, text unchanged
    std::u16string Out;
  } cases[] = {
      {u"C:\\Program Files\\Sample", 260, 24, u"C:\\Program Files\\Sample\\"},
      {u"D:\\Apps\\Sample\\", 260, 15, u"D:\\Apps\\Sample\\"},
      {u"", 260, 0, u""},
      {u"C:\\abcd", 9, 8, u"C:\\abcd\\"},
      {u"C:\\abcde", 9, 0, u"C:\\abcde"},
      {u"C:\\abcd\\", 9, 8, u"C:\\abcd\\"},
  };
  for (const Case& k : cases) {
    Guarded b(k.In, k.Capacity);
    EXPECT_EQ(EnsureTrailingBackslash(b.Data, k.Capacity), k.Position);
    EXPECT_EQ(b.Text(), k.Out);
    EXPECT_TRUE(b.GuardIntact());
  }
}

TEST(InstallText, AppendProductFolder) {
  struct Case {
    std::u16string In;
    uint32_t Capacity;
    bool Fits;
    std::u16string Out;
  } cases[] = {
      {u"C:\\Program Files", 260, true, u"C:\\Program Files\\Sample"},
      {u"C:\\Program Files\\", 260, true, u"C:\\Program Files\\Sample"},
      {u"", 260, true, u"Sample"},
      {u"C:\\abc", 14, true, u"C:\\abc\\Sample"},   // 13 characters + terminator
      {u"C:\\abcd", 14, false, u""},                // one more does not fit: nothing half made
  };
  for (const Case& k : cases) {
    Guarded b(k.In, k.Capacity);
    EXPECT_EQ(AppendProductFolder(b.Data, k.Capacity, u"Sample"), k.Fits);
    EXPECT_EQ(b.Text(), k.Out);
    EXPECT_TRUE(b.GuardIntact());
  }
}

TEST(InstallText, UninstallKeyPath) {
  const std::string prefix = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
  ASSERT_EQ(prefix.size(), size_t{UNINSTALL_KEY_PREFIX_LENGTH});
  struct Case {
    std::u16string Name;
    bool Fits;
    std::string Key;
  } cases[] = {
      {u"Sample", true, prefix + "Sample"},
      {Repeat(u'N', 75), true, prefix + std::string(75, 'N')},
      {Repeat(u'N', 76), false, ""},
      {u"Caf\u00e9", true, prefix + "Caf\xe9"},
      {u"\u0141\u4e2d", true, prefix + "\x41\x2d"},  // low bytes, not a code-page conversion
      {u"A\u0100B", false, ""},                         // a low byte of 0 would end the key early
  };
  for (const Case& k : cases) {
    char key[UNINSTALL_KEY_CAPACITY + 8];
    memset(key, '#', sizeof key);
    EXPECT_EQ(BuildUninstallKeyPath(key, UNINSTALL_KEY_CAPACITY, k.Name.c_str()), k.Fits);
    EXPECT_EQ(std::string(key), k.Key);
    for (uint32_t i = UNINSTALL_KEY_CAPACITY; i < sizeof key; ++i) EXPECT_EQ(key[i], '#');
  }
  char key[UNINSTALL_KEY_CAPACITY];
  BuildUninstallKeyPath(key, UNINSTALL_KEY_CAPACITY, Repeat(u'N', 75).c_str());
  EXPECT_EQ(strlen(key), 127u);
}

TEST(InstallText, UninstallCommand) {
  const std::u16string program = u"C:\\Program Files\\Sample\\sample.exe";
  const std::u16string quoted = u"\"" + program + u"\"";
  WChar command[COMMAND_CAPACITY];
  uint32_t q = 0;
  ASSERT_TRUE(BuildQuotedProgram(command, COMMAND_CAPACITY, program.c_str(), &q));
  EXPECT_EQ(q, quoted.size());
  EXPECT_TRUE(AppendCommandArgs(command, COMMAND_CAPACITY, q, u"/uninstall"));
  EXPECT_EQ(std::u16string(command), quoted + u" /uninstall");
  EXPECT_TRUE(AppendCommandArgs(command, COMMAND_CAPACITY, q, nullptr));
  EXPECT_EQ(std::u16string(command), quoted);  // no trailing blank
}

TEST(InstallText, CommandTextAtItsLimit) {
  // A 259-character program path quoted takes 261 characters; 268 leave
  // room for a blank and five characters of arguments.
  const std::u16string program = u"C:\\" + Repeat(u'p', 256);
  struct Case {
    std::u16string Args;
    bool Fits;
  } cases[] = {{u"12345", true}, {u"123456", false}, {u"", true}};
  for (const Case& k : cases) {
    Guarded b(u"", COMMAND_CAPACITY);
    uint32_t q = 0;
    ASSERT_TRUE(BuildQuotedProgram(b.Data, COMMAND_CAPACITY, program.c_str(), &q));
    EXPECT_EQ(q, 261u);
    EXPECT_EQ(AppendCommandArgs(b.Data, COMMAND_CAPACITY, q, k.Args.c_str()), k.Fits);
    // Refused arguments leave the quoted program alone, never a cut argument.
    EXPECT_EQ(b.Text(), u"\"" + program + u"\"" + (k.Fits ? u" " + k.Args : u""));
    EXPECT_TRUE(b.GuardIntact());
  }
  Guarded small(u"", 10);
  uint32_t q = 0;
  EXPECT_FALSE(BuildQuotedProgram(small.Data, 10, u"C:\\abcde", &q));  // 8 + 2 quotes + terminator
  EXPECT_EQ(small.Text(), u"");
  EXPECT_TRUE(BuildQuotedProgram(small.Data, 10, u"C:\\abcd", &q));
  EXPECT_TRUE(small.GuardIntact());
}

TEST(InstallText, ConfigureArguments) {
  const std::u16string quoted = u"\"C:\\S\\s.exe\"";
  struct Case {
    std::u16string Format;
    uint32_t Window;
    std::u16string Previous;
    std::u16string Args;
  } cases[] = {
      {u"/config %d \"%s\"", 0, u"", u"/config 0 \"\""},                  // silent, fresh
      {u"/config %d \"%s\"", 0x1234, u"1.0", u"/config 4660 \"1.0\""},  // wizard, upgrade
      {u"/setup", 77, u"2.0", u"/setup"},                               // no conversions
      {u"%s|%s", 5, u"v", u"5|v"},  // a text conversion for the handle shows its value
      {u"%d %s %s", 9, u"v", u"9 v "},  // a third conversion has no argument
      {u"%x-%u%%", 255, u"", u"ff-0%"},  // a number conversion for the text shows 0
  };
  for (const Case& k : cases) {
    WChar command[COMMAND_CAPACITY];
    uint32_t q = 0;
    ASSERT_TRUE(BuildQuotedProgram(command, COMMAND_CAPACITY, u"C:\\S\\s.exe", &q));
    EXPECT_TRUE(AppendConfigureArgs(command, COMMAND_CAPACITY, q, k.Format.c_str(), k.Window, k.Previous.c_str()));
    EXPECT_EQ(std::u16string(command), quoted + u" " + k.Args);
  }
}

TEST(InstallText, ConfigureArgumentsThatDoNotFitAreRefused) {
  const std::u16string program = u"C:\\" + Repeat(u'p', 256);  // quoted: 261, room for 5
  struct Case {
    std::u16string Format;
    std::u16string Previous;
    bool Fits;
  } cases[] = {
      {u"%d", u"", true},
      {u"a%dbcd", u"", true},       // 5 characters
      {u"ab%dbcd", u"", false},     // 6
      {u"%d%s", u"1234", true},
      {u"%d%s", u"12345", false},
      {u"%d%s", Repeat(u'v', 31), false},  // cut expansions never reach the command
  };
  for (const Case& k : cases) {
    Guarded b(u"", COMMAND_CAPACITY);
    uint32_t q = 0;
    ASSERT_TRUE(BuildQuotedProgram(b.Data, COMMAND_CAPACITY, program.c_str(), &q));
    EXPECT_EQ(AppendConfigureArgs(b.Data, COMMAND_CAPACITY, q, k.Format.c_str(), 0, k.Previous.c_str()), k.Fits)
        << std::string(k.Format.begin(), k.Format.end());
    if (!k.Fits) {
      EXPECT_EQ(b.Text(), u"\"" + program + u"\"");
    }
    EXPECT_TRUE(b.GuardIntact());
  }
}

TEST(InstallText, EstimatedSize) {
  struct Case {
    uint64_t Total;
    uint32_t KiB;
  } cases[] = {
      {1048576, 1024}, {1023, 0}, {1024, 1}, {1, 0}, {2047, 1},
      {(1ull << 42) + 5 * 1024, 5},                 // the low 32 bits of the KiB count
      {0xFFFFFFFFull, 0x3FFFFF},
  };
  for (const Case& k : cases) EXPECT_EQ(EstimatedSizeKiB(k.Total), k.KiB) << k.Total;
}

TEST(InstallText, LaunchCommandSplitsAtItsLastBlank) {
  struct Case {
    std::u16string Command;
    std::u16string Target;
    const char16_t* Args;  // null: not set
  } cases[] = {
      {u"C:\\Sample\\app.exe /tray", u"C:\\Sample\\app.exe", u"/tray"},
      {u"C:\\Sample\\app.exe", u"C:\\Sample\\app.exe", nullptr},
      {u"C:\\Program Files\\Sample\\app.exe", u"C:\\Program", u"Files\\Sample\\app.exe"},
      {u"C:\\Sample\\app.exe ", u"C:\\Sample\\app.exe", u""},
      {u"C:\\Program Files\\app.exe -a -b", u"C:\\Program Files\\app.exe -a", u"-b"},
      {u"", u"", nullptr},
  };
  for (const Case& k : cases) {
    WChar command[LAUNCH_COMMAND_CAPACITY];
    WideCopy(command, LAUNCH_COMMAND_CAPACITY, k.Command.c_str());
    const WChar* args = SplitLaunchCommand(command);
    EXPECT_EQ(std::u16string(command), k.Target);
    if (k.Args) {
      ASSERT_NE(args, nullptr);
      EXPECT_EQ(std::u16string(args), k.Args);
    } else {
      EXPECT_EQ(args, nullptr);
    }
  }
}

TEST(InstallText, LinkPathAndRenameCandidate) {
  struct LinkCase {
    std::u16string Folder;
    uint32_t Capacity;
    bool Fits;
    std::u16string Out;
  } links[] = {
      {u"C:\\Users\\Public\\Desktop", 260, true, u"C:\\Users\\Public\\Desktop\\Sample.lnk"},
      {u"C:\\Desktop\\", 260, true, u"C:\\Desktop\\Sample.lnk"},
      {u"C:\\D", 16, true, u"C:\\D\\Sample.lnk"},   // 15 characters
      {u"C:\\DD", 16, false, u"C:\\DD"},            // 16: unchanged
  };
  for (const LinkCase& k : links) {
    Guarded b(k.Folder, k.Capacity);
    EXPECT_EQ(MakeLinkPath(b.Data, k.Capacity, u"Sample"), k.Fits);
    EXPECT_EQ(b.Text(), k.Out);
    EXPECT_TRUE(b.GuardIntact());
  }

  const std::u16string p254 = u"C:\\" + Repeat(u'f', 251);
  struct RenameCase {
    std::u16string Path;
    bool Fits;
  } renames[] = {{u"C:\\S\\sample.exe", true}, {p254, true}, {p254 + u"f", false}};
  for (const RenameCase& k : renames) {
    Guarded b(u"", 260);
    EXPECT_EQ(BuildRenameCandidate(b.Data, 260, k.Path.c_str(), u'c'), k.Fits);
    EXPECT_EQ(b.Text(), k.Fits ? k.Path + u".tmpc" : u"");
    EXPECT_TRUE(b.GuardIntact());
  }

  Guarded icon(u"", 21);
  EXPECT_TRUE(JoinPath(icon.Data, 21, u"C:\\Sample\\", u"sample.exe"));  // 20 characters
  EXPECT_EQ(icon.Text(), u"C:\\Sample\\sample.exe");
  EXPECT_FALSE(JoinPath(icon.Data, 21, u"C:\\Sample\\", u"sample.exe1"));
  EXPECT_EQ(icon.Text(), u"");
  EXPECT_TRUE(icon.GuardIntact());
}

}  // namespace
