#include "archive/aknUnRarDll.h"
#include "controls/BrowseDr.h"
#include "controls/FilCtl95.h"
#include "controls/GradBtn.h"
#include "controls/ProgressCyl.h"
#include "platform/FileSystem.h"
#include "Rar5Writer.h"
#include "RarWriter.h"
#include "TempDir.h"
#include "UnRarPageDriver.h"
#include "WindowFixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <deque>
#include <filesystem>
#include <optional>
#include <tuple>

namespace {

struct TUnRarPage : TUnRarPageFixture {
  std::vector<TRarTestEntry> Entries(std::uint8_t unpVer = 29) const {
    TRarTestEntry a{"docs\\a.txt", "alpha"};
    TRarTestEntry b{"b.bin", std::string(300000, 'b')};
    a.UnpVer = b.UnpVer = unpVer;
    return {a, b};
  }
  void OnFolderDialog(std::function<void(TBrowseDirectoryDlg*)> action) {
    ::OnFolderDialog(*Form, std::move(action));
  }
  void AcceptFolder(const std::string& typed = {}) { ::AcceptFolder(*Form, typed); }
};

}  // namespace

TEST_F(TUnRarPage, ASingleArchiveIntoTheProposedNewFolder) {
  WriteRarArchive(Dl + "/backup.rar", Entries());
  Choose("backup.rar");
  QString proposed;
  OnFolderDialog([&](TBrowseDirectoryDlg* dlg) {
    proposed = dlg->EditBox()->text();
    // The proposal follows the selection; an item without a path proposes the name alone.
    Form->BrowseDirectoryDlg1SelChanged(dlg, "/e", {});
    EXPECT_EQ(dlg->EditBox()->text(), "/e/backup/");
    Form->BrowseDirectoryDlg1SelChanged(dlg, "", {});
    EXPECT_EQ(dlg->EditBox()->text(), "backup/");
    dlg->EditBox()->setText(proposed);
    dlg->DialogHandle()->findChild<QPushButton*>("OK")->click();
  });
  Form->GradBtn9->click();
  EXPECT_EQ(proposed, Q(LongPathName(Dl) + "/backup/"));
  EXPECT_EQ(Memo(), (QStringList{"Checking RAR Version...", "RAR Version: 2.9", "OS: Win32", " ",
                                 "Extracted 2 files"}));
  EXPECT_EQ(ReadWholeFile(Dl + "/backup/docs/a.txt"), "alpha");
  EXPECT_EQ(ReadWholeFile(Dl + "/backup/b.bin").size(), 300000u);
  EXPECT_EQ(Form->TallyraStatus->text(), "Extracted 2 files");
  EXPECT_FALSE(Form->GradProgress1->isVisibleTo(Form.get()));
}

TEST_F(TUnRarPage, AThreeVolumeSetFoundComplete) {
  TRarWriterOptions options;
  options.VolumeSize = 120000;
  const auto volumes = WriteRarArchive(Dl + "/set.rar", Entries(), options);
  ASSERT_EQ(volumes.size(), 3u);
  Choose("set.rar");
  AcceptFolder(Dl + "/out");
  Form->FileListBox3DblClick();  // a double-click is the button
  const QStringList memo = Memo();
  EXPECT_EQ(memo.mid(3), (QStringList{"Extracted set.rar", "Extracted set.r00", " ", "Extracted 2 files"}));
  EXPECT_EQ(ReadWholeFile(Dl + "/out/b.bin"), std::string(300000, 'b'));
}

// Each finished volume is logged once, whichever way the next one was found; a name that does
// not exist is asked for again, and the prompt says why; Cancel reports the broken chain for
// the entry cut short and leaves neither its file nor its folder.
TEST_F(TUnRarPage, AMissingVolumeIsAskedFor) {
  TRarWriterOptions options;
  options.VolumeSize = 120000;
  auto entries = Entries();
  entries[1].Name = "deep\\b.bin";
  struct TCase {
    const char* Title;
    std::deque<std::optional<QString>> Answers;
    qsizetype Questions;
    QStringList MemoAfterVersion;
  } cases[] = {
      {"the moved volume", {Q(Dl + "/moved.r00")}, 1,
       {"Extracted set.rar", "Extracted moved.r00", " ", "Extracted 2 files"}},
      {"a wrong path, then the moved volume", {Q(Dl + "/nowhere.r00"), Q(Dl + "/moved.r00")}, 2,
       {"Extracted set.rar", "Extracted moved.r00", " ", "Extracted 2 files"}},
      {"the proposed path confirmed, then cancel", {Q(Dl + "/set.r00"), std::nullopt}, 2,
       {"Extracted set.rar", "Filename: " + Q(Dl + "/out/deep/b.bin"), "Error#: 25135",
        "Error: Broken multi-volume chain", "Extended Error Message: ", "", " ", "Extracted 1 files"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Title);
    std::filesystem::remove_all(Dl);
    std::filesystem::create_directory(Dl);
    WriteRarArchive(Dl + "/set.rar", entries, options);
    std::filesystem::rename(Dl + "/set.r00", Dl + "/moved.r00");
    Dialogs.Calls.clear();
    Dialogs.InputAnswers = c.Answers;
    Choose("set.rar");
    AcceptFolder(Dl + "/out");
    Form->GradBtn9Click();
    const auto prompts = Dialogs.Texts(TScriptedDialogs::TKind::Input);
    ASSERT_EQ(prompts.size(), c.Questions);
    EXPECT_EQ(prompts[0], "Volume ID: 0");
    if (c.Questions > 1) {
      EXPECT_EQ(prompts[1], "Volume ID: 0\nFile not found: " + *c.Answers[0]);
    }
    EXPECT_EQ(Memo().mid(3), c.MemoAfterVersion);
    if (c.MemoAfterVersion.last() == "Extracted 2 files") {
      EXPECT_EQ(ReadWholeFile(Dl + "/out/deep/b.bin").size(), 300000u);
    } else {
      EXPECT_FALSE(std::filesystem::exists(Dl + "/out/deep"));
    }
  }
}

TEST_F(TUnRarPage, CancellingAMissingVolumeStopsTheSet) {
  TRarWriterOptions options;
  options.VolumeSize = 120000;
  WriteRarArchive(Dl + "/set.rar", Entries(), options);
  std::filesystem::remove(Dl + "/set.r00");
  Choose("set.rar");
  AcceptFolder(Dl + "/out");
  Form->GradBtn9Click();
  EXPECT_TRUE(Memo().contains("Extracted set.rar"));
  EXPECT_TRUE(Memo().contains("Error#: 25135"));
  EXPECT_EQ(Memo().last(), "Extracted 1 files");  // the first entry was whole in set.rar
  EXPECT_FALSE(FileExists(Dl + "/out/b.bin"));
}

// The version check runs over the archive without writing anything, in the temporary folder
// or anywhere else.
TEST_F(TUnRarPage, TheVersionCheckWritesNothing) {
  TTempDir temp;
  const QByteArray saved = qgetenv("TMPDIR");
  qputenv("TMPDIR", QByteArray::fromStdString(temp.Path()));
  std::filesystem::copy_file(std::string(TALLYRA_TESTDATA_DIR) + "/rar/rarfile/rar3-subdirs.rar", Dl + "/subdirs.rar");
  const bool compatible = Form->CheckRarVersion(Q(Dl + "/subdirs.rar"));
  if (saved.isNull()) qunsetenv("TMPDIR");
  else qputenv("TMPDIR", saved);
  EXPECT_TRUE(compatible);
  EXPECT_TRUE(std::filesystem::is_empty(temp.Path()));
  EXPECT_EQ(Memo(), (QStringList{"Checking RAR Version...", "RAR Version: 2.9", "OS: Unix"}));
}

TEST_F(TUnRarPage, HaltEndsTheExtraction) {
  std::vector<TRarTestEntry> entries;
  for (int i = 0; i < 20; ++i) entries.push_back({"f" + std::to_string(i) + ".bin", std::string(200000, 'x')});
  WriteRarArchive(Dl + "/many.rar", entries);
  Choose("many.rar");
  AcceptFolder(Dl + "/out");
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [this] {
    if (Form->TallyraStatus->text().startsWith("Extracting ")) Form->GradBtn10->click();
  });
  poll.start(0);
  Form->GradBtn9Click();
  const QStringList memo = Memo();
  EXPECT_EQ(memo.count("User halted operation"), 1);
  EXPECT_TRUE(memo.contains("Error#: 25443"));
  EXPECT_NE(memo.last(), "Extracted 20 files");
  EXPECT_FALSE(Form->GradProgress1->isVisibleTo(Form.get()));
}

// 30 and above are incompatible, except RAR 5 (50), which our library (ABI version 6) unpacks.
TEST_F(TUnRarPage, UnpackVersion30IsIncompatibleAndRar5IsNot) {
  WriteRarArchive(Dl + "/new.rar", Entries(30));
  WriteRar5Archive(Dl + "/five.rar", {{"a.txt", "alpha"}});
  ASSERT_GE(UnRarLibrary().GetDllVersion(), 6);
  Choose("new.rar");
  Form->GradBtn9Click();
  EXPECT_EQ(Dialogs.Texts(TScriptedDialogs::TKind::Message),
            QStringList{"The version of RAR that this \narchive was compressed with is not \n"
                        "compatible with the current DLL"});
  EXPECT_EQ(Memo(), (QStringList{"Checking RAR Version...", "RAR Version: 3.0", "OS: Win32", " ",
                                 "The version of RAR that this ", "archive was compressed with is not ",
                                 "compatible with the current DLL"}));
  EXPECT_FALSE(std::filesystem::exists(Dl + "/new"));

  Dialogs.Calls.clear();
  Choose("five.rar");
  AcceptFolder();
  Form->GradBtn9Click();
  EXPECT_TRUE(Dialogs.Texts(TScriptedDialogs::TKind::Message).isEmpty());
  EXPECT_EQ(Memo(), (QStringList{"Checking RAR Version...", "RAR Version: 5.0", "OS: Unix", " ",
                                 "Extracted 1 files"}));
  EXPECT_EQ(ReadWholeFile(Dl + "/five/a.txt"), "alpha");
}

// The real RAR 5 volume set: one line per finished volume, then the summary, and the big file
// that spans all three volumes with the CRC its last part records.
TEST_F(TUnRarPage, ARealRar5VolumeSetWithItsVolumeLines) {
  for (const char* part : {"rar5-vols.part1.rar", "rar5-vols.part2.rar", "rar5-vols.part3.rar"})
    std::filesystem::copy_file(std::string(TALLYRA_TESTDATA_DIR) + "/rar5/rarfile/" + part, Dl + "/" + part);
  Choose("rar5-vols.part1.rar");
  AcceptFolder();
  Form->GradBtn9Click();
  EXPECT_EQ(Memo(), (QStringList{"Checking RAR Version...", "RAR Version: 5.0", "OS: Unix",
                                 "Extracted rar5-vols.part1.rar", "Extracted rar5-vols.part2.rar", " ",
                                 "Extracted 2 files"}));
  EXPECT_EQ(RarTestCrc(ReadWholeFile(Dl + "/rar5-vols.part1/vols/bigfile.txt")), 0x509ad74cu);
  EXPECT_EQ(ReadWholeFile(Dl + "/rar5-vols.part1/vols/bigfile.txt").size(), 205000u);
  EXPECT_EQ(RarTestCrc(ReadWholeFile(Dl + "/rar5-vols.part1/vols/smallfile.txt")), 0xd08a1f86u);
}

TEST_F(TUnRarPage, CancelNothingChosenAndClear) {
  WriteRarArchive(Dl + "/backup.rar", Entries());
  Form->GradBtn9Click();
  EXPECT_EQ(Dialogs.Texts(TScriptedDialogs::TKind::Message), QStringList{"You must select a .RAR file first"});
  Choose("backup.rar");
  OnFolderDialog([](TBrowseDirectoryDlg* dlg) { dlg->DialogHandle()->findChild<QPushButton*>("Cancel")->click(); });
  Form->GradBtn9Click();
  EXPECT_EQ(Memo().last(), "User canceled");
  Form->TallyraStatus->setText("kept");
  Form->GradBtn11->click();
  EXPECT_EQ(Form->Memo2->toPlainText(), "");
  EXPECT_EQ(Form->TallyraStatus->text(), "kept");
}

TEST_F(TWindowFixture, ACheckWithUnrarAfterSfvExtractsTheSet) {
  const std::string dl = Dir.File("dl");
  std::filesystem::create_directory(dl);
  TRarTestEntry entry{"inside.txt", "the content"};
  WriteRarArchive(dl + "/set.rar", {entry});
  const std::string archive = ReadWholeFile(dl + "/set.rar");
  Dir.Write("dl/set.sfv", "set.rar " + std::string(QString::number(RarTestCrc(archive), 16)
                                                          .rightJustified(8, '0').toStdString()) + "\r\n");
  Dir.Write("tallyra.ini", "[Options]\r\nUnrarAfterSFV=1\r\n");
  auto form = Open({"/C", Q(dl + "/set.sfv")});
  AcceptFolder(*form);
  ASSERT_TRUE(QTest::qWaitFor([&] { return FileExists(dl + "/set/inside.txt"); }, 5000));
  EXPECT_EQ(ReadWholeFile(dl + "/set/inside.txt"), "the content");
  EXPECT_EQ(form->PageControl1->currentWidget(), form->TabSheet5);
}

TEST_F(TWindowFixture, ARealThreeVolumeSetCheckedThenExtracted) {
  const std::string dl = Dir.File("dl");
  std::filesystem::create_directory(dl);
  std::string sfv;
  for (const char* part : {"rar3-vols.part1.rar", "rar3-vols.part2.rar", "rar3-vols.part3.rar"}) {
    std::filesystem::copy_file(std::string(TALLYRA_TESTDATA_DIR) + "/rar/rarfile/" + part, dl + "/" + part);
    const std::uint32_t crc = RarTestCrc(ReadWholeFile(dl + "/" + part));
    sfv += std::string(part) + " " + QString::number(crc, 16).rightJustified(8, '0').toStdString() + "\r\n";
  }
  // The check selects the archive named like the SFV file.
  Dir.Write("dl/rar3-vols.part1.sfv", sfv);
  Dir.Write("tallyra.ini", "[Options]\r\nUnrarAfterSFV=1\r\n");
  auto form = Open({"/C", Q(dl + "/rar3-vols.part1.sfv")});
  AcceptFolder(*form);
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->Memo2->toPlainText().contains("files\n") ||
                                           form->Memo2->toPlainText().endsWith(" files"); }, 8000));
  EXPECT_EQ(form->Memo2->toPlainText().split('\n'),
            (QStringList{"Checking RAR Version...", "RAR Version: 2.0", "OS: Unix",
                         "Extracted rar3-vols.part1.rar", "Extracted rar3-vols.part2.rar", " ",
                         "Extracted 2 files"}));
  EXPECT_EQ(RarTestCrc(ReadWholeFile(dl + "/rar3-vols.part1/vols/bigfile.txt")), 0x509ad74cu);
  EXPECT_EQ(RarTestCrc(ReadWholeFile(dl + "/rar3-vols.part1/vols/smallfile.txt")), 0xd08a1f86u);
}

TEST_F(TUnRarPage, TheExtractionsPercentageStaysReadable) {
  // White on the filled half, black on the empty one, by the position shown.
  const std::pair<int, QColor> steps[] = {{80, Qt::white}, {0, Qt::black}, {50, Qt::white}, {49, Qt::black}};
  for (const auto& [percent, color] : steps) {
    Form->UnRar1Progress(nullptr, 0, static_cast<std::uint8_t>(percent));
    EXPECT_EQ(Form->GradProgress1->Position(), percent);
    EXPECT_EQ(Form->GradProgress1->FontColor(), color) << percent;
  }
}
