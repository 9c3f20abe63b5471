#include "platform/DesktopIntegration.h"
#include "platform/FileSystem.h"
#include "platform/Registry.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

namespace {

// The desktop's MIME database as a table.
TExtensionTypeLookup Types(std::map<std::string, std::string> table) {
  return [table](const std::string& ext) {
    const auto it = table.find(ext);
    return it == table.end() ? std::string() : it->second;
  };
}

struct TRecordingTools final : IDesktopTools {
  std::vector<std::vector<std::string>> Calls;
  bool Run(const std::string& program, const std::vector<std::string>& arguments) override {
    std::vector<std::string> call{program};
    call.insert(call.end(), arguments.begin(), arguments.end());
    Calls.push_back(call);
    return true;
  }
};

std::string What(const std::function<void()>& f) {
  try {
    f();
  } catch (const ERegistryException& e) {
    return e.what();
  }
  return "(nothing raised)";
}

}  // namespace

TEST(FileRegistry, KeysAndValuesSurviveInTheStoreFile) {
  TTempDir dir;
  const std::string store = dir.File("data/tallyra/classes.txt");
  {
    TFileRegistry reg(store, {});
    ASSERT_TRUE(reg.OpenKey("Tallyra\\shell\\open\\command", true));
    reg.WriteString("", "/opt/my tools/tallyra /C \"%1\"");
    reg.WriteString("Note", "a\\b \"quoted\"\nline");
    reg.CloseKey();
  }
  TFileRegistry reg(store, {});
  // Parents exist too, and names compare without regard to case.
  for (const char* key : {"Tallyra", "TALLYRA\\Shell", "\\tallyra\\shell\\open\\", "Tallyra\\shell\\open\\command"}) {
    EXPECT_TRUE(reg.KeyExists(key)) << key;
  }
  EXPECT_FALSE(reg.KeyExists("Tallyra\\shell\\edit"));
  ASSERT_TRUE(reg.OpenKeyReadOnly("tallyra\\SHELL\\open\\command"));
  EXPECT_EQ(reg.ReadString(""), "/opt/my tools/tallyra /C \"%1\"");
  EXPECT_EQ(reg.ReadString("note"), "a\\b \"quoted\"\nline");
  EXPECT_EQ(reg.ReadString("missing"), "");
  // The case first written is kept.
  EXPECT_NE(reg.Contents().Find("TALLYRA"), nullptr);
  EXPECT_EQ(reg.Contents().Find("TALLYRA")->Path, "Tallyra");
}

TEST(FileRegistry, WritesNeedAKeyOpenForWriting) {
  TTempDir dir;
  TFileRegistry reg(dir.File("classes.txt"), {});
  EXPECT_EQ(What([&] { reg.WriteString("", "x"); }), "Failed to set data for ''");
  EXPECT_FALSE(reg.OpenKey("Missing", false));
  EXPECT_EQ(What([&] { reg.WriteString("Name", "x"); }), "Failed to set data for 'Name'");
  ASSERT_TRUE(reg.OpenKey("Here", true));
  reg.CloseKey();
  ASSERT_TRUE(reg.OpenKeyReadOnly("Here"));
  EXPECT_EQ(What([&] { reg.WriteString("", "x"); }), "Failed to set data for ''");
  EXPECT_EQ(reg.ReadString(""), "");
}

TEST(FileRegistry, AnUnwritableStoreFailsTheWriteAndKeepsWhatWasThere) {
  TTempDir dir;
  const std::string store = dir.File("tallyra/classes.txt");
  {
    TFileRegistry reg(store, {});
    ASSERT_TRUE(reg.OpenKey(".sfv", true));
    reg.WriteString("", "Tallyra");
  }
  TFileRegistry reg(store, {});
  // A folder in the file's place stops every write, even for root.
  std::filesystem::remove(store);
  std::filesystem::create_directories(store + "/blocker");
  EXPECT_TRUE(reg.OpenKey(".sfv", false));  // held in the store already
  EXPECT_EQ(What([&] { reg.WriteString("", "Other"); }), "Failed to set data for ''");
  EXPECT_EQ(reg.ReadString(""), "Tallyra");  // the failed value is not kept either
  EXPECT_FALSE(reg.OpenKey("Tallyra", true));
  EXPECT_EQ(What([&] { reg.WriteString("", "Tallyra File"); }), "Failed to set data for ''");
  EXPECT_FALSE(reg.KeyExists("Tallyra"));
  EXPECT_TRUE(reg.KeyExists(".sfv"));
}

TEST(FileRegistry, ANonTextValueRaisesInvalidDataType) {
  TTempDir dir;
  const std::string store = dir.Write("classes.txt", "[.rar]\n@=hex:01,02,ff\n\"Text\"=\"ok\"\n");
  TFileRegistry reg(store, {});
  ASSERT_TRUE(reg.OpenKey(".rar", false));
  EXPECT_EQ(What([&] { reg.ReadString(""); }), "Invalid data type for ''");
  EXPECT_EQ(reg.ReadString("text"), "ok");
}

TEST(FileRegistry, FileTypeKeysTheStoreLacksReadAsTheDesktopsMimeType) {
  TTempDir dir;
  TFileRegistry reg(dir.File("classes.txt"), Types({{"rar", "application/vnd.rar"}}));
  EXPECT_TRUE(reg.KeyExists(".rar"));
  EXPECT_TRUE(reg.KeyExists(".RAR"));
  EXPECT_FALSE(reg.KeyExists(".zip"));
  EXPECT_FALSE(reg.KeyExists("rar"));
  EXPECT_FALSE(reg.KeyExists(".rar\\shell"));  // only the file-type key itself
  ASSERT_TRUE(reg.OpenKey(".rar", false));
  EXPECT_EQ(reg.ReadString(""), "application/vnd.rar");
  EXPECT_EQ(reg.ReadString("Other"), "");
  EXPECT_EQ(What([&] { reg.WriteString("", "x"); }), "Failed to set data for ''");
  EXPECT_FALSE(reg.OpenKey(".zip", false));
  // Nothing was written, so nothing is on disk.
  EXPECT_FALSE(FileExists(dir.File("classes.txt")));

  // A key written into the store wins over the desktop's answer.
  ASSERT_TRUE(reg.OpenKey(".rar", true));
  reg.WriteString("", "WinRAR");
  ASSERT_TRUE(reg.OpenKeyReadOnly(".rar"));
  EXPECT_EQ(reg.ReadString(""), "WinRAR");
}

TEST(FileRegistry, ReleasedContentsReachTheHookOnlyAfterAChange) {
  TTempDir dir;
  int calls = 0;
  std::string seen;
  auto hook = [&](const TRegistryContents& c) {
    ++calls;
    seen = c.DefaultText(".sfv");
  };
  { TFileRegistry reg(dir.File("classes.txt"), {}, hook); reg.KeyExists(".sfv"); }
  EXPECT_EQ(calls, 0);
  {
    TFileRegistry reg(dir.File("classes.txt"), {}, hook);
    reg.OpenKey(".sfv", true);
    reg.WriteString("", "Tallyra");
  }
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(seen, "Tallyra");
}

TEST(RegistryFile, FormatAndParseRoundTrip) {
  TRegistryContents c;
  TRegKey& k = c.Keys["a\\b"];
  k.Path = "A\\b";
  k.Values[""] = {TRegDataType::rdString, "q\"\\\r\n"};
  k.ValueNames[""] = "";
  k.Values["bin"] = {TRegDataType::rdBinary, std::string("\x00\xff", 2)};
  k.ValueNames["bin"] = "Bin";
  c.Keys["\xc2\xa4 x \xc2\xa4"].Path = "\xc2\xa4 x \xc2\xa4";
  const TRegistryContents back = ParseRegistryFile(FormatRegistryFile(c));
  EXPECT_EQ(FormatRegistryFile(back), FormatRegistryFile(c));
  EXPECT_EQ(back.DefaultText("a\\B"), "q\"\\\r\n");
  ASSERT_NE(back.Find("a\\b"), nullptr);
  EXPECT_EQ(back.Find("a\\b")->Values.at("bin").Data, std::string("\x00\xff", 2));
  EXPECT_EQ(back.Find("a\\b")->ValueNames.at("bin"), "Bin");
  EXPECT_NE(back.Find("\xc2\xa4 X \xc2\xa4"), nullptr);
  // Damaged lines are skipped, the rest is read.
  const TRegistryContents damaged = ParseRegistryFile("@=\"orphan\"\n[k]\n@=\"open\n\"n\"=hex:zz\n\"ok\"=\"1\"\n");
  EXPECT_EQ(damaged.Keys.size(), 1u);
  EXPECT_EQ(damaged.Find("k")->Values.size(), 1u);
}

TEST(ExecLine, WindowsCommandsBecomeDesktopEntryCommands) {
  TTempDir dir;
  std::filesystem::create_directories(dir.File("my tools"));
  const std::string program = dir.Write("my tools/tallyra", "");
  const std::string folder = dir.Path();
  const struct {
    std::string Command;
    std::string Exec;
  } cases[] = {
      // An unquoted program with a blank: the existing file decides where it ends.
      {program + " /C \"%1\"", "\"" + program + "\" /C %f"},
      {program + " /M \"%1\"", "\"" + program + "\" /M %f"},
      // No such file: the program part ends before the first switch.
      {"/nowhere/a b/tallyra /C \"%1\"", "\"/nowhere/a b/tallyra\" /C %f"},
      {"/usr/bin/tallyra /C %1", "/usr/bin/tallyra /C %f"},
      {"\"/opt/x y/t\" /C \"%1\"", "\"/opt/x y/t\" /C %f"},
      // Desktop-entry escapes inside quotes; a literal percent sign doubled.
      {"/opt/$a`b\"/100%/t /C \"%1\"", "\"/opt/\\$a\\`b\\\"/100%%/t\" /C %f"},
      {"/opt/t /C \"a b\"", "/opt/t /C \"a b\""},
      {"/opt/t", "/opt/t"},
  };
  for (const auto& c : cases) EXPECT_EQ(ExecLineFromCommand(c.Command), c.Exec) << c.Command;
  (void)folder;
}

namespace {

TRegistryContents AssociationStore(const std::string& exe) {
  TRegistryContents c;
  auto put = [&](const std::string& path, const std::string& value) {
    TRegKey& k = c.Keys[FoldRegistryPath(path)];
    k.Path = path;
    k.Values[""] = {TRegDataType::rdString, value};
    k.ValueNames[""] = "";
  };
  put(".sfv", "Tallyra");
  put("Tallyra", "Tallyra File");
  put("Tallyra\\DefaultIcon", exe + ",0");
  put("Tallyra\\shell\\open\\command", exe + " /C \"%1\"");
  put("Tallyra\\shell\\\xc2\xa4 Check SFV File \xc2\xa4\\command", exe + " /C \"%1\"");
  put("application/vnd.rar\\shell\\\xc2\xa4 Create SFV File \xc2\xa4\\command", exe + " /M \"%1\"");
  return c;
}

}  // namespace

TEST(DesktopReflection, WritesTheMimeTypeAndTheEntriesAndRunsTheTools) {
  TTempDir dir;
  std::filesystem::create_directories(dir.File("opt dir"));
  const std::string exe = dir.Write("opt dir/tallyra", "");
  const std::string home = dir.File("share");
  TRecordingTools tools;
  ASSERT_TRUE(ReflectIntoDesktop(AssociationStore(exe), home, tools));

  const std::string quoted = "\"" + exe + "\"";
  EXPECT_EQ(ReadWholeFile(home + "/applications/tallyra-shell-sfv-open.desktop"),
            "[Desktop Entry]\nType=Application\nName=Tallyra\nExec=" + quoted +
                " /C %f\nMimeType=text/x-sfv;\nNoDisplay=true\nTerminal=false\n");
  EXPECT_EQ(ReadWholeFile(home + "/applications/tallyra-shell-sfv-check-sfv-file.desktop"),
            "[Desktop Entry]\nType=Application\nName=\xc2\xa4 Check SFV File \xc2\xa4\nExec=" + quoted +
                " /C %f\nMimeType=text/x-sfv;\nNoDisplay=true\nTerminal=false\n");
  EXPECT_EQ(ReadWholeFile(home + "/applications/tallyra-shell-application-vnd-rar-create-sfv-file.desktop"),
            "[Desktop Entry]\nType=Application\nName=\xc2\xa4 Create SFV File \xc2\xa4\nExec=" + quoted +
                " /M %f\nMimeType=application/vnd.rar;\nNoDisplay=true\nTerminal=false\n");
  const std::string mime = ReadWholeFile(home + "/mime/packages/tallyra-shell-sfv.xml");
  EXPECT_NE(mime.find("<mime-type type=\"text/x-sfv\">"), std::string::npos) << mime;
  EXPECT_NE(mime.find("<glob pattern=\"*.sfv\"/>"), std::string::npos) << mime;
  EXPECT_NE(mime.find("<comment>Tallyra File</comment>"), std::string::npos) << mime;

  const std::vector<std::vector<std::string>> expected = {
      {"update-mime-database", home + "/mime"},
      {"update-desktop-database", home + "/applications"},
      {"xdg-mime", "default", "tallyra-shell-sfv-open.desktop", "text/x-sfv"},
  };
  EXPECT_EQ(tools.Calls, expected);
}

TEST(DesktopReflection, AgainGivesTheSameFilesAndStaleEntriesOfOursGo) {
  TTempDir dir;
  const std::string home = dir.File("share");
  TRecordingTools tools;
  TRegistryContents store = AssociationStore("/usr/bin/tallyra");
  ASSERT_TRUE(ReflectIntoDesktop(store, home, tools));
  auto listing = [&] {
    std::map<std::string, std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(home)) {
      if (e.is_regular_file()) files[e.path().string()] = ReadWholeFile(e.path().string());
    }
    return files;
  };
  const auto once = listing();
  ASSERT_TRUE(ReflectIntoDesktop(store, home, tools));
  EXPECT_EQ(listing(), once);

  // Another program's entry stays; ours for a type no longer registered goes.
  dir.Write("share/applications/other.desktop", "[Desktop Entry]\n");
  store.Keys.erase(FoldRegistryPath("application/vnd.rar\\shell\\\xc2\xa4 Create SFV File \xc2\xa4\\command"));
  ASSERT_TRUE(ReflectIntoDesktop(store, home, tools));
  EXPECT_TRUE(FileExists(home + "/applications/other.desktop"));
  EXPECT_FALSE(FileExists(home + "/applications/tallyra-shell-application-vnd-rar-create-sfv-file.desktop"));
  EXPECT_TRUE(FileExists(home + "/applications/tallyra-shell-sfv-open.desktop"));
}

TEST(DesktopReflection, AStoreWithoutCommandsAsksForNoEntries) {
  TRegistryContents c;
  c.Keys[".sfv"] = TRegKey{".sfv", {{"", {TRegDataType::rdString, "Tallyra"}}}, {{"", ""}}};
  // ".sfv" names a type the store does not hold: nothing to describe it with.
  EXPECT_TRUE(PlanDesktopReflection(c, "/h").Files.empty());
  c.Keys["tallyra"] = TRegKey{"Tallyra", {}, {}};
  const TDesktopReflection plan = PlanDesktopReflection(c, "/h");
  ASSERT_EQ(plan.Files.size(), 1u);  // the MIME definition only
  EXPECT_EQ(plan.Files[0].Path, "/h/mime/packages/tallyra-shell-sfv.xml");
  EXPECT_TRUE(plan.Defaults.empty());
}

TEST(DesktopReflection, AnUnwritableDataHomeIsReported) {
  TTempDir dir;
  dir.Write("share", "a file, not a folder");
  TRecordingTools tools;
  EXPECT_FALSE(ReflectIntoDesktop(AssociationStore("/usr/bin/tallyra"), dir.File("share"), tools));
}

TEST(DesktopTools, AbsentOrFailingProgramsReportFalse) {
  TSpawnDesktopTools tools;
  EXPECT_FALSE(tools.Run("tallyra-no-such-tool-anywhere", {}));
  EXPECT_TRUE(tools.Run("true", {}));
  EXPECT_FALSE(tools.Run("false", {}));
  TTempDir dir;
  EXPECT_TRUE(tools.Run("sh", {"-c", "echo hi > \"$0\"", dir.File("out")}));
  EXPECT_EQ(ReadWholeFile(dir.File("out")), "hi\n");
}

TEST(DesktopPaths, DataHomeFollowsXdgDataHome) {
  const char* old = std::getenv("XDG_DATA_HOME");
  const std::string saved = old != nullptr ? old : "";
  setenv("XDG_DATA_HOME", "/tmp/xdg-data", 1);
  EXPECT_EQ(DesktopDataHome(), "/tmp/xdg-data");
  EXPECT_EQ(RegistryStorePath(DesktopDataHome()), "/tmp/xdg-data/tallyra/classes.txt");
  setenv("XDG_DATA_HOME", "relative", 1);  // not absolute: ignored, as the XDG rules say
  setenv("HOME", "/home/someone", 1);
  EXPECT_EQ(DesktopDataHome(), "/home/someone/.local/share");
  if (old != nullptr) setenv("XDG_DATA_HOME", saved.c_str(), 1); else unsetenv("XDG_DATA_HOME");
}

// The real desktop tools, where the machine has them, read what the reflection wrote:
// a broken MIME definition or desktop entry would be rejected here, not in a user's session.
TEST(DesktopReflection, TheDesktopsOwnToolsAcceptTheFiles) {
  TTempDir dir;
  const std::string home = dir.File("share");
  TSpawnDesktopTools tools;
  if (!tools.Run("update-mime-database", {"-v"})) GTEST_SKIP() << "update-mime-database is not installed";
  // xdg-mime would touch the real user's settings: left out here.
  struct TNoDefaults final : IDesktopTools {
    TSpawnDesktopTools Real;
    bool Run(const std::string& program, const std::vector<std::string>& arguments) override {
      return program == "xdg-mime" || Real.Run(program, arguments);
    }
  } desktop;
  ASSERT_TRUE(ReflectIntoDesktop(AssociationStore("/usr/bin/tallyra"), home, desktop));
  const std::string globs = ReadWholeFile(home + "/mime/globs2");
  EXPECT_NE(globs.find("text/x-sfv:*.sfv"), std::string::npos) << globs;
  if (tools.Run("desktop-file-validate", {"--help"})) {
    for (const char* entry : {"tallyra-shell-sfv-open.desktop", "tallyra-shell-sfv-check-sfv-file.desktop",
                              "tallyra-shell-application-vnd-rar-create-sfv-file.desktop"}) {
      EXPECT_TRUE(tools.Run("desktop-file-validate", {home + "/applications/" + entry})) << entry;
    }
    const std::string cache = ReadWholeFile(home + "/applications/mimeinfo.cache");
    EXPECT_NE(cache.find("application/vnd.rar=tallyra-shell-application-vnd-rar-create-sfv-file.desktop"),
              std::string::npos) << cache;
  }
}

TEST(FileRegistry, AFailingReleaseHookDoesNotEscapeTheDestructor) {
  TTempDir dir;
  bool called = false;
  {
    TFileRegistry reg(dir.File("classes.txt"), {}, [&](const TRegistryContents&) {
      called = true;
      throw std::runtime_error("desktop folder gone");
    });
    ASSERT_TRUE(reg.OpenKey(".sfv", true));
    reg.WriteString("", "Tallyra");
  }
  EXPECT_TRUE(called);
  EXPECT_EQ(TFileRegistry(dir.File("classes.txt"), {}).Contents().DefaultText(".sfv"), "Tallyra");
}
