#include "checksum/SfvCheck.h"
#include "controls/FilCtl95.h"
#include "controls/GradBtn.h"
#include "controls/ProgressCyl.h"
#include "platform/FileSystem.h"
#include "WindowFixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QStyle>
#include <QStyleOptionButton>
#include <QLineEdit>
#include <QListWidget>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
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
    for (const char* name : {"TALLYRA_FAKE_RAR_EXIT", "TALLYRA_FAKE_RAR_DELAY_MS", "TALLYRA_FAKE_RAR_IGNORE_TERM"}) {
      qunsetenv(name);
    }
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

TEST_F(TRarPage, AMissingArchiverIsReportedAndNoSfvFollows) {
  SelectAll();
  Form->ChkBoxCreateSFV->setChecked(true);
  Dir.Write("out/old.rar", "an older archive of the same name");
  Dialogs.SaveAnswers = {Q(Out + "/old.rar")};
  Form->GradBtn13Click();
  EXPECT_EQ(Dialogs.Texts(TScriptedDialogs::TKind::Message),
            QStringList{"rar Not found\nThis file MUST be in the same directory as Tallyra \n"
                        "Go to Tallyra Homepage and download it.\n"});
  EXPECT_FALSE(FileExists(Log));
  // The stale archive of the same name was not made by this run: no SFV of it.
  EXPECT_FALSE(FileExists(LongPathName(Out) + "/out.sfv"));
  EXPECT_EQ(Form->TallyraStatus->text(), "rar Not found");
  EXPECT_EQ(Form->PageControl1->currentWidget(), Form->TabSheet1);  // the page it was on
}

TEST_F(TRarPage, AFailingArchiverLeavesTheExistingSfvAlone) {
  InstallArchiver();
  SelectAll();
  Form->ChkBoxCreateSFV->setChecked(true);
  const std::string existing = "a.bsp 11111111\r\nb.bsp 22222222\r\nc.txt 33333333\r\n";
  Dir.Write("out/out.sfv", existing);
  Dir.Write("out/set.rar", "an older archive of the same name");
  qputenv("TALLYRA_FAKE_RAR_EXIT", "3");
  Dialogs.SaveAnswers = {Q(Out + "/set.rar")};
  Form->GradBtn13Click();
  EXPECT_EQ(Dialogs.Texts(TScriptedDialogs::TKind::Message),
            QStringList{"rar ended with exit status 3\nNo space left on device\nNo SFV file was created."});
  EXPECT_EQ(ReadWholeFile(Out + "/out.sfv"), existing);
  EXPECT_EQ(Form->TallyraStatus->text(), "rar ended with exit status 3");
  EXPECT_TRUE(Form->GradBtn13->isEnabled());
}

TEST_F(TRarPage, TheArchiverIsSeenWhileItRunsAndReadsNothing) {
  InstallArchiver();
  SelectAll();
  qputenv("TALLYRA_FAKE_RAR_DELAY_MS", "5");
  QStringList steps;
  int highest = -1;
  bool barShown = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    const QString step = Form->TallyraStatus->text();
    if (steps.isEmpty() || steps.last() != step) steps << step;
    highest = std::max(highest, Form->GradProgress1->Position());
    barShown = barShown || Form->GradProgress1->isVisibleTo(Form.get());
  });
  poll.start(1);
  Dialogs.SaveAnswers = {Q(Out + "/set.rar")};
  Form->GradBtn13Click();
  poll.stop();
  EXPECT_TRUE(steps.contains("Adding a.bsp")) << steps.join(" | ").toStdString();
  EXPECT_GT(highest, 0);
  EXPECT_TRUE(barShown);
  EXPECT_FALSE(Form->GradProgress1->isVisibleTo(Form.get()));
  EXPECT_EQ(Form->TallyraStatus->text(), "Done");
  EXPECT_EQ(Logged("stdin"), QStringList{"null"});
  EXPECT_TRUE(Dialogs.Texts(TScriptedDialogs::TKind::Message).isEmpty());
}

TEST_F(TRarPage, HaltStopsTheArchiverEvenOneThatIgnoresTerminate) {
  InstallArchiver();
  qputenv("TALLYRA_FAKE_RAR_DELAY_MS", "300");  // minutes of work for the three files
  for (const char* ignoreTerm : {"0", "1"}) {
    qputenv("TALLYRA_FAKE_RAR_IGNORE_TERM", ignoreTerm);
    SelectAll();
    Form->ChkBoxCreateSFV->setChecked(true);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (Form->TallyraStatus->text().startsWith("Adding")) Form->GradBtn14->click();
    });
    poll.start(5);
    Dialogs.SaveAnswers = {Q(Out + "/set.rar")};
    Form->GradBtn13Click();  // returns: the archiver was stopped
    EXPECT_EQ(Form->TallyraStatus->text(), "rar halted") << ignoreTerm;
    EXPECT_FALSE(FileExists(Out + "/set.rar")) << ignoreTerm;
    EXPECT_FALSE(FileExists(LongPathName(Out) + "/out.sfv")) << ignoreTerm;
    EXPECT_TRUE(Dialogs.Texts(TScriptedDialogs::TKind::Message).isEmpty()) << ignoreTerm;
  }
  qunsetenv("TALLYRA_FAKE_RAR_IGNORE_TERM");
}

TEST_F(TRarPage, AnEmptyPasswordIsRefusedBeforeAnything) {
  InstallArchiver();
  SelectAll();
  for (QCheckBox* box : {Form->chkBoxPassword, Form->ChkBoxEncrypt}) {
    Dialogs.Calls.clear();
    box->click();
    Form->GradBtn13Click();
    EXPECT_EQ(Dialogs.Texts(TScriptedDialogs::TKind::Message),
              QStringList{"Type a password first, or untick \"Password protect\" and "
                          "\"Encrypt both file data and headers\""});
    EXPECT_TRUE(Dialogs.Texts(TScriptedDialogs::TKind::Save).isEmpty());
    box->click();
  }
  EXPECT_FALSE(FileExists(Log));
}

TEST_F(TRarPage, AnSfvStepAskedForDuringACheckFollowsIt) {
  InstallArchiver();
  SelectAll();
  Form->ChkBoxCreateSFV->setChecked(true);
  // A check of a few big files on the other page, and the archive made meanwhile.
  std::filesystem::create_directory(Dir.File("chk"));
  Dir.Write("chk/1", std::string(16 * CrcBlockSize, '1'));
  Dir.Write("chk/2", std::string(16 * CrcBlockSize, '2'));
  Dir.Write("chk/chk.sfv", "1 0\r\n2 0\r\n");
  Form->Directory95ListBox1->SetDirectory(Q(Dir.File("chk")));
  Form->FileListBox1->SetFileName("chk.sfv");
  Clock.Step = 20;  // every block lets messages run
  bool started = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (started || Form->TallyraStatus->text() != "Checking : 1") return;
    started = true;
    Dialogs.SaveAnswers = {Q(Out + "/set.rar")};
    Form->GradBtn13Click();
  });
  poll.start(0);
  Form->GradBtn5Click();
  poll.stop();
  ASSERT_TRUE(started);
  ASSERT_EQ(Form->ListBox1->count(), 12);  // the check ran to its summary
  EXPECT_EQ(Form->ListBox1->item(1)->text(), "2|Failed|0");
  for (int i = 0; i < 200 && !FileExists(LongPathName(Out) + "/out.sfv"); ++i) QTest::qWait(10);
  const std::string sfv = LongPathName(Out) + "/out.sfv";
  ASSERT_TRUE(FileExists(sfv));
  const auto entries = ReadSfvEntries(ReadWholeFile(sfv));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].Name, "set.rar");
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

namespace {

// The last column (in box coordinates, from `from` on) holding ink of the caption.
int LastInkColumn(QCheckBox* box, const QString& caption, int from) {
  const QString saved = box->text();
  box->setText(caption);
  const QImage image = box->grab().toImage();
  box->setText(saved);
  int last = -1;
  for (int x = from; x < image.width(); ++x) {
    for (int y = 0; y < image.height(); ++y) {
      if (qGray(image.pixel(x, y)) < 128) last = x;
    }
  }
  return last;
}

}  // namespace

TEST_F(TRarPage, TheBoldOverlaysLieOverTheirWords) {
  Form->PageControl1->setCurrentWidget(Form->TabSheet6);
  Form->show();
  QCoreApplication::processEvents();
  const struct {
    QCheckBox* Box;
    QLabel* Overlay;
    const char* Word;
  } cases[] = {{Form->ChkBoxCreateSFV, Form->Panel41, "SFV"}, {Form->chkBoxCreateSFX, Form->Panel42, "SFX"}};
  for (const auto& c : cases) {
    QStyleOptionButton option;
    option.initFrom(c.Box);
    const int textLeft = c.Box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, c.Box).left();
    c.Overlay->hide();
    // The plain word's ink: after the last ink of "Create ", up to the last of "Create SFV".
    const int before = LastInkColumn(c.Box, "Create ", textLeft);
    const int wordEnd = LastInkColumn(c.Box, QString("Create ") + c.Word, textLeft);
    c.Overlay->show();
    ASSERT_GT(wordEnd, before) << c.Word;
    const QRect overlay = c.Overlay->geometry();
    EXPECT_GT(overlay.left(), before) << c.Word << ": the overlay leaves \"Create\" visible";
    EXPECT_LE(overlay.left(), before + 1 + c.Box->fontMetrics().horizontalAdvance(' ') + 1) << c.Word;
    EXPECT_GE(overlay.right(), wordEnd) << c.Word << ": the plain word is covered";
    EXPECT_LT(overlay.right(), wordEnd + c.Box->fontMetrics().horizontalAdvance("  ") + 2) << c.Word;
    EXPECT_TRUE(c.Box->rect().contains(overlay)) << c.Word;
  }
}
