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
