#include "CliRun.h"
#include "checksum/SfvFile.h"
#include "controls/FilCtl95.h"
#include "controls/RadioGroup.h"
#include "platform/FileSystem.h"
#include "WindowFixture.h"

#include <QStandardPaths>
#include <csignal>
#include <filesystem>
#include <thread>
#include <unistd.h>
#include <zlib.h>

namespace {

struct TCliCreate : TWindowFixture {
  std::string Set;
  void SetUp() override {
    Set = Dir.File("Show");
    std::filesystem::create_directory(Set);
    Dir.Write("Show/set.rar", "hello");
    Dir.Write("Show/set.r00", "123456789");
    Dir.Write("Show/my file.r01", std::string(40000, 'z'));
    Dir.Write("Show/other.nfo", "x");
  }
  QString InSet(const char* name) const { return Q(Set + "/" + name); }
  // Everything but the first line, which carries the time of writing.
  std::string WithoutFirstLine(const std::string& path) const {
    const std::string text = ReadWholeFile(path);
    return text.substr(text.find("\r\n") + 2);
  }
};

}  // namespace

TEST_F(TCliCreate, WritesWhatThePageWritesAndPrintsItsLog) {
  const TCliRun run = RunCli({"create", "--rule", "first", InSet("set.rar"), InSet("set.r00"),
                              InSet("my file.r01")});
  ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
  const std::string zs(40000, 'z');
  const auto zCrc = static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(zs.data()), static_cast<uInt>(zs.size())));
  EXPECT_EQ(run.Out, "set.rar CRC is 3610A686\nset.r00 CRC is CBF43926\nmy file.r01 CRC is " +
                         Q(CrcHexUpper(zCrc)) + "\n\nValidation file created\n");
  const std::string cliSfv = ReadWholeFile(Set + "/set.sfv");
  std::filesystem::rename(Set + "/set.sfv", Dir.File("cli.sfv"));

  // The page, same folder, same files in the same order, same rule.
  auto form = Open();
  form->Directory95ListBox2->SetDirectory(Q(Set));
  form->rdogrpFilename->SetItemIndex(0);
  for (int i = 0; i < form->FileListBox2->Count(); ++i) {
    if (form->FileListBox2->Name(i) != "other.nfo") form->FileListBox2->SetSelected(i, true);
  }
  form->GradBtn1Click();
  // The page lists files in its own order: compare entry by entry.
  const auto pageEntries = ReadSfvEntries(ReadWholeFile(Set + "/my file.sfv"));
  const auto cliEntries = ReadSfvEntries(cliSfv);
  ASSERT_EQ(pageEntries.size(), 3u);
  ASSERT_EQ(cliEntries.size(), 3u);
  for (const auto& e : cliEntries) {
    EXPECT_TRUE(std::any_of(pageEntries.begin(), pageEntries.end(), [&](const TSfvEntry& p) {
      return p.Name == e.Name && p.Crc == e.Crc;
    })) << e.Name;
  }
}

TEST_F(TCliCreate, TheSameListInTheSameOrderGivesTheSameFile) {
  // The page lists "my file.r01", "set.r00", "set.rar"; give the CLI that order.
  const TCliRun run = RunCli({"create", InSet("my file.r01"), InSet("set.r00"), InSet("set.rar")});
  ASSERT_EQ(run.ExitCode, 0);
  std::filesystem::rename(Set + "/Show.sfv", Dir.File("cli.sfv"));
  auto form = Open();
  form->Directory95ListBox2->SetDirectory(Q(Set));
  for (int i = 0; i < form->FileListBox2->Count(); ++i) {
    if (form->FileListBox2->Name(i) != "other.nfo") form->FileListBox2->SetSelected(i, true);
  }
  form->GradBtn1Click();
  EXPECT_EQ(WithoutFirstLine(Set + "/Show.sfv"), WithoutFirstLine(Dir.File("cli.sfv")));
}

TEST_F(TCliCreate, SetPicksTheFilesAnMStartWould) {
  const TCliRun run = RunCli({"create", "--set", InSet("set.r00")});
  ASSERT_EQ(run.ExitCode, 0);
  const auto entries = ReadSfvEntries(ReadWholeFile(Set + "/Show.sfv"));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].Name, "set.r00");
  EXPECT_EQ(entries[1].Name, "set.rar");
}

TEST_F(TCliCreate, ExitStatuses) {
  const struct {
    QStringList Args;
    int Exit;
    QString ErrHas;
  } cases[] = {
      {{"create", InSet("set.rar"), InSet("gone.rar")}, 1, "Error with file : gone.rar"},
      {{"create"}, 2, "usage"},
      {{"create", "--rule", "odd", InSet("set.rar")}, 2, "usage"},
      {{"create", InSet("set.rar"), Q(Dir.Write("elsewhere.bin", "x"))}, 2, "one folder"},
      {{"create", "--rule", "custom:no/such/x", InSet("set.rar")}, 2, "Cannot create file"},
      {{"create", "--set", InSet("missing.rar")}, 2, "no such file"},
      {{"frobnicate"}, 2, "unknown command"},
  };
  for (const auto& c : cases) {
    const TCliRun run = RunCli(c.Args);
    EXPECT_EQ(run.ExitCode, c.Exit) << c.Args.join(' ').toStdString();
    EXPECT_TRUE(run.Err.contains(c.ErrHas)) << run.Err.toStdString();
  }
  const TCliRun help = RunCli({"create", "--help"});
  EXPECT_EQ(help.ExitCode, 0);
  EXPECT_TRUE(help.Out.contains("--set FILE"));
}

TEST_F(TCliCreate, CtrlCStopsAndWritesNothing) {
  Dir.Write("Show/Show.sfv", "old");
  const std::string big = Set + "/set.r02";
  Dir.Write("Show/set.r02", "");
  ASSERT_EQ(truncate(big.c_str(), 8ll << 30), 0);
  const TCliRun run = RunCli({"create", "--set", InSet("set.rar")}, {}, [](QProcess& p) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(static_cast<pid_t>(p.processId()), SIGINT);
  });
  EXPECT_EQ(run.ExitCode, 3);
  EXPECT_TRUE(run.Out.endsWith("User halted\n"));
  EXPECT_EQ(ReadWholeFile(Set + "/Show.sfv"), "old");
}

TEST_F(TCliCreate, OtherToolsVerifyTheSfv) {
  ASSERT_EQ(RunCli({"create", InSet("set.rar"), InSet("set.r00"), InSet("my file.r01")}).ExitCode, 0);
  for (const char* tool : {"rhash", "cksfv"}) {
    ASSERT_FALSE(QStandardPaths::findExecutable(tool).isEmpty()) << tool << " is a test dependency";
  }
  EXPECT_EQ(RunTool("rhash", {"-c", "Show.sfv"}, Q(Set)), 0);
  EXPECT_EQ(RunTool("cksfv", {"-f", "Show.sfv"}, Q(Set)), 0);
  // A changed file fails with both.
  Dir.Write("Show/set.r00", "123456780");
  EXPECT_NE(RunTool("rhash", {"-c", "Show.sfv"}, Q(Set)), 0);
  EXPECT_NE(RunTool("cksfv", {"-f", "Show.sfv"}, Q(Set)), 0);
}

TEST_F(TCliCreate, ALinkToAFileElsewhereStaysInTheFolderNamed) {
  // The other folder already holds an SFV of the same name: it must stay untouched.
  const std::string other = Dir.File("Other");
  std::filesystem::create_directory(other);
  Dir.Write("Other/target.rar", "123456789");
  Dir.Write("Other/Show.sfv", "theirs");
  ASSERT_EQ(symlink((other + "/target.rar").c_str(), (Set + "/link.rar").c_str()), 0);
  const TCliRun run = RunCli({"create", InSet("link.rar")});
  ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
  EXPECT_EQ(ReadWholeFile(other + "/Show.sfv"), "theirs");
  const auto entries = ReadSfvEntries(ReadWholeFile(Set + "/Show.sfv"));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].Name, "link.rar");
  EXPECT_EQ(entries[0].Crc, "cbf43926");
  // The details line names the link too, not its target.
  EXPECT_NE(ReadWholeFile(Set + "/Show.sfv").find("    link.rar\r\n"), std::string::npos);
}

TEST_F(TCliCreate, NothingIsWrittenOutsideTheFilesFolder) {
  for (const char* custom : {"custom:../up", "custom:sub/down", "custom:/tmp/abs"}) {
    std::filesystem::create_directory(Set + "/sub");
    const TCliRun run = RunCli({"create", "--rule", custom, InSet("set.rar")});
    EXPECT_EQ(run.ExitCode, 2) << custom;
    EXPECT_TRUE(run.Err.startsWith("Cannot create file ")) << run.Err.toStdString();
  }
  EXPECT_FALSE(std::filesystem::exists(Dir.File("up.sfv")));
  EXPECT_FALSE(std::filesystem::exists(Set + "/sub/down.sfv"));
  EXPECT_FALSE(std::filesystem::exists("/tmp/abs.sfv"));
}

TEST_F(TCliCreate, DoubleDashEndsTheOptions) {
  Dir.Write("Show/-x.rar", "123456789");
  const TCliRun run = RunCli({"create", "--rule", "custom:made", "--", "-x.rar", "set.rar"}, Q(Set));
  ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
  const auto entries = ReadSfvEntries(ReadWholeFile(Set + "/made.sfv"));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].Name, "-x.rar");
}

TEST(CliManners, UsageVersionAndUnknownOptions) {
  // Every help and usage text ends with a line break; an unknown option is named.
  const struct {
    QStringList Args;
    int Exit;
    bool ToOut;
    QString Starts;
  } cases[] = {
      {{}, 2, false, "usage: tallyra-cli COMMAND"},
      {{"--help"}, 0, true, "usage: tallyra-cli COMMAND"},
      {{"-x"}, 2, false, "tallyra-cli: unknown option: -x\nusage:"},
      {{"create", "--help"}, 0, true, "usage: tallyra-cli create"},
      {{"check", "-h"}, 0, true, "usage: tallyra-cli check"},
      {{"unrar", "--help"}, 0, true, "usage: tallyra-cli unrar"},
      {{"create", "-x", "a"}, 2, false, "tallyra-cli: unknown option: -x\nusage: tallyra-cli create"},
      {{"check", "--frob=1"}, 2, false, "tallyra-cli: unknown option: --frob\nusage: tallyra-cli check"},
      {{"unrar", "-x", "a.rar"}, 2, false, "tallyra-cli: unknown option: -x\nusage: tallyra-cli unrar"},
      {{"create", "--rule"}, 2, false, "tallyra-cli: option --rule needs a value\n"},
      {{"check"}, 2, false, "tallyra-cli: no SFV file given\n"},
  };
  for (const auto& c : cases) {
    const TCliRun run = RunCli(c.Args);
    const QString& text = c.ToOut ? run.Out : run.Err;
    EXPECT_EQ(run.ExitCode, c.Exit) << c.Args.join(' ').toStdString();
    EXPECT_TRUE(text.startsWith(c.Starts)) << c.Args.join(' ').toStdString() << "\n" << text.toStdString();
    EXPECT_TRUE(text.endsWith("\n")) << c.Args.join(' ').toStdString();
  }
  const TCliRun version = RunCli({"--version"});
  EXPECT_EQ(version.ExitCode, 0);
  EXPECT_EQ(version.Out, QString("tallyra-cli %1\n").arg(TALLYRA_VERSION_TEXT));
}
