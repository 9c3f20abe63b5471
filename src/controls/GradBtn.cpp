#include "controls/GradBtn.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <cmath>

namespace {

// The colour of gradient step i out of n, from the raw bytes of both ends: a system colour
// is deliberately not resolved here, so clBtnFace paints as red 15.
QColor StepColor(TColor begin, TColor end, int i, int n) {
  if (n == 0) return QColor(RedOf(begin), GreenOf(begin), BlueOf(begin));
  const int r = (RedOf(begin) + MulDiv(i, RedOf(end) - RedOf(begin), n)) & 0xFF;
  const int g = (GreenOf(begin) + MulDiv(i, GreenOf(end) - GreenOf(begin), n)) & 0xFF;
  const int b = (BlueOf(begin) + MulDiv(i, BlueOf(end) - BlueOf(begin), n)) & 0xFF;
  return QColor(r, g, b);
}

int Trunc(double v) { return static_cast<int>(std::trunc(v)); }

struct TPresetValues {
  TColor Begin, End;
  int FontSize;
  const char* FontName;
  TColor FontColor;
  bool Bold;
  TGradientStyle Gradient;
  TShadeType Shade;
  TTextStyle Text;
  TColor TxtHilite, TxtShadow, BtnHilite, BtnShadow;
};

// Colours written $BBGGRR, as the colour values hold them.
const TPresetValues PresetTable[] = {
    {0x800000, 0xFFFF00, 8, "MS Sans Serif", 0x000000, false, gsVertCenter, stLight, tsRaised,
     clBtnHighlight, clBtnShadow, clBtnHighlight, clBtnShadow},
    {0x00FFFF, 0x008080, 10, "Arial", 0x00BBBB, true, gsVertical, stHeavy, tsRaised, 0xBFFFFF,
     0x007171, 0xB3FFFF, 0x616161},
    {0x000000, 0x00FF00, 8, "Courier", 0x008000, false, gsRectangle, stLight, tsRaised, 0xACFFAC,
     0x004000, clBtnHighlight, clBtnShadow},
    {0xCECECE, 0x5F5F5F, 10, "Times New Roman", 0x000000, true, gsVertical, stHeavy, tsInset,
     clBtnHighlight, clBtnShadow, 0xFFFFFF, 0x000000},
    {0x00FFFF, 0x0000FF, 8, "MS Sans Serif", 0x000040, true, gsHorizontal, stHeavy, tsRaised,
     0xCFE7E6, 0x0058B0, clBtnHighlight, clBtnShadow},
};

}  // namespace

TGradBtn::TGradBtn(const QString& caption, QWidget* parent) : QAbstractButton(parent) {
  resize(75, 25);
  // The paint covers every pixel; nothing needs erasing first.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  setFocusPolicy(Qt::StrongFocus);
  setText(caption);
}

QString TGradBtn::DisplayText(const QString& caption) {
  QString shown;
  const qsizetype n = caption.size();
  for (qsizetype k = 0; k + 1 < n; ++k) {
    if (caption[k] == QLatin1Char('&') && caption[k + 1] != QLatin1Char('&')) continue;
    shown += caption[k];
  }
  if (n > 0) shown += caption[n - 1];
  return shown;
}

void TGradBtn::SetColorField(TColor& field, TColor value) {
  if (field == value) return;
  field = value;
  repaint();
}

void TGradBtn::SetBtnHiliteClr(TColor value) { SetColorField(btnHiliteClr_, value); }
void TGradBtn::SetBtnShadowClr(TColor value) { SetColorField(btnShadowClr_, value); }
void TGradBtn::SetTxtHiliteClr(TColor value) { SetColorField(txtHiliteClr_, value); }
void TGradBtn::SetTxtShadowClr(TColor value) { SetColorField(txtShadowClr_, value); }
void TGradBtn::SetBeginColor(TColor value) { SetColorField(beginColor_, value); }
void TGradBtn::SetEndColor(TColor value) { SetColorField(endColor_, value); }
void TGradBtn::SetFontColor(TColor value) { SetColorField(fontColor_, value); }

void TGradBtn::SetBtnFrameSize(int value) {
  if (value == btnFrameSize_ || value > width() / 2 - 5 || value > height() / 2 - 5) return;
  btnFrameSize_ = value;
  repaint();
}

void TGradBtn::SetGradientStyle(TGradientStyle value) {
  if (value == gradientStyle_) return;
  gradientStyle_ = value;
  repaint();
}

void TGradBtn::SetTextStyle(TTextStyle value) {
  if (value == textStyle_) return;
  textStyle_ = value;
  repaint();
}

void TGradBtn::SetTextShadeType(TShadeType value) {
  if (value == textShadeType_) return;
  textShadeType_ = value;
  repaint();
}

void TGradBtn::SetPresets(TPreset value) {
  if (!designing_ || value < None || value > SunRise) return;
  const TPresetValues& p = PresetTable[value];
  beginColor_ = p.Begin;
  endColor_ = p.End;
  QFont f = font();
  f.setPointSize(p.FontSize);
  f.setFamily(QString::fromLatin1(p.FontName));
  f.setBold(p.Bold);
  f.setItalic(false);
  f.setUnderline(false);
  f.setStrikeOut(false);
  setFont(f);
  fontColor_ = p.FontColor;
  gradientStyle_ = p.Gradient;
  textShadeType_ = p.Shade;
  textStyle_ = p.Text;
  txtHiliteClr_ = p.TxtHilite;
  txtShadowClr_ = p.TxtShadow;
  btnHiliteClr_ = p.BtnHilite;
  btnShadowClr_ = p.BtnShadow;
  presets_ = value;
  repaint();
}

void TGradBtn::SwapBeginEnd() { std::swap(beginColor_, endColor_); }

// ------------------------------------------------------------------ painting

void TGradBtn::PaintGradient(QImage& image) const {
  const int w = image.width();
  const int h = image.height();
  QPainter p(&image);
  p.setPen(Qt::NoPen);
  auto color = [this](int i, int n) { return StepColor(beginColor_, endColor_, i, n); };
  switch (gradientStyle_) {
    case gsHorizontal:
      for (int i = 0; i <= 255; ++i) {
        const int x1 = MulDiv(i, w, 256), x2 = MulDiv(i + 1, w, 256);
        p.fillRect(QRect(x1, 0, x2 - x1, h), color(i, 255));
      }
      break;
    case gsVertical:
      for (int i = 0; i <= 255; ++i) {
        const int y1 = MulDiv(i, h, 256), y2 = MulDiv(i + 1, h, 256);
        p.fillRect(QRect(0, y1, w, y2 - y1), color(i, 255));
      }
      break;
    case gsElliptic: {
      double x1 = -w / 4.0, y1 = -h / 4.0, x2 = w + w / 4.0 + 4, y2 = h + h / 4.0 + 4;
      const double dx = (w / 4.0 + w / 2.0) / 155, dy = (h / 4.0 + h / 2.0) / 155;
      for (int i = 0; i <= 155; ++i) {
        x1 += dx;
        x2 -= dx;
        y1 += dy;
        y2 -= dy;
        p.setBrush(color(i, 155));
        const int l = Trunc(x1), t = Trunc(y1);
        p.drawEllipse(QRect(l, t, Trunc(x2) - l, Trunc(y2) - t));
      }
      break;
    }
    case gsRectangle: {
      double x1 = 0, y1 = 0, x2 = w + 2, y2 = h + 2;
      const double dx = w / 2.0 / 255, dy = h / 2.0 / 255;
      for (int i = 0; i <= 255; ++i) {
        x1 += dx;
        x2 -= dx;
        y1 += dy;
        y2 -= dy;
        const int l = Trunc(x1), t = Trunc(y1);
        p.fillRect(QRect(l, t, Trunc(x2) - l, Trunc(y2) - t), color(i, 255));
      }
      break;
    }
    case gsVertCenter: {
      const int half = h / 2;
      for (int i = 0; i <= half; ++i) {
        p.fillRect(QRect(0, i, w, 1), color(i, half));
        p.fillRect(QRect(0, h - 1 - i, w, 1), color(i, half));
      }
      break;
    }
    case gsHorizCenter: {
      const int half = w / 2;
      for (int i = 0; i <= half; ++i) {
        p.fillRect(QRect(i, 0, 1, h), color(i, half));
        p.fillRect(QRect(w - 1 - i, 0, 1, h), color(i, half));
      }
      break;
    }
  }
}

void TGradBtn::PaintCaption(QImage& image, int pressOffset) const {
  const QString caption = text();
  if (caption.isEmpty()) return;
  const QString shown = DisplayText(caption);
  const QFontMetrics fm(font());
  // In the button's own units: an image at a higher pixel ratio draws the same text finer.
  const int x0 = (width() - fm.horizontalAdvance(shown)) / 2;
  const int y0 = (height() - fm.height()) / 2;
  // The measured box is the display text's; the caption itself is centred in it, so its
  // accelerator letter comes out underlined.
  const QSize box = fm.size(Qt::TextSingleLine | Qt::TextShowMnemonic, shown);

  QPainter p(&image);
  p.setFont(font());
  auto copy = [&](TColor color, int offset) {
    const QRect r(x0 + pressOffset + offset, y0 + pressOffset + offset, box.width(), box.height());
    p.setPen(ColorToRGB(color, palette()));
    p.drawText(r, Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine | Qt::TextShowMnemonic |
                      Qt::TextDontClip,
               caption);
  };
  switch (textStyle_) {
    case tsNormal:
      break;
    case tsRaised:
      copy(txtHiliteClr_, -1);
      if (textShadeType_ == stHeavy) copy(txtShadowClr_, 1);
      break;
    case tsInset:
      if (textShadeType_ == stHeavy) copy(txtShadowClr_, -1);
      copy(txtHiliteClr_, 1);
      break;
  }
  copy(fontColor_, 0);
}

QImage TGradBtn::RenderImage(qreal pixelRatio) {
  const int w = width();
  const int h = height();
  if (w <= 0 || h <= 0) return {};
  // The face follows the pixel rules in the button's own pixels; at a higher ratio it is
  // enlarged pixel for pixel and only the caption is drawn at the finer resolution.
  if (bitmap_.size() != QSize(w, h)) bitmap_ = QImage(w, h, QImage::Format_RGB32);
  PaintGradient(bitmap_);
  const QRgb hilite = ColorToRGB(btnHiliteClr_, palette()).rgb();
  const QRgb shadow = ColorToRGB(btnShadowClr_, palette()).rgb();
  Frame3D(bitmap_, QRect(0, 0, w, h), raised_ ? hilite : shadow, raised_ ? shadow : hilite,
          btnFrameSize_);
  QImage image = pixelRatio == 1.0 ? bitmap_
                                   : bitmap_.scaled(qRound(w * pixelRatio), qRound(h * pixelRatio),
                                                    Qt::IgnoreAspectRatio, Qt::FastTransformation);
  image.setDevicePixelRatio(pixelRatio);
  PaintCaption(image, raised_ ? 0 : 1);

  if (!designing_ && showFocus_ && hasFocus()) {
    // A dotted focus rectangle that inverts what lies under it, every other pixel.
    const int l = 2, t = 2, r = w - 3, b = h - 3;
    auto flip = [&image, pixelRatio](int x, int y) {
      const int x1 = static_cast<int>(x * pixelRatio), x2 = std::max(x1 + 1, static_cast<int>((x + 1) * pixelRatio));
      const int y1 = static_cast<int>(y * pixelRatio), y2 = std::max(y1 + 1, static_cast<int>((y + 1) * pixelRatio));
      for (int py = y1; py < y2; ++py) {
        for (int px = x1; px < x2; ++px) {
          if (image.valid(px, py)) image.setPixel(px, py, image.pixel(px, py) ^ 0x00FFFFFFu);
        }
      }
    };
    for (int x = l; x <= r; ++x) {
      if ((x + t) % 2 == 0) flip(x, t);
      if (b != t && (x + b) % 2 == 0) flip(x, b);
    }
    for (int y = t + 1; y < b; ++y) {
      if ((l + y) % 2 == 0) flip(l, y);
      if (r != l && (r + y) % 2 == 0) flip(r, y);
    }
  }
  return image;
}

void TGradBtn::paintEvent(QPaintEvent*) {
  const QImage image = RenderImage(devicePixelRatioF());
  if (!image.isNull()) QPainter(this).drawImage(0, 0, image);
}

// ------------------------------------------------------------------ input

bool TGradBtn::event(QEvent* e) {
  if (e->type() == QEvent::Shortcut) {
    // The accelerator clicks at once, and only an enabled button.
    if (isEnabled()) click();
    return true;
  }
  return QAbstractButton::event(e);
}

void TGradBtn::mousePressEvent(QMouseEvent* e) {
  QAbstractButton::mousePressEvent(e);
  // Any mouse button presses the face, so keep the release coming here.
  e->accept();
  if (!raised_) return;
  raised_ = false;
  if (swapColors_) SwapBeginEnd();
  repaint();
}

void TGradBtn::mouseReleaseEvent(QMouseEvent* e) {
  const QPointer<TGradBtn> self(this);
  QAbstractButton::mouseReleaseEvent(e);  // emits clicked() for a left release over us
  if (self.isNull() || raised_) return;
  if (swapColors_) SwapBeginEnd();
  raised_ = true;
  repaint();
}

void TGradBtn::keyPressEvent(QKeyEvent* e) {
  const QString typed = e->text();
  const bool enter = e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter;
  emit KeyPress(enter ? QChar(13) : (typed.isEmpty() ? QChar() : typed[0]));
  if (enter) {
    click();
    return;
  }
  // The space bar means nothing here; other keys go on to the parent.
  if (e->key() != Qt::Key_Space) e->ignore();
}

void TGradBtn::keyReleaseEvent(QKeyEvent* e) {
  if (e->key() != Qt::Key_Space) e->ignore();
}

void TGradBtn::focusInEvent(QFocusEvent* e) {
  QAbstractButton::focusInEvent(e);
  if (!designing_) repaint();
}

void TGradBtn::focusOutEvent(QFocusEvent* e) {
  QAbstractButton::focusOutEvent(e);
  if (!designing_) repaint();
}

void TGradBtn::enterEvent(QEnterEvent* e) {
  QAbstractButton::enterEvent(e);
  emit MouseEnter();
}

void TGradBtn::leaveEvent(QEvent* e) {
  QAbstractButton::leaveEvent(e);
  emit MouseLeave();
}

void TGradBtn::changeEvent(QEvent* e) {
  QAbstractButton::changeEvent(e);
  // Disabled while held down, the release never arrives: stand up again now rather than
  // keep the swapped colours for good.
  if (e->type() == QEvent::EnabledChange && !isEnabled() && !raised_) {
    if (swapColors_) SwapBeginEnd();
    raised_ = true;
    update();
  }
}
