#include "CliRun.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

struct TCliCheck : ::testing::Test {
  TTempDir Dir;
  QString Q(const std::string& s) const { return QString::fromStdString(s); }
  // The shared set with the SFV files other tools wrote for it, side by side.
  void CopySharedSet() {
    const std::filesystem::path shared = std::filesystem::path(TALLYRA_TESTDATA_DIR) / "sfv";
    for (const auto& file : std::filesystem::directory_iterator(shared / "set")) {
      std::filesystem::copy_file(file.path(), Dir.File(file.path().filename().string()));
    }
    for (const char* sfv : {"by-rhash.sfv", "by-cksfv.sfv", "crlf-mixed.sfv"}) {
      std::filesystem::copy_file(shared / sfv, Dir.File(sfv));
    }
  }
};

}  // namespace

TEST_F(TCliCheck, SfvFilesOfOtherTools) {
  CopySharedSet();
  const struct {
    const char* Sfv;
    int Exit;
    const char* Verdict;
  } cases[] = {
      {"by-rhash.sfv", 0, "All passed!"},
      {"by-cksfv.sfv", 0, "All passed!"},
      {"crlf-mixed.sfv", 1, " 2 Failed!"},
  };
  for (const auto& c : cases) {
    const TCliRun run = RunCli({"check", Q(Dir.File(c.Sfv))});
    EXPECT_EQ(run.ExitCode, c.Exit) << c.Sfv;
    EXPECT_TRUE(run.Out.contains(QString("Checking done                 ") + c.Verdict)) << run.Out.toStdString();
  }
  const TCliRun mixed = RunCli({"check", Q(Dir.File("crlf-mixed.sfv"))});
  EXPECT_TRUE(mixed.Out.startsWith("check.txt                     Failed      cbf43927\n"));
  EXPECT_TRUE(mixed.Out.contains("\nnot-here.bin                  Not Found   \n"));
  EXPECT_TRUE(mixed.Out.contains("\nPassed :                      4           \n"));
  EXPECT_TRUE(mixed.Err.startsWith("Error with file : check.txt\nCRC validation failed\n"
                                   "Read from SFV File: cbf43927\nActual CRC:         cbf43926\n"));
  EXPECT_TRUE(mixed.Err.contains("Error with file : not-here.bin\n"));
}

TEST_F(TCliCheck, BadStartsExitWithTwo) {
  const struct {
    QStringList Args;
    QString ErrHas;
  } cases[] = {
      {{"check"}, "usage"},
      {{"check", "-x", "a.sfv"}, "tallyra-cli: unknown option: -x\nusage"},
      {{"check", Q(Dir.File("missing.sfv"))}, "Cannot open file"},
      {{"check", Q(Dir.Path())}, "Cannot open file"},
  };
  for (const auto& c : cases) {
    const TCliRun run = RunCli(c.Args);
    EXPECT_EQ(run.ExitCode, 2) << c.Args.join(' ').toStdString();
    EXPECT_TRUE(run.Err.contains(c.ErrHas)) << run.Err.toStdString();
  }
}

TEST_F(TCliCheck, CtrlCEndsWithTheHaltedItems) {
  Dir.Write("big.bin", "");
  ASSERT_EQ(truncate(Dir.File("big.bin").c_str(), 8ll << 30), 0);
  Dir.Write("a.sfv", "big.bin 00000000\r\nnext.bin 00000000\r\n");
  const TCliRun run = RunCli({"check", Q(Dir.File("a.sfv"))}, {}, [](QProcess& p) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(static_cast<pid_t>(p.processId()), SIGINT);
  });
  EXPECT_EQ(run.ExitCode, 3);
  // The first column is 19 wide ("Total files : " and 5), the second 12.
  EXPECT_TRUE(run.Out.endsWith("\nChecked 1 of 2 files" + QString(12, ' ') + "\nChecking Halted" +
                               QString(4 + 12, ' ') + "\n"))
      << run.Out.toStdString();
}

TEST_F(TCliCheck, FindsTheFilesOfWindowsMadeSfvFiles) {
  std::filesystem::create_directories(Dir.File("CD1"));
  Dir.Write("CD1/Part.One.rar", "123456789");
  Dir.Write("Readme.NFO", "123456789");
  Dir.Write("Caf\xC3\xA9.rar", "123456789");
  auto utf16 = [](const std::string& ascii) {
    std::string bytes = "\xFF\xFE";
    for (char c : ascii) bytes += std::string{c, '\0'};
    return bytes;
  };
  const struct {
    const char* Sfv;
    std::string Bytes;
    const char* Listed;
  } cases[] = {
      {"subfolder.sfv", "CD1\\Part.One.rar CBF43926\r\n", "CD1\\Part.One.rar  "},
      {"case.sfv", "; by a Windows tool\r\nreadme.nfo cbf43926\r\ncd1\\PART.ONE.RAR CBF43926\r\n", "readme.nfo  "},
      {"bom.sfv", "\xEF\xBB\xBF" "Readme.NFO CBF43926\r\n", "Readme.NFO  "},
      {"utf16.sfv", utf16("Caf\xE9.rar CBF43926\r\n"), "Caf\xC3\xA9.rar  "},
      {"ansi.sfv", "Caf\xE9.rar CBF43926\r\n", "Caf\xC3\xA9.rar  "},
  };
  for (const auto& c : cases) {
    Dir.Write(c.Sfv, c.Bytes);
    const TCliRun run = RunCli({"check", Q(Dir.File(c.Sfv))});
    EXPECT_EQ(run.ExitCode, 0) << c.Sfv << "\n" << run.Out.toStdString() << run.Err.toStdString();
    EXPECT_TRUE(run.Out.startsWith(QString::fromUtf8(c.Listed))) << run.Out.toStdString();
    EXPECT_TRUE(run.Out.contains("All passed!")) << c.Sfv;
  }
}

TEST_F(TCliCheck, FifosNeverHangIt) {
  ASSERT_EQ(mkfifo(Dir.File("pipe.bin").c_str(), 0644), 0);
  ASSERT_EQ(mkfifo(Dir.File("pipe.sfv").c_str(), 0644), 0);
  Dir.Write("a.sfv", "pipe.bin 00000000\r\n");
  // Nobody writes to the FIFOs: a read that waited would wait for good.
  const TCliRun entry = RunCli({"check", Q(Dir.File("a.sfv"))}, {}, {}, 20000);
  EXPECT_EQ(entry.ExitCode, 1);
  EXPECT_TRUE(entry.Out.startsWith("pipe.bin")) << entry.Out.toStdString();
  EXPECT_TRUE(entry.Err.contains("Error with file : pipe.bin\nNot a regular file: a named pipe (FIFO)\r\n"))
      << entry.Err.toStdString();
  const TCliRun sfv = RunCli({"check", Q(Dir.File("pipe.sfv"))}, {}, {}, 20000);
  EXPECT_EQ(sfv.ExitCode, 2);
  EXPECT_TRUE(sfv.Err.startsWith("Cannot open file " + Q(Dir.File("pipe.sfv")))) << sfv.Err.toStdString();
}

TEST_F(TCliCheck, SeveralSfvFilesQuietAndEmpty) {
  Dir.Write("good.bin", "123456789");
  Dir.Write("pass.sfv", "good.bin CBF43926\r\n");
  Dir.Write("fail.sfv", "good.bin CBF43926\r\nbad.bin CBF43926\r\n");
  Dir.Write("empty.sfv", "; comments only\r\n\r\n");
  const struct {
    QStringList Args;
    int Exit;
  } worst[] = {
      {{"pass.sfv"}, 0},
      {{"pass.sfv", "fail.sfv"}, 1},
      {{"fail.sfv", "pass.sfv"}, 1},
      {{"pass.sfv", "missing.sfv", "fail.sfv"}, 2},
      {{"empty.sfv"}, 2},
      {{"pass.sfv", "empty.sfv"}, 2},
  };
  for (const auto& c : worst) {
    EXPECT_EQ(RunCli(QStringList{"check"} + c.Args, Q(Dir.Path())).ExitCode, c.Exit) << c.Args.join(' ').toStdString();
  }
  // Each is judged with its own summary, headed by its name.
  const TCliRun both = RunCli({"check", "pass.sfv", "fail.sfv"}, Q(Dir.Path()));
  EXPECT_TRUE(both.Out.startsWith("pass.sfv:\ngood.bin ")) << both.Out.toStdString();
  EXPECT_TRUE(both.Out.contains("All passed!"));
  EXPECT_TRUE(both.Out.contains("\n\nfail.sfv:\ngood.bin "));
  EXPECT_TRUE(both.Out.contains(" 1 Failed!"));
  EXPECT_EQ(both.Out.count("Total files :"), 2);
  // Quiet: only what did not pass, then the summary.
  const TCliRun quiet = RunCli({"check", "--quiet", "fail.sfv"}, Q(Dir.Path()));
  EXPECT_EQ(quiet.ExitCode, 1);
  EXPECT_TRUE(quiet.Out.startsWith("bad.bin            Not Found   \n" + QString(31, ' ') + "\n")) << quiet.Out.toStdString();
  EXPECT_FALSE(quiet.Out.contains("good.bin"));
  EXPECT_EQ(RunCli({"check", "-q", "pass.sfv"}, Q(Dir.Path())).Out.count('\n'), 10);  // the summary alone
  // An SFV without entries shows the summary and says so.
  const TCliRun empty = RunCli({"check", "empty.sfv"}, Q(Dir.Path()));
  EXPECT_TRUE(empty.Out.contains("Total files :      0")) << empty.Out.toStdString();
  EXPECT_EQ(empty.Err, "tallyra-cli: empty.sfv: no entries\n");
}

TEST_F(TCliCheck, DoubleDashEndsTheOptions) {
  Dir.Write("-q.sfv", "; nothing\r\n-x.bin CBF43926\r\n");
  Dir.Write("-x.bin", "123456789");
  const TCliRun run = RunCli({"check", "--", "-q.sfv"}, Q(Dir.Path()));
  EXPECT_EQ(run.ExitCode, 0) << run.Err.toStdString();
  EXPECT_TRUE(run.Out.startsWith("-x.bin ")) << run.Out.toStdString();
}
