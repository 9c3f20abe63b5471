// The Help and About pages, and the menu command that registers the file types.
#include "app/Unit1.h"
#include "controls/ASLink.h"
#include "platform/DesktopIntegration.h"
#include "platform/ScriptedDialogs.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextDocument>
#include <QTest>
#include <filesystem>

namespace {

struct TRecordingShell {
  QStringList Opened;
  TShellOpenService Previous;
  TRecordingShell() {
    Previous = SetShellOpenService([this](const QString& f, const QString&, const QString&, int) {
      Opened << f;
      return 42;
    });
  }
  ~TRecordingShell() { SetShellOpenService(Previous); }
};

struct TRecordingTools final : IDesktopTools {
  std::vector<std::string> Programs;
  bool Run(const std::string& program, const std::vector<std::string>&) override {
    Programs.push_back(program);
    return true;
  }
};

struct TInfoFixture : ::testing::Test {
  TTempDir Dir;  // plays the program's folder and the desktop's data folder
  TScriptedDialogs Dialogs;
  TRecordingTools Tools;

  std::string DataHome() const { return Dir.File("data home"); }

  std::unique_ptr<TForm1> Open() {
    TFormServices services;
    services.Paths = ProgramPathsFor(Dir.File("my apps/tallyra"));
    services.Dialogs = &Dialogs;
    const std::string home = DataHome();
    services.Registry = [this, home] {
      return std::make_unique<TFileRegistry>(
          RegistryStorePath(home), [](const std::string& ext) { return ext == "rar" ? std::string("application/vnd.rar") : std::string(); },
          [this, home](const TRegistryContents& c) { ReflectIntoDesktop(c, {home, home + "/config"}, Tools); });
    };
    return std::make_unique<TForm1>(services);
  }
  void SetUp() override {
    std::filesystem::create_directories(Dir.File("my apps"));
    Dir.Write("my apps/tallyra", "");
  }
};

}  // namespace

TEST_F(TInfoFixture, HelpIsAReadOnlyScrollableSelectableGuide) {
  auto form = Open();
  QPlainTextEdit* memo = form->Memo1;
  EXPECT_TRUE(memo->isReadOnly());
  EXPECT_EQ(memo->document()->blockCount(), 96);
  EXPECT_EQ(memo->document()->firstBlock().text(), "Readme for Tallyra version 2.0");
  EXPECT_EQ(memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);

  form->PageControl1->setCurrentWidget(form->TabSheet3);
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  const QString before = memo->toPlainText();
  memo->setFocus();
  QTest::keyClicks(memo, "typed");
  QTest::keyClick(memo, Qt::Key_Delete);
  EXPECT_EQ(memo->toPlainText(), before);
  // Both directions scroll once the guide is longer and wider than the page.
  form->resize(400, 394);
  QApplication::processEvents();
  EXPECT_GT(memo->verticalScrollBar()->maximum(), 0);
  EXPECT_GT(memo->horizontalScrollBar()->maximum(), 0);
  memo->selectAll();
  memo->copy();
  EXPECT_EQ(QApplication::clipboard()->text(), before);
}

TEST_F(TInfoFixture, AboutShowsThePictureVersionBuildDateAndLinks) {
  auto form = Open();
  EXPECT_TRUE(QRegularExpression("^Version 2\\.0\\.0 Build \\d+$").match(form->Label7->text()).hasMatch())
      << form->Label7->text().toStdString();
  EXPECT_TRUE(QRegularExpression("^(Mon|Tues|Wednes|Thurs|Fri|Satur|Sun)day, [A-Z][a-z]+ \\d{1,2}, \\d{4} "
                                 "\\d{1,2}:\\d\\d:\\d\\d [AP]M$")
                  .match(form->lblCompileDate->text())
                  .hasMatch())
      << form->lblCompileDate->text().toStdString();
  ASSERT_NE(form->Image1, nullptr);
  EXPECT_EQ(form->Image1->pixmap().size(), QSize(177, 92));
  EXPECT_EQ(form->Image1->geometry(), QRect(12, 16, 177, 92));
  EXPECT_EQ(form->Label7->pos(), QPoint(200, 32));
  // The date stands at 272 or, with a wider stand-in font, after its caption: never on it.
  const QLabel* caption = nullptr;
  for (const QLabel* label : form->lblCompileDate->parentWidget()->findChildren<QLabel*>()) {
    if (label->text() == "Compile date:") caption = label;
  }
  ASSERT_NE(caption, nullptr);
  EXPECT_EQ(caption->pos(), QPoint(200, 48));
  EXPECT_EQ(form->lblCompileDate->y(), 48);
  EXPECT_GE(form->lblCompileDate->x(), 272);
  EXPECT_GT(form->lblCompileDate->x(), caption->geometry().right());

  EXPECT_EQ(form->ASLink1->pos(), QPoint(216, 168));
  EXPECT_EQ(form->ASLink3->pos(), QPoint(176, 184));
  EXPECT_FALSE(form->ASLink1->URLEnabled());
  EXPECT_EQ(form->ASLink1->ShadowSize(), 0);
  EXPECT_EQ(form->ASLink2->Caption(), form->ASLink1->Caption() + "?subject=Tallyra");
  EXPECT_FALSE(form->ASLink2->isVisibleTo(form.get()));
  EXPECT_EQ(form->ASLink2->URLType(), utMailto);
  EXPECT_FALSE(form->ASLink3->URLTypeAdd());
  EXPECT_EQ(form->ASLink3->URLType(), utHttp);
  EXPECT_TRUE(form->ASLink3->Caption().startsWith("http"));
  for (TASLink* link : {form->ASLink1, form->ASLink2, form->ASLink3}) {
    EXPECT_TRUE(link->Transparent());
    EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
  }
}

TEST_F(TInfoFixture, ClickingTheMailAddressStartsAMailWithTheSubject) {
  auto form = Open();
  form->PageControl1->setCurrentWidget(form->TabSheet4);
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  TRecordingShell shell;
  QTest::mouseClick(form->ASLink1, Qt::LeftButton, {}, QPoint(4, 4));
  EXPECT_EQ(shell.Opened, QStringList{"mailto:" + form->ASLink1->Caption() + "?subject=Tallyra"});
  shell.Opened.clear();
  QTest::mouseClick(form->ASLink3, Qt::LeftButton, {}, QPoint(4, 4));
  EXPECT_EQ(shell.Opened, QStringList{form->ASLink3->Caption()});
  shell.Opened.clear();
  QTest::mouseClick(form->Label7->parentWidget(), Qt::LeftButton, {}, QPoint(400, 120));
  QTest::mouseClick(form->Image1, Qt::LeftButton, {}, QPoint(20, 20));
  EXPECT_TRUE(shell.Opened.isEmpty());
}

TEST_F(TInfoFixture, TheMenuCommandRegistersTheRunningProgram) {
  auto form = Open();
  form->AssociatewithSFVfiles1->trigger();
  const TFileRegistry store(RegistryStorePath(DataHome()), {});
  const std::string exe = Dir.File("my apps/tallyra");
  EXPECT_EQ(store.Contents().DefaultText("Tallyra\\shell\\open\\command"), exe + " /C \"%1\"");
  EXPECT_EQ(store.Contents().DefaultText("application/vnd.rar\\shell\\\xC2\xA4 Create SFV File \xC2\xA4\\command"),
            exe + " /M \"%1\"");
  EXPECT_TRUE(Dialogs.Calls.empty());  // no message on success
  const std::string entry = ReadWholeFile(DataHome() + "/applications/tallyra.desktop");
  EXPECT_NE(entry.find("Exec=\"" + exe + "\" /C %f\n"), std::string::npos) << entry;
  EXPECT_EQ(Tools.Programs.size(), 2u);  // update-mime-database, update-desktop-database
}

TEST_F(TInfoFixture, AStoreThatCannotBeWrittenIsReportedByTheDefaultHandler) {
  auto form = Open();
  // A file where the store's folder belongs.
  std::filesystem::create_directories(DataHome());
  Dir.Write("data home/tallyra", "in the way");
  try {
    form->AssociatewithSFVfiles1Click();
    FAIL() << "nothing raised";
  } catch (const std::exception& error) {
    form->HandleException(error);
  }
  EXPECT_EQ(Dialogs.Texts(TScriptedDialogs::TKind::Exception), QStringList{"Failed to set data for ''"});
  EXPECT_TRUE(Tools.Programs.empty());  // nothing changed, nothing to reflect
}
