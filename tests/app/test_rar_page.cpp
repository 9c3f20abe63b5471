#include "checksum/SfvCheck.h"
#include "controls/FilCtl95.h"
#include "platform/FileSystem.h"
#include "WindowFixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <filesystem>

namespace {

struct TRarPage : TWindowFixture {
  std::unique_ptr<TForm1> Form;
  std::string Src;
  std::string Out;
  std::string Log;
  QByteArray OldPath;

  void SetUp() override {
    Src = Dir.File("maps");
    Out = Dir.File("out");
    std::filesystem::create_directory(Src);
    std::filesystem::create_directory(Out);
    Dir.Write("maps/a.bsp", std::string(1200000, 'a'));
    Dir.Write("maps/b.bsp", std::string(1200000, 'b'));
    Dir.Write("maps/c.txt", "readme");
    Log = Dir.File("rar.log");
    qputenv("TALLYRA_FAKE_RAR_LOG", QByteArray::fromStdString(Log));
    // No archiver on PATH: only the one a test puts beside the program counts.
    OldPath = qgetenv("PATH");
    qputenv("PATH", QByteArray::fromStdString(Out));
    Form = Open();
    Form->Directory95ListBox4->SetDirectory(Q(Src));
  }
  void TearDown() override {
    Form.reset();
    qputenv("PATH", OldPath);
    qunsetenv("TALLYRA_FAKE_RAR_LOG");
  }
  void InstallArchiver() {
    std::filesystem::copy_file(TALLYRA_FAKE_RAR, Dir.File("rar"));
    std::filesystem::permissions(Dir.File("rar"), std::filesystem::perms::owner_exec,
                                 std::filesystem::perm_options::add);
  }
  void SelectAll() {
    for (int i = 0; i < Form->FileListBox4->Count(); ++i) Form->FileListBox4->SetSelected(i, true);
  }
  QStringList Logged(const char* key) const {
    QStringList values;
    for (const QString& line : QString::fromStdString(ReadWholeFile(Log)).split('\n')) {
      if (line.startsWith(QString(key) + "=")) values << line.mid(static_cast<int>(strlen(key)) + 1);
    }
    return values;
  }
};

}  // namespace

TEST_F(TRarPage, NothingSelected) {
  Form->GradBtn13Click();
  EXPECT_EQ(Dialogs.Texts(TScriptedDialogs::TKind::Message), QStringList{"No files selected to compress"});
  EXPECT_TRUE(Dialogs.Texts(TScriptedDialogs::TKind::Save).isEmpty());
}

TEST_F(TRarPage, TheSaveDialogProposesTheFirstFileAndCancelStops) {
  InstallArchiver();
  SelectAll();
  Form->GradBtn13Click();
  ASSERT_EQ(Dialogs.Calls.size(), 1u);
  const IDialogs::TSaveRequest& r = Dialogs.Calls[0].Save;
  EXPECT_EQ(r.Title, "Save RAR File");
  EXPECT_EQ(r.Filter, "Rar Files (*.rar)|*.rar|All Files (*.*)|*.*");
  EXPECT_EQ(r.DefaultExt, "rar");
  EXPECT_FALSE(r.PromptOverwrite);
  EXPECT_EQ(r.FileName, Q(LongPathName(Src) + "/a.rar"));
  EXPECT_FALSE(FileExists(Log));  // cancelled: the archiver never ran
}

TEST_F(TRarPage, VolumesListFileAndArgumentsThenTheSetsSfv) {
  InstallArchiver();
  SelectAll();
  Form->ChkBoxCreateSFV->setChecked(true);
  Form->cmbVolumeSize->setCurrentIndex(0);  // 1,000,000
  Form->cmbBoxPaths->setCurrentIndex(1);    // "maps"
  Form->chkBoxPassword->click();
  Form->edtPass->setText("two words");
  Dialogs.SaveAnswers = {Q(Out + "/set.zip")};  // a typed .zip still gives .rar
  Form->GradBtn13Click();

  EXPECT_EQ(Logged("cwd"), QStringList{Q(Dir.Path())});  // the data folder
  EXPECT_EQ(Logged("arg"), (QStringList{"a", "-vn", "-ep", "-v1000000b", "-m3", "-ptwo words",
                                        "-apmaps", Q(Out + "/set.rar"), "@rarlist.txt"}));
  const std::string folder = LongPathName(Src);
  EXPECT_EQ(Logged("list"), (QStringList{Q(folder + "/a.bsp"), Q(folder + "/b.bsp"),
                                         Q(folder + "/c.txt")}));
  EXPECT_EQ(ReadWholeFile(Dir.File("rarlist.txt")),
            folder + "/a.bsp\r\n" + folder + "/b.bsp\r\n" + folder + "/c.txt\r\n");
  for (const char* volume : {"set.rar", "set.r00", "set.r01"}) {
    EXPECT_TRUE(FileExists(Out + "/" + volume)) << volume;
  }
  EXPECT_EQ(Form->CmdFile, Q(Out + "/set.rar"));

  // The SFV of the new set: every volume, each passing.
  EXPECT_EQ(Form->PageControl1->currentWidget(), Form->TabSheet1);
  const std::string sfv = LongPathName(Out) + "/out.sfv";  // "Directory name"
  ASSERT_TRUE(FileExists(sfv));
  const auto entries = ReadSfvEntries(ReadWholeFile(sfv));
  ASSERT_EQ(entries.size(), 3u);
  TSfvCheckHooks hooks;
  std::vector<std::uint8_t> buffer(CrcBlockSize);
  TCrcReader reader(buffer, SystemClock());
  hooks.FileCrc = [&](const std::string& p) { return reader.FileCrc(p, {}); };
  EXPECT_EQ(CheckSfvEntries(LongPathName(Out) + "/", entries, hooks, SystemClock()).Failures, 0);
}

TEST_F(TRarPage, AMissingArchiverIsReportedAndTheSfvStepStillRuns) {
  SelectAll();
  Form->ChkBoxCreateSFV->setChecked(true);
  Dir.Write("out/old.rar", "an older archive of the same name");
  Dialogs.SaveAnswers = {Q(Out + "/old.rar")};
  Form->GradBtn13Click();
  EXPECT_EQ(Dialogs.Texts(TScriptedDialogs::TKind::Message),
            QStringList{"rar Not found\nThis file MUST be in the same directory as Tallyra \n"
                        "Go to Tallyra Homepage and download it.\n"});
  EXPECT_FALSE(FileExists(Log));
  EXPECT_TRUE(FileExists(LongPathName(Out) + "/out.sfv"));
}

TEST_F(TRarPage, TheCommandTextShowsWhatThePageBuilds) {
  Form->chkBoxPassword->click();
  Form->ChkBoxEncrypt->click();
  Form->edtPass->setText("pw");
  Form->Panel42Click();
  EXPECT_TRUE(Form->chkBoxCreateSFX->isChecked());
  EXPECT_EQ(Form->BuildRarCommand("/out/set.rar"),
            " a -vn -ep -v15000000b -m3 -hppw -sfx \"/out/set.rar\" @rarlist.txt");
  Form->Panel42Click();
  EXPECT_FALSE(Form->chkBoxCreateSFX->isChecked());
  Form->cmbVolumeSize->setCurrentIndex(-1);  // nothing chosen: the previous size stays
  EXPECT_EQ(Form->BuildRarCommand("/o.rar"), " a -vn -ep -v15000000b -m3 -hppw \"/o.rar\" @rarlist.txt");
}
