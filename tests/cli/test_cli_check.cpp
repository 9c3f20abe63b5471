#include "CliRun.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
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
      {{"check", "a.sfv", "b.sfv"}, "usage"},
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
