#include "controls/ASLink.h"

#include <QApplication>
#include <algorithm>
#include <QDesktopServices>
#include <QDir>
#include <QEnterEvent>
#include <QFontMetrics>
#include <QKeySequence>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QShortcutEvent>
#include <QUrl>

namespace {

constexpr int ShellOpenSucceeded = 42;
constexpr int ShellNoAssociation = 31;  // the shell's "no application for this"

int DesktopShellOpen(const QString& fileName, const QString& parameters, const QString& directory,
                     int /*showCmd: the desktop decides how its application shows*/) {
  if (!parameters.isEmpty()) {
    return QProcess::startDetached(fileName, QProcess::splitCommand(parameters), directory)
               ? ShellOpenSucceeded
               : ShellNoAssociation;
  }
  QUrl url(fileName);
  // A plain path has no scheme; a one-letter "scheme" is a drive letter, not a protocol.
  if (url.scheme().size() < 2) {
    url = QUrl::fromLocalFile(directory.isEmpty() ? fileName : QDir(directory).absoluteFilePath(fileName));
  }
  return QDesktopServices::openUrl(url) ? ShellOpenSucceeded : ShellNoAssociation;
}

TShellOpenService& CurrentService() {
  static TShellOpenService service;
  return service;
}

// The caption's accelerator: the character after a single "&", or none.
QChar AccelChar(const QString& caption) {
  for (int i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != '&') continue;
    if (caption[i + 1] == '&') {
      ++i;
      continue;
    }
    return caption[i + 1];
  }
  return {};
}

int Right(const QRect& r) { return r.x() + r.width(); }
int Bottom(const QRect& r) { return r.y() + r.height(); }

}  // namespace

TShellOpenService SetShellOpenService(TShellOpenService service) {
  TShellOpenService previous = std::move(CurrentService());
  CurrentService() = std::move(service);
  return previous;
}

int ShellOpenFile(const QString& fileName, const QString& parameters, const QString& directory,
                  int showCmd) {
  // Windows cut each of the three to 79 characters; a cut address opens the wrong place,
  // so they go whole.
  const TShellOpenService& service = CurrentService();
  if (service) return service(fileName, parameters, directory, showCmd);
  return DesktopShellOpen(fileName, parameters, directory, showCmd);
}

QString URLTypePrefix(TURLType type) {
  switch (type) {
    case utFile: return QStringLiteral("file://");
    case utFtp: return QStringLiteral("ftp://");
    case utGopher: return QStringLiteral("gopher://");
    case utHttp: return QStringLiteral("http://");
    case utHttps: return QStringLiteral("https://");
    case utMailto: return QStringLiteral("mailto:");
    case utNews: return QStringLiteral("news:");
    case utTelnet: return QStringLiteral("telnet:");
    case utWais: return QStringLiteral("wais:");
  }
  return {};
}

int DrawShadowText(QPainter& painter, const QString& text, TShadowPosition pos,
                   const QColor& shadowColor, int shadowSize, int flags, QRect& rect, bool calcRect) {
  QRect textRect = rect;
  QRect shadowRect = rect;
  const int s = shadowSize;
  switch (pos) {
    case spLeftTop: textRect.translate(s, s); break;
    case spLeftBottom: textRect.translate(s, 0); shadowRect.translate(0, s); break;
    case spRightBottom: shadowRect.translate(s, s); break;
    case spRightTop: textRect.translate(0, s); shadowRect.translate(s, 0); break;
  }
  const QColor textColor = painter.pen().color();
  QRect drawnText;
  QRect drawnShadow;
  if (calcRect) {
    // Measured from the top left, as the system's calculate mode does.
    const int measureFlags = (flags & ~Qt::AlignHorizontal_Mask) | Qt::AlignLeft | Qt::AlignTop;
    drawnShadow = painter.boundingRect(shadowRect, measureFlags, text);
    drawnText = painter.boundingRect(textRect, measureFlags, text);
    rect = drawnShadow.united(drawnText);
  } else {
    painter.setPen(shadowColor);
    painter.drawText(shadowRect, flags, text, &drawnShadow);
    painter.setPen(textColor);
    painter.drawText(textRect, flags, text, &drawnText);
    rect = shadowRect.united(textRect);
  }
  const int height = drawnText.height();
  return height <= 0 ? height : height + s;
}

// ------------------------------------------------------------------ TASLink

TASLink::TASLink(QWidget* parent) : QWidget(parent) {
  resize(65, 17);
  fontColor_ = palette().color(QPalette::WindowText);
  rememberedColor_ = fontColor_;
  color_ = palette().color(QPalette::Window);
  shadowColor_ = palette().color(QPalette::Active, QPalette::Light);
  setCursor(Qt::PointingHandCursor);
  if (qApp != nullptr) {
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) { FocusChanged(now); });
  }
}

TASLink::~TASLink() = default;

void TASLink::SetCaption(const QString& caption) {
  if (caption == caption_) return;
  caption_ = caption;
  update();
  AdjustBounds();
  UpdateShortcut();
}

void TASLink::SetFontColor(const QColor& color) {
  if (color == fontColor_) return;
  fontColor_ = color;
  update();
}

void TASLink::SetColor(const QColor& color) {
  if (color == color_) return;
  color_ = color;
  update();
}

void TASLink::SetAlignment(TAlignment value) {
  if (value == alignment_) return;
  alignment_ = value;
  update();
}

void TASLink::SetAutoSize(bool value) {
  if (value == autoSize_) return;
  autoSize_ = value;
  AdjustBounds();
}

void TASLink::SetFocusControl(QWidget* control) {
  focusControl_ = control;
  if (control != nullptr) {
    // Told when it goes, so the link never hands the focus to a freed control.
    connect(control, &QObject::destroyed, this, [this] {
      focusControl_ = nullptr;
      focused_ = false;
      UpdateShortcut();
    });
  }
  focused_ = control != nullptr && control->hasFocus();
  UpdateShortcut();
  if (showFocus_) update();
}

void TASLink::SetLayout(TTextLayout value) {
  if (value == layout_) return;
  layout_ = value;
  update();
}

void TASLink::SetShadowColor(const QColor& value) {
  if (value == shadowColor_) return;
  shadowColor_ = value;
  update();
}

void TASLink::SetShadowSize(int value) {
  value = std::clamp(value, 0, 255);
  if (value == shadowSize_) return;
  shadowSize_ = value;
  AdjustBounds();
  update();
}

void TASLink::SetShadowPos(TShadowPosition value) {
  if (value == shadowPos_) return;
  shadowPos_ = value;
  update();
}

void TASLink::SetShowAccelChar(bool value) {
  if (value == showAccelChar_) return;
  showAccelChar_ = value;
  UpdateShortcut();
  update();
}

void TASLink::SetShowFocus(bool value) {
  if (value == showFocus_) return;
  showFocus_ = value;
  update();
}

void TASLink::SetTransparent(bool value) {
  if (value == transparent_) return;
  transparent_ = value;
  update();
}

void TASLink::SetWordWrap(bool value) {
  if (value == wordWrap_) return;
  wordWrap_ = value;
  AdjustBounds();
}

QString TASLink::LinkTarget() const {
  return urlTypeAdd_ ? URLTypePrefix(urlType_) + caption_ : caption_;
}

bool TASLink::OpenLink() {
  if (caption_.isEmpty() || !urlEnabled_) return false;
  return ShellOpenFile(LinkTarget(), QString(), QString(), swShowNoActivate) > 32;
}

void TASLink::Click() {
  emit clicked();
  OpenLink();
  update();
}

bool TASLink::DialogChar(QChar key) {
  if (focusControl_ == nullptr || !isEnabled() || !showAccelChar_) return false;
  const QChar accel = AccelChar(caption_);
  if (accel.isNull() || accel.toUpper() != key.toUpper()) return false;
  QWidget* target = focusControl_;
  if (!target->isEnabled() || !target->isVisible() || target->focusPolicy() == Qt::NoFocus) return false;
  target->setFocus(Qt::ShortcutFocusReason);
  return true;
}

void TASLink::UpdateShortcut() {
  if (shortcutId_ != 0) {
    releaseShortcut(shortcutId_);
    shortcutId_ = 0;
  }
  const QChar accel = AccelChar(caption_);
  if (focusControl_ != nullptr && showAccelChar_ && !accel.isNull()) {
    shortcutId_ = grabShortcut(QKeySequence::mnemonic(caption_));
  }
}

void TASLink::FocusChanged(QWidget* now) {
  const bool focused = focusControl_ != nullptr && now == focusControl_;
  if (focused == focused_) return;
  focused_ = focused;
  if (showFocus_) update();
}

bool TASLink::event(QEvent* event) {
  if (event->type() == QEvent::Shortcut) {
    auto* shortcut = static_cast<QShortcutEvent*>(event);
    if (shortcut->shortcutId() == shortcutId_) {
      if (DialogChar(AccelChar(caption_))) return true;
    }
  }
  return QWidget::event(event);
}

void TASLink::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) clickPending_ = true;
  QWidget::mousePressEvent(event);
}

void TASLink::mouseReleaseEvent(QMouseEvent* event) {
  // Only the release of a plain press clicks: the second press of a double-click is a
  // double-click, so the link opens once.
  const bool click = clickPending_ && event->button() == Qt::LeftButton &&
                     rect().contains(event->position().toPoint());
  if (event->button() == Qt::LeftButton) clickPending_ = false;
  if (click) Click();
  QWidget::mouseReleaseEvent(event);
}

void TASLink::mouseDoubleClickEvent(QMouseEvent* event) {
  // Not the base's handling: it would take the double-click for a new press.
  if (event->button() == Qt::LeftButton) {
    clickPending_ = false;
    emit doubleClicked();
  }
  event->accept();
}

void TASLink::enterEvent(QEnterEvent* event) {
  rememberedColor_ = fontColor_;
  fontColor_ = linkColor_;
  update();
  QWidget::enterEvent(event);
}

void TASLink::leaveEvent(QEvent* event) {
  fontColor_ = rememberedColor_;
  update();
  QWidget::leaveEvent(event);
}

void TASLink::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::FontChange) AdjustBounds();
  if (event->type() == QEvent::EnabledChange) update();
}

void TASLink::DoDrawText(QPainter& painter, QRect& rect, int flags, bool calcRect) const {
  QString text = caption_;
  // An empty line measures as nothing; one blank gives it the height of a line.
  if (calcRect && (text.isEmpty() || (showAccelChar_ && text == QStringLiteral("&")))) text += ' ';
  painter.setFont(font());
  TShadowPosition pos = shadowPos_;
  int size = shadowSize_;
  QColor shadow = shadowColor_;
  QColor textColor = fontColor_;
  if (!isEnabled()) {
    // The embossed look of a disabled label.
    textColor = palette().color(QPalette::Disabled, QPalette::WindowText);
    shadow = palette().color(QPalette::Active, QPalette::Light);
    if (size == 0) {
      size = 1;
      pos = spRightBottom;
    }
  }
  if (showAccelChar_) flags |= Qt::TextShowMnemonic;
  painter.setPen(textColor);
  DrawShadowText(painter, text, pos, shadow, size, flags, rect, calcRect);
}

void TASLink::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (!transparent_) painter.fillRect(rect(), color_);
  QRect r = rect().adjusted(1, 0, -1, 0);
  int flags = Qt::AlignTop | Qt::TextExpandTabs;
  flags |= alignment_ == taRightJustify ? Qt::AlignRight : alignment_ == taCenter ? Qt::AlignHCenter : Qt::AlignLeft;
  if (wordWrap_) flags |= Qt::TextWordWrap;
  if (layout_ != tlTop) {
    DoDrawText(painter, r, flags, true);
    r = QRect(0, r.y(), width(), r.height());
    const int room = height() - Bottom(r);
    r.translate(0, layout_ == tlBottom ? room : room / 2);
  }
  DoDrawText(painter, r, flags, false);
  if (showFocus_ && focused_) {
    // The focus mark: a dotted frame round the text, one pixel wider on each side.
    QPen pen(palette().color(QPalette::WindowText), 1, Qt::DotLine);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(r.adjusted(-1, 0, 0, -1));
  }
}

void TASLink::AdjustBounds() {
  if (!autoSize_) return;
  // A measuring surface with the screen's resolution, as a screen device context would be.
  QImage scratch(1, 1, QImage::Format_ARGB32);
  scratch.setDotsPerMeterX(qRound(logicalDpiX() / 0.0254));
  scratch.setDotsPerMeterY(qRound(logicalDpiY() / 0.0254));
  QPainter painter(&scratch);
  QRect r = rect().adjusted(1, 0, -1, 0);
  int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextExpandTabs;
  if (wordWrap_) flags |= Qt::TextWordWrap;
  DoDrawText(painter, r, flags, true);
  r.adjust(-1, 0, 1, 0);
  const int newWidth = Right(r);
  int newLeft = x();
  // Grows toward the left: the right edge stays where it was.
  if (alignment_ == taRightJustify) newLeft += width() - newWidth;
  setGeometry(newLeft, y(), newWidth, Bottom(r));
}
