#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/SystemError.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <unistd.h>

TEST(PathParts, SplitAsTheWorkflowsExpect) {
  const struct {
    const char* Path;
    const char* Folder;
    const char* Name;
    const char* Ext;
  } cases[] = {
      {"/a/b/set.part01.rar", "/a/b/", "set.part01.rar", ".rar"},
      {"/a/b.d/name", "/a/b.d/", "name", ""},
      {"name.sfv", "", "name.sfv", ".sfv"},
      {"/", "/", "", ""},
      {"/a/.hidden", "/a/", ".hidden", ".hidden"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExtractFilePath(c.Path), c.Folder) << c.Path;
    EXPECT_EQ(ExtractFileName(c.Path), c.Name) << c.Path;
    EXPECT_EQ(ExtractFileExt(c.Path), c.Ext) << c.Path;
  }
  EXPECT_EQ(ChangeFileExt("/a/set.part01.rar", ".sfv"), "/a/set.part01.sfv");
  EXPECT_EQ(ChangeFileExt("/a.b/set", ".sfv"), "/a.b/set.sfv");
  EXPECT_EQ(AddBackslash("/a"), "/a/");
  EXPECT_EQ(AddBackslash("/a/"), "/a/");
  EXPECT_EQ(AddBackslash(""), "");
}

TEST(LongPathName, GivesTheCleanAbsolutePathOrTheInputUnchanged) {
  TTempDir dir;
  const std::string file = dir.Write("f.sfv", "x");
  const std::string canonical = LongPathName(file);
  ASSERT_TRUE(ForceDirectories(dir.File("sub")));
  EXPECT_EQ(LongPathName(dir.Path() + "/./sub/../f.sfv"), canonical);
  ASSERT_EQ(symlink(file.c_str(), dir.File("link").c_str()), 0);
  EXPECT_EQ(LongPathName(dir.File("link")), canonical);
  EXPECT_EQ(LongPathName(dir.File("missing/../x")), dir.File("missing/../x"));
  EXPECT_EQ(LongPathName(""), "");
}

TEST(FileQueries, SizesAttributesAndModes) {
  TTempDir dir;
  const std::string file = dir.Write("f", "12345");
  EXPECT_TRUE(FileExists(file));
  EXPECT_FALSE(FileExists(dir.Path()));
  EXPECT_TRUE(DirectoryExists(dir.Path()));
  EXPECT_EQ(FileSize(file).value_or(0), 5u);
  EXPECT_FALSE(FileSize(dir.File("missing")).has_value());
  EXPECT_EQ(LastSystemError(), ENOENT);

  ASSERT_TRUE(SetFileMode(file, 0444));
  EXPECT_EQ(*FileAttributes(file) & faReadOnly, faReadOnly);
  ASSERT_TRUE(SetNormalAttributes(file));
  EXPECT_EQ(*FileMode(file), 0644u);  // owner-write added, the rest kept
  EXPECT_EQ(*FileAttributes(dir.Path()) & faDirectory, faDirectory);
}

TEST(ForceDirectories, MakesEveryMissingLevel) {
  TTempDir dir;
  EXPECT_TRUE(ForceDirectories(dir.File("a/b/c")));
  EXPECT_TRUE(DirectoryExists(dir.File("a/b/c")));
  EXPECT_TRUE(ForceDirectories(dir.File("a/b/c")));
}

// What ForceDirectories makes can be taken away again, but only while it stays empty.
TEST(ForceDirectories, WhatItMadeGoesAgainWhileEmpty) {
  TTempDir dir;
  EXPECT_EQ(MissingFolders(dir.Path()), std::vector<std::string>{});
  EXPECT_EQ(MissingFolders(dir.File("a/b/c/")),
            (std::vector<std::string>{dir.File("a/b/c"), dir.File("a/b"), dir.File("a")}));
  const auto made = MissingFolders(dir.File("a/b/c"));
  ASSERT_TRUE(ForceDirectories(dir.File("a/b/c")));
  dir.Write("a/kept.txt", "x");
  RemoveEmptyFolders(made);
  EXPECT_FALSE(DirectoryExists(dir.File("a/b")));
  EXPECT_TRUE(DirectoryExists(dir.File("a")));
  RemoveEmptyFolders({dir.File("a")});
  EXPECT_TRUE(FileExists(dir.File("a/kept.txt")));
}

TEST(SystemErrorText, IsTheSystemTextWithCrLfOrUnknownError) {
  EXPECT_EQ(SystemErrorText(ENOENT), "No such file or directory\r\n");
  EXPECT_EQ(SystemErrorText(99999), "Unknown error");
}

// The paths of a program file with XDG_CONFIG_HOME set to configHome meanwhile.
static TProgramPaths PathsWithConfigHome(const std::string& exeName, const std::string& configHome) {
  const char* old = std::getenv("XDG_CONFIG_HOME");
  const std::string saved = old != nullptr ? old : "";
  setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
  const TProgramPaths paths = ProgramPathsFor(exeName);
  if (old != nullptr) setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  else unsetenv("XDG_CONFIG_HOME");
  return paths;
}

TEST(ProgramPaths, DataFolderIsTheProgramFolderWhenWritable) {
  TTempDir dir;
  const TProgramPaths paths = ProgramPathsFor(dir.File("tallyra"));
  EXPECT_EQ(paths.ExeDir, dir.Path());
  EXPECT_EQ(paths.DataDir, dir.Path());
  EXPECT_EQ(paths.IniPath(), dir.File("tallyra.ini"));
}

TEST(ProgramPaths, DataFolderFallsBackToTheXdgConfigFolder) {
  TTempDir dir;
  // A program folder nobody may write to (here: one that does not exist).
  const TProgramPaths paths = PathsWithConfigHome("/nonexistent-tallyra-folder/bin/tallyra", dir.Path());
  EXPECT_EQ(paths.ExeDir, "/nonexistent-tallyra-folder/bin");
  EXPECT_EQ(paths.DataDir, dir.Path() + "/tallyra");
  EXPECT_EQ(paths.DataFile("debug.txt"), dir.Path() + "/tallyra/debug.txt");
}

// An installed copy keeps its files in the configuration folder even where its program
// folder is writable (root running /usr/bin/tallyra, or a prefix in the user's home);
// a build folder and a portable copy keep them beside the program.
TEST(ProgramPaths, InstalledLayoutKeepsItsFilesOutOfTheProgramFolder) {
  const struct {
    const char* Beside;  // a file put next to bin/tallyra, relative to the prefix
    bool Installed;
  } cases[] = {
      {nullptr, false},
      {"bin/libunrar.so", false},  // the build folder and a portable copy
      {"lib/libunrar.so", false},  // some other program's library
      {"lib/tallyra/libunrar.so", true},
      {"share/applications/tallyra.desktop", true},
  };
  for (const auto& c : cases) {
    TTempDir prefix;
    ASSERT_TRUE(ForceDirectories(prefix.File("bin")));
    if (c.Beside != nullptr) {
      const std::string file = prefix.File(c.Beside);
      ASSERT_TRUE(ForceDirectories(ExtractFilePath(file)));
      prefix.Write(c.Beside, "x");
    }
    TTempDir config;
    const TProgramPaths paths = PathsWithConfigHome(prefix.File("bin/tallyra"), config.Path());

    const std::string what = c.Beside != nullptr ? c.Beside : "nothing";
    EXPECT_EQ(IsInstalledLayout(paths.ExeDir), c.Installed) << what;
    EXPECT_EQ(paths.ExeDir, prefix.File("bin")) << what;
    EXPECT_EQ(paths.IniPath(), c.Installed ? config.File("tallyra/tallyra.ini") : prefix.File("bin/tallyra.ini"))
        << what;
  }
}
