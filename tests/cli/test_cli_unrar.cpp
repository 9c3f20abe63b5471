#include "CliRun.h"
#include "TempDir.h"
#include "RarWriter.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {
struct TCliUnRar : ::testing::Test {
  TTempDir Dir;
  QString Q(const std::string& s) const { return QString::fromStdString(s); }
  std::string Sample(const char* name) const {
    return std::string(TALLYRA_TESTDATA_DIR) + "/rar/" + name;
  }
};
}  // namespace

TEST_F(TCliUnRar, ARealVolumeSetWithThePagesLines) {
  // A copy: archives made on Unix are repaired in place for the run (and put back).
  for (const char* part : {"rar3-vols.part1.rar", "rar3-vols.part2.rar", "rar3-vols.part3.rar"}) {
    std::filesystem::copy_file(Sample("rarfile/") + part, Dir.File(part));
  }
  const std::string before = ReadWholeFile(Dir.File("rar3-vols.part1.rar"));
  const TCliRun run = RunCli({"unrar", Q(Dir.File("rar3-vols.part1.rar")), Q(Dir.File("out"))});
  EXPECT_EQ(run.ExitCode, 0) << run.Out.toStdString();
  EXPECT_EQ(run.Out, "Checking RAR Version...\nRAR Version: 2.0\nOS: Unix\n"
                     "Extracted rar3-vols.part1.rar\nExtracted rar3-vols.part2.rar\n \nExtracted 2 files\n");
  EXPECT_EQ(RarTestCrc(ReadWholeFile(Dir.File("out/vols/bigfile.txt"))), 0x509ad74cu);
  EXPECT_EQ(ReadWholeFile(Dir.File("rar3-vols.part1.rar")), before);
}

TEST_F(TCliUnRar, TheDefaultDestinationIsBesideTheArchive) {
  TRarTestEntry entry{"a.txt", "alpha"};
  WriteRarArchive(Dir.File("backup.rar"), {entry});
  const TCliRun run = RunCli({"unrar", Q(Dir.File("backup.rar"))});
  EXPECT_EQ(run.ExitCode, 0);
  EXPECT_EQ(ReadWholeFile(Dir.File("backup/a.txt")), "alpha");
}

TEST_F(TCliUnRar, AMissingVolumeIsAskedForOrRefused) {
  TRarTestEntry big{"big.bin", std::string(300000, 'b')};
  TRarWriterOptions options;
  options.VolumeSize = 120000;
  WriteRarArchive(Dir.File("set.rar"), {big}, options);
  std::filesystem::rename(Dir.File("set.r00"), Dir.File("moved.r00"));

  const TCliRun refused = RunCli({"unrar", "--no-prompt", Q(Dir.File("set.rar")), Q(Dir.File("a"))});
  EXPECT_EQ(refused.ExitCode, 1);
  EXPECT_TRUE(refused.Out.contains("Extracted set.rar\n"));

  const TCliRun answered = RunCli({"unrar", Q(Dir.File("set.rar")), Q(Dir.File("b"))}, {}, [&](QProcess& p) {
    p.write(QByteArray::fromStdString(Dir.File("moved.r00") + "\n"));
    p.closeWriteChannel();
  });
  EXPECT_EQ(answered.ExitCode, 0) << answered.Out.toStdString();
  EXPECT_TRUE(answered.Err.contains("Volume ID: "));
  EXPECT_TRUE(answered.Out.contains("Extracted set.rar\nExtracted moved.r00\n"));
  EXPECT_EQ(ReadWholeFile(Dir.File("b/big.bin")), std::string(300000, 'b'));
}

TEST_F(TCliUnRar, FailuresAndBadStarts) {
  std::filesystem::copy_file(Sample("rarfile/rar3-comment-psw.rar"), Dir.File("psw.rar"));
  const TCliRun encrypted = RunCli({"unrar", Q(Dir.File("psw.rar")), Q(Dir.File("e"))});
  EXPECT_EQ(encrypted.ExitCode, 1);
  EXPECT_TRUE(encrypted.Out.contains("Error#: 26517\nError: Invalid password\n"));
  EXPECT_TRUE(encrypted.Out.endsWith("Extracted 0 files\n"));

  const struct {
    QStringList Args;
    QString ErrHas;
  } cases[] = {
      {{"unrar"}, "usage"},
      {{"unrar", "a", "b", "c"}, "usage"},
      {{"unrar", Q(Dir.File("missing.rar"))}, "Cannot open file"},
      {{"unrar", Q(Dir.Write("plain.txt", "no archive here, just text"))}, "Not a valid archive"},
  };
  for (const auto& c : cases) {
    const TCliRun run = RunCli(c.Args);
    EXPECT_EQ(run.ExitCode, 2) << c.Args.join(' ').toStdString();
    EXPECT_TRUE(run.Err.contains(c.ErrHas)) << run.Err.toStdString();
  }
}
