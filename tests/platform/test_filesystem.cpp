#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/SystemError.h"
#include "platform/SequentialFile.h"
#include "ChildProcess.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
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

TEST(LongPathName, GivesTheCleanAbsolutePathAndKeepsLinksAsNamed) {
  TTempDir dir;
  const std::string file = dir.Write("f.sfv", "x");
  const std::string canonical = LongPathName(file);
  ASSERT_TRUE(ForceDirectories(dir.File("sub")));
  EXPECT_EQ(LongPathName(dir.Path() + "/./sub/../f.sfv"), canonical);
  EXPECT_EQ(LongPathName(dir.Path() + "/sub/"), ExtractFilePath(canonical) + "sub");
  // A link stands in its own folder, like a shortcut: neither a link to a file elsewhere
  // nor a linked folder is resolved.
  TTempDir other;
  const std::string elsewhere = other.Write("set.rar", "x");
  ASSERT_EQ(symlink(elsewhere.c_str(), dir.File("link.rar").c_str()), 0);
  EXPECT_EQ(LongPathName(dir.File("link.rar")), ExtractFilePath(canonical) + "link.rar");
  ASSERT_EQ(symlink(other.Path().c_str(), dir.File("linked").c_str()), 0);
  EXPECT_EQ(LongPathName(dir.File("linked/set.rar")), ExtractFilePath(canonical) + "linked/set.rar");
  // A relative path becomes absolute.
  char* old = getcwd(nullptr, 0);
  ASSERT_EQ(chdir(dir.Path().c_str()), 0);
  const std::string relative = LongPathName("sub/../f.sfv");
  EXPECT_EQ(chdir(old), 0);
  free(old);
  EXPECT_EQ(relative, dir.Path() + "/f.sfv");
  // Nothing there: unchanged.
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
  EXPECT_EQ(SystemErrorText(ecNotRegularFifo), "Not a regular file: a named pipe (FIFO)\r\n");
}

namespace {
// A listening socket's file in the folder, as a running program leaves one.
void MakeSocketFile(const std::string& path, int& fd) {
  fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof address.sun_path);
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
}
}  // namespace

TEST(SequentialFile, OpensRegularFilesOnlyAndNeverBlocks) {
  TTempDir dir;
  dir.Write("file", "123456789");
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0644), 0);
  int socketFd = -1;
  MakeSocketFile(dir.File("socket"), socketFd);
  ASSERT_EQ(symlink(dir.File("fifo").c_str(), dir.File("link-to-fifo").c_str()), 0);
  const struct {
    std::string Path;
    int Code;
  } cases[] = {
      {dir.File("file"), 0},
      {dir.Path(), ecNotRegularFolder},
      {dir.File("fifo"), ecNotRegularFifo},
      {dir.File("link-to-fifo"), ecNotRegularFifo},
      {dir.File("socket"), ecNotRegularSocket},  // one that cannot even be opened
      {"/dev/null", ecNotRegularDevice},
      {dir.File("missing"), ENOENT},
  };
  for (const auto& c : cases) {
    // Nobody writes to the FIFO: an open that waited would wait for good.
    EXPECT_TRUE(FinishesWithin(10, [&] {
      std::string bytes;
      return ReadRegularFile(c.Path, bytes) == c.Code && (c.Code != 0 || bytes == "123456789");
    })) << c.Path;
  }
  close(socketFd);
}

TEST(SequentialFile, ReadsWholeAndReportsTheSize) {
  TTempDir dir;
  const std::string big(300000, 'x');
  TSequentialFile file;
  ASSERT_EQ(file.Open(dir.Write("big", big)), 0);
  EXPECT_EQ(file.Size(), big.size());
  std::string buffer(200000, '\0');
  EXPECT_EQ(file.Read(buffer.data(), buffer.size()), 200000);
  EXPECT_EQ(file.Read(buffer.data(), buffer.size()), 100000);  // the rest, then the end
  EXPECT_EQ(file.Read(buffer.data(), buffer.size()), 0);
  EXPECT_EQ(file.Close(), 0);
  std::string bytes;
  EXPECT_EQ(ReadRegularFile(dir.File("big"), bytes), 0);
  EXPECT_EQ(bytes, big);
  EXPECT_EQ(ReadRegularFile(dir.Write("empty", ""), bytes), 0);
  EXPECT_EQ(bytes, "");
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
