#include "controls/FilCtl95.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <algorithm>

// A static library's resources are only linked in when something names them.
static void InitControlResources() { Q_INIT_RESOURCE(tallyra_controls); }

namespace {

constexpr int PictureSize = 16;

// Drive items at least as high as a picture.
class TDriveItemDelegate final : public QStyledItemDelegate {
public:
  TDriveItemDelegate(const TDrive95ComboBox* box, QObject* parent)
      : QStyledItemDelegate(parent), box_(box) {}
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(std::max(size.height(), box_->ItemHeight()));
    return size;
  }

private:
  const TDrive95ComboBox* box_;
};

// The folder list's items: the picture indented 2 + 4 pixels per level, the name 4 pixels
// right of it.
class TFolderItemDelegate final : public QStyledItemDelegate {
public:
  explicit TFolderItemDelegate(TDirectory95ListBox* list) : QStyledItemDelegate(list), list_(list) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    const QWidget* widget = opt.widget;
    QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, widget);
    const int x = PictureLeft(opt.rect, index.row());
    const QPixmap picture = opt.icon.pixmap(PictureSize, PictureSize);
    painter->drawPixmap(x, opt.rect.top() + (opt.rect.height() - PictureSize) / 2, picture);
    const bool selected = (opt.state & QStyle::State_Selected) != 0;
    painter->setPen(opt.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    painter->setFont(opt.font);
    const int textLeft = x + PictureSize + 4;
    painter->drawText(QRect(textLeft, opt.rect.top(), opt.rect.right() - textLeft + 1, opt.rect.height()),
                      Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, opt.text);
  }

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const QSize stored = QStyledItemDelegate::sizeHint(option, index);
    const int text = option.fontMetrics.horizontalAdvance(index.data(Qt::DisplayRole).toString());
    return {PictureLeft(QRect(), index.row()) + PictureSize + 4 + text + 2, stored.height()};
  }

private:
  int PictureLeft(const QRect& rect, int row) const {
    return rect.left() + 2 + 4 * (row >= 0 && row < list_->count() ? list_->ItemLevel(row) : 0);
  }
  TDirectory95ListBox* list_;
};

QIcon IconOf(const QString& name) { return QIcon(TransparentPicture95(name)); }

}  // namespace

QImage Picture95(const QString& name) {
  static const bool loaded = (InitControlResources(), true);
  (void)loaded;
  if (name.isEmpty() || name.contains(QLatin1Char('/'))) return {};
  return QImage(QStringLiteral(":/controls/") + name, "BMP");
}

QPixmap TransparentPicture95(const QString& name) {
  QImage image = Picture95(name);
  if (image.isNull()) return {};
  image = image.convertToFormat(QImage::Format_ARGB32);
  const QRgb key = image.pixel(0, image.height() - 1);
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      if (line[x] == key) line[x] = qRgba(0, 0, 0, 0);
    }
  }
  return QPixmap::fromImage(image);
}

QString DrivePictureName(TDriveType type) {
  switch (type) {
    case TDriveType::Removable: return QStringLiteral("FLOPPY_95");
    case TDriveType::Network: return QStringLiteral("NETWORK_95");
    case TDriveType::CDRom: return QStringLiteral("CDROM_95");
    case TDriveType::RamDisk: return QStringLiteral("RAM_95");
    case TDriveType::Fixed:
    case TDriveType::Unknown: break;
  }
  return QStringLiteral("FIXED_95");
}

// ---------------------------------------------------------------- drive box

TDrive95ComboBox::TDrive95ComboBox(QWidget* parent) : TDriveComboBox(parent) {
  setIconSize(QSize(PictureSize, PictureSize));
  setItemDelegate(new TDriveItemDelegate(this, this));
  // The base constructor filled the list before our pictures could be asked for.
  RefreshDrives();
}

int TDrive95ComboBox::ItemHeight() const {
  return std::max(fontMetrics().height(), Picture95(QStringLiteral("FLOPPY_95")).height());
}

QIcon TDrive95ComboBox::DriveIcon(TDriveType type) const { return IconOf(DrivePictureName(type)); }

void TDrive95ComboBox::changeEvent(QEvent* event) {
  TDriveComboBox::changeEvent(event);
  if (event->type() == QEvent::FontChange) updateGeometry();
}

// ---------------------------------------------------------------- folder list

TDirectory95ListBox::TDirectory95ListBox(QWidget* parent) : TDirectoryListBox(parent) {
  setIconSize(QSize(PictureSize, PictureSize));
  setItemDelegate(new TFolderItemDelegate(this));
  FitItemHeight();  // rebuilds the items, now with our pictures
}

QIcon TDirectory95ListBox::FolderIcon(TFolderKind kind) const {
  switch (kind) {
    case fkOpened: return IconOf(QStringLiteral("OPENFOLDER_95"));
    case fkCurrent: return IconOf(QStringLiteral("CURRENTFOLDER_95"));
    case fkClosed: break;
  }
  return IconOf(QStringLiteral("CLOSEDFOLDER_95"));
}

void TDirectory95ListBox::FitItemHeight() {
  // As high as the font needs, and one pixel more than the opened-folder picture.
  SetItemHeight(std::max(fontMetrics().height(), Picture95(QStringLiteral("OPENFOLDER_95")).height() + 1));
}

void TDirectory95ListBox::changeEvent(QEvent* event) {
  TDirectoryListBox::changeEvent(event);
  if (event->type() == QEvent::FontChange) FitItemHeight();
}
