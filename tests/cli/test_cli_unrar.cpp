#include "CliRun.h"
#include "ReadOnlyInput.h"
#include "TempDir.h"
#include "RarWriter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

namespace fs = std::filesystem;

namespace {
const std::string RarDir = std::string(TALLYRA_TESTDATA_DIR) + "/rar";

struct TCliUnRar : ::testing::Test {
  TTempDir Dir;
  QString Q(const std::string& s) const { return QString::fromStdString(s); }
  std::string Sample(const char* name) const { return RarDir + "/" + name; }
};

// The first volume of every set in the collection, and the other files of its set.
std::map<std::string, std::vector<std::string>> SampleSets() {
  std::map<std::string, std::vector<std::string>> sets;
  std::ifstream in(RarDir + "/MANIFEST.md");
  std::string line, path;
  while (std::getline(in, line)) {
    if (line.rfind("== ", 0) == 0) path = line.substr(3, line.find(' ', 3) - 3);
    if (path.empty() || line.find("type=MAIN") == std::string::npos) continue;
    const bool volume = line.find("volume=True") != std::string::npos;
    if (volume && line.find("first_volume=True") == std::string::npos) {
      path.clear();
      continue;
    }
    const std::string name = fs::path(path).filename().string();
    const std::string stem = name.substr(0, name.find('.'));
    auto& files = sets[path];
    for (const auto& e : fs::directory_iterator(fs::path(RarDir + "/" + path).parent_path())) {
      const std::string other = e.path().filename().string();
      if (other.rfind(stem + ".", 0) == 0 && e.path().extension() != ".exp" && (!volume || other != name))
        files.push_back(e.path().string());
    }
    if (!volume) files = {RarDir + "/" + path};
    else files.insert(files.begin(), RarDir + "/" + path);
    path.clear();
  }
  return sets;
}

// The sets that do not come out whole, and why.
const std::map<std::string, int> NotWhole = {
    {"libarchive/test_read_format_rar4_encrypted.rar", 1},             // encrypted entries
    {"libarchive/test_read_format_rar4_encrypted_filenames.rar", 1},
    {"libarchive/test_read_format_rar4_solid_encrypted.rar", 1},
    {"libarchive/test_read_format_rar4_solid_encrypted_filenames.rar", 1},
    {"libarchive/test_read_format_rar_encryption_data.rar", 1},
    {"libarchive/test_read_format_rar_encryption_header.rar", 1},
    {"libarchive/test_read_format_rar_encryption_partially.rar", 1},
    {"libarchive/test_read_format_rar_invalid1.rar", 1},               // data cut short
    {"libarchive/test_read_format_rar_newsub_huge.rar", 1},            // headers broken on purpose
    {"libarchive/test_read_format_rar_overflow.rar", 1},
    {"libarchive/test_read_format_rar_ppmd_use_after_free.rar", 1},
    {"libarchive/test_read_format_rar_ppmd_use_after_free2.rar", 1},
    {"libarchive/test_read_format_rar_seek_data_cursor0.rar", 1},
    {"libarchive/test_read_format_rar_symlink_huge.rar", 1},
    {"libarchive/test_read_format_rar_endarc_huge.rar", 2},            // 18 bytes: no archive
    {"rarfile/rar15-comment-lock.rar", 1},                             // RAR 1.5 compression
    {"rarfile/rar15-comment.rar", 1},
    {"rarfile/rar202-comment-psw.rar", 1},                             // passwords
    {"rarfile/rar3-comment-hpsw.rar", 1},
    {"rarfile/rar3-comment-psw.rar", 1},
    {"rarfile/rar3-symlink-unix.rar", 1},                              // a link leading out, skipped
};
}  // namespace

// Every set of the collection from read-only copies, without questions: exit 0 exactly for
// the sets that come out whole, 1 (or 2 for no archive) for the others with the count of what
// was not extracted; the same sets with a later volume gone all exit 1; the copies keep their
// bytes, modes and times.
TEST_F(TCliUnRar, ExitStatusesOverTheCollection) {
  int whole = 0, cut = 0;
  for (const auto& [first, files] : SampleSets()) {
    for (bool dropSecond : {false, true}) {
      if (dropSecond && files.size() < 2) continue;
      SCOPED_TRACE(first + (dropSecond ? " without its second volume" : ""));
      TTempDir dir;
      std::vector<std::string> copies = files;
      if (dropSecond) copies.erase(copies.begin() + 1);
      MakeReadOnlyCopies(copies, dir.File("in"));
      const auto before = FileStates(dir.File("in"));
      TWriteWatch watch(dir.File("in"));
      const TCliRun run = RunCli({"unrar", "--no-prompt", Q(dir.File("in/" + fs::path(first).filename().string())),
                                  Q(dir.File("out"))});
      const auto known = NotWhole.find(first);
      const int expected = dropSecond ? 1 : known == NotWhole.end() ? 0 : known->second;
      EXPECT_EQ(run.ExitCode, expected) << run.Out.toStdString() << run.Err.toStdString();
      if (expected == 1) {
        EXPECT_TRUE(run.Out.contains("\nNot extracted: ") || run.Out.contains("\nStopped before the end"))
            << run.Out.toStdString();
      }
      if (expected == 0) {
        EXPECT_FALSE(run.Out.contains("Error#")) << run.Out.toStdString();
        ++whole;
      }
      cut += dropSecond;
      EXPECT_TRUE(FileStates(dir.File("in")) == before);
      EXPECT_EQ(watch.Writes(), std::vector<std::string>{});
    }
  }
  EXPECT_GE(whole, 35);
  EXPECT_GE(cut, 6);
}

TEST_F(TCliUnRar, ARealVolumeSetWithThePagesLines) {
  MakeReadOnlyCopies({Sample("rarfile/rar3-vols.part1.rar"), Sample("rarfile/rar3-vols.part2.rar"),
                      Sample("rarfile/rar3-vols.part3.rar")},
                     Dir.File("in"));
  const auto before = FileStates(Dir.File("in"));
  const TCliRun run = RunCli({"unrar", Q(Dir.File("in/rar3-vols.part1.rar")), Q(Dir.File("out"))});
  EXPECT_EQ(run.ExitCode, 0) << run.Out.toStdString();
  EXPECT_EQ(run.Out, "Checking RAR Version...\nRAR Version: 2.0\nOS: Unix\n"
                     "Extracted rar3-vols.part1.rar\nExtracted rar3-vols.part2.rar\n \nExtracted 2 files\n");
  EXPECT_EQ(RarTestCrc(ReadWholeFile(Dir.File("out/vols/bigfile.txt"))), 0x509ad74cu);
  EXPECT_TRUE(FileStates(Dir.File("in")) == before);
}

TEST_F(TCliUnRar, TheDefaultDestinationIsBesideTheArchive) {
  TRarTestEntry entry{"a.txt", "alpha"};
  WriteRarArchive(Dir.File("backup.rar"), {entry});
  const TCliRun run = RunCli({"unrar", Q(Dir.File("backup.rar"))});
  EXPECT_EQ(run.ExitCode, 0);
  EXPECT_EQ(ReadWholeFile(Dir.File("backup/a.txt")), "alpha");
}

// A missing volume: refused, it is reported and the run exits 1; asked for, a path that does
// not exist is asked for again, and every volume is logged once.
TEST_F(TCliUnRar, AMissingVolumeIsAskedForOrRefused) {
  TRarTestEntry small{"small.txt", "before the big one"};
  TRarTestEntry big{"big.bin", std::string(300000, 'b')};
  TRarWriterOptions options;
  options.VolumeSize = 120000;
  WriteRarArchive(Dir.File("set.rar"), {small, big}, options);
  fs::rename(Dir.File("set.r00"), Dir.File("moved.r00"));

  const TCliRun refused = RunCli({"unrar", "--no-prompt", Q(Dir.File("set.rar")), Q(Dir.File("a"))});
  EXPECT_EQ(refused.ExitCode, 1);
  EXPECT_TRUE(refused.Out.contains("Extracted set.rar\n"));
  EXPECT_TRUE(refused.Out.contains("Error#: 25135\n"));
  EXPECT_TRUE(refused.Out.contains("Extracted 1 files\nNot extracted: 1 of 2 entries\n")) << refused.Out.toStdString();
  EXPECT_FALSE(fs::exists(Dir.File("a/big.bin")));

  const TCliRun answered = RunCli({"unrar", Q(Dir.File("set.rar")), Q(Dir.File("b"))}, {}, [&](QProcess& p) {
    p.write(QByteArray::fromStdString(Dir.File("nowhere.r00") + "\n" + Dir.File("moved.r00") + "\n"));
    p.closeWriteChannel();
  });
  EXPECT_EQ(answered.ExitCode, 0) << answered.Out.toStdString();
  EXPECT_EQ(answered.Err.count("Volume ID: 0 "), 2);
  EXPECT_EQ(answered.Out.count("Extracted set.rar\n"), 1);
  EXPECT_EQ(answered.Out.count("Extracted moved.r00\n"), 1);
  EXPECT_TRUE(answered.Out.endsWith("Extracted set.rar\nExtracted moved.r00\n \nExtracted 2 files\n"))
      << answered.Out.toStdString();
  EXPECT_EQ(ReadWholeFile(Dir.File("b/big.bin")), std::string(300000, 'b'));

  // Questions end with the answers: end of input cancels.
  const TCliRun ended = RunCli({"unrar", Q(Dir.File("set.rar")), Q(Dir.File("c"))}, {},
                               [](QProcess& p) { p.closeWriteChannel(); });
  EXPECT_EQ(ended.ExitCode, 1);
  EXPECT_EQ(ended.Err.count("Volume ID: "), 1);
}

TEST_F(TCliUnRar, FailuresAndBadStarts) {
  fs::copy_file(Sample("rarfile/rar3-comment-psw.rar"), Dir.File("psw.rar"));
  const TCliRun encrypted = RunCli({"unrar", Q(Dir.File("psw.rar")), Q(Dir.File("e"))});
  EXPECT_EQ(encrypted.ExitCode, 1);
  EXPECT_TRUE(encrypted.Out.contains("Error#: 26517\nError: Invalid password\n"));
  // Each encrypted entry fails alone: both are counted, neither ends the run for the other.
  EXPECT_EQ(encrypted.Out.count("Error#: 26517\n"), 2);
  EXPECT_TRUE(encrypted.Out.contains("\nExtracted 0 files\nNot extracted: 2 of 2 entries\n"))
      << encrypted.Out.toStdString();

  TRarTestEntry newer{"new.txt", "made by a newer archiver"};
  newer.UnpVer = 30;
  WriteRarArchive(Dir.File("new.rar"), {newer});
  const TCliRun incompatible = RunCli({"unrar", Q(Dir.File("new.rar")), Q(Dir.File("n"))});
  EXPECT_EQ(incompatible.ExitCode, 2);
  EXPECT_TRUE(incompatible.Out.endsWith("compatible with the current DLL\n"));
  EXPECT_FALSE(fs::exists(Dir.File("n")));

  const struct {
    QStringList Args;
    QString ErrHas;
  } cases[] = {
      {{"unrar"}, "usage"},
      {{"unrar", "a", "b", "c"}, "usage"},
      {{"unrar", "--bogus", "a"}, "usage"},
      {{"unrar", Q(Dir.File("missing.rar"))}, "Cannot open file"},
      {{"unrar", Q(Dir.Write("plain.txt", "no archive here, just text"))}, "Not a valid archive"},
  };
  for (const auto& c : cases) {
    const TCliRun run = RunCli(c.Args);
    EXPECT_EQ(run.ExitCode, 2) << c.Args.join(' ').toStdString();
    EXPECT_TRUE(run.Err.contains(c.ErrHas)) << run.Err.toStdString();
  }
}

// "--" ends the options, so an archive may be named like one.
TEST_F(TCliUnRar, DoubleDashEndsTheOptions) {
  TRarTestEntry entry{"a.txt", "alpha"};
  WriteRarArchive(Dir.File("-x.rar"), {entry});
  EXPECT_EQ(RunCli({"unrar", "-x.rar"}, Q(Dir.Path())).ExitCode, 2);
  const TCliRun run = RunCli({"unrar", "--no-prompt", "--", "-x.rar", "--out"}, Q(Dir.Path()));
  EXPECT_EQ(run.ExitCode, 0) << run.Out.toStdString() << run.Err.toStdString();
  EXPECT_EQ(ReadWholeFile(Dir.File("--out/a.txt")), "alpha");
}

namespace {

// The RAR 5 collection: archive -> the exit status it gives. Every sample not listed comes out
// whole (0); these do not: damaged on purpose, encrypted (no password given), or holding links
// that would lead out of the target or name Windows places.
const std::map<std::string, int> Rar5NotWhole = [] {
  std::map<std::string, int> statuses;
  for (const char* name : {"bad_tables", "bad_window_sz_in_mltarc_file", "block_size_is_too_small",
                           "bytes_remaining_underflow", "data_ready_pointer_leak", "decode_number_out_of_bounds_read",
                           "different_solid_window_size", "different_window_size", "different_winsize_on_merge",
                           "dirdata", "distance_overflow", "invalid_dict_reference", "invalid_hash_valid_htime_exfld",
                           "leftshift1", "leftshift2", "loop_bug", "nonempty_dir_stream", "owner_name_toolong",
                           "readtables_overflow", "truncated_huff", "unpacked_size_exceeds_declared",
                           "unsupported_exfld", "window_buf_and_size_desync", "arm_filter_on_window_boundary",
                           "encrypted", "encrypted_filenames", "solid_encrypted", "solid_encrypted_filenames",
                           "only_crypt_exfld"})
    statuses[std::string("libarchive/test_read_format_rar5_") + name + ".rar"] = 1;
  for (const char* name : {"rar5-hpsw.rar", "rar5-psw.rar", "rar5-psw-blake.rar", "rar5-evil-symlink-traversal.rar",
                           "rar5-symlink-unix.rar", "rar5-symlink-win.rar"})
    statuses[std::string("rarfile/") + name] = 1;
  return statuses;
}();

}  // namespace

// Every RAR 5 sample from read-only copies, without questions, exits as the table says; the
// volume set without its second volume exits 1; the copies stay as they were and nothing is
// written beside the target folder.
TEST_F(TCliUnRar, Rar5ExitStatusesOverTheCollection) {
  const std::string rar5 = std::string(TALLYRA_TESTDATA_DIR) + "/rar5";
  int whole = 0;
  for (const char* folder : {"rarfile", "libarchive"}) {
    for (const auto& entry : fs::directory_iterator(rar5 + "/" + folder)) {
      const std::string name = entry.path().filename().string();
      const std::string ext = entry.path().extension().string();
      if ((ext != ".rar" && ext != ".sfx" && ext != ".exe") || name.find(".part2.") != std::string::npos ||
          name.find(".part3.") != std::string::npos)
        continue;
      std::vector<std::string> set = {entry.path().string()};
      if (name.find(".part1.") != std::string::npos)
        for (const char* part : {".part2.rar", ".part3.rar"})
          set.push_back(rar5 + "/" + folder + "/" + name.substr(0, name.find(".part1.")) + part);
      for (bool dropSecond : {false, true}) {
        if (dropSecond && set.size() < 2) continue;
        const std::string key = std::string(folder) + "/" + name;
        SCOPED_TRACE(key + (dropSecond ? " without its second volume" : ""));
        TTempDir dir;
        std::vector<std::string> copies = set;
        if (dropSecond) copies.erase(copies.begin() + 1);
        MakeReadOnlyCopies(copies, dir.File("in"));
        const auto before = FileStates(dir.File("in"));
        const TCliRun run = RunCli({"unrar", "--no-prompt", Q(dir.File("in/" + name)), Q(dir.File("out"))});
        const auto known = Rar5NotWhole.find(key);
        const int expected = dropSecond ? 1 : known == Rar5NotWhole.end() ? 0 : known->second;
        EXPECT_EQ(run.ExitCode, expected) << run.Out.toStdString() << run.Err.toStdString();
        if (expected == 0) {
          EXPECT_FALSE(run.Out.contains("Error#")) << run.Out.toStdString();
          ++whole;
        }
        EXPECT_TRUE(FileStates(dir.File("in")) == before);
        std::set<std::string> top;
        for (const auto& e : fs::directory_iterator(dir.Path())) top.insert(e.path().filename().string());
        EXPECT_TRUE(top == std::set<std::string>({"in", "out"}) || top == std::set<std::string>({"in"}));
      }
    }
  }
  EXPECT_GE(whole, 25);
}

// The hostile sample through the CLI: the link is reported as a skipped file with its target,
// the file lands in a real folder inside the target, and nothing is written outside it.
TEST_F(TCliUnRar, TheTraversalSampleWritesNothingOutsideTheTarget) {
  const std::string sample = std::string(TALLYRA_TESTDATA_DIR) + "/rar5/rarfile/rar5-evil-symlink-traversal.rar";
  fs::create_directories(Dir.File("target"));
  const TCliRun run = RunCli({"unrar", "--no-prompt", Q(sample), Q(Dir.File("target"))});
  EXPECT_EQ(run.ExitCode, 1);
  EXPECT_TRUE(run.Out.contains("Filename: " + Q(Dir.File("target/up")) +
                               "\nError#: 26800\nError: Skipped File\nExtended Error Message: ..\n"))
      << run.Out.toStdString();
  EXPECT_TRUE(run.Out.endsWith("Extracted 1 files\nNot extracted: 1 of 2 entries\n")) << run.Out.toStdString();
  EXPECT_FALSE(fs::is_symlink(Dir.File("target/up")));
  EXPECT_EQ(RarTestCrc(ReadWholeFile(Dir.File("target/up/pwned.txt"))), 0xc0327d47u);
  std::vector<std::string> top;
  for (const auto& e : fs::directory_iterator(Dir.Path())) top.push_back(e.path().filename().string());
  EXPECT_EQ(top, std::vector<std::string>{"target"});
}
