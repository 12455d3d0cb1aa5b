// The command tail after the program name, and the silent switch in it.
#include <gtest/gtest.h>

#include <string>

#include "startup/command_tail.h"

namespace {

TEST(CommandTail, SkipsProgramNameAndBlanks) {
  struct Case {
    const char* Line;
    const char* Tail;
  } cases[] = {
      {"\"C:\\Downloads\\setup.exe\"  /S", "/S"},
      {"\"C:\\Downloads\\setup.exe\"-s", "-s"},            // no blank after the quote
      {"C:\\Downloads\\setup.exe -s", "-s"},
      {"setup.exe\t\t-silent now", "-silent now"},         // tabs are blanks
      {"\"C:\\Program Files\\setup.exe\" a \"b c\"", "a \"b c\""},
      {"\"C:\\no closing quote -s", ""},                   // the quote runs to the end
      {"\"\" -s", "-s"},                                   // empty quoted name
      {"\"setup.exe\"", ""},
      {"setup.exe", ""},
      {"setup.exe   ", ""},
      {"", ""},
      {" -s", "-s"},                                       // starts with a blank: empty name
      {"\x01\x1f-s", "-s"},                                // control bytes are blanks
      // A byte above 0x7F is a blank: the name ends there, and the rest of
      // the path becomes the tail.
      {"C:\\T\xe9l\xe9" "chargements\\setup.exe -s", "l\xe9" "chargements\\setup.exe -s"},
      {"setup\x80\xff" "x.exe /S", "x.exe /S"},
      {"\"C:\\T\xe9l\xe9\\setup.exe\" /S", "/S"},          // inside quotes it is part of the name
      {"setup.exe \xa0/S", "/S"},                          // and it is skipped after the name
  };
  for (const Case& c : cases) {
    const char* tail = FindCommandTail(c.Line);
    EXPECT_EQ(std::string(tail), c.Tail) << "line [" << c.Line << "]";
    // The tail points into the line itself.
    EXPECT_GE(tail, c.Line);
    EXPECT_LE(tail, c.Line + std::string(c.Line).size());
  }
}

TEST(CommandTail, SilentSwitchLooksAtTwoCharacters) {
  struct Case {
    const char* Tail;
    bool Silent;
  } cases[] = {
      {"-s", true},  {"-S", true},       {"/s", true},      {"/S", true},
      {"-silent", true}, {"/Sx", true},  {"/S extra", true},
      {"s", false},  {"S", false},       {"- s", false},    {"/q", false},
      {"-", false},  {"/", false},       {"", false},       {"--s", false},
      {"\\s", false}, {"-\xd3", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsSilentSwitch(c.Tail), c.Silent) << "[" << c.Tail << "]";
}

TEST(CommandTail, WholeLinesSelectTheFrontEnd) {
  struct Case {
    const char* Line;
    bool Silent;
  } cases[] = {
      {"\"C:\\setup.exe\"  /S", true}, {"\"C:\\setup.exe\"-s", true}, {"setup.exe -silent", true},
      {"setup.exe", false},           {"setup.exe s", false},       {"setup.exe - s", false},
      {"setup.exe /q", false},        {"\"C:\\x -s\"", false},       {"setup-s.exe", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsSilentSwitch(FindCommandTail(c.Line)), c.Silent) << c.Line;
}

}  // namespace

namespace {

std::u16string Text(const WChar* text) { return std::u16string(text); }

TEST(CommandTail, DeploymentSwitchesInAnyOrder) {
  struct Case {
    const char16_t* Line;
    bool DirGiven;
    const char16_t* Dir;
    bool LogGiven;
    const char16_t* Log;
    bool Suppress;
  } cases[] = {
      {u"setup.exe", false, u"", false, u"", false},
      {u"setup.exe /S", false, u"", false, u"", false},
      {u"setup.exe -s /SUPPRESSMSGBOXES", false, u"", false, u"", true},
      {u"setup.exe /suppressmsgboxes /s", false, u"", false, u"", true},
      {u"setup.exe /SUPPRESSMSGBOXESX", false, u"", false, u"", false},  // another name
      {u"\"C:\\a b\\setup.exe\" /S /D=C:\\Custom Dir", true, u"C:\\Custom Dir", false, u"", false},
      {u"setup.exe /D=\"C:\\Custom Dir\"  ", true, u"C:\\Custom Dir", false, u"", false},
      {u"setup.exe /S \"/D=C:\\Custom Dir\"", true, u"C:\\Custom Dir", false, u"", false},
      {u"setup.exe /d=C:\\x /LOG=C:\\l.txt", true, u"C:\\x /LOG=C:\\l.txt", false, u"", false},  // /D= is last
      {u"setup.exe /LOG=C:\\l.txt /S /D=C:\\x", true, u"C:\\x", true, u"C:\\l.txt", false},
      {u"setup.exe /LOG=\"C:\\my logs\\l.txt\" /S", false, u"", true, u"C:\\my logs\\l.txt", false},
      {u"setup.exe \"/log=C:\\my logs\\l.txt\"", false, u"", true, u"C:\\my logs\\l.txt", false},
      {u"setup.exe /LOG= /S", false, u"", true, u"", false},  // empty: refused by the caller
      {u"setup.exe /D=", true, u"", false, u"", false},
      {u"setup.exe /D=\"\"", true, u"", false, u"", false},
      {u"setup.exe junk \"more junk\" /X=1 -q /S", false, u"", false, u"", false},
      {u"setup.exe/D=C:\\x", false, u"", false, u"", false},  // part of the program name
      {u"setup.exe x/D=C:\\x", false, u"", false, u"", false},
      {u"setup.exe\t/D=relative\\dir", true, u"relative\\dir", false, u"", false},
  };
  for (const Case& c : cases) {
    CommandOptions o;
    ParseCommandOptions(reinterpret_cast<const WChar*>(c.Line), &o);
    std::u16string line(c.Line);
    EXPECT_EQ(o.DirGiven, c.DirGiven) << std::string(line.begin(), line.end());
    EXPECT_EQ(Text(o.Dir), c.Dir) << std::string(line.begin(), line.end());
    EXPECT_EQ(o.LogGiven, c.LogGiven) << std::string(line.begin(), line.end());
    EXPECT_EQ(Text(o.LogPath), c.Log) << std::string(line.begin(), line.end());
    EXPECT_EQ(o.SuppressMessageBoxes, c.Suppress) << std::string(line.begin(), line.end());
  }
}

TEST(CommandTail, OverlongPathsAreLeftEmpty) {
  std::u16string fits = u"C:\\" + std::u16string(PATH_CAPACITY - 4, u'a');
  std::u16string over = fits + u"b";
  CommandOptions o;
  ParseCommandOptions(reinterpret_cast<const WChar*>((u"s.exe /LOG=" + fits + u" /D=" + fits).c_str()), &o);
  EXPECT_EQ(Text(o.LogPath), fits);
  EXPECT_EQ(Text(o.Dir), fits);
  ParseCommandOptions(reinterpret_cast<const WChar*>((u"s.exe /LOG=" + over + over + u" /D=" + over).c_str()), &o);
  EXPECT_TRUE(o.LogGiven && o.DirGiven);
  EXPECT_EQ(Text(o.LogPath), u"");
  EXPECT_EQ(Text(o.Dir), u"");
}

}  // namespace
