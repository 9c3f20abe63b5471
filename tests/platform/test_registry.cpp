#include "platform/DesktopIntegration.h"
#include "platform/FileSystem.h"
#include "platform/Registry.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>
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

TEST(DesktopReflection, APortableCopyWritesItsEntryTypeAndContextMenus) {
  TTempDir dir;
  std::filesystem::create_directories(dir.File("opt dir"));
  const std::string exe = dir.Write("opt dir/tallyra", "");
  const TDesktopHomes homes{dir.File("share"), dir.File("config")};
  TRecordingTools tools;
  ASSERT_TRUE(ReflectIntoDesktop(AssociationStore(exe), homes, tools));

  const std::string quoted = "\"" + exe + "\"";
  EXPECT_EQ(ReadWholeFile(homes.Data + "/applications/tallyra.desktop"),
            "[Desktop Entry]\nType=Application\nName=Tallyra\nGenericName=SFV checker\n"
            "Comment=Check a set of files against its SFV file\nExec=" + quoted +
                " /C %f\nMimeType=text/x-sfv;\nTerminal=false\nCategories=Utility;Archiving;\n"
                "X-Tallyra-Association=true\n");
  const std::string mime = ReadWholeFile(homes.Data + "/mime/packages/tallyra.xml");
  EXPECT_NE(mime.find("<mime-type type=\"text/x-sfv\">"), std::string::npos) << mime;
  EXPECT_NE(mime.find("<glob pattern=\"*.sfv\"/>"), std::string::npos) << mime;
  // The default for .sfv files, and nothing else, in the user's mimeapps.list.
  EXPECT_EQ(ReadWholeFile(homes.Config + "/mimeapps.list"), "[Default Applications]\ntext/x-sfv=tallyra.desktop;\n");

  // The RAR verb lives in context menus only, each running the program with /M.
  const std::string service = ReadWholeFile(homes.Data + "/kio/servicemenus/tallyra-create-sfv-file.desktop");
  EXPECT_NE(service.find("Type=Service\n"), std::string::npos) << service;
  EXPECT_NE(service.find("MimeType=application/vnd.rar;\n"), std::string::npos) << service;
  EXPECT_NE(service.find("Name=Create SFV File\nExec=" + quoted + " /M %f\n"), std::string::npos) << service;
  const std::string script = homes.Data + "/nautilus/scripts/Create SFV File";
  EXPECT_EQ(ReadWholeFile(script), "#!/bin/sh\n# X-Tallyra-Association=true\n[ $# -gt 0 ] || exit 0\nexec '" +
                                       exe + "' /M \"$1\"\n");
  EXPECT_EQ(access(script.c_str(), X_OK), 0);
  const std::string nemo = ReadWholeFile(homes.Data + "/nemo/actions/tallyra-create-sfv-file.nemo_action");
  EXPECT_NE(nemo.find("Exec='" + exe + "' /M %F\n"), std::string::npos) << nemo;
  EXPECT_NE(nemo.find("Mimetypes=application/vnd.rar;\n"), std::string::npos) << nemo;
  // No application entry of ours speaks for an archive type.
  for (const auto& e : std::filesystem::directory_iterator(homes.Data + "/applications")) {
    EXPECT_EQ(ReadWholeFile(e.path().string()).find("vnd.rar"), std::string::npos) << e.path();
  }
  const std::vector<std::vector<std::string>> expected = {
      {"update-mime-database", homes.Data + "/mime"},
      {"update-desktop-database", homes.Data + "/applications"},
  };
  EXPECT_EQ(tools.Calls, expected);
}

TEST(DesktopReflection, AnInstalledCopyUsesItsOwnEntry) {
  TTempDir dir;
  const std::string exe = dir.Write("usr/bin/tallyra", "");
  dir.Write("usr/share/applications/tallyra.desktop", "[Desktop Entry]\n");
  const TDesktopHomes homes{dir.File("share"), dir.File("config")};
  // What a portable copy wrote before, and an entry of the user's own.
  dir.Write("share/applications/tallyra.desktop", "[Desktop Entry]\nX-Tallyra-Association=true\n");
  dir.Write("share/mime/packages/tallyra.xml", "<!-- X-Tallyra-Association=true -->\n");
  dir.Write("share/applications/mine.desktop", "[Desktop Entry]\nName=Mine\n");
  TRecordingTools tools;
  ASSERT_TRUE(ReflectIntoDesktop(AssociationStore(exe), homes, tools));
  EXPECT_FALSE(FileExists(homes.Data + "/applications/tallyra.desktop"));
  EXPECT_FALSE(FileExists(homes.Data + "/mime/packages/tallyra.xml"));
  EXPECT_TRUE(FileExists(homes.Data + "/applications/mine.desktop"));
  EXPECT_EQ(ReadWholeFile(homes.Config + "/mimeapps.list"), "[Default Applications]\ntext/x-sfv=tallyra.desktop;\n");
  EXPECT_NE(ReadWholeFile(homes.Data + "/kio/servicemenus/tallyra-create-sfv-file.desktop").find("Exec=" + exe + " /M %f"),
            std::string::npos);
}

TEST(DesktopReflection, WhatAnEarlierBuildWroteGoesWithItsDefaults) {
  TTempDir dir;
  const TDesktopHomes homes{dir.File("share"), dir.File("config")};
  const std::string verb = "tallyra-shell-application-vnd-rar-create-sfv-file.desktop";
  for (const std::string& old : std::vector<std::string>{"share/applications/tallyra-shell-sfv-open.desktop",
                                 "share/applications/tallyra-shell-sfv-check-sfv-file.desktop",
                                 "share/applications/" + verb, std::string("share/mime/packages/tallyra-shell-sfv.xml")}) {
    dir.Write(old, "[Desktop Entry]\n");
  }
  dir.Write("config/mimeapps.list", "[Default Applications]\napplication/vnd.rar=" + verb +
                                        ";\ntext/plain=gedit.desktop;\n\n[Added Associations]\napplication/vnd.rar=" +
                                        verb + ";ark.desktop;\ntext/x-sfv=tallyra-shell-sfv-open.desktop;\n");
  dir.Write("share/applications/mimeinfo.cache", "[MIME Cache]\napplication/vnd.rar=" + verb + ";ark.desktop;\n");
  TRecordingTools tools;
  ASSERT_TRUE(ReflectIntoDesktop(AssociationStore("/usr/bin/tallyra"), homes, tools));
  for (const auto& e : std::filesystem::recursive_directory_iterator(homes.Data)) {
    EXPECT_EQ(e.path().filename().string().find("tallyra-shell-"), std::string::npos) << e.path();
  }
  EXPECT_EQ(ReadWholeFile(homes.Config + "/mimeapps.list"),
            "[Default Applications]\ntext/plain=gedit.desktop;\ntext/x-sfv=tallyra.desktop;\n\n"
            "[Added Associations]\napplication/vnd.rar=ark.desktop;\n");
  EXPECT_EQ(ReadWholeFile(homes.Data + "/applications/mimeinfo.cache"), "[MIME Cache]\napplication/vnd.rar=ark.desktop;\n");

  // Once more changes nothing.
  auto listing = [&] {
    std::map<std::string, std::string> files;
    for (const std::string& root : {homes.Data, homes.Config}) {
      for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
        if (e.is_regular_file()) files[e.path().string()] = ReadWholeFile(e.path().string());
      }
    }
    return files;
  };
  const auto once = listing();
  ASSERT_TRUE(ReflectIntoDesktop(AssociationStore("/usr/bin/tallyra"), homes, tools));
  EXPECT_EQ(listing(), once);
}

TEST(DesktopReflection, MimeAppsListEdits) {
  const auto old = [](const std::string& id) { return id.rfind("old-", 0) == 0; };
  const std::vector<std::pair<std::string, std::string>> ours = {{"tallyra.desktop", "text/x-sfv"}};
  const struct {
    const char* What;
    std::string Before;
    std::string After;
  } cases[] = {
      {"empty", "", "[Default Applications]\ntext/x-sfv=tallyra.desktop;\n"},
      {"another default goes second", "[Default Applications]\ntext/x-sfv=other.desktop;\n",
       "[Default Applications]\ntext/x-sfv=tallyra.desktop;other.desktop;\n"},
      {"ours already first", "[Default Applications]\ntext/x-sfv=tallyra.desktop;x.desktop;\n",
       "[Default Applications]\ntext/x-sfv=tallyra.desktop;x.desktop;\n"},
      {"comments and other groups stay", "# mine\n[Removed Associations]\ntext/x-sfv=bad.desktop;\n",
       "# mine\n[Removed Associations]\ntext/x-sfv=bad.desktop;\n\n[Default Applications]\ntext/x-sfv=tallyra.desktop;\n"},
      {"lines without ours stay as written", "[Added Associations]\na/b=x.desktop\nc/d=\n",
       "[Added Associations]\na/b=x.desktop\nc/d=\n\n[Default Applications]\ntext/x-sfv=tallyra.desktop;\n"},
      {"old ids go, emptied keys too",
       "[Added Associations]\na/b=old-1.desktop;\nc/d=old-2.desktop;keep.desktop;\n[Default Applications]\n",
       "[Added Associations]\nc/d=keep.desktop;\n[Default Applications]\ntext/x-sfv=tallyra.desktop;\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(EditMimeAppsList(c.Before, old, ours), c.After) << c.What;
  EXPECT_EQ(EditMimeAppsList("[MIME Cache]\na/b=old-1.desktop;x;\n", old, {}), "[MIME Cache]\na/b=x;\n");
}

TEST(DesktopReflection, AStoreWithoutCommandsAsksForNoEntries) {
  TRegistryContents c;
  c.Keys[".sfv"] = TRegKey{".sfv", {{"", {TRegDataType::rdString, "Tallyra"}}}, {{"", ""}}};
  // ".sfv" names a type the store does not hold, or one without an open command.
  EXPECT_TRUE(PlanDesktopReflection(c, {"/h", "/c"}).Files.empty());
  c.Keys["tallyra"] = TRegKey{"Tallyra", {}, {}};
  const TDesktopReflection plan = PlanDesktopReflection(c, {"/h", "/c"});
  EXPECT_TRUE(plan.Files.empty());
  EXPECT_TRUE(plan.Defaults.empty());
}

TEST(DesktopReflection, AnUnwritableDataHomeIsReported) {
  TTempDir dir;
  dir.Write("share", "a file, not a folder");
  TRecordingTools tools;
  EXPECT_FALSE(ReflectIntoDesktop(AssociationStore("/usr/bin/tallyra"), {dir.File("share"), dir.File("config")}, tools));
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

// The real desktop tools, where the machine has them, read what the reflection wrote,
// in scratch data and config folders: the entry validates, .sfv files open with it, and
// .rar files open with whatever opened them before.
TEST(DesktopReflection, TheDesktopsOwnToolsAcceptTheFiles) {
  TTempDir dir;
  const TDesktopHomes homes{dir.File("share"), dir.File("config")};
  TSpawnDesktopTools tools;
  if (!tools.Run("update-desktop-database", {"--help"}) && !tools.Run("update-mime-database", {"-v"})) {
    GTEST_SKIP() << "the desktop's tools are not installed";
  }
  // An archive manager that opens .rar files, by default and by its MimeType line.
  dir.Write("share/applications/archiver.desktop",
            "[Desktop Entry]\nType=Application\nName=Archiver\nExec=archiver %f\nMimeType=application/vnd.rar;\n");
  dir.Write("config/mimeapps.list", "[Default Applications]\napplication/vnd.rar=archiver.desktop;\n");
  tools.Run("update-desktop-database", {homes.Data + "/applications"});
  auto query = [&](const std::string& type) {
    const std::string out = dir.File("query.out");
    tools.Run("sh", {"-c", "XDG_CURRENT_DESKTOP= DESKTOP_SESSION= XDG_DATA_HOME=\"$0\" XDG_CONFIG_HOME=\"$1\" "
                           "xdg-mime query default \"$2\" > \"$3\"",
                     homes.Data, homes.Config, type, out});
    return ReadWholeFile(out);
  };
  const bool haveXdgMime = tools.Run("sh", {"-c", "command -v xdg-mime"});
  const std::string rarBefore = haveXdgMime ? query("application/vnd.rar") : "";

  ASSERT_TRUE(ReflectIntoDesktop(AssociationStore("/usr/bin/tallyra"), homes, tools));
  if (tools.Run("desktop-file-validate", {"--help"})) {
    EXPECT_TRUE(tools.Run("desktop-file-validate", {homes.Data + "/applications/tallyra.desktop"}));
  }
  const std::string globs = ReadWholeFile(homes.Data + "/mime/globs2");
  EXPECT_NE(globs.find("text/x-sfv:*.sfv"), std::string::npos) << globs;
  const std::string cache = ReadWholeFile(homes.Data + "/applications/mimeinfo.cache");
  EXPECT_NE(cache.find("text/x-sfv=tallyra.desktop;"), std::string::npos) << cache;
  EXPECT_NE(cache.find("application/vnd.rar=archiver.desktop;\n"), std::string::npos) << cache;
  if (haveXdgMime) {
    EXPECT_EQ(rarBefore, "archiver.desktop\n");
    EXPECT_EQ(query("application/vnd.rar"), rarBefore);
    EXPECT_EQ(query("text/x-sfv"), "tallyra.desktop\n");
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
