#include "controls/FilCtl95.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>
#include <sys/stat.h>

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
QString Canonical(const std::string& s) { return QDir(Q(s)).canonicalPath(); }
}  // namespace

TEST(FileMask, MatchesAsTheFileListDoes) {
  const struct {
    const char* Name;
    const char* Mask;
    bool Match;
  } cases[] = {
      {"set.sfv", "*.sfv", true},     {"SET.SFV", "*.sfv", true},
      {"set.sfv.bak", "*.sfv", false}, {"noext", "*.*", true},
      {"a.r00", "*.rar;*.r00", true}, {"a.r01", "*.rar;*.r00", false},
      {"a.r01", "*.r??", true},       {"a.r1", "*.r??", false},
      {"x", "*", true},               {"ab", "a?", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MatchesFileMask(c.Name, c.Mask), c.Match) << c.Name << " " << c.Mask;
  }
}

TEST(FileListBox, ListsTheFolderByMaskAndType) {
  TTempDir dir;
  for (const char* name : {"b.sfv", "A.sfv", "c.rar", ".hidden.sfv"}) dir.Write(name, "");
  std::filesystem::create_directory(dir.File("sub.sfv"));
  TFileListBox list;
  list.SetMask("*.sfv");
  list.SetDirectory(Q(dir.Path()));
  ASSERT_EQ(list.Count(), 2);  // no folders, no dot-names
  EXPECT_EQ(list.Name(0), "A.sfv");
  EXPECT_EQ(list.Name(1), "b.sfv");
  list.SetFileType(ftNormal | ftHidden);
  EXPECT_EQ(list.Count(), 3);

  list.SetFileName(Q(dir.File("b.sfv")));
  EXPECT_EQ(list.FileName(), Canonical(dir.Path()) + "/b.sfv");
  list.SetMask("*.*");
  EXPECT_EQ(list.FileName(), Canonical(dir.Path()) + "/b.sfv");  // the choice survives a refill
}

TEST(FileListBox, OffersRegularFilesOnly) {
  TTempDir dir;
  dir.Write("file.rar", "");
  ASSERT_EQ(mkfifo(dir.File("fifo.rar").c_str(), 0644), 0);
  std::filesystem::create_symlink(dir.File("file.rar"), dir.File("link.rar"));
  std::filesystem::create_symlink(dir.File("gone"), dir.File("dangling.rar"));
  TFileListBox list;
  list.SetDirectory(Q(dir.Path()));
  ASSERT_EQ(list.Count(), 2);  // no FIFO, no dangling link
  EXPECT_EQ(list.Name(0), "file.rar");
  EXPECT_EQ(list.Name(1), "link.rar");
  list.SetDirectory("/dev");  // devices only, and the odd socket
  for (int i = 0; i < list.Count(); ++i) {
    EXPECT_TRUE(std::filesystem::is_regular_file("/dev/" + list.Name(i).toStdString())) << list.Name(i).toStdString();
  }
  EXPECT_FALSE(list.findItems("null", Qt::MatchExactly).size() > 0);
}

TEST(FileListBox, MultiSelectKeepsSeveralFiles) {
  TTempDir dir;
  for (const char* name : {"a", "b", "c"}) dir.Write(name, "");
  TFileListBox list;
  list.SetMultiSelect(true);
  list.SetDirectory(Q(dir.Path()));
  list.SetSelected(0, true);
  list.SetSelected(2, true);
  EXPECT_EQ(list.SelCount(), 2);
  EXPECT_TRUE(list.Selected(2));
}

TEST(FileListBox, TheListFollowsItsFolderOnDisk) {
  TTempDir dir;
  for (const char* name : {"a.bin", "b.bin", "c.bin"}) dir.Write(name, "");
  TFileListBox list;
  list.SetMultiSelect(true);
  list.SetDirectory(Q(dir.Path()));
  list.show();
  list.SetSelected(0, true);
  list.SetSelected(2, true);
  auto names = [&] {
    QStringList out;
    for (int i = 0; i < list.Count(); ++i) out << list.Name(i) + (list.Selected(i) ? "*" : "");
    return out;
  };
  auto waitFor = [&](const QStringList& expected) {
    for (int i = 0; i < 300 && names() != expected; ++i) QTest::qWait(10);
    return names();
  };
  // A file appears, one selected vanishes: the list follows, the other selection stays.
  dir.Write("aa.bin", "");
  std::filesystem::remove(dir.File("c.bin"));
  EXPECT_EQ(waitFor({"a.bin*", "aa.bin", "b.bin"}), (QStringList{"a.bin*", "aa.bin", "b.bin"}));
  // Shown again, it is re-read at once, before any notice of the change has come.
  list.SetSelected(0, false);
  list.SetSelected(1, true);
  list.hide();
  dir.Write("0.bin", "");
  list.show();
  EXPECT_EQ(names(), (QStringList{"0.bin", "a.bin", "aa.bin*", "b.bin"}));
}

TEST(DirectoryListBox, ShowsThePathOpenedAndTheSubfoldersClosed) {
  TTempDir dir;
  std::filesystem::create_directories(dir.File("top/Beta"));
  std::filesystem::create_directories(dir.File("top/alpha"));
  dir.Write("top/file.txt", "");
  TFileListBox files;
  TDirectory95ListBox folders;
  folders.SetFileList(&files);
  QSignalSpy changes(&folders, &TDirectoryListBox::Change);
  folders.SetDirectory(Q(dir.File("top")));
  EXPECT_EQ(changes.count(), 1);
  EXPECT_EQ(folders.Directory(), Canonical(dir.File("top")));
  EXPECT_EQ(files.Directory(), folders.Directory());
  ASSERT_EQ(files.Count(), 1);

  const int n = folders.count();
  EXPECT_EQ(folders.ItemKind(0), TDirectoryListBox::fkOpened);
  EXPECT_EQ(folders.item(0)->text(), "/");
  EXPECT_EQ(folders.ItemKind(n - 3), TDirectoryListBox::fkCurrent);
  EXPECT_EQ(folders.item(n - 2)->text(), "alpha");  // sorted without regard to case
  EXPECT_EQ(folders.item(n - 1)->text(), "Beta");
  EXPECT_EQ(folders.ItemKind(n - 1), TDirectoryListBox::fkClosed);
  EXPECT_EQ(folders.ItemLevel(n - 1), folders.ItemLevel(n - 3) + 1);

  // Activating a subfolder opens it; a folder that does not exist changes nothing.
  emit folders.itemActivated(folders.item(n - 1));
  EXPECT_EQ(folders.Directory(), Canonical(dir.File("top/Beta")));
  folders.SetDirectory(Q(dir.File("nope")));
  EXPECT_EQ(folders.Directory(), Canonical(dir.File("top/Beta")));
  EXPECT_EQ(changes.count(), 2);
}

TEST(DriveComboBox, ChoosingADriveMovesTheFolderList) {
  TDrive95ComboBox drives;
  TDirectory95ListBox folders;
  drives.SetDirList(&folders);
  ASSERT_GT(drives.count(), 0);
  const int root = drives.findText("/");
  ASSERT_GE(root, 0);
  drives.setCurrentIndex(root);
  emit drives.activated(root);
  EXPECT_EQ(folders.Directory(), "/");
  EXPECT_EQ(drives.Drive(), "/");
}

TEST(FilterComboBox, TheChosenEntrySetsTheMask) {
  TTempDir dir;
  for (const char* name : {"a.sfv", "b.crc", "c.txt"}) dir.Write(name, "");
  TFileListBox list;
  list.SetDirectory(Q(dir.Path()));
  TFilterComboBox filter;
  filter.SetFilter("SFV Files (*.sfv)|*.sfv|CRC Files (*.crc)|*.crc|All files (*.*)|*.*");
  filter.SetFileList(&list);
  EXPECT_EQ(filter.count(), 3);
  EXPECT_EQ(list.Count(), 1);
  filter.setCurrentIndex(2);
  EXPECT_EQ(filter.Mask(), "*.*");
  EXPECT_EQ(list.Count(), 3);
}
