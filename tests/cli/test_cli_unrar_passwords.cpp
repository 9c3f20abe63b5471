// tallyra-cli unrar with encrypted archives: -p and --password=, the question on a terminal
// (a pseudo-terminal here) with the echo off, --no-prompt, Ctrl-C at the question; what comes
// out, the exit statuses, and that the password is never printed.
#include "CliRun.h"
#include "RarWriter.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string RarDir = std::string(TALLYRA_TESTDATA_DIR) + "/rar";

QString Q(const std::string& s) { return QString::fromStdString(s); }

TRarTestEntry Secret(const std::string& name, const std::string& data, const std::string& password) {
  TRarTestEntry e{name, data};
  e.Password = password;
  return e;
}

// A run of tallyra-cli on a pseudo-terminal: every time it asks for a password the next
// answer is typed (as keys: "\x03" is Ctrl-C).
struct TPtyRun {
  int ExitCode = -1;
  std::string Output;      // everything the terminal showed, the echo included
  int Prompts = 0;
  bool EchoWasOff = true;  // at every question
  bool EchoAfter = false;  // when the program had ended
};

TPtyRun RunOnTerminal(const std::vector<std::string>& args, std::vector<std::string> answers) {
  TPtyRun run;
  std::vector<std::string> argv = {TALLYRA_CLI};
  argv.insert(argv.end(), args.begin(), args.end());
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) {
    std::vector<char*> raw;
    for (std::string& a : argv) raw.push_back(a.data());
    raw.push_back(nullptr);
    ::execv(raw[0], raw.data());
    ::_exit(127);
  }
  if (pid < 0) return run;
  size_t answered = 0;
  // A bound that only a hung program reaches.
  for (int idle = 0; idle < 600;) {
    pollfd p{master, POLLIN, 0};
    const int ready = ::poll(&p, 1, 100);
    if (ready == 0) {
      ++idle;
      continue;
    }
    char buffer[4096];
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n <= 0) break;  // EIO once the program has closed the terminal
    run.Output.append(buffer, size_t(n));
    size_t prompts = 0;
    for (size_t at = run.Output.find("Password for "); at != std::string::npos;
         at = run.Output.find("Password for ", at + 1))
      ++prompts;
    while (answered < prompts && run.Output.back() == ' ') {
      termios t{};
      ::tcgetattr(master, &t);
      run.EchoWasOff = run.EchoWasOff && !(t.c_lflag & ECHO);
      const std::string keys = answered < answers.size() ? answers[answered] : "\x04";  // Ctrl-D: end of input
      ++answered;
      if (::write(master, keys.data(), keys.size()) < 0) break;
    }
    run.Prompts = int(prompts);
  }
  termios after{};
  ::tcgetattr(master, &after);
  run.EchoAfter = after.c_lflag & ECHO;
  int status = 0;
  ::waitpid(pid, &status, 0);
  ::close(master);
  run.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

struct TCliUnRarPasswords : ::testing::Test {
  TTempDir Dir;
};

}  // namespace

// With the password on the command line: the real samples come out whole (the library checks
// each file's CRC); a wrong one, or
// none without a terminal, leaves the encrypted entries out (exit 1) and the plain ones still
// come out; RAR 2.0's cipher says it is not supported. The password is never printed.
TEST_F(TCliUnRarPasswords, ThePasswordOnTheCommandLine) {
  WriteRarArchive(Dir.File("mixed.rar"), {{"plain.txt", "plain"}, Secret("secret.txt", "secret data", "cl1-pass")});
  const struct TCase {
    std::string Archive;
    QStringList Options;
    int Exit;
    std::vector<std::string> Out;  // the files that come out
    QStringList Says;
  } cases[] = {
      {RarDir + "/rarfile/rar3-comment-psw.rar", {"-p", "password"}, 0, {"file1.txt", "file2.txt"}, {"Extracted 2 files\n"}},
      {RarDir + "/rarfile/rar3-comment-hpsw.rar", {"--password=password"}, 0, {"file1.txt", "file2.txt"},
       {"RAR Version: 2.9\n", "Extracted 2 files\n"}},
      {RarDir + "/rarfile/rar3-comment-hpsw.rar", {"-p", "wrong"}, 1, {}, {"Error#: 26517\n"}},
      {RarDir + "/rarfile/rar202-comment-psw.rar", {"-p", "password"}, 1, {},
       {"Error#: 25328\nError: Unsupported version\nExtended Error Message: RAR 2.0 encryption is not supported\n",
        "Not extracted: 2 of 2 entries\n"}},
      {Dir.File("mixed.rar"), {"-p", "cl1-pass"}, 0, {"plain.txt", "secret.txt"}, {"Extracted 2 files\n"}},
      {Dir.File("mixed.rar"), {"--password=not-it"}, 1, {"plain.txt"},
       {"Error#: 26517\nError: Invalid password\n", "Extracted 1 files\nNot extracted: 1 of 2 entries\n"}},
      {Dir.File("mixed.rar"), {}, 1, {"plain.txt"}, {"Extended Error Message: No password given\n"}},
      {RarDir + "/libarchive/test_read_format_rar4_encrypted.rar", {"--no-prompt"}, 1, {"a.txt", "c.txt"},
       {"Not extracted: 2 of 4 entries\n"}},
      // Its d.txt has a password of its own.
      {RarDir + "/libarchive/test_read_format_rar4_encrypted.rar", {"-p", "password"}, 1, {"a.txt", "b.txt", "c.txt"},
       {"Error#: 26517\n", "Extracted 3 files\nNot extracted: 1 of 4 entries\n"}},
      // A solid set of encrypted packed files, each decrypted on its own.
      {RarDir + "/libarchive/test_read_format_rar4_solid_encrypted.rar", {"-p", "password"}, 0,
       {"a.txt", "b.txt", "c.txt", "d.txt"}, {"Extracted 4 files\n"}},
      {RarDir + "/libarchive/test_read_format_rar4_solid_encrypted.rar", {"-p", "wrong"}, 1, {},
       {"Error#: 26517\n", "Not extracted: 4 of 4 entries\n"}},
      {RarDir + "/rarfile/rar3-comment-psw.rar", {"-p", "wrong"}, 1, {}, {"Not extracted: 2 of 2 entries\n"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Archive + " " + c.Options.join(' ').toStdString());
    const std::string out = Dir.File("out");
    fs::remove_all(out);
    const TCliRun run = RunCli(QStringList{"unrar"} << c.Options << Q(c.Archive) << Q(out));
    EXPECT_EQ(run.ExitCode, c.Exit) << run.Out.toStdString() << run.Err.toStdString();
    for (const QString& line : c.Says) EXPECT_TRUE(run.Out.contains(line)) << run.Out.toStdString();
    std::vector<std::string> files;
    if (fs::exists(out))
      for (const auto& e : fs::directory_iterator(out)) files.push_back(e.path().filename().string());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, c.Out);
    // Nothing came out: no folder is left for it.
    if (c.Out.empty()) {
      EXPECT_FALSE(fs::exists(out));
    }
    for (const QString& option : c.Options) {
      const QString secret = option.startsWith("--password=") ? option.mid(11) : option;
      if (secret.startsWith('-')) continue;
      // The messages' own word does not count.
      QString out = run.Out, err = run.Err;
      out.remove("Invalid password");
      err.remove("Invalid password");
      EXPECT_FALSE(out.contains(secret) || err.contains(secret)) << secret.toStdString();
    }
  }
  EXPECT_EQ(RunCli({"unrar", Q(Dir.File("mixed.rar")), "-p"}).ExitCode, 2);  // -p needs its password
}

// On a terminal the password is asked for with the echo off: a wrong answer is said so and
// asked again; the answer opens the following entries too; encrypted headers are asked for
// once, before the version lines, and the extraction needs no second answer.
TEST_F(TCliUnRarPasswords, TheQuestionOnATerminal) {
  WriteRarArchive(Dir.File("two.rar"), {Secret("a.txt", "first", "t0p-s3cret"), Secret("b.txt", "second", "t0p-s3cret")});
  const TPtyRun data = RunOnTerminal({"unrar", Dir.File("two.rar"), Dir.File("a")}, {"wr0ng-guess\n", "t0p-s3cret\n"});
  EXPECT_EQ(data.ExitCode, 0) << data.Output;
  EXPECT_EQ(data.Prompts, 2);
  EXPECT_TRUE(data.EchoWasOff);
  EXPECT_TRUE(data.EchoAfter);
  EXPECT_NE(data.Output.find("Password for a.txt: \r\nInvalid password\r\nPassword for a.txt: "), std::string::npos)
      << data.Output;
  EXPECT_EQ(data.Output.find("t0p-s3cret"), std::string::npos);
  EXPECT_EQ(data.Output.find("wr0ng-guess"), std::string::npos);
  EXPECT_EQ(ReadWholeFile(Dir.File("a/a.txt")), "first");
  EXPECT_EQ(ReadWholeFile(Dir.File("a/b.txt")), "second");

  const TPtyRun headers =
      RunOnTerminal({"unrar", RarDir + "/rarfile/rar3-comment-hpsw.rar", Dir.File("h")}, {"password\n"});
  EXPECT_EQ(headers.ExitCode, 0) << headers.Output;
  EXPECT_EQ(headers.Prompts, 1);
  EXPECT_LT(headers.Output.find("Password for rar3-comment-hpsw.rar: "), headers.Output.find("RAR Version: 2.9"));
  EXPECT_TRUE(fs::exists(Dir.File("h/file1.txt")));
  EXPECT_TRUE(fs::exists(Dir.File("h/file2.txt")));

  // Given on the command line, nobody is asked.
  const TPtyRun given = RunOnTerminal({"unrar", "-p", "t0p-s3cret", Dir.File("two.rar"), Dir.File("g")}, {});
  EXPECT_EQ(given.ExitCode, 0) << given.Output;
  EXPECT_EQ(given.Prompts, 0);
}

// --no-prompt never asks; end of input and Ctrl-C at the question end it, the terminal's
// echo is back, and Ctrl-C ends the command as interrupted.
TEST_F(TCliUnRarPasswords, NoQuestionEndOfInputAndCtrlC) {
  WriteRarArchive(Dir.File("s.rar"), {Secret("s.txt", "secret", "pw"), {"p.txt", "plain"}});
  const struct TCase {
    const char* Title;
    std::vector<std::string> Args;
    std::vector<std::string> Keys;
    int Prompts;
    int Exit;
  } cases[] = {
      {"--no-prompt", {"unrar", "--no-prompt", Dir.File("s.rar"), Dir.File("n")}, {}, 0, 1},
      {"end of input", {"unrar", Dir.File("s.rar"), Dir.File("e")}, {"\x04"}, 1, 1},
      {"Ctrl-C", {"unrar", Dir.File("s.rar"), Dir.File("c")}, {"\x03"}, 1, 3},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Title);
    const TPtyRun run = RunOnTerminal(c.Args, c.Keys);
    EXPECT_EQ(run.ExitCode, c.Exit) << run.Output;
    EXPECT_EQ(run.Prompts, c.Prompts);
    EXPECT_TRUE(run.EchoAfter);
    EXPECT_FALSE(fs::exists(c.Args.back() + "/s.txt"));
  }
}
