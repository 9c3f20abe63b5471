// The "UnRar" page with encrypted archives: the password box (masked, titled with the file's
// name), answers kept for the archive's following entries and for the extraction after the
// version check, Cancel, encrypted headers; and the program opening what "Create RAR" made
// with "Password protect" and "Encrypt both file data and headers". The password never shows
// in the memo or in a file the program writes.
#include "archive/aknUnRar.h"
#include "controls/FilCtl95.h"
#include "platform/FileSystem.h"
#include "RarWriter.h"
#include "UnRarPageDriver.h"
#include "WindowFixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <deque>
#include <filesystem>
#include <optional>

namespace {

const std::string RarfileDir = std::string(TALLYRA_TESTDATA_DIR) + "/rar/rarfile";

struct TUnRarPasswords : TUnRarPageFixture {
  // Extracts the chosen archive into Dl/out with these password answers.
  void Extract(const std::string& name, std::deque<std::optional<QString>> answers) {
    Dialogs.Calls.clear();
    Dialogs.PasswordAnswers = std::move(answers);
    Choose(name);
    AcceptFolder(*Form, Dl + "/out");
    Form->GradBtn9Click();
  }
  std::vector<TScriptedDialogs::TCall> PasswordCalls() const {
    std::vector<TScriptedDialogs::TCall> calls;
    for (const auto& call : Dialogs.Calls)
      if (call.Kind == TScriptedDialogs::TKind::Password) calls.push_back(call);
    return calls;
  }
};

TRarTestEntry Secret(const std::string& name, const std::string& data, const std::string& password) {
  TRarTestEntry e{name, data};
  e.Password = password;
  return e;
}

}  // namespace

// Two encrypted files and a plain one. The box is titled with the file's name; the answer
// opens the next file too; a wrong one is asked again, saying so (an empty one is simply asked
// again, costing no try); Cancel skips every
// encrypted file of the archive, reported once each, and the plain one still comes out.
TEST_F(TUnRarPasswords, TheBoxAsksKeepsAndSkips) {
  WriteRarArchive(Dl + "/docs.rar", {Secret("a.txt", "alpha", "opensesame"), {"plain.txt", "plain"},
                                     Secret("b.txt", "beta", "opensesame")});
  const struct TCase {
    const char* Title;
    std::deque<std::optional<QString>> Answers;
    QStringList Prompts;
    int Extracted;
  } cases[] = {
      {"right", {"opensesame"}, {"Password:"}, 3},
      {"wrong then right", {"nope", "opensesame"}, {"Password:", "Invalid password\nPassword:"}, 3},
      {"nothing typed, then right", {"", "opensesame"}, {"Password:", "Password:"}, 3},
      {"cancel", {std::nullopt, "opensesame"}, {"Password:"}, 1},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Title);
    std::filesystem::remove_all(Dl + "/out");
    Extract("docs.rar", c.Answers);
    const auto calls = PasswordCalls();
    ASSERT_EQ(calls.size(), size_t(c.Prompts.size()));
    for (qsizetype i = 0; i < c.Prompts.size(); ++i) {
      EXPECT_EQ(calls[size_t(i)].Caption, "a.txt");
      EXPECT_EQ(calls[size_t(i)].Text, c.Prompts[i]);
    }
    EXPECT_EQ(Memo().last(), QString("Extracted %1 files").arg(c.Extracted));
    EXPECT_EQ(ReadWholeFile(Dl + "/out/plain.txt"), "plain");
    if (c.Extracted == 3) {
      EXPECT_EQ(ReadWholeFile(Dl + "/out/a.txt"), "alpha");
      EXPECT_EQ(ReadWholeFile(Dl + "/out/b.txt"), "beta");
      EXPECT_FALSE(Memo().contains("Error#: 26517"));
    } else {
      EXPECT_FALSE(FileExists(Dl + "/out/a.txt"));
      EXPECT_FALSE(FileExists(Dl + "/out/b.txt"));
      EXPECT_EQ(Memo().count("Error#: 26517"), 2);
      EXPECT_EQ(Memo().count("Extended Error Message: No password given"), 2);
      EXPECT_TRUE(Memo().contains("Filename: " + Q(Dl + "/out/a.txt")));
    }
    EXPECT_FALSE(Form->Memo2->toPlainText().contains("opensesame"));
    EXPECT_FALSE(Form->Memo2->toPlainText().contains("nope"));
  }
}

// A real archive with encrypted headers: the version check asks, once, for the archive; the
// extraction takes that answer without asking again. Cancelled, the memo says why and no
// folder is asked for.
TEST_F(TUnRarPasswords, EncryptedHeadersAreAskedForByTheVersionCheck) {
  std::filesystem::copy_file(RarfileDir + "/rar3-comment-hpsw.rar", Dl + "/hpsw.rar");
  Extract("hpsw.rar", {"password"});
  const auto calls = PasswordCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].Caption, "hpsw.rar");
  EXPECT_EQ(Memo(), (QStringList{"Checking RAR Version...", "RAR Version: 2.9", "OS: Unix", " ", "Extracted 2 files"}));
  EXPECT_TRUE(FileExists(Dl + "/out/file1.txt"));
  EXPECT_TRUE(FileExists(Dl + "/out/file2.txt"));

  Dialogs.Calls.clear();
  Dialogs.PasswordAnswers = {std::nullopt};
  bool folderAsked = false;
  OnFolderDialog(*Form, [&](TBrowseDirectoryDlg* dlg) {
    folderAsked = true;
    dlg->DialogHandle()->findChild<QPushButton*>("Cancel")->click();
  });
  Choose("hpsw.rar");
  Form->GradBtn9Click();
  EXPECT_EQ(PasswordCalls().size(), 1u);
  EXPECT_FALSE(folderAsked);
  EXPECT_EQ(Memo(), (QStringList{"Checking RAR Version...", "Filename: " + Q(Dl + "/hpsw.rar"), "Error#: 26517",
                                 "Error: Invalid password", "Extended Error Message: No password given", ""}));
}

// Nothing came out: the target folder this press made goes again; one that was there stays.
TEST_F(TUnRarPasswords, NothingOutLeavesNoNewFolder) {
  WriteRarArchive(Dl + "/only.rar", {Secret("s.txt", "secret", "pw")});
  Extract("only.rar", {std::nullopt});
  EXPECT_EQ(Memo().last(), "Extracted 0 files");
  EXPECT_FALSE(std::filesystem::exists(Dl + "/out"));
  std::filesystem::create_directory(Dl + "/out");
  Extract("only.rar", {std::nullopt});
  EXPECT_TRUE(std::filesystem::is_directory(Dl + "/out"));
}

// The answer lasts as long as one press of "&UnRar": the next press asks again.
TEST_F(TUnRarPasswords, ThePasswordIsForgottenAfterTheArchive) {
  WriteRarArchive(Dl + "/one.rar", {Secret("s.txt", "secret", "pw")});
  Extract("one.rar", {"pw"});
  std::filesystem::remove_all(Dl + "/out");
  Extract("one.rar", {"pw"});
  EXPECT_EQ(PasswordCalls().size(), 1u);
  EXPECT_EQ(ReadWholeFile(Dl + "/out/s.txt"), "secret");
  EXPECT_EQ(Form->UnRar1->Password(), "");
}

// What "Create RAR" makes with a password, the program extracts with it: data encrypted, and
// data and headers encrypted. Nothing the program writes holds the password.
TEST_F(TUnRarPasswords, TheProgramOpensWhatItCreates) {
  std::filesystem::copy_file(TALLYRA_FAKE_RAR, Dir.File("rar"));
  std::filesystem::permissions(Dir.File("rar"), std::filesystem::perms::owner_exec, std::filesystem::perm_options::add);
  const std::string src = Dir.File("maps");
  std::filesystem::create_directory(src);
  Dir.Write("maps/a.bsp", std::string(150000, 'a'));
  Dir.Write("maps/readme.txt", "read me");
  const std::string password = "c0rrect horse";
  for (bool headers : {false, true}) {
    SCOPED_TRACE(headers ? "data and headers" : "data");
    const std::string name = headers ? "hp.rar" : "p.rar";
    Form->Directory95ListBox4->SetDirectory(Q(src));
    for (int i = 0; i < Form->FileListBox4->Count(); ++i) Form->FileListBox4->SetSelected(i, true);
    if (Form->chkBoxPassword->isChecked() != !headers) Form->chkBoxPassword->click();
    if (Form->ChkBoxEncrypt->isChecked() != headers) Form->ChkBoxEncrypt->click();
    Form->edtPass->setText(Q(password));
    Dialogs.SaveAnswers = {Q(Dl + "/" + name)};
    Form->GradBtn13Click();
    ASSERT_TRUE(FileExists(Dl + "/" + name));

    std::filesystem::remove_all(Dl + "/out");
    Extract(name, {Q(password)});
    EXPECT_EQ(PasswordCalls().size(), 1u);
    EXPECT_EQ(PasswordCalls()[0].Caption, Q(headers ? name : "a.bsp"));
    EXPECT_EQ(Memo().last(), "Extracted 2 files");
    EXPECT_EQ(ReadWholeFile(Dl + "/out/a.bsp"), std::string(150000, 'a'));
    EXPECT_EQ(ReadWholeFile(Dl + "/out/readme.txt"), "read me");
    EXPECT_FALSE(Form->Memo2->toPlainText().contains(Q(password)));
  }
  Form.reset();  // the settings are written as the window closes
  for (const char* file : {"tallyra.ini", "rarlist.txt", "debug.txt"}) {
    if (FileExists(Dir.File(file))) {
      EXPECT_EQ(ReadWholeFile(Dir.File(file)).find(password), std::string::npos) << file;
    }
  }
  EXPECT_TRUE(FileExists(Dir.File("tallyra.ini")));
}
