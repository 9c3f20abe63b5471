#include "app/Unit2.h"
#include "checksum/SfvFile.h"
#include "controls/FilCtl95.h"
#include "controls/GradBtn.h"
#include "controls/ProgressCyl.h"
#include "controls/RadioGroup.h"
#include "platform/FileSystem.h"
#include "WindowFixture.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <filesystem>
#include <unistd.h>

namespace {

struct TCreatePage : TWindowFixture {
  std::unique_ptr<TForm1> Form;
  std::string Set;  // a folder holding the files to sum

  void SetUp() override {
    Set = Dir.File("Show");
    std::filesystem::create_directory(Set);
    Dir.Write("Show/a.rar", "hello");
    Dir.Write("Show/b.r00", "123456789");
    Dir.Write("Show/other.txt", "x");
    Form = Open();
    Form->Directory95ListBox2->SetDirectory(Q(Set));
  }
  void Select(std::initializer_list<const char*> names) {
    for (const char* name : names) {
      for (int i = 0; i < Form->FileListBox2->Count(); ++i) {
        if (Form->FileListBox2->Name(i) == name) Form->FileListBox2->SetSelected(i, true);
      }
    }
  }
  QStringList Log() const { return Form->RichEdit1->toPlainText().split('\n'); }
};

// Runs an action on the modal window once it is shown.
void OnModal(std::function<void(TfrmError*)> action) {
  QTimer::singleShot(0, [action] {
    auto* form = qobject_cast<TfrmError*>(QApplication::activeModalWidget());
    ASSERT_NE(form, nullptr);
    action(form);
  });
}

}  // namespace

TEST_F(TCreatePage, NothingSelectedAsksForFiles) {
  Form->GradBtn1Click();
  EXPECT_EQ(Dialogs.Texts(TScriptedDialogs::TKind::Message),
            QStringList{"You must select files to check first"});
  EXPECT_FALSE(FileExists(Set + "/Show.sfv"));
}

TEST_F(TCreatePage, CreateWritesTheSfvAndLogsEachFile) {
  Select({"a.rar", "b.r00"});
  Form->GradBtn1->click();
  const std::string sfv = Set + "/Show.sfv";  // "Directory name", the default rule
  ASSERT_TRUE(FileExists(sfv));
  const auto entries = ReadSfvEntries(ReadWholeFile(sfv));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].Crc, "cbf43926");
  EXPECT_EQ(Log(), (QStringList{"a.rar CRC is 3610A686", "b.r00 CRC is CBF43926", "",
                                "Validation file created"}));
  EXPECT_EQ(Form->GroupBox4->title(), "Results (Checked 2 of 2 files )");
  EXPECT_EQ(Form->TallyraStatus->text(), "Done Calculating CRC");
  EXPECT_FALSE(Form->GradProgress1->isVisibleTo(Form.get()));
  EXPECT_TRUE(Form->GradBtn1->isEnabled());
  EXPECT_EQ(Form->WorkDir, Q(LongPathName(Set) + "/"));
  EXPECT_EQ(Form->SfvPath, Q(sfv));
  EXPECT_TRUE(Form->ErrorList.isEmpty());
}

TEST_F(TCreatePage, NamingRulesOfThePage) {
  Select({"b.r00", "a.rar"});  // the list shows a.rar first
  Form->rdogrpFilename->SetItemIndex(0);
  Form->GradBtn1Click();
  EXPECT_TRUE(FileExists(Set + "/a.sfv"));
  Form->rdogrpFilename->SetItemIndex(2);
  Form->Edit2->setText("SET.SFV");
  Form->GradBtn1Click();
  EXPECT_TRUE(FileExists(Set + "/SET.SFV"));
  Form->rdogrpFilename->SetItemIndex(-1);
  Form->GradBtn1Click();
  EXPECT_EQ(Form->SfvPath, Q(Set + "/Show.sfv"));
}

TEST_F(TCreatePage, AnUnreadableFileIsLoggedAndListedAsAnError) {
  Select({"a.rar", "b.r00"});
  unlink((Set + "/b.r00").c_str());  // vanishes after it was selected
  Form->ErrorList << "left from an earlier check";
  Form->GradBtn1Click();
  EXPECT_EQ(Log()[1], "b.r00 could not be read: No such file or directory");
  EXPECT_EQ(Form->ErrorList,
            (QStringList{"Error with file : b.r00", "No such file or directory\r\n", " "}));
  EXPECT_EQ(ReadSfvEntries(ReadWholeFile(Set + "/Show.sfv")).size(), 1u);
}

TEST_F(TCreatePage, HaltWhileSummingWritesNothing) {
  const std::string big = Set + "/big.rar";
  Dir.Write("Show/big.rar", "");
  ASSERT_EQ(truncate(big.c_str(), 1ll << 30), 0);
  Dir.Write("Show/Show.sfv", "old");
  Form->FileListBox2->Update();
  Select({"a.rar", "big.rar"});
  Clock.Step = 20;  // every block lets messages run
  // "&Halt" is pressed once the last file's read has begun.
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [this] {
    if (Form->TallyraStatus->text().endsWith("big.rar")) Form->GradBtn2->click();
  });
  poll.start(0);
  Form->GradBtn1Click();
  EXPECT_EQ(Form->TallyraStatus->text(), "Calculating CRC on : big.rar");
  EXPECT_EQ(Log().last(), "User halted");
  EXPECT_EQ(ReadWholeFile(Set + "/Show.sfv"), "old");
  EXPECT_FALSE(Form->GradProgress1->isVisibleTo(Form.get()));
  EXPECT_TRUE(Form->GradBtn1->isEnabled());
}

TEST_F(TCreatePage, ACreationStartIsRefusedWhileAnotherRuns) {
  Select({"a.rar"});
  Form->BeginWorkflow({});
  Form->GradBtn1Click();
  Form->EndWorkflow({});
  EXPECT_FALSE(FileExists(Set + "/Show.sfv"));
}

TEST_F(TWindowFixture, AnMStartCreatesTheSetsSfvAfterTwoSeconds) {
  std::filesystem::create_directory(Dir.File("dl"));
  for (const char* name : {"set.rar", "set.r00", "set.r01", "other.rar"}) {
    Dir.Write(std::string("dl/") + name, name);
  }
  Dir.Write("tallyra.ini", "[Options]\r\nNewNameType=0\r\n");
  auto form = Open({"/M", Q(Dir.File("dl/set.r00"))});
  EXPECT_FALSE(FileExists(Dir.File("dl/set.sfv")));
  ASSERT_TRUE(QTest::qWaitFor([&] { return FileExists(Dir.File("dl/set.sfv")); }, 4000));
  const auto entries = ReadSfvEntries(ReadWholeFile(Dir.File("dl/set.sfv")));
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].Name, "set.r00");
  EXPECT_EQ(entries[2].Name, "set.rar");
  EXPECT_TRUE(Dialogs.Calls.empty());  // no errors, no question
}

TEST_F(TWindowFixture, AnMStartOnAnyPartTakesTheWholeNewStyleSet) {
  for (const char* name : {"show.part1.rar", "show.part2.rar", "show.part3.rar", "show.nfo", "show.sfv",
                           "showing.part1.rar", "other.rar"}) {
    Dir.Write(std::string("dl/") + name, name);
  }
  Dir.Write("tallyra.ini", "[Options]\r\nNewNameType=2\r\n");
  auto form = Open({"/M", Q(Dir.File("dl/show.part2.rar"))});
  form->Timer2->stop();
  form->Edit2->setText("new");
  form->Timer2Timer();
  const auto entries = ReadSfvEntries(ReadWholeFile(Dir.File("dl/new.sfv")));
  std::vector<std::string> names;
  for (const auto& e : entries) names.push_back(e.Name);
  EXPECT_EQ(names, (std::vector<std::string>{"show.nfo", "show.part1.rar", "show.part2.rar", "show.part3.rar",
                                             "show.sfv"}));
}

TEST_F(TCreatePage, TheFileListFollowsTheFolderWhileThePageIsShown) {
  Form->show();
  auto listed = [&] {
    QStringList names;
    for (int i = 0; i < Form->FileListBox2->Count(); ++i) names << Form->FileListBox2->Name(i);
    return names;
  };
  Select({"b.r00"});
  Dir.Write("Show/new.bin", "new");
  std::filesystem::remove(Set + "/other.txt");
  ASSERT_TRUE(QTest::qWaitFor([&] { return listed() == QStringList{"a.rar", "b.r00", "new.bin"}; }, 3000))
      << listed().join(",").toStdString();
  EXPECT_EQ(Form->FileListBox2->SelCount(), 1);
  EXPECT_TRUE(Form->FileListBox2->Selected(1));
}

TEST_F(TWindowFixture, TheErrorReportShowsEditsAndSaves) {
  auto form = Open();
  form->ErrorList = {"Error with file : x.rar", "No such file or directory\r\n", " "};
  form->WorkDir = Q(Dir.Path() + "/");
  const std::string log = Dir.File("errors");  // no extension is added
  Dialogs.SaveAnswers = {std::nullopt, Q(log)};
  QString shown;
  OnModal([&](TfrmError* report) {
    EXPECT_EQ(report->windowTitle(), "Errors");
    EXPECT_EQ(report->size(), QSize(352, 226));
    EXPECT_EQ(report->Button1->x(), 91);
    EXPECT_EQ(report->Button2->x(), 176);
    shown = report->Memo1->toPlainText();
    report->Button2->click();  // cancelled: nothing written, still open
    EXPECT_FALSE(FileExists(log));
    EXPECT_TRUE(report->isVisible());
    report->Memo1->appendPlainText("my note");
    report->Button2->click();
    report->Button1->click();
  });
  form->ShowErrorReport();
  EXPECT_EQ(shown, "Error with file : x.rar\nNo such file or directory\n\n ");
  EXPECT_EQ(ReadWholeFile(log),
            "Error with file : x.rar\r\nNo such file or directory\r\n\r\n \r\nmy note\r\n");
  ASSERT_EQ(Dialogs.Texts(TScriptedDialogs::TKind::Save).size(), 2);
  EXPECT_EQ(Dialogs.Calls[0].Save.Title, "Save SFV Error Log");
  EXPECT_EQ(Dialogs.Calls[0].Save.InitialDir, Q(Dir.Path() + "/"));
  EXPECT_FALSE(Dialogs.Calls[0].Save.PromptOverwrite);
}

TEST_F(TWindowFixture, AFailedLogSaveIsReportedAndTheWindowStays) {
  auto form = Open();
  form->ErrorList = {"Error with file : x.rar"};
  Dir.Write("old.log", "keep me?");
  Dialogs.SaveAnswers = {Q(Dir.File("no/such/folder.log")), Q(Dir.File("old.log"))};
  OnModal([&](TfrmError* report) {
    report->Button2->click();
    EXPECT_TRUE(report->isVisible());
    report->Button2->click();  // replaces without asking
    report->Button1->click();
  });
  form->ShowErrorReport();
  EXPECT_EQ(Dialogs.Texts(TScriptedDialogs::TKind::Exception),
            QStringList{"Cannot create file " + Q(Dir.File("no/such/folder.log"))});
  EXPECT_EQ(ReadWholeFile(Dir.File("old.log")), "Error with file : x.rar\r\n");
}
