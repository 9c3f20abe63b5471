#pragma once
// The progress bar of the status bar, drawn as a lit cylinder: every pixel of the filled
// and the empty part is shaded from a base colour, a colour style and its distance from a
// highlight line, then the percentage (or TextDone at 100 %) goes over it. GUI thread
// only. Every repaint is immediate (QWidget::repaint), so a loop that sets Position between
// blocks shows progress without returning to the event loop; Position repaints only when
// the drawn extent or the percentage changes. ProgressDone() is emitted from inside
// SetPosition (or a resize) whenever a changed drawing lands on Max.
#include "controls/Colors.h"

#include <QColor>
#include <QImage>
#include <QString>
#include <QWidget>
#include <array>

enum TCylinderEffect { ceFlat, ceUltraLow, ceLow, ceMedium, ceHigh, ceMaximum };
enum TFontEffect { feNone, feInvert, feShadowTopLeft, feShadowBottomRight };
enum TFontOrientation { foLeftToRight, foTopToBottom, foBottomToTop };
enum TProgressBarOrientation { pbHorizontal, pbVertical };
enum TBevelCut { bvNone, bvLowered, bvRaised, bvSpace };
enum TProEffect {
  demoSystem, demoMetal, demoSunken, peCustom,
  peGlassRed, peGlassOrange, peGlassYellow, peGlassGreen, peGlassCyan, peGlassBlue,
  peGlassViolet, peGlassPurple,
  peSystem1, peSystem2, peSystem3, peSystem4, peSystem5, peSystem6, peSystem7, peSystem8,
  peUpLoad1, peUpLoad2,
  peMetalRed, peMetalOrange, peMetalYellow, peMetalCyan, peMetalGreen, peMetalLightBlue,
  peMetalBlue, peMetalViolet, peMetalDarkGray, peMetalGold,
  peStdRed, peStdYellow, peStdGreen, peStdBlue,
};

class TProgressCyl;

// The shading parameters of one part of the bar. An accepted change makes the owner
// re-derive its colours (and leave its preset for peCustom), which repaints.
class TPCColorStyle {
public:
  explicit TPCColorStyle(TProgressCyl* owner) : owner_(owner) {}
  TPCColorStyle(const TPCColorStyle&) = delete;
  TPCColorStyle& operator=(const TPCColorStyle&) = delete;

  int IntensityRGB() const { return intensityRGB_; }
  void SetIntensityRGB(int value);
  float Intensity() const { return intensity_; }
  void SetIntensity(float value);
  float IntensityFactor() const { return intensityFactor_; }
  void SetIntensityFactor(float value);
  int RangeRGB() const { return rangeRGB_; }
  void SetRangeRGB(int value);
  int ColorRGB() const { return colorRGB_; }
  void SetColorRGB(int value);
  float ColorFactor() const { return colorFactor_; }
  void SetColorFactor(float value);
  float LightAngle() const { return lightAngle_; }
  void SetLightAngle(float value);

  // Copies the seven values through the setters.
  void Assign(const TPCColorStyle& other);

  // The factor of one channel value (0..255) under this style, kept in single precision.
  float Factor(int channel) const;

private:
  void Changed();
  TProgressCyl* owner_;
  int intensityRGB_ = 255;
  float intensity_ = 4.0f;
  float intensityFactor_ = -1.0f;
  int rangeRGB_ = 255;
  int colorRGB_ = 255;
  float colorFactor_ = -1.0f;
  float lightAngle_ = -3.0f;
};

class TProgressCyl : public QWidget {
  Q_OBJECT
public:
  explicit TProgressCyl(QWidget* parent = nullptr);
  ~TProgressCyl() override;

  // The bar as painted at a device pixel ratio: the shading's pixel rules hold in the
  // control's own pixels, the text is drawn at the full resolution (crisp at 2x). Null
  // while the control is not ready or too small for its frames.
  QImage RenderImage(qreal pixelRatio);

  int Min() const { return min_; }
  void SetMin(int value);
  int Max() const { return max_; }
  void SetMax(int value);
  int Position() const { return position_; }
  void SetPosition(int value);
  QString Text() const { return text_; }
  void SetText(const QString& text);
  QString TextDone() const { return textDone_; }
  void SetTextDone(const QString& text);
  // Font.Color of the percentage text.
  QColor FontColor() const { return fontColor_; }
  void SetFontColor(const QColor& color);

  TColor BackBorderColor() const { return backBorderColor_; }
  void SetBackBorderColor(TColor value);
  TColor BackColor() const { return backColor_; }
  void SetBackColor(TColor value);
  TColor ForeColor() const { return foreColor_; }
  void SetForeColor(TColor value);
  TColor ForeLineColor() const { return foreLineColor_; }
  void SetForeLineColor(TColor value);
  TColor BevelColor() const { return bevelColor_; }
  void SetBevelColor(TColor value);
  TColor FontShadowColor() const { return fontShadowColor_; }
  void SetFontShadowColor(TColor value);
  // The control's own background colour.
  TColor Color() const { return color_; }
  void SetColor(TColor value);

  TPCColorStyle& BackStyle() { return backStyle_; }
  void SetBackStyle(const TPCColorStyle& style) { backStyle_.Assign(style); }
  TPCColorStyle& ForeStyle() { return foreStyle_; }
  void SetForeStyle(const TPCColorStyle& style) { foreStyle_.Assign(style); }

  TBevelCut BevelInner() const { return bevelInner_; }
  void SetBevelInner(TBevelCut value);
  TBevelCut BevelOuter() const { return bevelOuter_; }
  void SetBevelOuter(TBevelCut value);
  int BevelWidth() const { return bevelWidth_; }
  void SetBevelWidth(int value);
  int BorderWidth() const { return borderWidth_; }
  void SetBorderWidth(int value);

  TCylinderEffect CylinderEffect() const { return cylinderEffect_; }
  void SetCylinderEffect(TCylinderEffect value);
  TFontEffect FontEffect() const { return fontEffect_; }
  void SetFontEffect(TFontEffect value);
  TFontOrientation FontOrientation() const { return fontOrientation_; }
  void SetFontOrientation(TFontOrientation value);
  TProgressBarOrientation Orientation() const { return orientation_; }
  void SetOrientation(TProgressBarOrientation value);
  TProEffect ProEffect() const { return proEffect_; }
  void SetProEffect(TProEffect value);
  bool ShowText() const { return showText_; }
  void SetShowText(bool value);
  int Step() const { return step_; }
  void SetStep(int value) { step_ = value; }
  bool StopAtMax() const { return stopAtMax_; }
  void SetStopAtMax(bool value) { stopAtMax_ = value; }

  // The percentage shown, 0..100, halves rounded to even.
  int Percent() const { return percent_; }
  // The text drawn for the current percentage.
  QString DisplayText() const;
  // The column (horizontal) or row (vertical) of the dividing line.
  int Boundary() const { return boundary_; }
  bool HasInvertBitmap() const { return !invert_.isNull(); }

  // One channel of a shaded pixel: t is the signed distance from the highlight line,
  // k the slope, factor the channel's factor under the style.
  static int ShadeChannel(int t, double k, const TPCColorStyle& style, float factor);

  // Re-derives every colour from the current values, as a style change does.
  void DeriveColors();

signals:
  void ProgressDone();
  void MouseEnter();
  void MouseLeave();

protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void changeEvent(QEvent* event) override;

private:
  friend class TPCColorStyle;
  using TFactors = std::array<float, 3>;

  bool GeometryValid() const;
  void RecomputeGeometry();
  void ChooseBevelColors();
  void TextSetup(bool oldShowText, bool oldWasInvert);
  void Custom();
  void SetFrameValue(int& field, int value);
  void SetBevelCut(TBevelCut& field, TBevelCut value);
  TFactors FactorsOf(TColor color, const TPCColorStyle& style) const;
  void Shade();
  void DrawText(QImage& target);
  void ApplyPreset(TProEffect value);

  bool ready_ = false;
  bool inPreset_ = true;
  int min_ = 0;
  int max_ = 0;
  int position_ = 0;
  float inverseRange_ = 0.0f;
  int percent_ = 0;
  int lastExtent_ = 0;
  int lastPercent_ = 0;
  int boundary_ = 0;
  int depth_ = 0;
  int shadowOffset_ = 0;
  double kH_ = 0, kW_ = 0;
  QString text_;
  QString textDone_;
  QColor fontColor_ = Qt::black;

  TColor backBorderColor_ = 0, backColor_ = 0, foreColor_ = 0, foreLineColor_ = 0;
  TColor bevelColor_ = 0, fontShadowColor_ = 0, color_ = clBtnFace;
  TColor highlight_ = 0, shadow_ = 0, light_ = 0, dark_ = 0;
  TColor innerTopLeft_ = 0, innerBottomRight_ = 0, outerTopLeft_ = 0, outerBottomRight_ = 0;
  TFactors foreFactors_{}, backFactors_{}, lineFactors_{};

  TBevelCut bevelInner_ = bvNone, bevelOuter_ = bvNone;
  int bevelWidth_ = 1, borderWidth_ = 0;
  TCylinderEffect cylinderEffect_ = ceFlat;
  TFontEffect fontEffect_ = feNone;
  TFontOrientation fontOrientation_ = foLeftToRight;
  TProgressBarOrientation orientation_ = pbHorizontal;
  TProEffect proEffect_ = demoSystem;
  bool showText_ = false;
  int step_ = 0;
  bool stopAtMax_ = false;

  TPCColorStyle foreStyle_{this};
  TPCColorStyle backStyle_{this};
  QImage bitmap_;
  QImage invert_;
};
