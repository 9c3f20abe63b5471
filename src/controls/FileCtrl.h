#pragma once
// The drive box, folder list, file list and filter box of the pickers. Linked as the
// window wires them: drive box -> folder list -> file list, filter box -> file list.
// Choosing a drive moves the folder list to it; every change of folder first gives the
// new folder to the file list and then raises Change(). All on the GUI thread.
#include "platform/Drives.h"

#include <QComboBox>
#include <QFileSystemWatcher>
#include <QTimer>
#include <QListWidget>
#include <QStringList>
#include <vector>

class TFileListBox;
class TDirectoryListBox;

class TDriveComboBox : public QComboBox {
  Q_OBJECT
public:
  explicit TDriveComboBox(QWidget* parent = nullptr);

  void SetDirList(TDirectoryListBox* list);
  TDirectoryListBox* DirList() const { return dirList_; }

  // The root of the chosen drive ("/", "/media/usb", ...).
  QString Drive() const;
  // Chooses the drive that holds a path and moves the folder list there.
  void SetDrive(const QString& path);
  const std::vector<TDriveInfo>& Drives() const { return drives_; }
  void RefreshDrives();

protected:
  // The picture of a drive type; none here.
  virtual QIcon DriveIcon(TDriveType type) const;

private:
  void ShowDriveOf(const QString& path);
  std::vector<TDriveInfo> drives_;
  TDirectoryListBox* dirList_ = nullptr;
};

class TDirectoryListBox : public QListWidget {
  Q_OBJECT
public:
  explicit TDirectoryListBox(QWidget* parent = nullptr);

  QString Directory() const { return directory_; }
  // Moves to a folder (its absolute, cleaned path); a folder that does not exist is
  // refused and nothing changes.
  void SetDirectory(const QString& path);

  void SetFileList(TFileListBox* list);
  TFileListBox* FileList() const { return fileList_; }

  int ItemHeight() const { return itemHeight_; }
  void SetItemHeight(int height);

  // Rebuilds the items of the current folder (after folders were made or removed).
  void Update();

  enum TFolderKind { fkOpened, fkCurrent, fkClosed };
  // The folder an item stands for, its kind and its depth below the root.
  QString ItemPath(int row) const;
  TFolderKind ItemKind(int row) const;
  int ItemLevel(int row) const;

signals:
  void Change();

protected:
  virtual QIcon FolderIcon(TFolderKind kind) const;
  void keyPressEvent(QKeyEvent* event) override;

private:
  void Rebuild();
  QString directory_;
  TFileListBox* fileList_ = nullptr;
  int itemHeight_ = 17;
};

// File-type filter bits of the file list.
enum TFileTypeFlag : unsigned {
  ftReadOnly = 0x01,
  ftHidden = 0x02,
  ftSystem = 0x04,
  ftVolumeID = 0x08,
  ftDirectory = 0x10,
  ftArchive = 0x20,
  ftNormal = 0x80,
};

class TFileListBox : public QListWidget {
  Q_OBJECT
public:
  explicit TFileListBox(QWidget* parent = nullptr);
  static constexpr int RefreshDelayMs = 100;

  QString Directory() const { return directory_; }
  void SetDirectory(const QString& path);
  // One or more patterns separated by ";" ("*.sfv", "*.rar;*.r00"); "*.*" and "*"
  // list every file. Letter case does not matter.
  QString Mask() const { return mask_; }
  void SetMask(const QString& mask);
  unsigned FileType() const { return fileType_; }
  void SetFileType(unsigned fileType);
  bool MultiSelect() const { return selectionMode() != QAbstractItemView::SingleSelection; }
  void SetMultiSelect(bool multi);
  void SetItemHeight(int height);

  // The full path of the current item, empty when none.
  QString FileName() const;
  // Makes the named file (a full path or a name in the folder) the current item.
  void SetFileName(const QString& path);
  // Re-reads the folder, keeping the selection where the names still exist. The list
  // also does so by itself when it is shown and, shortly after, when the folder changes
  // on disk.
  void Update();

  int Count() const { return count(); }
  QString Name(int row) const { return item(row)->text(); }
  bool Selected(int row) const { return item(row)->isSelected(); }
  void SetSelected(int row, bool selected) { item(row)->setSelected(selected); }
  int SelCount() const { return static_cast<int>(selectedItems().size()); }
  int ItemIndex() const { return currentRow(); }
  void SetItemIndex(int row);

signals:
  void DblClick();

protected:
  void showEvent(QShowEvent* event) override;

private:
  void Rebuild();
  void Watch();
  QFileSystemWatcher* watcher_ = nullptr;
  QTimer* refresh_ = nullptr;  // gathers a burst of changes into one re-read
  QString directory_;
  QString mask_ = QStringLiteral("*.*");
  unsigned fileType_ = ftNormal;
  int itemHeight_ = 0;  // 0: as the font needs
};

// True when a file name matches a ";"-separated mask, the way the file list matches.
bool MatchesFileMask(const QString& name, const QString& mask);

class TFilterComboBox : public QComboBox {
  Q_OBJECT
public:
  explicit TFilterComboBox(QWidget* parent = nullptr);

  // "Name|mask|Name|mask..."; the first entry becomes current.
  void SetFilter(const QString& filter);
  QString Filter() const { return filter_; }
  QString Mask() const;
  // The file list whose mask follows the chosen entry.
  void SetFileList(TFileListBox* list);

private:
  QString filter_;
  QStringList masks_;
  TFileListBox* fileList_ = nullptr;
};
