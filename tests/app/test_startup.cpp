#include "app/CommandLine.h"
#include "app/Version.h"
#include "app/WindowLayout.h"
#include "platform/FileSystem.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <unistd.h>

TEST(CommandLine, DispatchTable) {
  TTempDir dir;
  const std::string sfv = dir.Write("set.sfv", "");
  const std::string rar = dir.Write("set.part1.rar", "");
  const std::string longSfv = LongPathName(sfv);
  const std::string longFolder = ExtractFilePath(longSfv);
  const struct {
    std::string Switch, File;
    TStartRequest Request;
    std::string CmdFile, WorkDir;
  } cases[] = {
      {"/C", sfv, TStartRequest::Check, longSfv, longFolder},
      {"/c", sfv, TStartRequest::Check, longSfv, longFolder},
      {"/M", rar, TStartRequest::Create, LongPathName(rar), longFolder},
      {"/m", rar, TStartRequest::Create, LongPathName(rar), longFolder},
      {"/C", dir.File("missing.sfv"), TStartRequest::None, "", ""},
      {"/M", "", TStartRequest::None, "", ""},
      {dir.Path() + "/./set.sfv", "", TStartRequest::Check, longSfv, dir.Path() + "/./"},
      {"debug", sfv, TStartRequest::None, "", ""},
      {"/X", sfv, TStartRequest::None, "", ""},
      {"", "", TStartRequest::None, "", ""},
  };
  for (const auto& c : cases) {
    const TStartPlan plan = DispatchCommandLine(c.Switch, c.File);
    EXPECT_EQ(plan.Request, c.Request) << c.Switch << " " << c.File;
    EXPECT_EQ(plan.CmdFile, c.CmdFile) << c.Switch << " " << c.File;
    EXPECT_EQ(plan.WorkDir, c.WorkDir) << c.Switch << " " << c.File;
  }
}

TEST(CommandLine, AFileAloneKeepsItsFolderAsTyped) {
  TTempDir dir;
  dir.Write("set.sfv", "");
  char* old = getcwd(nullptr, 0);
  ASSERT_EQ(chdir(dir.Path().c_str()), 0);
  const TStartPlan plan = DispatchCommandLine("set.sfv", "");
  EXPECT_EQ(chdir(old), 0);
  free(old);
  EXPECT_EQ(plan.Request, TStartRequest::Check);
  EXPECT_EQ(plan.WorkDir, "");  // no folder was typed
  EXPECT_EQ(plan.CmdFile, LongPathName(dir.File("set.sfv")));
}

TEST(CommandLine, TraceSwitchInAnyLetterCase) {
  EXPECT_TRUE(IsTraceSwitch("debug"));
  EXPECT_TRUE(IsTraceSwitch("DEBUG"));
  EXPECT_TRUE(IsTraceSwitch("DeBuG"));
  EXPECT_FALSE(IsTraceSwitch("debugx"));
  EXPECT_FALSE(IsTraceSwitch("/C"));
}

TEST(Version, TextsOfVersionAndBuildDate) {
  EXPECT_EQ(FormatVersionText({2, 0, 0, 295}), "Version 2.0.0 Build 295");
  EXPECT_EQ(FormatBuildDate(1038338423), "Tuesday, November 26, 2002 7:20:23 PM");
  EXPECT_EQ(FormatBuildDate(1767225909), "Thursday, January 1, 2026 12:05:09 AM");
  EXPECT_EQ(FormatBuildDate(1783166400), "Saturday, July 4, 2026 12:00:00 PM");
  const TFileVersion v = ProgramVersion();
  EXPECT_EQ(v.Major, 2u);
  EXPECT_EQ(v.Minor, 0u);
  EXPECT_EQ(v.Release, 0u);
}

TEST(WindowLayout, ButtonBars) {
  const struct {
    int Width;
    std::array<TSpan, 4> Spans;
  } cases[] = {
      {403, {{{2, 99}, {101, 99}, {200, 99}, {299, 100}}}},
      {400, {{{2, 99}, {101, 99}, {200, 99}, {299, 100}}}},
      {605, {{{2, 150}, {152, 150}, {302, 150}, {452, 151}}}},
      {0, {{{2, -1}, {1, -1}, {0, -1}, {-1, 0}}}},
  };
  for (const auto& c : cases) EXPECT_EQ(ButtonBarLayout(c.Width), c.Spans) << c.Width;
}

TEST(WindowLayout, StatusBar) {
  const TStatusLayout layout = StatusBarLayout(613);
  EXPECT_EQ(layout.Panel0, 306);
  EXPECT_EQ(layout.Panel1, 306);
  EXPECT_EQ(layout.Progress, (TSpan{306, 298}));
}

TEST(WindowLayout, StorePathItems) {
  using V = std::vector<std::string>;
  EXPECT_EQ(StorePathItems("/games/mods/maps"),
            (V{"DO NOT STORE PATHS", "maps", "mods/maps", "games/mods/maps"}));
  EXPECT_EQ(StorePathItems("/maps"), (V{"DO NOT STORE PATHS", "maps"}));
  EXPECT_EQ(StorePathItems("/"), (V{"DO NOT STORE PATHS", ""}));
  EXPECT_EQ(StorePathItems(""), (V{"DO NOT STORE PATHS"}));
}
