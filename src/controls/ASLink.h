#pragma once
// TASLink: a label that works as a hyperlink. It draws its caption with an optional
// offset shadow, takes LinkColor while the mouse is over it, shows a hand cursor, and on
// a click turns its caption into a link target (mail, web, file, ...) that the desktop
// opens. It keeps the label duties too: auto-size, alignment, vertical layout, word wrap,
// an accelerator that focuses FocusControl, transparent or opaque background.
//
// Seam: ShellOpenFile reaches the desktop through one process-wide service
// (QDesktopServices by default). Tests put their own in with SetShellOpenService; it is
// called on the GUI thread from a click or OpenLink and must not re-enter the link.
#include <QColor>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>

class QPainter;

enum TShadowPosition { spLeftTop, spLeftBottom, spRightBottom, spRightTop };
enum TURLType { utFile, utFtp, utGopher, utHttp, utHttps, utMailto, utNews, utTelnet, utWais };
enum TAlignment { taLeftJustify, taRightJustify, taCenter };
enum TTextLayout { tlTop, tlCenter, tlBottom };

// Show states handed to the shell.
inline constexpr int swShowNormal = 1;
inline constexpr int swShowNoActivate = 4;

// Opens a file or address with its default application; returns a result code that is
// greater than 32 on success.
using TShellOpenService = std::function<int(const QString& fileName, const QString& parameters,
                                            const QString& directory, int showCmd)>;
// Puts a service in and returns the one it replaces; an empty one restores the desktop's.
TShellOpenService SetShellOpenService(TShellOpenService service);

int ShellOpenFile(const QString& fileName, const QString& parameters, const QString& directory,
                  int showCmd);

// The prefix OpenLink puts before the caption ("mailto:", "http://", ...).
QString URLTypePrefix(TURLType type);

// Draws text twice, the shadow first and then the text in the painter's pen colour, at
// the offsets of pos; rect comes back as the union of both rectangles. With calcRect
// nothing is drawn and rect becomes the measured size including the shadow. Returns the
// text's height plus the shadow size.
int DrawShadowText(QPainter& painter, const QString& text, TShadowPosition pos,
                   const QColor& shadowColor, int shadowSize, int flags, QRect& rect, bool calcRect);

class TASLink : public QWidget {
  Q_OBJECT
public:
  explicit TASLink(QWidget* parent = nullptr);
  ~TASLink() override;

  QString Caption() const { return caption_; }
  void SetCaption(const QString& caption);
  QColor FontColor() const { return fontColor_; }
  void SetFontColor(const QColor& color);
  QColor Color() const { return color_; }
  void SetColor(const QColor& color);

  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment value);
  bool AutoSize() const { return autoSize_; }
  void SetAutoSize(bool value);
  QWidget* FocusControl() const { return focusControl_; }
  void SetFocusControl(QWidget* control);
  TTextLayout Layout() const { return layout_; }
  void SetLayout(TTextLayout value);
  QColor ShadowColor() const { return shadowColor_; }
  void SetShadowColor(const QColor& value);
  int ShadowSize() const { return shadowSize_; }
  void SetShadowSize(int value);  // 0..255 pixels
  TShadowPosition ShadowPos() const { return shadowPos_; }
  void SetShadowPos(TShadowPosition value);
  bool ShowAccelChar() const { return showAccelChar_; }
  void SetShowAccelChar(bool value);
  bool ShowFocus() const { return showFocus_; }
  void SetShowFocus(bool value);
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool value);
  bool WordWrap() const { return wordWrap_; }
  void SetWordWrap(bool value);
  QColor LinkColor() const { return linkColor_; }
  void SetLinkColor(const QColor& value) { linkColor_ = value; }
  bool URLEnabled() const { return urlEnabled_; }
  void SetURLEnabled(bool value) { urlEnabled_ = value; }
  bool URLTypeAdd() const { return urlTypeAdd_; }
  void SetURLTypeAdd(bool value) { urlTypeAdd_ = value; }
  TURLType URLType() const { return urlType_; }
  void SetURLType(TURLType value) { urlType_ = value; }

  // The target a click would open: the caption, after URLType's prefix when URLTypeAdd.
  QString LinkTarget() const;
  // Opens LinkTarget; false when the caption is empty, links are off or the shell fails.
  bool OpenLink();
  // A click: OnClick first, then OpenLink, then a repaint.
  void Click();
  // The accelerator rule: true (and FocusControl focused) when key is the caption's
  // accelerator and the link may pass the focus on.
  bool DialogChar(QChar key);
  // Whether FocusControl has the focus, as last told.
  bool FocusControlFocused() const { return focused_; }

signals:
  void clicked();      // OnClick
  void doubleClicked();  // OnDblClick

protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool event(QEvent* event) override;

private:
  void AdjustBounds();
  void DoDrawText(QPainter& painter, QRect& rect, int flags, bool calcRect) const;
  void UpdateShortcut();
  void FocusChanged(QWidget* now);

  QString caption_;
  QColor fontColor_;
  QColor rememberedColor_;
  QColor color_;
  TAlignment alignment_ = taLeftJustify;
  bool autoSize_ = true;
  QPointer<QWidget> focusControl_;
  TTextLayout layout_ = tlTop;
  QColor shadowColor_;
  int shadowSize_ = 1;
  TShadowPosition shadowPos_ = spLeftTop;
  bool showAccelChar_ = true;
  bool showFocus_ = false;
  bool transparent_ = true;
  bool wordWrap_ = false;
  QColor linkColor_ = QColor(0, 0, 255);
  bool urlEnabled_ = true;
  bool urlTypeAdd_ = true;
  TURLType urlType_ = utMailto;
  bool focused_ = false;
  bool clickPending_ = false;  // a plain left press awaits its release
  int shortcutId_ = 0;
};
