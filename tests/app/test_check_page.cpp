#include "checksum/SfvFile.h"
#include "controls/FilCtl95.h"
#include "controls/GradBtn.h"
#include "controls/ProgressCyl.h"
#include "platform/FileSystem.h"
#include "WindowFixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPainter>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <filesystem>

namespace {

// The window with its "&UnRar" start watched.
class TWatchedForm : public TForm1 {
public:
  using TForm1::TForm1;
  void GradBtn9Click() override { UnRarStarts << FileListBox3->FileName(); }
  QStringList UnRarStarts;
};

struct TCheckPage : TWindowFixture {
  std::unique_ptr<TWatchedForm> Form;
  std::string Set;

  void SetUp() override {
    Set = Dir.File("set");
    std::filesystem::create_directory(Set);
    Dir.Write("set/good.bin", "123456789");
    Dir.Write("set/bad.bin", "123456780");
    Dir.Write("set/set.rar", "rar");
    TFormServices services;
    services.Paths = ProgramPathsFor(Dir.File("tallyra"));
    services.Dialogs = &Dialogs;
    services.Clock = &Clock;
    Form = std::make_unique<TWatchedForm>(services);
  }
  void Choose(const std::string& sfvName, const std::string& text) {
    Dir.Write("set/" + sfvName, text);
    Form->Directory95ListBox1->SetDirectory(Q(Set));
    Form->FileListBox1->SetFileName(Q(sfvName));
  }
  QStringList Items() const {
    QStringList items;
    for (int i = 0; i < Form->ListBox1->count(); ++i) items << Form->ListBox1->item(i)->text();
    return items;
  }
};

}  // namespace

TEST_F(TCheckPage, OneMissingAndOneDifferingOfThree) {
  Choose("set.sfv", "good.bin CBF43926\r\nbad.bin cbf43926\r\nmissing.bin 00000000\r\n");
  Form->GradBtn5->click();
  const QStringList items = Items();
  ASSERT_EQ(items.size(), 13);
  EXPECT_EQ(items.mid(0, 3), (QStringList{"good.bin|Passed|cbf43926", "bad.bin|Failed|cbf43926",
                                          "missing.bin|Not Found|"}));
  EXPECT_EQ(items[4], "Total files : |3");
  EXPECT_EQ(items[5], "Passed : |1");
  EXPECT_EQ(items[6], "Failed : |2");
  EXPECT_EQ(items[11], "Checking done| 2 Failed!");
  EXPECT_TRUE(items[12].startsWith("Checked at : |"));
  EXPECT_EQ(Form->ErrorList.size(), 8);
  EXPECT_EQ(Form->GroupBox1->title(), "Results ( Checked 2 of 3 files )");
  EXPECT_EQ(Form->TallyraStatus->text(), "Checking completed");
  EXPECT_TRUE(Form->GradBtn5->isEnabled());
  EXPECT_TRUE(Form->GradBtn7->isEnabled());
  // The failures are offered once; No shows nothing.
  EXPECT_EQ(Dialogs.Texts(TScriptedDialogs::TKind::ErrorYesNo),
            QStringList{"One or more files had errors. Would you like to see them?"});
  EXPECT_TRUE(Form->UnRarStarts.isEmpty());
}

// A list longer than the view ends with the summary in sight: the scroll at the end must count
// the items just added, which the view lays out only later.
TEST_F(TCheckPage, TheSummaryIsInSightAtTheEnd) {
  std::string sfv;
  for (int i = 0; i < 200; ++i) {
    Dir.Write("set/f" + std::to_string(i), "123456789");
    sfv += "f" + std::to_string(i) + " cbf43926\r\n";
  }
  Form->show();
  Choose("long.sfv", sfv);
  Form->GradBtn5->click();
  ASSERT_EQ(Form->ListBox1->count(), 210);
  QScrollBar* bar = Form->ListBox1->verticalScrollBar();
  Form->ListBox1->doItemsLayout();
  ASSERT_GT(bar->maximum(), 0);
  EXPECT_EQ(bar->value(), bar->maximum());
  const QRect last = Form->ListBox1->visualItemRect(Form->ListBox1->item(209));
  EXPECT_TRUE(Form->ListBox1->viewport()->rect().contains(last)) << last.y();
}

TEST_F(TCheckPage, NothingChosenAsksForAnSfv) {
  Form->Directory95ListBox1->SetDirectory(Q(Set));
  Form->GradBtn5Click();
  EXPECT_EQ(Dialogs.Texts(TScriptedDialogs::TKind::Message),
            QStringList{"You must select an SFV, CRC or other validation file first"});
}

TEST_F(TCheckPage, AHaltDuringTheSecondOfFive) {
  for (const char* name : {"1", "3", "4", "5"}) Dir.Write(std::string("set/") + name, name);
  Dir.Write("set/2", std::string(20 * 16384, '2'));
  Clock.Step = 20;  // every block lets messages run
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [this] {
    if (Form->TallyraStatus->text() == "Checking : 2") Form->GradBtn6->click();
  });
  poll.start(0);
  Choose("five.sfv", "1 0\r\n2 0\r\n3 0\r\n4 0\r\n5 0\r\n");
  Form->GradBtn5Click();
  const QStringList items = Items();
  ASSERT_EQ(items.size(), 8);
  EXPECT_EQ(items[1], "2|Checking|0");
  EXPECT_EQ(items.mid(5), (QStringList{"", "Checked 2 of 5 files", "Checking Halted"}));
  EXPECT_EQ(Form->GroupBox1->title(), "Results (Checked 2 of 5 files )");
  EXPECT_EQ(Form->TallyraStatus->text(), "Checking Halted");
  EXPECT_FALSE(Form->GradProgress1->isVisibleTo(Form.get()));
  // The first entry failed: its block is offered, then the list is cleared.
  EXPECT_EQ(Dialogs.Texts(TScriptedDialogs::TKind::ErrorYesNo).size(), 1);
  EXPECT_TRUE(Form->ErrorList.isEmpty());
}

TEST_F(TCheckPage, AHaltedCheckNeverHandsOverToExtraction) {
  Form->ChkBoxUnrarAfter->setChecked(true);
  Clock.Step = 20;  // messages run at every step
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [this] {
    if (Form->TallyraStatus->text() == "Checking : good.bin") Form->GradBtn6->click();
  });
  poll.start(0);
  Choose("set.sfv", "good.bin CBF43926\r\n");
  Form->GradBtn5Click();
  EXPECT_EQ(Items().last(), "Checking Halted");
  EXPECT_TRUE(Form->UnRarStarts.isEmpty());
}

TEST_F(TCheckPage, APassingCheckHandsTheArchiveOver) {
  Form->ChkBoxUnrarAfter->setChecked(true);
  Choose("set.sfv", "good.bin CBF43926\r\n");
  Form->GradBtn5Click();
  EXPECT_EQ(Form->PageControl1->currentWidget(), Form->TabSheet5);
  EXPECT_EQ(Form->UnRarStarts, QStringList{Q(LongPathName(Set) + "/set.rar")});
}

TEST_F(TCheckPage, TheArchiveMustMatchInLetterCase) {
  std::filesystem::rename(Set + "/set.rar", Set + "/Set.rar");
  Form->ChkBoxUnrarAfter->setChecked(true);
  Choose("set.sfv", "good.bin CBF43926\r\n");
  Form->GradBtn5Click();
  EXPECT_TRUE(Form->UnRarStarts.isEmpty());
}

TEST_F(TCheckPage, FailuresAskBeforeExtracting) {
  Form->ChkBoxUnrarAfter->setChecked(true);
  Dialogs.YesNoAnswers = {true};
  Choose("set.sfv", "bad.bin CBF43926\r\n");
  Form->GradBtn5Click();
  EXPECT_EQ(Dialogs.Texts(TScriptedDialogs::TKind::ErrorYesNo),
            QStringList{"One or more files had errors. Are you sure you want to attempt extraction ?"});
  EXPECT_EQ(Form->UnRarStarts.size(), 1);
}

TEST_F(TCheckPage, AnSfvThatCannotBeOpenedLeavesThePageIdle) {
  Choose("set.sfv", "good.bin CBF43926\r\n");
  std::filesystem::remove(Set + "/set.sfv");
  std::filesystem::create_directory(Set + "/set.sfv");  // a folder cannot be read as a file
  Form->ChkBoxUnrarAfter->setChecked(true);
  Form->GradBtn5Click();
  EXPECT_EQ(Dialogs.Texts(TScriptedDialogs::TKind::Exception),
            QStringList{"Cannot open file " + Form->SfvPath});
  EXPECT_TRUE(Form->GradBtn5->isEnabled());
  EXPECT_TRUE(Form->GradBtn7->isEnabled());
  EXPECT_EQ(Form->ListBox1->count(), 0);
  EXPECT_TRUE(Form->UnRarStarts.isEmpty());
}

TEST_F(TCheckPage, CopyAllAndCopySelected) {
  Choose("set.sfv", "good.bin CBF43926\r\n");
  Form->GradBtn5Click();
  Form->CopyResults(1);
  const QStringList lines = QGuiApplication::clipboard()->text().split("\r\n");
  EXPECT_EQ(lines[0], "good.bin           Passed      cbf43926");  // 14 + 5 wide: "Total files : "
  EXPECT_EQ(lines.size(), Form->ListBox1->count() + 1);
  Form->ListBox1->clearSelection();
  Form->CopyResults(0);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "");
  Form->ListBox1->item(0)->setSelected(true);
  Form->Copyall1Click(Form->Copyselectedline1);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), lines[0] + "\r\n");
}

TEST_F(TCheckPage, ItemsTakeTheColourOfTheirWords) {
  Choose("set.sfv", "good.bin CBF43926\r\n");
  Form->GradBtn5Click();
  Form->ListReady = true;
  const struct {
    const char* Text;
    QColor Color;
  } cases[] = {
      {"a|Passed|x", QColor(0, 128, 0)},       {"a|Failed|x", QColor(255, 0, 0)},
      {"a|Not Found|", QColor(255, 0, 0)},     {"a|Checking|x", QColor(0, 0, 255)},
      {"passed.bin|Failed|x", QColor(255, 0, 0)}, {"Checking done|All passed!", QColor(0, 128, 0)},
      {"Total files : |3", QColor(0, 0, 0)},
  };
  for (const auto& c : cases) {
    Form->ListBox1->item(0)->setText(c.Text);
    QImage image(300, 16, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    Form->ListBox1DrawItem(&painter, 0, image.rect(), false);
    painter.end();
    bool found = false;
    for (int y = 0; y < image.height() && !found; ++y) {
      for (int x = 0; x < image.width() && !found; ++x) found = QColor(image.pixel(x, y)) == c.Color;
    }
    EXPECT_TRUE(found) << c.Text;
  }
}

TEST_F(TCheckPage, AnSfvNamedAfterItsFolderHandsOverTheFirstVolumeItLists) {
  const struct {
    const char* Name;
    std::vector<std::string> Volumes;  // on disk and listed, in this order
    std::string First;
  } cases[] = {
      {"old naming", {"show.r00", "show.r01", "show.rar"}, "show.rar"},
      {"new naming", {"show.part2.rar", "show.part1.rar", "show.part3.rar"}, "show.part1.rar"},
      {"new naming, more digits", {"show.part002.rar", "show.part001.rar"}, "show.part001.rar"},
  };
  for (const auto& c : cases) {
    TTempDir folder;
    std::string sfv;
    for (const std::string& v : c.Volumes) {
      folder.Write(v, v);
      sfv += v + " " + CrcHexUpper(~UpdateCrcLong(0xFFFFFFFFu, v.data(), v.size())) + "\r\n";
    }
    folder.Write("holiday.sfv", sfv);
    Form->UnRarStarts.clear();
    Form->ChkBoxUnrarAfter->setChecked(true);
    Form->FilterComboBox2->setCurrentIndex(1);  // "*.r00": the page must still find the set
    Form->Directory95ListBox1->SetDirectory(Q(folder.Path()));
    Form->FileListBox1->SetFileName("holiday.sfv");
    Form->GradBtn5Click();
    EXPECT_EQ(Form->UnRarStarts, QStringList{Q(LongPathName(folder.Path()) + "/" + c.First)}) << c.Name;
    EXPECT_EQ(Form->PageControl1->currentWidget(), Form->TabSheet5) << c.Name;
  }
}

TEST_F(TCheckPage, NoArchiveForTheSfvIsSaid) {
  Form->ChkBoxUnrarAfter->setChecked(true);
  Choose("listing.sfv", "good.bin CBF43926\r\n");
  Form->GradBtn5Click();
  EXPECT_TRUE(Form->UnRarStarts.isEmpty());
  EXPECT_EQ(Form->Memo2->toPlainText(), "No RAR archive found for listing.sfv");
  EXPECT_EQ(Form->TallyraStatus->text(), "No RAR archive found for listing.sfv");
}
