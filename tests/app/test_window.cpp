#include "app/Unit1.h"
#include "app/WindowLayout.h"
#include "controls/FilCtl95.h"
#include "controls/GradBtn.h"
#include "controls/ProgressCyl.h"
#include "controls/RadioGroup.h"
#include "controls/frstatus.h"
#include "platform/FileSystem.h"
#include "platform/ScriptedDialogs.h"
#include "TempDir.h"
#include "WindowFixture.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>


TEST_F(TWindowFixture, OpensOnCreateSfvFileWithSixPagesInOrder) {
  auto form = Open();
  EXPECT_EQ(form->windowTitle(), "Tallyra");
  ASSERT_EQ(form->PageControl1->count(), 6);
  const char* captions[] = {"Create SFV File", "Validate SFV file", "Create RAR",
                            "UnRar",           "Help",              "About"};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(form->PageControl1->tabText(i), captions[i]);
  EXPECT_EQ(form->PageControl1->currentWidget(), form->TabSheet1);
  EXPECT_EQ(form->size(), QSize(613, 394));
  EXPECT_FALSE(form->GradProgress1->isVisibleTo(form.get()));
  EXPECT_EQ(form->TallyraStatus->text(), form->StatusTitle);
  EXPECT_TRUE(form->StatusTitle.startsWith("Tallyra Version 2.0.0 Build "));
  EXPECT_EQ(form->Label7->text(), form->VersionText);
  EXPECT_FALSE(form->Timer1->isActive());
  EXPECT_FALSE(form->Timer2->isActive());
  EXPECT_EQ(form->GradBtn13->Caption(), "&Create Rar");
  EXPECT_EQ(form->GradBtn11->Caption(), "Clear results");
}

TEST_F(TWindowFixture, FirstRunShowsDefaultsAndWritesThemAtExit) {
  auto form = Open();
  EXPECT_EQ(form->rdogrpFilename->ItemIndex(), 1);
  EXPECT_EQ(form->cmbVolumeSize->currentText(), "15,000,000");
  EXPECT_EQ(form->cmbCompLevel->currentText(), "3 - Normal");
  for (QCheckBox* box : {form->ChkBoxUnrarAfter, form->ChkBoxCreateSFV, form->ChkBoxEncrypt,
                         form->chkBoxCreateSFX}) {
    EXPECT_FALSE(box->isChecked()) << box->text().toStdString();
  }
  EXPECT_FALSE(form->edtPass->isEnabled());
  form->close();
  EXPECT_EQ(Ini(), "[Options]\r\nUnrarAfterSFV=0\r\nAutoCreateSFV=0\r\nEncrypt=0\r\nCreateSFX=0\r\n"
                   "NewNameType=1\r\nVolumeLevel=6\r\nCompressionLevel=3\r\n");
  EXPECT_TRUE(Dialogs.Calls.empty());
}

TEST_F(TWindowFixture, StoredValuesDriveTheControls) {
  const struct {
    const char* Ini;
    int NameRule;
    int Volume;
    QString VolumeText;
  } cases[] = {
      {"NewNameType=0x2", 2, 6, "15,000,000"},
      {"NewNameType=abc", 1, 6, "15,000,000"},
      {"NewNameType=-5", -1, 6, "15,000,000"},
      {"NewNameType=9", 2, 6, "15,000,000"},
      {"VolumeLevel=$7", 1, 7, "20,000,000"},
      {"VolumeLevel=12", 1, -1, ""},
  };
  for (const auto& c : cases) {
    Dir.Write("tallyra.ini", std::string("[Options]\r\n") + c.Ini + "\r\n");
    auto form = Open();
    EXPECT_EQ(form->rdogrpFilename->ItemIndex(), c.NameRule) << c.Ini;
    EXPECT_EQ(form->cmbVolumeSize->currentIndex(), c.Volume) << c.Ini;
    EXPECT_EQ(form->cmbVolumeSize->currentText(), c.VolumeText) << c.Ini;
  }
}

TEST_F(TWindowFixture, EncryptSevenChecksTheBoxAndIsWrittenBackAsOne) {
  Dir.Write("tallyra.ini", "[Options]\r\nEncrypt=7\r\nMine=kept\r\n[Other]\r\nA=b\r\n");
  auto form = Open();
  EXPECT_TRUE(form->ChkBoxEncrypt->isChecked());
  EXPECT_TRUE(form->edtPass->isEnabled());
  form->chkBoxCreateSFX->click();
  form->close();
  EXPECT_EQ(Ini(), "[Options]\r\nEncrypt=1\r\nMine=kept\r\nUnrarAfterSFV=0\r\nAutoCreateSFV=0\r\n"
                   "CreateSFX=1\r\nNewNameType=1\r\nVolumeLevel=6\r\nCompressionLevel=3\r\n"
                   "[Other]\r\nA=b\r\n");
}

TEST_F(TWindowFixture, AnUnwritableSettingsFileIsReportedAtExit) {
  auto form = Open();
  mkdir(Dir.File("tallyra.ini").c_str(), 0755);  // the path can no longer be written
  form->close();
  ASSERT_EQ(Dialogs.Texts(TScriptedDialogs::TKind::Exception).size(), 1);
  EXPECT_EQ(Dialogs.Calls[0].Text, Q("Unable to write to " + Dir.File("tallyra.ini")));
}

TEST_F(TWindowFixture, CommandLineStartsTheRightPageAndTimer) {
  const std::string sfv = Dir.Write("set.sfv", "");
  const std::string rar = Dir.Write("set.rar", "");
  {
    auto form = Open({"/c", Q(sfv)});
    EXPECT_EQ(form->PageControl1->currentWidget(), form->TabSheet2);
    EXPECT_TRUE(form->Timer1->isActive());
    EXPECT_EQ(form->Timer1->interval(), 500);
    EXPECT_EQ(form->CmdFile, Q(LongPathName(sfv)));
    EXPECT_EQ(form->WorkDir, Q(ExtractFilePath(LongPathName(sfv))));
    EXPECT_EQ(form->Directory95ListBox1->Directory() + "/", form->WorkDir);
  }
  {
    auto form = Open({"/M", Q(rar)});
    EXPECT_EQ(form->PageControl1->currentWidget(), form->TabSheet1);
    EXPECT_TRUE(form->Timer2->isActive());
    EXPECT_EQ(form->Timer2->interval(), 2000);
    EXPECT_EQ(form->Directory95ListBox2->Directory() + "/", form->WorkDir);
  }
  {
    auto form = Open({"/C", Q(Dir.File("missing.sfv"))});
    EXPECT_EQ(form->PageControl1->currentWidget(), form->TabSheet1);
    EXPECT_FALSE(form->Timer1->isActive());
    EXPECT_EQ(form->WorkDir, Q(Dir.Path()));  // the program's folder, no trailing separator
  }
  {
    auto form = Open({"debug", Q(sfv)});
    EXPECT_FALSE(form->Timer1->isActive());
    EXPECT_EQ(form->CmdSwitch, "debug");
  }
}

TEST_F(TWindowFixture, TheCheckTimerFiresOnceAndSelectsTheFile) {
  const std::string sfv = Dir.Write("set.sfv", "");
  auto form = Open({"/C", Q(sfv)});
  EXPECT_EQ(form->ListBox1->count(), 0);
  QTest::qWait(700);
  EXPECT_FALSE(form->Timer1->isActive());
  EXPECT_EQ(form->SfvPath, Q(LongPathName(sfv)));
  // An SFV without entries ends with the summary alone.
  ASSERT_EQ(form->ListBox1->count(), 10);
  EXPECT_EQ(form->ListBox1->item(1)->text(), "Total files : |0");
  EXPECT_EQ(form->ListBox1->item(8)->text(), "Checking done|All passed!");
  EXPECT_FALSE(form->GradProgress1->isVisibleTo(form.get()));
  EXPECT_EQ(form->TallyraStatus->text(), "Checking completed");
}

TEST_F(TWindowFixture, ATimerStartedCheckDisablesWhatThePageDisables) {
  for (const char* name : {"1", "2", "3"}) Dir.Write(name, std::string(8 * CrcBlockSize, name[0]));
  const std::string sfv = Dir.Write("set.sfv", "1 0\r\n2 0\r\n3 0\r\n");
  Clock.Step = 20;  // every block lets messages run
  auto form = Open({"/C", Q(sfv)});
  bool clearEnabled = true, validateEnabled = true;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (form->TallyraStatus->text() != "Checking : 2") return;
    clearEnabled = form->GradBtn7->isEnabled();
    validateEnabled = form->GradBtn5->isEnabled();
    form->GradBtn7->click();  // "Clear Results" under the running check
  });
  poll.start(0);
  form->Timer1Timer();
  EXPECT_FALSE(clearEnabled);
  EXPECT_FALSE(validateEnabled);
  ASSERT_EQ(form->ListBox1->count(), 13);  // nothing was cleared under the check
  EXPECT_EQ(form->ListBox1->item(2)->text(), "3|Failed|0");
  EXPECT_TRUE(form->GradBtn7->isEnabled());
  EXPECT_TRUE(form->GradBtn5->isEnabled());
}

TEST_F(TWindowFixture, TheCustomNameBoxSitsBesideItsItemWhicheverPageShowsFirst) {
  const std::string sfv = Dir.Write("set.sfv", "");
  for (const bool checkFirst : {false, true}) {
    auto form = checkFirst ? Open({"/C", Q(sfv)}) : Open();
    form->Timer1->stop();
    form->show();
    QCoreApplication::processEvents();
    form->PageControl1->setCurrentWidget(form->TabSheet1);
    QCoreApplication::processEvents();
    const QRadioButton* custom = form->rdogrpFilename->Button(2);
    const QRect item = custom->geometry();
    const QRect box = form->Edit2->geometry();
    EXPECT_GE(box.left(), item.left() + custom->sizeHint().width()) << checkFirst;  // clear of its caption
    EXPECT_LE(std::abs(box.center().y() - item.center().y()), 1) << checkFirst;
    EXPECT_EQ(box.right() + 1, form->rdogrpFilename->width() - 7) << checkFirst;
  }
}

TEST_F(TWindowFixture, ButtonBarsFollowTheirWidth) {
  auto form = Open();
  form->show();
  for (int width : {613, 820}) {
    form->resize(width, 394);
    QCoreApplication::processEvents();
    const auto spans = ButtonBarLayout(form->Panel7->width());
    const TGradBtn* buttons[] = {form->GradBtn1, form->GradBtn2, form->GradBtn3, form->GradBtn4};
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(buttons[i]->x(), spans[i].Left);
      EXPECT_EQ(buttons[i]->width(), spans[i].Width);
    }
    EXPECT_EQ(form->StatusBar1->PanelWidth(0), width / 2);
    EXPECT_EQ(form->GradProgress1->geometry(), QRect(width / 2, 0, width / 2 - 8, 22));
    EXPECT_EQ(form->Edit2->geometry().right() + 1, form->rdogrpFilename->width() - 7);
  }
  // A page shown later is laid out too.
  form->PageControl1->setCurrentWidget(form->TabSheet6);
  QCoreApplication::processEvents();
  EXPECT_EQ(form->GradBtn16->x() + form->GradBtn16->width(),
            2 + 3 * (form->Panel36->width() / 4 - 1) + form->Panel36->width() / 4);
}

TEST_F(TWindowFixture, FileCrcDrivesTheBarAndRecordsErrors) {
  Clock.Step = 20;  // the bar follows every block
  auto form = Open();
  form->GradProgress1->SetPosition(70);
  EXPECT_EQ(form->FileCrc(Q(Dir.Write("a", "123456789"))), 0xCBF43926u);
  EXPECT_EQ(form->GradProgress1->Position(), 0);
  // The colour follows the position shown now (0), not the 100 shown before it.
  EXPECT_EQ(form->GradProgress1->FontColor(), QColor(Qt::black));
  EXPECT_EQ(static_cast<double>(form->CurrentFileSize), 9.0);

  form->TotalBytes = 0;
  EXPECT_EQ(form->FileCrc(Q(Dir.File("missing"))), 0u);
  EXPECT_EQ(form->LastError, 2u);
  EXPECT_EQ(form->FileError, 2);
  EXPECT_EQ(static_cast<double>(form->TotalBytes), 0.0);
}

TEST_F(TWindowFixture, HaltStopsARunningReadAndKeepsTheBar) {
  Clock.Step = 20;  // every block lets messages run
  auto form = Open();
  const std::string file = Dir.Write("f", std::string(100 * CrcBlockSize, 'x'));
  // The click arrives while the first block lets messages run.
  QTimer::singleShot(0, form.get(), [&] { form->GradBtn2->click(); });
  form->FileError = -1;
  EXPECT_EQ(form->FileCrc(Q(file)), 0u);
  EXPECT_TRUE(form->Halted);
  EXPECT_EQ(form->LastError, 0u);
  EXPECT_EQ(form->FileError, -1);
  EXPECT_EQ(form->GradProgress1->Position(), 1);  // one block of a hundred, left in place
}

TEST_F(TWindowFixture, TheBarFollowsBlocksNoOftenerThanMessagesRun) {
  auto form = Open();  // the clock stands still: no block is worth a repaint
  form->FileCrc(Q(Dir.Write("f", std::string(40000, 'x'))));
  EXPECT_EQ(form->GradProgress1->Position(), 0);
  EXPECT_EQ(form->GradProgress1->FontColor(), QColor(Qt::black));
}

TEST_F(TWindowFixture, DebugSwitchTracesEveryBlock) {
  auto form = Open({"DEBUG"});
  form->FileCrc(Q(Dir.Write("f", std::string(40000, 'x'))));
  const std::string trace = ReadWholeFile(Dir.File("debug.txt"));
  EXPECT_EQ(trace.rfind("16384 : ", 0), 0u);
  EXPECT_NE(trace.find("\r\n32768 : "), std::string::npos);
  EXPECT_NE(trace.find("\r\n40000 : "), std::string::npos);
  EXPECT_EQ(std::count(trace.begin(), trace.end(), '\n'), 3);
}

TEST_F(TWindowFixture, AWorkflowBlocksBothSfvStartButtons) {
  auto form = Open();
  form->BeginWorkflow({form->GradBtn7});
  EXPECT_TRUE(form->WorkflowRunning());
  EXPECT_FALSE(form->GradBtn1->isEnabled());
  EXPECT_FALSE(form->GradBtn5->isEnabled());
  EXPECT_FALSE(form->GradBtn7->isEnabled());
  form->EndWorkflow({form->GradBtn7});
  EXPECT_FALSE(form->WorkflowRunning());
  EXPECT_TRUE(form->GradBtn1->isEnabled());
  EXPECT_TRUE(form->GradBtn5->isEnabled());
  EXPECT_TRUE(form->GradBtn7->isEnabled());

  form->ShowProgress(true);
  EXPECT_TRUE(form->GradProgress1->isVisibleTo(form.get()));
  EXPECT_FALSE(form->StatusBar1->SizeGrip());
  form->ShowProgress(false);
  EXPECT_FALSE(form->GradProgress1->isVisibleTo(form.get()));
  EXPECT_TRUE(form->StatusBar1->SizeGrip());
}

TEST_F(TWindowFixture, FilterAndOptionControls) {
  Dir.Write("a.sfv", "");
  Dir.Write("b.crc", "");
  auto form = Open();
  form->Directory95ListBox1->SetDirectory(Q(Dir.Path()));
  ASSERT_EQ(form->FileListBox1->Count(), 1);
  EXPECT_EQ(form->FileListBox1->Name(0), "a.sfv");
  form->FilterComboBox1->setCurrentIndex(1);  // "CRC Files (*.crc)"
  ASSERT_EQ(form->FileListBox1->Count(), 1);
  EXPECT_EQ(form->FileListBox1->Name(0), "b.crc");

  form->Directory95ListBox4->SetDirectory(Q(Dir.Path()));
  EXPECT_EQ(form->cmbBoxPaths->itemText(1), Q(ExtractFileName(LongPathName(Dir.Path()))));

  form->Panel42Click();
  EXPECT_TRUE(form->chkBoxCreateSFX->isChecked());
  form->chkBoxPassword->click();
  EXPECT_TRUE(form->edtPass->isEnabled());
  form->cmbCompLevel->setCurrentIndex(0);
  form->GradBtn15Click();
  EXPECT_FALSE(form->chkBoxCreateSFX->isChecked());
  EXPECT_FALSE(form->chkBoxPassword->isChecked());
  EXPECT_FALSE(form->edtPass->isEnabled());
  EXPECT_EQ(form->cmbCompLevel->currentIndex(), 3);
  EXPECT_EQ(form->cmbBoxPaths->currentIndex(), 0);
}
