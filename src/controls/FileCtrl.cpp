#include "controls/FileCtrl.h"

#include "platform/FileSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <algorithm>

namespace {

enum TItemRole { PathRole = Qt::UserRole + 1, KindRole, LevelRole };

QString CleanAbsolute(const QString& path) {
  return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

// Indents each folder by its depth, as a tree would.
class TIndentDelegate final : public QStyledItemDelegate {
public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyleOptionViewItem indented(option);
    indented.rect.adjust(4 * index.data(LevelRole).toInt(), 0, 0, 0);
    QStyledItemDelegate::paint(painter, indented, index);
  }
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.rwidth() += 4 * index.data(LevelRole).toInt();
    return size;
  }
};

bool LessByName(const QString& a, const QString& b) {
  const int folded = QString::compare(a, b, Qt::CaseInsensitive);
  return folded != 0 ? folded < 0 : a < b;
}

}  // namespace

// ---------------------------------------------------------------- drive box

TDriveComboBox::TDriveComboBox(QWidget* parent) : QComboBox(parent) {
  RefreshDrives();
  connect(this, &QComboBox::activated, this, [this](int row) {
    if (row >= 0 && dirList_ != nullptr) {
      dirList_->SetDirectory(QString::fromStdString(drives_[static_cast<std::size_t>(row)].Root));
    }
  });
}

QIcon TDriveComboBox::DriveIcon(TDriveType) const { return {}; }

void TDriveComboBox::RefreshDrives() {
  const QString current = Drive();
  drives_ = ListDrives();
  clear();
  for (const auto& d : drives_) addItem(DriveIcon(d.Type), QString::fromStdString(d.Root));
  ShowDriveOf(current.isEmpty() ? QDir::currentPath() : current);
}

QString TDriveComboBox::Drive() const {
  const int row = currentIndex();
  return row >= 0 && row < static_cast<int>(drives_.size())
             ? QString::fromStdString(drives_[static_cast<std::size_t>(row)].Root)
             : QString();
}

void TDriveComboBox::ShowDriveOf(const QString& path) {
  const TDriveInfo drive = DriveOfPath(drives_, CleanAbsolute(path).toStdString());
  for (std::size_t i = 0; i < drives_.size(); ++i) {
    if (drives_[i].Root == drive.Root) setCurrentIndex(static_cast<int>(i));
  }
}

void TDriveComboBox::SetDrive(const QString& path) {
  ShowDriveOf(path);
  if (dirList_ != nullptr) dirList_->SetDirectory(path);
}

void TDriveComboBox::SetDirList(TDirectoryListBox* list) {
  dirList_ = list;
  if (list == nullptr) return;
  // The folder list may leave the drive (a folder above a mount point); follow it.
  connect(list, &TDirectoryListBox::Change, this, [this] { ShowDriveOf(dirList_->Directory()); });
  ShowDriveOf(list->Directory());
}

// ---------------------------------------------------------------- folder list

TDirectoryListBox::TDirectoryListBox(QWidget* parent) : QListWidget(parent) {
  setItemDelegate(new TIndentDelegate(this));
  setUniformItemSizes(true);
  connect(this, &QListWidget::itemActivated, this,
          [this](QListWidgetItem* item) { SetDirectory(item->data(PathRole).toString()); });
  directory_ = CleanAbsolute(QDir::currentPath());
  Rebuild();
}

QIcon TDirectoryListBox::FolderIcon(TFolderKind) const { return {}; }

void TDirectoryListBox::SetItemHeight(int height) {
  itemHeight_ = height;
  Rebuild();
}

void TDirectoryListBox::SetDirectory(const QString& path) {
  if (path.isEmpty() || !QFileInfo(path).isDir()) return;
  directory_ = CleanAbsolute(path);
  Rebuild();
  if (fileList_ != nullptr) fileList_->SetDirectory(directory_);
  emit Change();
}

void TDirectoryListBox::SetFileList(TFileListBox* list) {
  fileList_ = list;
  if (list != nullptr) list->SetDirectory(directory_);
}

void TDirectoryListBox::Update() { Rebuild(); }

QString TDirectoryListBox::ItemPath(int row) const { return item(row)->data(PathRole).toString(); }

TDirectoryListBox::TFolderKind TDirectoryListBox::ItemKind(int row) const {
  return static_cast<TFolderKind>(item(row)->data(KindRole).toInt());
}

int TDirectoryListBox::ItemLevel(int row) const { return item(row)->data(LevelRole).toInt(); }

void TDirectoryListBox::Rebuild() {
  clear();
  auto add = [this](const QString& text, const QString& path, TFolderKind kind, int level) {
    auto* it = new QListWidgetItem(FolderIcon(kind), text, this);
    it->setData(PathRole, path);
    it->setData(KindRole, kind);
    it->setData(LevelRole, level);
    it->setSizeHint(QSize(0, itemHeight_));
    return it;
  };

  // The path from the root down to the current folder, then its subfolders.
  const QStringList parts = directory_.split(QLatin1Char('/'), Qt::SkipEmptyParts);
  QString path = QStringLiteral("/");
  add(QStringLiteral("/"), path, parts.isEmpty() ? fkCurrent : fkOpened, 0);
  for (int i = 0; i < parts.size(); ++i) {
    path = QDir::cleanPath(path + QLatin1Char('/') + parts[i]);
    add(parts[i], path, i + 1 == parts.size() ? fkCurrent : fkOpened, i + 1);
  }
  setCurrentRow(count() - 1);

  QStringList children = QDir(directory_).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::NoSort);
  std::sort(children.begin(), children.end(), LessByName);
  for (const QString& child : children) {
    add(child, QDir::cleanPath(directory_ + QLatin1Char('/') + child), fkClosed,
        static_cast<int>(parts.size()) + 1);
  }
}

void TDirectoryListBox::keyPressEvent(QKeyEvent* event) {
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentItem()) {
    SetDirectory(currentItem()->data(PathRole).toString());
    return;
  }
  QListWidget::keyPressEvent(event);
}

// ---------------------------------------------------------------- file list

namespace {
// "*" any run, "?" any one character; letter case does not matter.
bool WildMatch(const QString& name, qsizetype n, const QString& pattern, qsizetype p) {
  while (p < pattern.size()) {
    if (pattern[p] == QLatin1Char('*')) {
      while (p < pattern.size() && pattern[p] == QLatin1Char('*')) ++p;
      if (p == pattern.size()) return true;
      for (qsizetype k = n; k <= name.size(); ++k) {
        if (WildMatch(name, k, pattern, p)) return true;
      }
      return false;
    }
    if (n == name.size()) return false;
    if (pattern[p] != QLatin1Char('?') && pattern[p].toCaseFolded() != name[n].toCaseFolded()) {
      return false;
    }
    ++n;
    ++p;
  }
  return n == name.size();
}
}  // namespace

bool MatchesFileMask(const QString& name, const QString& mask) {
  for (const QString& raw : mask.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
    const QString pattern = raw.trimmed();
    if (pattern == QLatin1String("*.*") || WildMatch(name, 0, pattern, 0)) return true;
  }
  return false;
}

TFileListBox::TFileListBox(QWidget* parent)
    : QListWidget(parent), watcher_(new QFileSystemWatcher(this)), refresh_(new QTimer(this)) {
  setSelectionMode(QAbstractItemView::SingleSelection);
  setUniformItemSizes(true);
  connect(this, &QListWidget::itemDoubleClicked, this, [this] { emit DblClick(); });
  refresh_->setSingleShot(true);
  refresh_->setInterval(RefreshDelayMs);
  connect(refresh_, &QTimer::timeout, this, [this] { Rebuild(); });
  connect(watcher_, &QFileSystemWatcher::directoryChanged, refresh_, qOverload<>(&QTimer::start));
}

void TFileListBox::SetDirectory(const QString& path) {
  directory_ = CleanAbsolute(path);
  Watch();
  Rebuild();
}

void TFileListBox::Watch() {
  if (!watcher_->directories().isEmpty()) watcher_->removePaths(watcher_->directories());
  // A folder that cannot be watched (too many watches, a file system without
  // notifications) is still re-read whenever the list is shown.
  if (!directory_.isEmpty()) watcher_->addPath(directory_);
}

void TFileListBox::showEvent(QShowEvent* event) {
  QListWidget::showEvent(event);
  Rebuild();
}

void TFileListBox::SetMask(const QString& mask) {
  if (mask == mask_) return;
  mask_ = mask;
  Rebuild();
}

void TFileListBox::SetFileType(unsigned fileType) {
  fileType_ = fileType;
  Rebuild();
}

void TFileListBox::SetMultiSelect(bool multi) {
  setSelectionMode(multi ? QAbstractItemView::ExtendedSelection
                         : QAbstractItemView::SingleSelection);
}

void TFileListBox::SetItemHeight(int height) {
  itemHeight_ = height;
  for (int i = 0; i < count(); ++i) item(i)->setSizeHint(QSize(0, height));
}

QString TFileListBox::FileName() const {
  const QListWidgetItem* it = currentItem();
  if (it == nullptr || directory_.isEmpty()) return {};
  return QDir::cleanPath(directory_ + QLatin1Char('/') + it->text());
}

void TFileListBox::SetFileName(const QString& path) {
  const QString name = QFileInfo(path).fileName();
  for (int i = 0; i < count(); ++i) {
    if (item(i)->text() == name) {
      clearSelection();
      setCurrentRow(i);
      item(i)->setSelected(true);
      return;
    }
  }
}

void TFileListBox::SetItemIndex(int row) {
  clearSelection();
  setCurrentRow(row);
  if (row >= 0 && row < count()) item(row)->setSelected(true);
}

void TFileListBox::Update() { Rebuild(); }

void TFileListBox::Rebuild() {
  QStringList names;
  if (!directory_.isEmpty()) {
    QDir::Filters filters = QDir::Files;
    if ((fileType_ & ftHidden) != 0) filters |= QDir::Hidden;
    const QString folder = directory_ + QLatin1Char('/');
    for (const QString& name : QDir(directory_).entryList(filters, QDir::NoSort)) {
      // Regular files only (links to them included): a FIFO, socket or device is nothing
      // to sum, and opening a FIFO would wait for a writer. Qt's Files lets through links
      // whose target it cannot tell (/dev/stdin), so the system decides.
      if (MatchesFileMask(name, mask_) && IsRegularFile(QFile::encodeName(folder + name).toStdString())) {
        names << name;
      }
    }
    std::sort(names.begin(), names.end(), LessByName);
  }
  // The same files: the list stays exactly as it is, scroll position and all.
  QStringList shown;
  for (int i = 0; i < count(); ++i) shown << item(i)->text();
  if (names == shown) return;

  QStringList selected;
  for (const QListWidgetItem* it : selectedItems()) selected << it->text();
  const QString current = currentItem() ? currentItem()->text() : QString();
  const int scrolled = verticalScrollBar()->value();
  clear();
  for (const QString& name : names) {
    auto* it = new QListWidgetItem(name, this);
    if (itemHeight_ > 0) it->setSizeHint(QSize(0, itemHeight_));
    if (selected.contains(name)) it->setSelected(true);
    if (name == current) setCurrentItem(it, QItemSelectionModel::NoUpdate);
  }
  verticalScrollBar()->setValue(scrolled);
}

// ---------------------------------------------------------------- filter box

TFilterComboBox::TFilterComboBox(QWidget* parent) : QComboBox(parent) {
  connect(this, &QComboBox::currentIndexChanged, this, [this] {
    if (fileList_ != nullptr) fileList_->SetMask(Mask());
  });
}

void TFilterComboBox::SetFilter(const QString& filter) {
  filter_ = filter;
  masks_.clear();
  const QSignalBlocker block(this);
  clear();
  const QStringList parts = filter.split(QLatin1Char('|'));
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    addItem(parts[i]);
    masks_ << parts[i + 1];
  }
  setCurrentIndex(masks_.isEmpty() ? -1 : 0);
  if (fileList_ != nullptr) fileList_->SetMask(Mask());
}

QString TFilterComboBox::Mask() const {
  const int row = currentIndex();
  return row >= 0 && row < masks_.size() ? masks_[row] : QStringLiteral("*.*");
}

void TFilterComboBox::SetFileList(TFileListBox* list) {
  fileList_ = list;
  if (list != nullptr) list->SetMask(Mask());
}
