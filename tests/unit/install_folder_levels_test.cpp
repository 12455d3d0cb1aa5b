// The directories the install run makes for each name: only the levels a
// name does not share with the folder made last.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "install/folder_levels.h"

namespace {

// A file system of directories only, for the folder levels of a run.
std::set<std::u16string>* Directories;
std::vector<std::u16string>* Made;

// Levels that the run must not write into: making them answers an error.
std::set<std::u16string>* Refused;

uint32_t FakeMakeDirectory(const WChar* path) {
  std::u16string dir(path);
  Made->push_back(dir);
  if (Refused && Refused->count(dir)) return 4395;
  std::u16string parent = dir.substr(0, dir.rfind(u'\\'));
  if (Directories->count(parent)) Directories->insert(dir);
  return 0;
}

bool ParentExists(const std::u16string& path) { return Directories->count(path.substr(0, path.rfind(u'\\'))) > 0; }

TEST(InstallFolderLevels, AreMadeWhereANameLeavesTheLastFolder) {
  std::set<std::u16string> dirs = {u"C:\\T"};
  std::vector<std::u16string> made;
  Directories = &dirs;
  Made = &made;
  WChar madeFolder[260] = {};
  WChar path[260];
  const uint32_t namePosition = 5;  // after "C:\T\"
  struct Step {
    const char16_t* Name;
    std::vector<std::u16string> Made;
  } steps[] = {
      {u"top.txt", {}},
      {u"a\\b\\one.txt", {u"C:\\T\\a", u"C:\\T\\a\\b"}},
      {u"a\\b\\two.txt", {}},
      {u"a\\b\\c\\x.txt", {u"C:\\T\\a\\b\\c"}},
      {u"a\\bb\\y.txt", {u"C:\\T\\a\\bb"}},  // shares the text "a\\b", not the folder
      {u"a\\z.txt", {}},
      {u"d\\b\\w.txt", {u"C:\\T\\d", u"C:\\T\\d\\b"}},
      {u"top2.txt", {}},
      {u"a\\b\\three.txt", {u"C:\\T\\a", u"C:\\T\\a\\b"}},  // back in a folder left before
  };
  for (const Step& s : steps) {
    made.clear();
    std::u16string full = std::u16string(u"C:\\T\\") + s.Name;
    std::copy(full.c_str(), full.c_str() + full.size() + 1, path);
    EXPECT_EQ(MakeFolderLevels(path, namePosition, madeFolder, FakeMakeDirectory), 0u);
    EXPECT_EQ(std::u16string(path), full) << "the path is restored";
    EXPECT_EQ(made, s.Made) << std::string(full.begin(), full.end());
    EXPECT_TRUE(ParentExists(full));
  }

  // Someone removes the folder between two of its files: the run's next
  // open fails for the missing path, and once the folder made last is
  // forgotten the levels are made again, as for a new folder.
  dirs.erase(u"C:\\T\\a\\b");
  std::u16string four = u"C:\\T\\a\\b\\four.txt";
  std::copy(four.c_str(), four.c_str() + four.size() + 1, path);
  made.clear();
  MakeFolderLevels(path, namePosition, madeFolder, FakeMakeDirectory);
  EXPECT_TRUE(made.empty());
  EXPECT_FALSE(ParentExists(four));
  ForgetMadeFolder(madeFolder);
  MakeFolderLevels(path, namePosition, madeFolder, FakeMakeDirectory);
  EXPECT_EQ(made, (std::vector<std::u16string>{u"C:\\T\\a", u"C:\\T\\a\\b"}));
  EXPECT_TRUE(ParentExists(four));
}

TEST(InstallFolderLevels, ARefusedLevelStopsTheNameAndIsMetAgain) {
  std::set<std::u16string> dirs = {u"C:\\T"};
  std::set<std::u16string> refused = {u"C:\\T\\a\\link"};
  std::vector<std::u16string> made;
  Directories = &dirs;
  Made = &made;
  Refused = &refused;
  WChar madeFolder[260] = {};
  WChar path[260];
  const uint32_t namePosition = 5;
  for (int attempt = 0; attempt < 2; ++attempt) {
    std::u16string name = u"C:\\T\\a\\link\\deep\\x.dll";
    std::copy(name.c_str(), name.c_str() + name.size() + 1, path);
    made.clear();
    EXPECT_EQ(MakeFolderLevels(path, namePosition, madeFolder, FakeMakeDirectory), 4395u);
    EXPECT_EQ(std::u16string(path), name) << "the path is restored for the failure line";
    // Nothing below the refused level is made, and the next name that uses
    // the level asks for it again.
    EXPECT_EQ(made, (std::vector<std::u16string>{u"C:\\T\\a", u"C:\\T\\a\\link"}));
    EXPECT_EQ(madeFolder[0], 0);
  }
  Refused = nullptr;
}

}  // namespace
