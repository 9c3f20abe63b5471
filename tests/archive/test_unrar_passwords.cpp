// TUnRar's password procedure against our libunrar.so: who is asked, for which name, how
// often; what a failed or declined password ends (its entry only); encrypted headers; ciphers
// the library cannot decrypt; and that nothing of a failed try stays behind.
#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <set>

#include "RarWriter.h"
#include "UnRarFixture.h"

namespace fs = std::filesystem;

namespace {

const std::string RarfileDir = std::string(TALLYRA_TESTDATA_DIR) + "/rar/rarfile";

// Answers OnGetPassword from a queue; an empty queue (or nullopt) gives up.
struct TPasswordScript {
  std::deque<std::optional<std::string>> Answers;
  std::vector<std::string> AskedFor;

  void Attach(TUnRar& u) {
    u.OnGetPassword = [this](TZipCommon*, const std::string& file, std::string& password, bool& tryAgain) {
      AskedFor.push_back(file);
      EXPECT_TRUE(password.empty());  // asked only when no password is left to try
      if (Answers.empty() || !Answers.front()) {
        tryAgain = false;
      } else {
        password = *Answers.front();
      }
      if (!Answers.empty()) Answers.pop_front();
    };
  }
};

TRarTestEntry Secret(const std::string& name, const std::string& data, const std::string& password) {
  TRarTestEntry e{name, data};
  e.Password = password;
  return e;
}

std::set<std::string> Names(const std::map<std::string, std::string>& files) {
  std::set<std::string> names;
  for (const auto& [name, data] : files) names.insert(name);
  return names;
}

class UnRarPasswords : public TUnRarFixture {
 protected:
  void Prepare(TUnRar& u, const std::string& archive) {
    PrepareRun(u, archive);
    u.SetCreateStoredDirs(true);
    u.OnNextVolume = [](TZipCommon*, std::string&, const std::string&, bool exists, bool& cancel) { cancel = !exists; };
  }
};

}  // namespace

// Plain and encrypted files mixed, two passwords in one archive. Whatever the answers, every
// plain file comes out, each encrypted one either whole or not at all, and a password that
// failed or was never given is reported once, for that entry only.
TEST_F(UnRarPasswords, AnswersDecideEachEncryptedEntryAlone) {
  const std::vector<TRarTestEntry> entries = {
      {"plain1.txt", "first plain"},        Secret("secret1.txt", "first secret", "right"),
      {"plain2.txt", "second plain"},       Secret("secret2.txt", "second secret", "right"),
      Secret("other.txt", "another password", "other"), {"plain3.txt", "last plain"},
  };
  WriteRarArchive(Temp.File("mixed.rar"), entries);
  const std::string s1 = Out + "/secret1.txt", s2 = Out + "/secret2.txt", o = Out + "/other.txt";
  const std::set<std::string> plain = {"plain1.txt", "plain2.txt", "plain3.txt"};
  const struct TCase {
    const char* Title;
    std::deque<std::optional<std::string>> Answers;
    std::vector<std::string> AskedFor;
    std::set<std::string> Secrets;  // the encrypted files that come out
    std::vector<TErrorRecord> Errors;
  } cases[] = {
      // The password stays for the following entries; "other" fails with it and is asked for.
      {"right, then nothing more", {"right"}, {s1, o}, {"secret1.txt", "secret2.txt"}, {{o, "", "0", 26517}}},
      {"wrong then right, then other", {"wrong", "right", "other"}, {s1, s1, o},
       {"secret1.txt", "secret2.txt", "other.txt"}, {}},
      // A password that failed is not tried again for the next entry.
      {"other first", {"other", "right", "other"}, {s1, s1, o}, {"secret1.txt", "secret2.txt", "other.txt"}, {}},
      // Cancel at the first question: that entry ends; the next one asks again.
      {"cancel, then right", {std::nullopt, "right"}, {s1, s2, o}, {"secret2.txt"},
       {{s1, "No password given", "0", 26517}, {o, "", "0", 26517}}},
      // Three wrong tries end the entry; the next is asked for anew.
      {"three wrong", {"a", "b", "c", "right"}, {s1, s1, s1, s2, o}, {"secret2.txt"},
       {{s1, "", "0", 26517}, {o, "", "0", 26517}}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Title);
    fs::remove_all(Out);
    fs::create_directories(Out);
    Log = {};
    TUnRar u;
    Prepare(u, Temp.File("mixed.rar"));
    TPasswordScript script{c.Answers, {}};
    script.Attach(u);
    const std::int32_t done = u.Extract();
    EXPECT_EQ(script.AskedFor, c.AskedFor);
    std::set<std::string> expected = plain;
    expected.insert(c.Secrets.begin(), c.Secrets.end());
    const auto files = FilesUnder(Out);
    EXPECT_EQ(Names(files), expected);
    for (const TRarTestEntry& e : entries) {
      if (files.count(e.Name)) {
        EXPECT_EQ(files.at(e.Name), e.Data) << e.Name;
      }
    }
    EXPECT_EQ(done, std::int32_t(expected.size()));
    ASSERT_EQ(Log.Errors.size(), c.Errors.size());
    for (size_t i = 0; i < c.Errors.size(); ++i) {
      EXPECT_EQ(Log.Errors[i].FileName, c.Errors[i].FileName);
      EXPECT_EQ(Log.Errors[i].ExtendedMsg, c.Errors[i].ExtendedMsg);
      EXPECT_EQ(Log.Errors[i].Code, c.Errors[i].Code);
    }
    EXPECT_TRUE(u.ReachedEnd());
    EXPECT_EQ(u.Password(), "");  // wiped when the archive was closed
  }
}

// Nobody is asked for an entry the run does not extract: one OnBegin refuses (the version
// check's dry run), one that FileSpec leaves out.
TEST_F(UnRarPasswords, EntriesNotExtractedAskNothing) {
  WriteRarArchive(Temp.File("skip.rar"), {Secret("a.txt", "alpha", "pw"), Secret("b.dat", "beta", "pw")});
  TUnRar u;
  Prepare(u, Temp.File("skip.rar"));
  TPasswordScript script{{"pw"}, {}};
  script.Attach(u);
  u.SetFileSpec({"*.dat"});
  u.OnBegin = [](TZipCommon*, const std::string&, std::int32_t, bool& extract) { extract = false; };
  EXPECT_EQ(u.Extract(), 0);
  EXPECT_TRUE(script.AskedFor.empty());
  EXPECT_TRUE(Log.Errors.empty());
  EXPECT_TRUE(FilesUnder(Out).empty());
}

// RAR 2.0's cipher: the library decrypts it with no password, so nobody is asked; each entry
// says so, and the plain entries beside it come out.
TEST_F(UnRarPasswords, ACipherTheLibraryLacksIsReportedWithoutAsking) {
  TRarTestEntry old{"old.txt", "RAR 2.0 encrypted"};
  old.UnpVer = 20;
  old.Encrypt = [](const std::string& plain) { return std::string(plain.size(), '?'); };
  WriteRarArchive(Temp.File("old.rar"), {{"before.txt", "plain"}, old, {"after.txt", "plain too"}});
  for (const std::string& archive : {Temp.File("old.rar"), RarfileDir + "/rar202-comment-psw.rar"}) {
    SCOPED_TRACE(archive);
    fs::remove_all(Out);
    fs::create_directories(Out);
    Log = {};
    TUnRar u;
    Prepare(u, archive);
    TPasswordScript script{{"password", "password"}, {}};
    script.Attach(u);
    u.Extract();
    EXPECT_TRUE(script.AskedFor.empty());
    ASSERT_FALSE(Log.Errors.empty());
    for (const TErrorRecord& e : Log.Errors) {
      EXPECT_EQ(e.Code, 25328);
      EXPECT_EQ(e.ExtendedMsg, "RAR 2.0 encryption is not supported");
    }
    for (const auto& [name, data] : FilesUnder(Out)) EXPECT_EQ(data.rfind("plain", 0), 0u) << name;
  }
  EXPECT_EQ(Names(FilesUnder(Out)), std::set<std::string>{});
}

// The real samples with the password "password": data encrypted (asked once, for the first
// file), and headers encrypted (asked once, for the archive, before anything is listed; a
// wrong answer is asked again). Without an answer the headers stay locked, reported once.
TEST_F(UnRarPasswords, TheRealSamplesOpenWithTheirPassword) {
  const std::string psw = RarfileDir + "/rar3-comment-psw.rar", hpsw = RarfileDir + "/rar3-comment-hpsw.rar";
  const std::string rar5 = std::string(TALLYRA_TESTDATA_DIR) + "/rar5/rarfile";
  const std::string psw5 = rar5 + "/rar5-psw.rar", hpsw5 = rar5 + "/rar5-hpsw.rar";
  const std::set<std::string> files = {"file1.txt", "file2.txt"}, files5 = {"stest1.txt", "stest2.txt"};
  const struct TCase {
    std::string Archive;
    std::deque<std::optional<std::string>> Answers;
    std::vector<std::string> AskedFor;
    bool Out;
    std::set<std::string> Files;
  } cases[] = {
      {psw, {"password"}, {Out + "/file1.txt"}, true, files},
      {hpsw, {"password"}, {hpsw}, true, files},
      {hpsw, {"wrong", "password"}, {hpsw, hpsw}, true, files},
      {hpsw, {std::nullopt}, {hpsw}, false, files},
      // RAR 5 refuses a wrong password by its check value, before any data or header.
      {psw5, {"wrong", "password"}, {Out + "/stest1.txt", Out + "/stest1.txt"}, true, files5},
      {hpsw5, {"password"}, {hpsw5}, true, files5},
      {hpsw5, {"wrong", "password"}, {hpsw5, hpsw5}, true, files5},
      {hpsw5, {"wrong", std::nullopt}, {hpsw5, hpsw5}, false, files5},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Archive + " after " + std::to_string(c.Answers.size()) + " answers");
    fs::remove_all(Out);
    fs::create_directories(Out);
    Log = {};
    TUnRar u;
    Prepare(u, c.Archive);
    TPasswordScript script{c.Answers, {}};
    script.Attach(u);
    const std::int32_t done = u.Extract();
    EXPECT_EQ(script.AskedFor, c.AskedFor);
    EXPECT_EQ(u.HeadersLocked(), !c.Out);
    if (c.Out) {
      EXPECT_EQ(done, 2);
      EXPECT_EQ(Names(FilesUnder(Out)), c.Files);
      EXPECT_TRUE(Log.Errors.empty());
      EXPECT_TRUE(u.ReachedEnd());
    } else {
      EXPECT_EQ(done, 0);
      ASSERT_EQ(Log.Errors.size(), 1u);
      EXPECT_EQ(Log.Errors[0].Code, 26517);
      EXPECT_EQ(Log.Errors[0].FileName, c.Archive);
      EXPECT_TRUE(fs::is_empty(Out));
    }
  }
}

// A solid archive whose files are all encrypted (libarchive's sample, password "password").
// A wrong password for a file that continues the stream cannot be tried again with another:
// the library has moved past it. That file is reported once as a failed password, and nobody
// is asked again for it or for the files after it, which say why they did not come out.
TEST_F(UnRarPasswords, AFailedTryInsideASolidStreamIsFinal) {
  const std::string archive = std::string(TALLYRA_TESTDATA_DIR) + "/rar/libarchive/test_read_format_rar4_solid_encrypted.rar";
  const std::string a = Out + "/a.txt", b = Out + "/b.txt", c = Out + "/c.txt", d = Out + "/d.txt";
  const std::string SolidBroken = "A file before it in the solid archive could not be unpacked";
  const struct TCase {
    const char* Title;
    std::deque<std::optional<std::string>> Answers;
    std::vector<std::string> AskedFor;
    std::set<std::string> Files;
    std::vector<TErrorRecord> Errors;
  } cases[] = {
      {"right at once", {"password"}, {a}, {"a.txt", "b.txt", "c.txt", "d.txt"}, {}},
      // The first file starts the stream: it may be tried again.
      {"wrong then right for the first", {"wrong", "password"}, {a, a}, {"a.txt", "b.txt", "c.txt", "d.txt"}, {}},
      // A first file that failed holds up nothing: the stream is caught up with the next answer.
      {"wrong for the first, right for the second", {"wrong", "wrong", "wrong", "password"}, {a, a, a, b},
       {"b.txt", "c.txt", "d.txt"}, {{a, "", "0", 26517}}},
      // The second file's data went through with a wrong key: the stream is lost from there on.
      {"wrong for the second", {"wrong", "wrong", "wrong", "wrong", "password"}, {a, a, a, b}, {},
       {{a, "", "0", 26517}, {b, "", "0", 26517}, {c, SolidBroken, "0", 25153}, {d, SolidBroken, "0", 25153}}},
  };
  for (const TCase& t : cases) {
    SCOPED_TRACE(t.Title);
    fs::remove_all(Out);
    fs::create_directories(Out);
    Log = {};
    TUnRar u;
    Prepare(u, archive);
    TPasswordScript script{t.Answers, {}};
    script.Attach(u);
    u.Extract();
    EXPECT_EQ(script.AskedFor, t.AskedFor);
    EXPECT_EQ(Names(FilesUnder(Out)), t.Files);
    ASSERT_EQ(Log.Errors.size(), t.Errors.size());
    for (size_t i = 0; i < t.Errors.size(); ++i) {
      EXPECT_EQ(Log.Errors[i].FileName, t.Errors[i].FileName);
      EXPECT_EQ(Log.Errors[i].ExtendedMsg, t.Errors[i].ExtendedMsg);
      EXPECT_EQ(Log.Errors[i].Code, t.Errors[i].Code);
    }
  }
}

// Encrypted headers over a volume set: the scan sees none of the entries, so the run counts
// them as they come (every file comes out, not only the first), a file split across volumes is
// judged by the library's check of its last part's CRC, and stored folders are still made.
TEST_F(UnRarPasswords, EncryptedHeadersOverVolumesWithFoldersAndSplitFiles) {
  std::vector<TRarTestEntry> entries = {{"docs\\a.txt", "alpha"}, {"big.bin", std::string(200000, 'b')},
                                        {"c.txt", "gamma"}};
  TRarTestEntry folder{"empty", ""};
  folder.Directory = true;
  entries.push_back(folder);
  for (auto& e : entries)
    if (!e.Directory) e.Password = "hp";
  TRarWriterOptions options;
  options.HeaderPassword = "hp";
  options.VolumeSize = 70000;
  ASSERT_GE(WriteRarArchive(Temp.File("set.rar"), entries, options).size(), 3u);
  TUnRar u;
  Prepare(u, Temp.File("set.rar"));
  TPasswordScript script{{"hp"}, {}};
  script.Attach(u);
  EXPECT_EQ(u.Extract(), 3);
  EXPECT_EQ(script.AskedFor, std::vector<std::string>{Temp.File("set.rar")});
  EXPECT_TRUE(Log.Errors.empty()) << Log.Errors[0].Code;
  EXPECT_EQ(FileContents(Out + "/big.bin"), entries[1].Data);
  EXPECT_EQ(FileContents(Out + "/docs/a.txt"), "alpha");
  EXPECT_EQ(FileContents(Out + "/c.txt"), "gamma");
  EXPECT_TRUE(fs::is_directory(Out + "/empty"));
  EXPECT_TRUE(u.ReachedEnd());
}

// A handler that throws gives no password: that entry fails, the run goes on.
// Behind encrypted headers stored folders are made as their entries come, and never through a
// link that stands in the destination: "linked" points outside it.
TEST_F(UnRarPasswords, FoldersBehindEncryptedHeadersAreNotMadeThroughALink) {
  TRarTestEntry inner{"linked\\inner", ""}, plain{"own\\sub", ""};
  inner.Directory = plain.Directory = true;
  TRarTestEntry file{"c.txt", "gamma"};
  file.Password = "hp";
  TRarWriterOptions options;
  options.HeaderPassword = "hp";
  WriteRarArchive(Temp.File("dirs.rar"), {inner, plain, file}, options);
  const std::string outside = Temp.File("outside");
  fs::create_directories(outside);
  fs::create_directory_symlink(outside, Out + "/linked");
  TUnRar u;
  Prepare(u, Temp.File("dirs.rar"));
  TPasswordScript script{{"hp"}, {}};
  script.Attach(u);
  EXPECT_EQ(u.Extract(), 1);
  EXPECT_FALSE(fs::exists(outside + "/inner"));
  EXPECT_TRUE(fs::is_directory(Out + "/own/sub"));
  EXPECT_EQ(FileContents(Out + "/c.txt"), "gamma");
}

// A cancel at the password question is reported once, as the cancel, for data and for headers.
TEST_F(UnRarPasswords, ACancelAtTheQuestionIsReportedOnce) {
  for (const std::string& archive : {RarfileDir + "/rar3-comment-psw.rar", RarfileDir + "/rar3-comment-hpsw.rar"}) {
    SCOPED_TRACE(archive);
    fs::remove_all(Out);
    fs::create_directories(Out);
    Log = {};
    TUnRar u;
    Prepare(u, archive);
    u.OnGetPassword = [&u](TZipCommon*, const std::string&, std::string&, bool& tryAgain) {
      tryAgain = false;
      u.SetCancel(true);
    };
    EXPECT_EQ(u.Extract(), 0);
    ASSERT_EQ(Log.Errors.size(), 1u);
    EXPECT_EQ(Log.Errors[0].Code, 25443);
  }
}

TEST_F(UnRarPasswords, AHandlerThatThrowsEndsOnlyItsEntry) {
  WriteRarArchive(Temp.File("t.rar"), {Secret("s.txt", "secret", "pw"), {"p.txt", "plain"}});
  TUnRar u;
  Prepare(u, Temp.File("t.rar"));
  u.OnGetPassword = [](TZipCommon*, const std::string&, std::string&, bool&) { throw std::runtime_error("gone"); };
  EXPECT_EQ(u.Extract(), 1);
  EXPECT_EQ(Log.Codes(), std::vector<int>{26517});
  EXPECT_EQ(Names(FilesUnder(Out)), std::set<std::string>{"p.txt"});
}
