#include "controls/BrowseDr.h"

#include "platform/Drives.h"
#include "platform/FileSystem.h"

#include <QAbstractFileIconProvider>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QStandardPaths>
#include <QTextStream>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

constexpr int PathRole = Qt::UserRole;
constexpr int LoadedRole = Qt::UserRole + 1;
constexpr int ImageRole = Qt::UserRole + 2;

// The shell's own caption when the owner gives none.
const char* const DefaultCaption = "Browse for Folder";

QString ExistingOrHome(const QString& folder) {
  if (!folder.isEmpty() && QFileInfo(folder).isDir()) return QDir::cleanPath(folder);
  return QDir::cleanPath(QDir::homePath());
}

// A system-wide folder from a standard location's search list: the first existing one
// that is not the user's own.
QString SystemWide(QStandardPaths::StandardLocation location, const QString& sub) {
  const QString own = QStandardPaths::writableLocation(location);
  for (const QString& dir : QStandardPaths::standardLocations(location)) {
    if (dir == own) continue;
    const QString folder = sub.isEmpty() ? dir : dir + QLatin1Char('/') + sub;
    if (QFileInfo(folder).isDir()) return folder;
  }
  return {};
}

// Qt has no location for the templates folder; xdg-user-dirs keeps it with the others.
QString TemplatesFolder() {
  const QString home = QDir::homePath();
  QFile file(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
             QStringLiteral("/user-dirs.dirs"));
  if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
    static const QRegularExpression line(QStringLiteral("^\\s*XDG_TEMPLATES_DIR\\s*=\\s*\"(.*)\"\\s*$"));
    QTextStream in(&file);
    while (!in.atEnd()) {
      const QRegularExpressionMatch m = line.match(in.readLine());
      if (!m.hasMatch()) continue;
      QString value = m.captured(1);
      value.replace(QStringLiteral("$HOME"), home);
      return value;
    }
  }
  return home + QStringLiteral("/Templates");
}

QString Join(const QString& folder, const QString& name) {
  return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

// "/a" is under "/" and under "/a", not under "/ab".
bool IsUnder(const QString& path, const QString& base) {
  if (base == QLatin1String("/")) return path.startsWith(QLatin1Char('/'));
  return path == base || path.startsWith(base + QLatin1Char('/'));
}

// A path as the tree takes it: no trailing separator, except the root itself.
QString NormalisedPath(const QString& path) {
  QString p = path;
  while (p.size() > 1 && p.endsWith(QLatin1Char('/'))) p.chop(1);
  return p;
}

const QFileIconProvider& Icons() {
  static const QFileIconProvider provider;
  return provider;
}

int ImageOfPath(const QString& path) {
  const QFileInfo info(path);
  if (!info.exists()) return -1;
  if (info.isDir()) {
    for (const TDriveInfo& drive : ListDrives()) {
      if (QFile::decodeName(drive.Root.c_str()) == path) {
        return drive.Type == TDriveType::Network ? QAbstractFileIconProvider::Network
                                                 : QAbstractFileIconProvider::Drive;
      }
    }
    return QAbstractFileIconProvider::Folder;
  }
  return QAbstractFileIconProvider::File;
}

// Removes the first element of a shortened folder part and marks the loss with ".../".
QString ShortenFolder(QString folder) {
  if (folder == QLatin1String("/")) return {};
  const bool leading = folder.startsWith(QLatin1Char('/'));
  if (leading) folder.remove(0, 1);
  if (folder.startsWith(QLatin1String(".../"))) folder.remove(0, 4);
  const int slash = folder.indexOf(QLatin1Char('/'));
  folder = slash < 0 ? QString() : folder.mid(slash + 1);
  folder.prepend(QLatin1String(".../"));
  if (leading) folder.prepend(QLatin1Char('/'));
  return folder;
}

}  // namespace

std::uint32_t ShellFlagOf(TBrowseFlag flag) {
  switch (flag) {
    case bfDirectoriesOnly: return 0x0001;
    case bfDomainOnly: return 0x0002;
    case bfAncestors: return 0x0008;
    case bfComputers: return 0x1000;
    case bfPrinters: return 0x2000;
    case bfIncludeFiles: return 0x4000;
    case bfEditBox: return 0x0010;
    case bfIncludeURLs: return 0x0080;
    case bfNewDialogStyle: return 0x0040;
    case bfShareable: return 0x8000;
    case bfUseNewUI: return 0x0050;
  }
  return 0;
}

QString RootFolder(TRootID root) {
  using SP = QStandardPaths;
  switch (root) {
    case idDrives: return {};
    case idPersonal: return ExistingOrHome(SP::writableLocation(SP::DocumentsLocation));
    case idDesktopDirectory: return ExistingOrHome(SP::writableLocation(SP::DesktopLocation));
    case idCommonDesktopDirectory:  // XDG knows no desktop shared by all users
      return ExistingOrHome(SP::writableLocation(SP::DesktopLocation));
    case idFonts: return ExistingOrHome(SP::writableLocation(SP::FontsLocation));
    case idTemplates: return ExistingOrHome(TemplatesFolder());
    case idAppData: return ExistingOrHome(SP::writableLocation(SP::GenericDataLocation));
    case idPrograms:
    case idStartMenu: return ExistingOrHome(SP::writableLocation(SP::ApplicationsLocation));
    case idCommonPrograms:
    case idCommonStartMenu: return ExistingOrHome(SystemWide(SP::ApplicationsLocation, {}));
    case idStartup:
      return ExistingOrHome(SP::writableLocation(SP::GenericConfigLocation) + QStringLiteral("/autostart"));
    case idCommonStartup:
      return ExistingOrHome(SystemWide(SP::GenericConfigLocation, QStringLiteral("autostart")));
    case idRecycleBin:
      return ExistingOrHome(SP::writableLocation(SP::GenericDataLocation) + QStringLiteral("/Trash/files"));
    default:
      // The desktop, and roots that have no folder here (internet, printers, network ...).
      return ExistingOrHome({});
  }
}

bool BrowseFolderExists(const QString& path) {
  if (path == QLatin1String("/")) return true;
  QString p = path;
  if (p.endsWith(QLatin1Char('/'))) p.chop(1);
  return !p.isEmpty() && DirectoryExists(QFile::encodeName(p).toStdString());
}

QString FitStatusLine(const QString& text, bool isFolder, int available,
                      const std::function<int(const QString&)>& widthOf) {
  if (text.isEmpty() || widthOf(text) <= available) return text;
  if (isFolder) {
    const int cut = text.lastIndexOf(QLatin1Char('/')) + 1;
    QString folder = text.left(cut);
    const QString file = text.mid(cut);
    QString result = text;
    while (!folder.isEmpty() && widthOf(result) > available) {
      // A bare ".../" has nothing left to give up; going on would never end.
      const QString shorter =
          folder == QLatin1String("/.../") ? QStringLiteral(".../") : ShortenFolder(folder);
      if (shorter == folder) break;
      folder = shorter;
      result = folder + file;
    }
    return result;
  }
  for (qsizetype keep = text.size() - 1; keep > 0; --keep) {
    const QString result = text.left(keep) + QStringLiteral("...");
    if (widthOf(result) <= available) return result;
  }
  return QStringLiteral("...");
}

TBrowseDirectoryDlg::TBrowseDirectoryDlg(QObject* owner) : QObject(owner) {}

TBrowseDirectoryDlg::~TBrowseDirectoryDlg() { DestroyDialog(); }

void TBrowseDirectoryDlg::DestroyDialog() {
  // The parts are let go first: while a widget dies its children still send events and
  // signals, and a guarded pointer to the half-destroyed window must not be read then.
  QDialog* window = dialog_.data();
  handle_ = nullptr;
  dialog_ = nullptr;
  tree_ = nullptr;
  edit_ = nullptr;
  status_ = nullptr;
  ok_ = nullptr;
  if (!window) return;
  window->removeEventFilter(this);
  for (QObject* child : window->findChildren<QObject*>()) {
    child->removeEventFilter(this);
    QObject::disconnect(child, nullptr, this, nullptr);
  }
  delete window;
}

void TBrowseDirectoryDlg::SetSelection(const QString& value) {
  if (value == selection_) return;
  selection_ = value;
  if (!value.isEmpty() && !value.endsWith(QLatin1Char('/')) && BrowseFolderExists(value)) {
    selection_ += QLatin1Char('/');
  }
  if (value.isEmpty()) selectionItem_.reset();
  if (showSelectionInStatus_) SetStatusText(selection_);
  if (handle_) ApplySelection();
}

void TBrowseDirectoryDlg::SetOptions(TBrowseFlags value) {
  if (value == options_) return;
  options_ = value;
  if (options_.Contains(bfIncludeURLs)) options_.Include(bfIncludeFiles).Include(bfUseNewUI);
  if (options_.Contains(bfShareable)) options_.Include(bfUseNewUI);
  if (options_.Contains(bfUseNewUI)) options_.Include(bfEditBox).Include(bfNewDialogStyle);
}

void TBrowseDirectoryDlg::SetStatusText(const QString& value) {
  if (value == statusText_) return;
  statusText_ = value;
  if (handle_) ShowStatus();
}

void TBrowseDirectoryDlg::SetFitStatusText(bool value) {
  if (value == fitStatusText_) return;
  fitStatusText_ = value;
  if (handle_) ShowStatus();
}

void TBrowseDirectoryDlg::SetEnableOKButton(bool value) {
  enableOKButton_ = value;
  if (handle_) UpdateOkButton();
}

QString TBrowseDirectoryDlg::Caption() const {
  return handle_ ? handle_->windowTitle() : caption_;
}

void TBrowseDirectoryDlg::SetCaption(const QString& value) {
  caption_ = value;
  if (handle_) handle_->setWindowTitle(value);
}

std::uint32_t TBrowseDirectoryDlg::ShellFlags() const {
  std::uint32_t flags = 0;
  for (int f = bfDirectoriesOnly; f <= bfUseNewUI; ++f) {
    if (options_.Contains(static_cast<TBrowseFlag>(f))) flags |= ShellFlagOf(static_cast<TBrowseFlag>(f));
  }
  if (options_.Contains(bfEditBox)) flags |= BifValidate;
  if (!statusText_.isEmpty() || showSelectionInStatus_) flags |= BifStatusText;
  return flags;
}

QString TBrowseDirectoryDlg::FittedStatusText() const {
  if (!fitStatusText_ || !handle_ || !status_ || statusText_.isEmpty()) return statusText_;
  const QFontMetrics metrics(status_->font());
  return FitStatusLine(statusText_, BrowseFolderExists(statusText_), status_->width(),
                       [&metrics](const QString& s) { return metrics.horizontalAdvance(s); });
}

bool TBrowseDirectoryDlg::Execute() {
  if (dialog_) return false;  // already shown: one dialog per component
  displayName_.clear();
  QWidget* owner = qobject_cast<QWidget*>(parent());
  owner = owner ? owner->window() : QApplication::activeWindow();

  BuildDialog(owner);
  chosen_.reset();
  QEventLoop loop;
  connect(dialog_, &QDialog::finished, &loop, &QEventLoop::quit);
  connect(dialog_, &QObject::destroyed, &loop, &QEventLoop::quit);
  dialog_->setWindowModality(Qt::ApplicationModal);
  dialog_->show();  // HandleInitialized runs from the show event
  // A callback may already have closed it; QDialog::exec would then wait for ever.
  if (dialog_ && dialog_->isVisible()) loop.exec(QEventLoop::DialogExec);

  // Accepted from outside (not through OK): the tree's item is the choice.
  if (dialog_ && dialog_->result() == QDialog::Accepted && !chosen_ && tree_ && tree_->currentItem()) {
    chosen_ = ItemOf(tree_->currentItem());
  }
  const bool chosen = dialog_ && dialog_->result() == QDialog::Accepted && chosen_.has_value();
  DestroyDialog();
  if (chosen) {
    const TBrowseItem item = *chosen_;
    QString result = item.Path;
    // A computer has no path of its own; it goes by its network name.
    if (options_.Contains(bfComputers) && result.isEmpty()) result = QStringLiteral("//") + item.DisplayName;
    imageIndex_ = item.ImageIndex;
    if (imageIndex_ == -1 && !result.isEmpty()) imageIndex_ = ImageOfPath(result);
    displayName_ = item.DisplayName;
    selection_ = result;  // as chosen: no separator is added
    selectionItem_ = item;
  } else {
    selection_.clear();
    selectionItem_.reset();
  }
  chosen_.reset();
  return chosen;
}

void TBrowseDirectoryDlg::BuildDialog(QWidget* owner) {
  dialog_ = new QDialog(owner);
  dialog_->setWindowTitle(QString::fromLatin1(DefaultCaption));
  dialog_->installEventFilter(this);
  auto* layout = new QVBoxLayout(dialog_);

  auto* title = new QLabel(title_, dialog_);
  title->setObjectName(QStringLiteral("Title"));
  title->setWordWrap(true);
  title->setTextFormat(Qt::PlainText);
  title->setVisible(!title_.isEmpty());
  layout->addWidget(title);

  status_ = new QLabel(dialog_);
  status_->setObjectName(QStringLiteral("Status"));
  status_->setTextFormat(Qt::PlainText);
  // The line is fitted to its width, so the text must not widen it.
  status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  status_->setMinimumWidth(1);
  status_->setVisible((ShellFlags() & BifStatusText) != 0);
  status_->installEventFilter(this);
  layout->addWidget(status_);

  tree_ = new QTreeWidget(dialog_);
  tree_->setObjectName(QStringLiteral("Tree"));
  tree_->setHeaderHidden(true);
  tree_->setColumnCount(1);
  tree_->setSortingEnabled(false);
  layout->addWidget(tree_, 1);

  edit_ = nullptr;
  if (options_.Contains(bfEditBox)) {
    auto* row = new QHBoxLayout;
    auto* label = new QLabel(QStringLiteral("Folder:"), dialog_);
    edit_ = new QLineEdit(dialog_);
    edit_->setObjectName(QStringLiteral("Edit"));
    label->setBuddy(edit_);
    row->addWidget(label);
    row->addWidget(edit_, 1);
    layout->addLayout(row);
  }

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  ok_ = new QPushButton(QStringLiteral("OK"), dialog_);
  ok_->setObjectName(QStringLiteral("OK"));
  ok_->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), dialog_);
  cancel->setObjectName(QStringLiteral("Cancel"));
  buttons->addWidget(ok_);
  buttons->addWidget(cancel);
  layout->addLayout(buttons);

  connect(ok_, &QPushButton::clicked, this, &TBrowseDirectoryDlg::OkPressed);
  connect(cancel, &QPushButton::clicked, dialog_, &QDialog::reject);
  connect(tree_, &QTreeWidget::itemExpanded, this, &TBrowseDirectoryDlg::LoadChildren);
  connect(tree_, &QTreeWidget::currentItemChanged, this, &TBrowseDirectoryDlg::TreeSelectionMoved);

  // Only the new style may be resized.
  const bool newStyle = options_.Contains(bfNewDialogStyle) || options_.Contains(bfUseNewUI);
  dialog_->resize(340, 420);
  dialog_->setSizeGripEnabled(newStyle);

  // The tree under the root: the drives, or one folder.
  QTreeWidgetItem* top = nullptr;
  if (root_ == idDrives) {
    top = AddItem(nullptr, TBrowseItem{{}, QStringLiteral("Computer"), QAbstractFileIconProvider::Computer},
                  false);
    for (const TDriveInfo& drive : ListDrives()) {
      const QString path = QFile::decodeName(drive.Root.c_str());
      AddItem(top, TBrowseItem{path, path,
                               drive.Type == TDriveType::Network ? QAbstractFileIconProvider::Network
                                                                 : QAbstractFileIconProvider::Drive},
              true);
    }
    top->setData(0, LoadedRole, true);
  } else {
    const QString folder = RootFolder(root_);
    const bool desktop = root_ == idDesktop || root_ == idDesktopExpanded;
    top = AddItem(nullptr,
                  TBrowseItem{folder, folder,
                              desktop ? QAbstractFileIconProvider::Desktop : QAbstractFileIconProvider::Folder},
                  true);
    LoadChildren(top);
  }
  top->setExpanded(true);
  tree_->setCurrentItem(top);
}

QTreeWidgetItem* TBrowseDirectoryDlg::AddItem(QTreeWidgetItem* parent, const TBrowseItem& data, bool folder) {
  auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree_);
  item->setText(0, data.DisplayName);
  item->setData(0, PathRole, data.Path);
  item->setData(0, ImageRole, data.ImageIndex);
  item->setData(0, LoadedRole, !folder);
  if (data.ImageIndex >= 0) {
    item->setIcon(0, Icons().icon(static_cast<QAbstractFileIconProvider::IconType>(data.ImageIndex)));
  }
  // Whether a folder has subfolders is only learnt when it is opened, so that a big
  // tree costs one folder read per click.
  item->setChildIndicatorPolicy(folder ? QTreeWidgetItem::ShowIndicator
                                       : QTreeWidgetItem::DontShowIndicatorWhenChildless);
  return item;
}

void TBrowseDirectoryDlg::LoadChildren(QTreeWidgetItem* item) {
  if (!item || item->data(0, LoadedRole).toBool()) return;
  item->setData(0, LoadedRole, true);
  const QString path = item->data(0, PathRole).toString();
  QDir::Filters filters = QDir::Dirs | QDir::NoDotAndDotDot;
  if (options_.Contains(bfIncludeFiles)) filters |= QDir::Files;
  // An unreadable folder lists nothing: it simply has no children.
  const QFileInfoList entries =
      QDir(path).entryInfoList(filters, QDir::Name | QDir::IgnoreCase | QDir::DirsFirst);
  for (const QFileInfo& entry : entries) {
    if (entry.fileName().startsWith(QLatin1Char('.'))) continue;  // hidden, as file lists do
    const bool folder = entry.isDir();
    AddItem(item,
            TBrowseItem{Join(path, entry.fileName()), entry.fileName(),
                        folder ? QAbstractFileIconProvider::Folder : QAbstractFileIconProvider::File},
            folder);
  }
  if (item->childCount() == 0) item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

QTreeWidgetItem* TBrowseDirectoryDlg::LocatePath(const QString& path) {
  QTreeWidgetItem* top = tree_ ? tree_->topLevelItem(0) : nullptr;
  if (!top) return nullptr;
  if (path.isEmpty()) return top->data(0, PathRole).toString().isEmpty() ? top : nullptr;
  if (!QDir::isAbsolutePath(path)) return nullptr;
  const QString target = QDir::cleanPath(path);

  // Start from the item whose path holds the target most closely: a drive, or the root.
  QTreeWidgetItem* current = nullptr;
  QString base;
  const auto consider = [&](QTreeWidgetItem* item) {
    const QString p = item->data(0, PathRole).toString();
    if (!p.isEmpty() && IsUnder(target, p) && (current == nullptr || p.size() > base.size())) {
      current = item;
      base = p;
    }
  };
  consider(top);
  for (int i = 0; i < top->childCount() && root_ == idDrives; ++i) consider(top->child(i));
  if (!current) return nullptr;

  const QString rest = target.mid(base.size());
  for (const QString& name : rest.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
    LoadChildren(current);
    const QString next = Join(base, name);
    QTreeWidgetItem* found = nullptr;
    for (int i = 0; i < current->childCount() && !found; ++i) {
      if (current->child(i)->data(0, PathRole).toString() == next) found = current->child(i);
    }
    if (!found) {
      // A hidden folder is left out of the listing but may still be asked for.
      const QFileInfo info(next);
      const bool folder = info.isDir();
      if (!folder && !(info.isFile() && options_.Contains(bfIncludeFiles))) return nullptr;
      found = AddItem(current,
                      TBrowseItem{next, name,
                                  folder ? QAbstractFileIconProvider::Folder : QAbstractFileIconProvider::File},
                      folder);
    }
    current = found;
    base = next;
  }
  return current;
}

TBrowseItem TBrowseDirectoryDlg::ItemOf(const QTreeWidgetItem* item) const {
  if (!item) return {};
  return TBrowseItem{item->data(0, PathRole).toString(), item->text(0), item->data(0, ImageRole).toInt()};
}

bool TBrowseDirectoryDlg::MayChoose(const TBrowseItem& item) const {
  if (options_.Contains(bfDirectoriesOnly) || options_.Contains(bfAncestors)) {
    return !item.Path.isEmpty() && BrowseFolderExists(item.Path);
  }
  return true;
}

void TBrowseDirectoryDlg::ApplySelection() {
  if (!tree_) return;
  QString target;
  if (selection_.isEmpty()) {
    if (!selectionItem_) return;
    selection_ = selectionItem_->Path;
    target = selectionItem_->Path;
  } else {
    target = NormalisedPath(selection_);
  }
  QTreeWidgetItem* item = LocatePath(target);
  if (!item) return;  // a path the tree cannot show leaves the selection where it is
  selectionItem_ = ItemOf(item);
  tree_->setCurrentItem(item);
  tree_->scrollToItem(item);
}

void TBrowseDirectoryDlg::ShowStatus() {
  if (!status_) return;
  const QString fitted = FittedStatusText();
  status_->setText(fitted);
  status_->setToolTip(fitted == statusText_ ? QString() : statusText_);
}

void TBrowseDirectoryDlg::UpdateOkButton() {
  if (!ok_ || !tree_) return;
  ok_->setEnabled(enableOKButton_ && MayChoose(ItemOf(tree_->currentItem())));
}

void TBrowseDirectoryDlg::TreeSelectionMoved() {
  const TBrowseItem item = ItemOf(tree_ ? tree_->currentItem() : nullptr);
  if (edit_) edit_->setText(item.Path);
  UpdateOkButton();
  if (handle_ && !quiet_) HandleSelectionChanged(handle_, item);
}

void TBrowseDirectoryDlg::OkPressed() {
  if (!dialog_ || !tree_) return;
  const TBrowseItem current = ItemOf(tree_->currentItem());
  const QString typed = edit_ ? edit_->text() : QString();
  if (!typed.isEmpty() && typed != current.Path) {
    // Typed text counts from the selected folder unless it is a full path.
    QString text = typed;
    if (text == QLatin1String("~") || text.startsWith(QLatin1String("~/"))) text = QDir::homePath() + text.mid(1);
    QString resolved;
    if (QDir::isAbsolutePath(text)) {
      resolved = QDir::cleanPath(text);
    } else if (!current.Path.isEmpty()) {
      resolved = QDir::cleanPath(Join(current.Path, text));
    }
    if (resolved.isEmpty()) {
      // Relative to nothing: no folder can come of it, whatever a handler would say.
      SetStatusText(QStringLiteral("Select a folder first: \"") + typed + QStringLiteral("\" is not a full path"));
      return;
    }
    const QFileInfo info(resolved);
    if ((info.isDir() || (info.isFile() && options_.Contains(bfIncludeFiles)))) {
      const QString name = resolved == QLatin1String("/") ? resolved : info.fileName();
      chosen_ = TBrowseItem{resolved, name, ImageOfPath(resolved)};
      dialog_->accept();
      return;
    }
    bool cancel = false;
    HandleValidateFailed(typed, cancel);
    if (!cancel || !dialog_ || !dialog_->isVisible()) return;
    chosen_ = TBrowseItem{resolved, QFileInfo(resolved).fileName(), -1};
    dialog_->accept();
    return;
  }
  if (!tree_->currentItem() || !MayChoose(current)) return;
  if (folderRequired_ && current.Path.isEmpty()) {
    SetStatusText(QStringLiteral("Select a folder: \"") + current.DisplayName + QStringLiteral("\" is not one"));
    return;
  }
  chosen_ = current;
  dialog_->accept();
}

void TBrowseDirectoryDlg::HandleInitialized(QDialog* window) {
  handle_ = window;
  if (center_) {
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (screen) {
      const QRect area = screen->geometry();
      const QSize size = window->frameGeometry().size();
      window->move(area.x() + (area.width() - size.width()) / 2, area.y() + (area.height() - size.height()) / 2);
    }
  }
  if (status_ && (options_.Contains(bfNewDialogStyle) || options_.Contains(bfUseNewUI))) status_->show();
  UpdateOkButton();
  if (!statusText_.isEmpty()) ShowStatus();
  if (!selection_.isEmpty() || selectionItem_) {
    // The first selection is the dialog's starting point, not a move: it raises nothing.
    quiet_ = true;
    ApplySelection();
    quiet_ = false;
  }
  if (!caption_.isEmpty()) window->setWindowTitle(caption_);
  if (OnCreate) OnCreate(this);
}

void TBrowseDirectoryDlg::HandleSelectionChanged(QDialog* /*window*/, const TBrowseItem& item) {
  if (!showSelectionInStatus_ && !OnSelChanged) return;
  if (showSelectionInStatus_) SetStatusText(item.Path);
  if (OnSelChanged) OnSelChanged(this, item.Path, item);
}

void TBrowseDirectoryDlg::HandleValidateFailed(const QString& path, bool& cancel) {
  if (OnValidateFailed) OnValidateFailed(this, path, cancel);
}

bool TBrowseDirectoryDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == dialog_ && event->type() == QEvent::Show && !handle_) HandleInitialized(dialog_);
  if (watched == status_ && event->type() == QEvent::Resize && handle_) ShowStatus();
  return QObject::eventFilter(watched, event);
}
