#pragma once
// The page buttons: a face filled with a colour gradient, a 3-D frame and an embossed
// caption, all drawn into an off-screen image and copied to the window in one go. The
// caption's "&" marks the accelerator key. GUI thread only; clicked() is emitted from
// the mouse release, Enter, the accelerator or click(), and its handler may run a whole
// workflow (pumping messages) before the button draws itself raised again.
#include "controls/Colors.h"

#include <QAbstractButton>
#include <QImage>

enum TGradientStyle { gsHorizontal, gsVertical, gsElliptic, gsRectangle, gsVertCenter, gsHorizCenter };
enum TTextStyle { tsNormal, tsRaised, tsInset };
enum TShadeType { stLight, stHeavy };
enum TPreset { None, GoldCoast, LimeBox, Aluminum, SunRise };

class TGradBtn : public QAbstractButton {
  Q_OBJECT
public:
  explicit TGradBtn(const QString& caption = QString(), QWidget* parent = nullptr);

  QString Caption() const { return text(); }
  void SetCaption(const QString& caption) { setText(caption); }

  TColor BtnHiliteClr() const { return btnHiliteClr_; }
  void SetBtnHiliteClr(TColor value);
  TColor BtnShadowClr() const { return btnShadowClr_; }
  void SetBtnShadowClr(TColor value);
  int BtnFrameSize() const { return btnFrameSize_; }
  void SetBtnFrameSize(int value);
  TColor TxtHiliteClr() const { return txtHiliteClr_; }
  void SetTxtHiliteClr(TColor value);
  TColor TxtShadowClr() const { return txtShadowClr_; }
  void SetTxtShadowClr(TColor value);
  TColor BeginColor() const { return beginColor_; }
  void SetBeginColor(TColor value);
  TColor EndColor() const { return endColor_; }
  void SetEndColor(TColor value);
  bool SwapColors() const { return swapColors_; }
  void SetSwapColors(bool value) { swapColors_ = value; }
  bool ShowFocus() const { return showFocus_; }
  void SetShowFocus(bool value) { showFocus_ = value; }
  TGradientStyle GradientStyle() const { return gradientStyle_; }
  void SetGradientStyle(TGradientStyle value);
  TTextStyle TextStyle() const { return textStyle_; }
  void SetTextStyle(TTextStyle value);
  TShadeType TextShadeType() const { return textShadeType_; }
  void SetTextShadeType(TShadeType value);
  TPreset Presets() const { return presets_; }
  // Only a button being designed takes a preset; at run time nothing changes.
  void SetPresets(TPreset value);
  // The font's colour (the caption's last copy).
  TColor FontColor() const { return fontColor_; }
  void SetFontColor(TColor value);

  // Design mode: presets apply, no focus rectangle, focus changes do not repaint.
  bool Designing() const { return designing_; }
  void SetDesigning(bool on) { designing_ = on; }

  // True while the button is up; false between a mouse press and its release.
  bool Raised() const { return raised_; }
  // The face as painted at a device pixel ratio: the pixel rules hold in the button's
  // own pixels, the caption is drawn at the full resolution (crisp at 2x).
  QImage RenderImage(qreal pixelRatio);
  // The caption as drawn: accelerator ampersands removed, "&&" shown as one "&".
  static QString DisplayText(const QString& caption);

signals:
  void KeyPress(QChar key);
  void MouseEnter();
  void MouseLeave();

protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void changeEvent(QEvent* event) override;

private:
  void PaintGradient(QImage& image) const;
  void PaintCaption(QImage& image, int pressOffset) const;
  void SwapBeginEnd();
  void SetColorField(TColor& field, TColor value);

  QImage bitmap_;
  bool raised_ = true;
  bool designing_ = false;
  TColor btnHiliteClr_ = clBtnHighlight;
  TColor btnShadowClr_ = clBtnShadow;
  int btnFrameSize_ = 1;
  TColor txtHiliteClr_ = clBtnHighlight;
  TColor txtShadowClr_ = clBtnShadow;
  TColor beginColor_ = 0x800000;
  TColor endColor_ = 0xFFFF00;
  bool swapColors_ = true;
  bool showFocus_ = true;
  TGradientStyle gradientStyle_ = gsVertCenter;
  TTextStyle textStyle_ = tsRaised;
  TShadeType textShadeType_ = stLight;
  TPreset presets_ = None;
  TColor fontColor_ = clBlack;
};
