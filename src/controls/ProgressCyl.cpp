#include "controls/ProgressCyl.h"

#include <QEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace {

struct TStyleSet {
  int IntensityRGB;
  float Intensity, IntensityFactor;
  int RangeRGB, ColorRGB;
  float ColorFactor, LightAngle;
};

// The twelve style sets the presets choose from (numbered from 1 in the preset table).
const TStyleSet StyleSets[12] = {
    {255, 4, -1.0f, 255, 255, -1.0f, -3.0f},       {-100, 4, -1.7f, -100, -100, -1.0f, -1.6f},
    {255, 2, -1.0f, 153, 0, 1.0f, -3.0f},          {255, 4, -1.0f, 255, 255, 1.0f, -3.0f},
    {255, 3, -0.8f, 255, 200, 1.0f, -3.0f},        {-100, 4, -1.7f, -100, -100, -1.0f, -1.5f},
    {-50, 8, -1.5f, -150, -80, -1.0f, -1.5f},      {255, 4, -1.5f, 153, 0, 1.0f, -3.0f},
    {200, 4, -0.5f, 200, 200, -1.2f, -3.0f},       {255, 4, -1.5f, 153, 0, 1.0f, -3.2f},
    {-100, 4, -1.5f, -80, -100, -1.0f, -1.5f},     {-100, 4, -1.5f, -80, -100, -1.5f, -1.5f},
};

constexpr TColor NoShadow = 0xFFFFFFFFu;  // the preset leaves FontShadowColor alone

struct TPreset {
  TProEffect Effect;
  TColor Fore, Back, Line;
  TFontEffect FontEffect;
  TColor FontShadow;
  TCylinderEffect Cylinder;
  int BackSet, ForeSet;
};

const TPreset PresetTable[] = {
    {demoSystem, clBtnFace, 0xFFFFFF, clHighlight, feShadowBottomRight, clBtnFace, ceMaximum, 1, 1},
    {demoMetal, 0xFFD47F, 0xFFFFFF, 0x000000, feShadowBottomRight, 0xFFFFFF, ceMaximum, 2, 2},
    {demoSunken, 0xFFFFFF, 0x000080, 0x0000FF, feInvert, 0x000000, ceMaximum, 3, 1},
    {peGlassRed, 0x0000CC, 0x808080, 0xFFFFFF, feNone, NoShadow, ceMaximum, 4, 5},
    {peGlassOrange, 0x0080FF, 0xC0C0C0, 0x000080, feNone, NoShadow, ceMaximum, 4, 4},
    {peGlassYellow, 0x00CECE, 0xC0C0C0, 0x000000, feNone, NoShadow, ceMaximum, 4, 5},
    {peGlassGreen, 0x008000, 0x808080, 0xFFFFFF, feNone, NoShadow, ceMaximum, 4, 4},
    {peGlassCyan, 0x808000, 0xC0C0C0, 0x00FFFF, feNone, NoShadow, ceMaximum, 4, 4},
    {peGlassBlue, 0xD76B00, 0x808080, 0xFFFFFF, feNone, NoShadow, ceMaximum, 4, 5},
    {peGlassViolet, 0xB36666, 0xC0C0C0, 0x000000, feNone, NoShadow, ceMaximum, 4, 4},
    {peGlassPurple, 0x800080, 0x808080, 0xFFFFFF, feNone, NoShadow, ceMaximum, 4, 4},
    {peSystem1, clBtnFace, clWindow, clHighlight, feShadowBottomRight, clBtnFace, ceMaximum, 1, 1},
    {peSystem2, clBtnFace, clWindow, clHighlight, feShadowBottomRight, clBtnFace, ceMaximum, 6, 7},
    {peSystem3, clBtnShadow, clBtnFace, clWindow, feShadowBottomRight, clBtnFace, ceMaximum, 1, 1},
    {peSystem4, clBtnShadow, clBtnFace, clWindow, feShadowBottomRight, clBtnFace, ceMaximum, 6, 6},
    {peSystem5, clWindow, clHighlight, clHighlight, feInvert, NoShadow, ceMaximum, 3, 1},
    {peSystem6, clWindow, clHighlight, clHighlight, feInvert, NoShadow, ceMaximum, 8, 6},
    {peSystem7, clHighlight, clBtnShadow, clWindow, feInvert, NoShadow, ceMaximum, 3, 9},
    {peSystem8, clHighlight, clBtnShadow, clBtnFace, feInvert, NoShadow, ceMaximum, 10, 11},
    {peUpLoad1, 0x0000B9, clWindow, 0x000000, feInvert, NoShadow, ceHigh, 1, 3},
    {peUpLoad2, clBtnShadow, clBtnFace, 0x000000, feInvert, NoShadow, ceHigh, 12, 10},
    {peMetalRed, 0x0000FF, 0xFFFFFF, 0x000000, feShadowBottomRight, clBtnFace, ceMaximum, 6, 6},
    {peMetalOrange, 0x0096FF, 0xFFFFFF, 0x000000, feShadowBottomRight, clBtnFace, ceMaximum, 6, 6},
    {peMetalYellow, 0x00FFFF, 0xFFFFFF, 0x000000, feShadowBottomRight, clBtnFace, ceMaximum, 6, 6},
    {peMetalCyan, 0xFFFF00, 0xFFFFFF, 0x000000, feShadowBottomRight, clBtnFace, ceMaximum, 6, 6},
    {peMetalGreen, 0x40FF00, 0xFFFFFF, 0x000000, feShadowBottomRight, clBtnFace, ceMaximum, 6, 6},
    {peMetalLightBlue, 0xFFD47F, 0xFFFFFF, 0x000000, feShadowBottomRight, clBtnFace, ceMaximum, 6, 6},
    {peMetalBlue, 0xE69B00, 0xFFFFFF, 0x000000, feShadowBottomRight, clBtnFace, ceMaximum, 6, 6},
    {peMetalViolet, 0xCE9B9B, 0xFFFFFF, 0x000000, feShadowBottomRight, clBtnFace, ceMaximum, 6, 6},
    {peMetalDarkGray, 0x988B89, 0xFFFFFF, 0x000000, feShadowBottomRight, clBtnFace, ceMaximum, 6, 6},
    {peMetalGold, 0x81CCFF, 0xFFFFFF, 0x000000, feShadowBottomRight, clBtnFace, ceMaximum, 6, 6},
    {peStdRed, 0x0000CC, 0x000066, 0xFFFFFF, feInvert, NoShadow, ceMaximum, 3, 1},
    {peStdYellow, 0x00FFFF, 0x009999, 0xFFFFFF, feInvert, NoShadow, ceMaximum, 3, 1},
    {peStdGreen, 0x33FF00, 0x408000, 0xFFFFFF, feInvert, NoShadow, ceMaximum, 3, 1},
    {peStdBlue, 0xD76B00, 0x63301D, 0xFFFFFF, feInvert, NoShadow, ceMaximum, 3, 1},
};

constexpr int Depths[] = {1, 51, 102, 153, 204, 255};

void ApplyStyleSet(TPCColorStyle& style, const TStyleSet& s) {
  style.SetIntensityRGB(s.IntensityRGB);
  style.SetIntensity(s.Intensity);
  style.SetIntensityFactor(s.IntensityFactor);
  style.SetRangeRGB(s.RangeRGB);
  style.SetColorRGB(s.ColorRGB);
  style.SetColorFactor(s.ColorFactor);
  style.SetLightAngle(s.LightAngle);
}

int ClampByte(int v) { return std::clamp(v, 0, 255); }

// Round to nearest with halves to even, in the extended precision the shading was made for.
int RoundEven(long double v) { return static_cast<int>(std::nearbyint(v)); }

}  // namespace

// ------------------------------------------------------------------ colour style

void TPCColorStyle::SetIntensityRGB(int value) {
  if (value == intensityRGB_) return;
  intensityRGB_ = value;
  Changed();
}

void TPCColorStyle::SetIntensity(float value) {
  if (value == intensity_ || value == 0) return;
  intensity_ = value;
  Changed();
}

void TPCColorStyle::SetIntensityFactor(float value) {
  if (value == intensityFactor_) return;
  intensityFactor_ = value;
  Changed();
}

void TPCColorStyle::SetRangeRGB(int value) {
  if (value == rangeRGB_ || value == 0) return;
  rangeRGB_ = value;
  Changed();
}

void TPCColorStyle::SetColorRGB(int value) {
  if (value == colorRGB_) return;
  colorRGB_ = value;
  Changed();
}

void TPCColorStyle::SetColorFactor(float value) {
  if (value == colorFactor_) return;
  colorFactor_ = value;
  Changed();
}

void TPCColorStyle::SetLightAngle(float value) {
  if (value == lightAngle_ || value == 0) return;
  lightAngle_ = value;
  Changed();
}

void TPCColorStyle::Assign(const TPCColorStyle& other) {
  SetIntensityRGB(other.intensityRGB_);
  SetIntensity(other.intensity_);
  SetIntensityFactor(other.intensityFactor_);
  SetRangeRGB(other.rangeRGB_);
  SetColorRGB(other.colorRGB_);
  SetColorFactor(other.colorFactor_);
  SetLightAngle(other.lightAngle_);
}

float TPCColorStyle::Factor(int v) const {
  const long double value = v;
  return static_cast<float>(((value * intensityFactor_ + intensityRGB_) / intensity_ + value) /
                            rangeRGB_);
}

void TPCColorStyle::Changed() {
  if (owner_ == nullptr) return;
  owner_->Custom();
  owner_->DeriveColors();
}

// ------------------------------------------------------------------ the bar

TProgressCyl::TProgressCyl(QWidget* parent) : QWidget(parent) {
  resize(150, 22);
  QFont f(QStringLiteral("Arial"));
  f.setPointSize(9);
  f.setBold(true);
  setFont(f);
  // inPreset_ is set: none of these first values counts as a custom change.
  SetText(QStringLiteral("%"));
  SetTextDone(QStringLiteral("Done"));
  SetFontEffect(feShadowBottomRight);
  SetFontShadowColor(clBtnFace);
  SetFontOrientation(foLeftToRight);
  SetShowText(true);
  SetOrientation(pbHorizontal);
  SetMin(0);
  SetMax(100);
  SetStep(1);
  SetStopAtMax(true);
  SetBevelOuter(bvLowered);
  SetBorderWidth(2);
  SetBevelWidth(1);
  SetBevelInner(bvRaised);
  SetBackColor(clBtnFace);
  SetBackBorderColor(0x000000);
  SetForeLineColor(clHighlight);
  SetForeColor(0xFFFFFF);
  SetColor(clBtnFace);
  SetBevelColor(clBtnFace);
  SetCylinderEffect(ceMaximum);
  lastExtent_ = 0;
  SetPosition(0);
  ready_ = true;
  inPreset_ = false;
}

TProgressCyl::~TProgressCyl() {
  ready_ = false;
  SetShowText(false);
}

void TProgressCyl::Custom() {
  if (!inPreset_) proEffect_ = peCustom;
}

void TProgressCyl::DeriveColors() {
  SetForeColor(foreColor_);
  SetForeLineColor(foreLineColor_);
  SetFontShadowColor(fontShadowColor_);
  SetBackColor(backColor_);
  SetBackBorderColor(backBorderColor_);
  SetBevelColor(bevelColor_);
}

TProgressCyl::TFactors TProgressCyl::FactorsOf(TColor color, const TPCColorStyle& style) const {
  const QColor rgb = ColorToRGB(color, palette());
  return {style.Factor(rgb.red()), style.Factor(rgb.green()), style.Factor(rgb.blue())};
}

int TProgressCyl::ShadeChannel(int t, double k, const TPCColorStyle& style, float factor) {
  const long double v =
      (static_cast<long double>(std::abs(t)) * k * style.ColorFactor() + style.ColorRGB()) * factor;
  if (!(v > 0)) return 0;  // also a NaN, which a zero factor cannot give but costs nothing
  if (v >= 255) return 255;
  return static_cast<int>(v);
}

// ---- colours

void TProgressCyl::SetBackBorderColor(TColor value) {
  if (value == backBorderColor_) return;
  backBorderColor_ = value;
  Custom();
  if (ready_) repaint();
}

void TProgressCyl::SetBackColor(TColor value) {
  backColor_ = value;
  backFactors_ = FactorsOf(value, backStyle_);
  Custom();
  if (ready_) repaint();
}

void TProgressCyl::SetForeColor(TColor value) {
  foreColor_ = value;
  foreFactors_ = FactorsOf(value, foreStyle_);
  Custom();
  if (ready_) repaint();
}

void TProgressCyl::SetForeLineColor(TColor value) {
  foreLineColor_ = value;
  lineFactors_ = FactorsOf(value, foreStyle_);
  Custom();
  if (ready_) repaint();
}

void TProgressCyl::SetFontShadowColor(TColor value) {
  if (value == fontShadowColor_) return;
  fontShadowColor_ = value;
  Custom();
  if (ready_) repaint();
}

void TProgressCyl::SetBevelColor(TColor value) {
  bevelColor_ = value;
  if (value == clBtnFace) {
    highlight_ = clBtnHighlight;
    shadow_ = clBtnShadow;
    light_ = cl3DLight;
    dark_ = cl3DDkShadow;
  } else {
    const QColor c = ColorToRGB(value, palette());
    highlight_ = RGBColor(ClampByte(c.red() + 64), ClampByte(c.green() + 64), ClampByte(c.blue() + 64));
    shadow_ = RGBColor(ClampByte(c.red() - 64), ClampByte(c.green() - 64), ClampByte(c.blue() - 64));
    light_ = highlight_;
    dark_ = shadow_;
  }
  Custom();
  ChooseBevelColors();
  RecomputeGeometry();
  if (ready_) repaint();
}

void TProgressCyl::SetColor(TColor value) {
  if (value == color_) return;
  color_ = value;
  ChooseBevelColors();  // a spaced bevel takes the control's colour
  if (ready_) repaint();
}

void TProgressCyl::SetFontColor(const QColor& color) {
  if (color == fontColor_) return;
  fontColor_ = color;
  update();
}

void TProgressCyl::ChooseBevelColors() {
  const bool bare = borderWidth_ == 0;
  switch (bevelInner_) {
    case bvSpace: innerTopLeft_ = innerBottomRight_ = color_; break;
    case bvLowered:
      innerTopLeft_ = bevelOuter_ == bvLowered && bare ? dark_ : shadow_;
      innerBottomRight_ = bevelOuter_ == bvLowered && bare ? light_ : highlight_;
      break;
    case bvRaised:
      innerTopLeft_ = bevelOuter_ == bvRaised && bare ? light_ : highlight_;
      innerBottomRight_ = shadow_;
      break;
    case bvNone: break;
  }
  switch (bevelOuter_) {
    case bvSpace: outerTopLeft_ = outerBottomRight_ = color_; break;
    case bvLowered:
      outerTopLeft_ = shadow_;
      outerBottomRight_ = highlight_;
      break;
    case bvRaised:
      outerTopLeft_ = highlight_;
      outerBottomRight_ = bevelInner_ == bvRaised && bare ? dark_ : shadow_;
      break;
    case bvNone: break;
  }
}

// ---- frame

bool TProgressCyl::GeometryValid() const {
  const int w = width(), h = height();
  const int a = bevelWidth_ + borderWidth_, m = borderWidth_ + 2 * bevelWidth_;
  return w > 0 && h > 0 && w - 2 * a > 0 && h - 2 * a > 0 && w - 2 * m > 0 && h - 2 * m > 0;
}

void TProgressCyl::SetFrameValue(int& field, int value) {
  if (value == field) return;
  const int old = field;
  field = value;
  if (!GeometryValid()) field = old;
  ChooseBevelColors();
  RecomputeGeometry();
  if (ready_) repaint();
}

void TProgressCyl::SetBevelWidth(int value) {
  if (value >= 1) SetFrameValue(bevelWidth_, value);
}

void TProgressCyl::SetBorderWidth(int value) {
  if (value >= 0) SetFrameValue(borderWidth_, value);
}

void TProgressCyl::SetBevelCut(TBevelCut& field, TBevelCut value) {
  if (value == field) return;
  const TBevelCut old = field;
  field = value;
  if (!GeometryValid()) field = old;
  ChooseBevelColors();
  RecomputeGeometry();
  if (ready_) repaint();
}

void TProgressCyl::SetBevelInner(TBevelCut value) { SetBevelCut(bevelInner_, value); }
void TProgressCyl::SetBevelOuter(TBevelCut value) { SetBevelCut(bevelOuter_, value); }

void TProgressCyl::RecomputeGeometry() {
  const int m = borderWidth_ + 2 * bevelWidth_;
  const int iw = width() - 2 * m, ih = height() - 2 * m;
  if (iw > 0 && ih > 0) {
    kH_ = depth_ / ih;
    kW_ = depth_ / iw;
  }
  SetPosition(position_);
}

void TProgressCyl::SetCylinderEffect(TCylinderEffect value) {
  if (value == cylinderEffect_) return;
  depth_ = Depths[std::clamp(static_cast<int>(value), 0, 5)];
  cylinderEffect_ = value;
  Custom();
  RecomputeGeometry();
  if (ready_) repaint();
}

void TProgressCyl::SetOrientation(TProgressBarOrientation value) {
  if (value == orientation_) return;
  orientation_ = value;
  fontOrientation_ = value == pbVertical ? foBottomToTop : foLeftToRight;
  RecomputeGeometry();
  if (ready_) repaint();
}

// ---- text

void TProgressCyl::TextSetup(bool oldShowText, bool oldWasInvert) {
  if (oldShowText && oldWasInvert) invert_ = QImage();
  if (!showText_) return;
  if (fontEffect_ == feInvert) {
    invert_ = QImage(size(), QImage::Format_BGR888);
  } else {
    shadowOffset_ = fontEffect_ == feShadowTopLeft ? -1 : fontEffect_ == feShadowBottomRight ? 1 : 0;
  }
}

void TProgressCyl::SetFontEffect(TFontEffect value) {
  if (value == fontEffect_) return;
  const bool wasInvert = fontEffect_ == feInvert;
  fontEffect_ = value;
  Custom();
  TextSetup(showText_, wasInvert);
  if (ready_) repaint();
}

void TProgressCyl::SetFontOrientation(TFontOrientation value) {
  if (value == fontOrientation_) return;
  fontOrientation_ = value;
  TextSetup(showText_, fontEffect_ == feInvert);
  if (ready_) repaint();
}

void TProgressCyl::SetShowText(bool value) {
  if (value == showText_) return;
  const bool old = showText_;
  showText_ = value;
  TextSetup(old, fontEffect_ == feInvert);
  if (ready_) repaint();
}

void TProgressCyl::SetText(const QString& text) {
  if (text == text_) return;
  text_ = text;
  if (ready_) repaint();
}

void TProgressCyl::SetTextDone(const QString& text) {
  if (text == textDone_) return;
  textDone_ = text;
  if (ready_) repaint();
}

QString TProgressCyl::DisplayText() const {
  if (!textDone_.isEmpty() && percent_ == 100) return textDone_;
  return QString::number(percent_) + text_;
}

// ---- range

void TProgressCyl::SetMin(int value) {
  if (value == min_) return;
  if (value == max_) value = max_ - 1;
  if (value < max_) {
    min_ = value;
    inverseRange_ = 1.0f / static_cast<float>(static_cast<long long>(max_) - value);
    if (position_ < value) position_ = value;
  }
  RecomputeGeometry();
}

void TProgressCyl::SetMax(int value) {
  if (value == max_) return;
  if (value == min_) value = min_ + 1;
  if (value > min_) {
    max_ = value;
    inverseRange_ = 1.0f / static_cast<float>(static_cast<long long>(value) - min_);
    if (position_ > value) position_ = value;
  }
  RecomputeGeometry();
}

void TProgressCyl::SetPosition(int value) {
  position_ = std::clamp(value, min_, std::max(min_, max_));
  const long long r = static_cast<long long>(position_) - min_;
  const long long range = static_cast<long long>(max_) - min_;
  int percent = 0;
  if (range > 0) {
    // Exact halves-to-even: 1 of 8 shows 12, 3 of 8 shows 38.
    long long q = r * 100 / range;
    const long long twice = 2 * (r * 100 % range);
    if (twice > range || (twice == range && q % 2 == 1)) ++q;
    percent = static_cast<int>(q);
  }
  percent_ = percent;

  const int m = borderWidth_ + 2 * bevelWidth_;
  const long double inv = inverseRange_;
  const int size = orientation_ == pbHorizontal ? width() : height();
  const int extent = RoundEven(static_cast<long double>(static_cast<long long>(size) * r) * inv) +
                     2 * m - RoundEven(static_cast<long double>(2LL * m * r) * inv);
  boundary_ = orientation_ == pbHorizontal ? std::max(extent - m, m + 1)
                                           : (height() - m) - (extent - 2 * m);

  if (extent == lastExtent_ && percent == lastPercent_) return;
  lastExtent_ = extent;
  lastPercent_ = percent;
  if (position_ == max_ && ready_) emit ProgressDone();
  if (ready_) repaint();
}

// ---- presets

void TProgressCyl::SetProEffect(TProEffect value) {
  proEffect_ = value;
  if (value == peCustom || value < demoSystem || value > peStdBlue) return;
  ApplyPreset(value);
}

void TProgressCyl::ApplyPreset(TProEffect value) {
  const auto* p = std::find_if(std::begin(PresetTable), std::end(PresetTable),
                               [value](const TPreset& x) { return x.Effect == value; });
  if (p == std::end(PresetTable)) return;
  inPreset_ = true;
  setVisible(false);
  struct TDemo {
    TProEffect Effect;
    TBevelCut Outer, Inner;
    int Border;
    bool ShowText;
  };
  static constexpr TDemo demos[] = {{demoSystem, bvLowered, bvRaised, 2, true},
                                    {demoMetal, bvNone, bvLowered, 2, false},
                                    {demoSunken, bvNone, bvRaised, 2, true}};
  for (const TDemo& d : demos) {
    if (d.Effect != value) continue;
    SetBevelOuter(d.Outer);
    SetBevelInner(d.Inner);
    SetBorderWidth(d.Border);
    SetShowText(d.ShowText);
  }
  SetCylinderEffect(p->Cylinder);
  SetFontColor(Qt::black);
  SetFontEffect(p->FontEffect);
  if (p->FontShadow != NoShadow) SetFontShadowColor(p->FontShadow);
  SetForeColor(p->Fore);
  SetBackColor(p->Back);
  SetForeLineColor(p->Line);
  SetBackBorderColor(0x000000);
  SetColor(clBtnFace);
  SetBevelColor(clBtnFace);
  ApplyStyleSet(foreStyle_, StyleSets[p->ForeSet - 1]);
  ApplyStyleSet(backStyle_, StyleSets[p->BackSet - 1]);
  setVisible(true);
  inPreset_ = false;
}

// ------------------------------------------------------------------ painting

void TProgressCyl::resizeEvent(QResizeEvent*) {
  if (!ready_ || !GeometryValid()) return;
  bitmap_ = QImage(size(), QImage::Format_BGR888);
  if (showText_ && fontEffect_ == feInvert) invert_ = QImage(size(), QImage::Format_BGR888);
  RecomputeGeometry();
  repaint();
}

void TProgressCyl::enterEvent(QEnterEvent*) {
  emit MouseEnter();
  repaint();
}

void TProgressCyl::leaveEvent(QEvent*) {
  emit MouseLeave();
  repaint();
}

void TProgressCyl::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::PaletteChange && ready_) DeriveColors();
}

void TProgressCyl::Shade() {
  const int w = width(), h = height();
  const int m = borderWidth_ + 2 * bevelWidth_;
  const bool horizontal = orientation_ == pbHorizontal;
  const int extentAcross = horizontal ? h - 2 * m : w - 2 * m;
  const double k = horizontal ? kH_ : kW_;
  const int tFore = static_cast<int>(std::trunc(static_cast<long double>(extentAcross) /
                                                foreStyle_.LightAngle()));
  const int tBack = static_cast<int>(std::trunc(static_cast<long double>(extentAcross) /
                                                backStyle_.LightAngle()));
  auto shade = [k](int t, const TPCColorStyle& style, const TFactors& f) {
    return std::array<uchar, 3>{static_cast<uchar>(ShadeChannel(t, k, style, f[2])),
                                static_cast<uchar>(ShadeChannel(t, k, style, f[1])),
                                static_cast<uchar>(ShadeChannel(t, k, style, f[0]))};
  };
  auto put = [this](int x, int y, const std::array<uchar, 3>& bgr) {
    uchar* p = bitmap_.scanLine(y) + 3 * x;
    p[0] = bgr[0];
    p[1] = bgr[1];
    p[2] = bgr[2];
  };

  // Only the content is shaded: a dividing line that falls outside it (a full horizontal
  // bar, an empty vertical one) is not drawn over the frames.
  if (horizontal) {
    for (int y = m; y <= h - m - 1; ++y) {
      const int i = y - m;
      const auto fore = shade(tFore + i, foreStyle_, foreFactors_);
      const auto line = shade(tFore + i, foreStyle_, lineFactors_);
      const auto back = shade(tBack + i, backStyle_, backFactors_);
      for (int x = m; x <= w - m - 1; ++x) {
        put(x, y, x < boundary_ ? fore : x == boundary_ ? line : back);
      }
    }
  } else {
    for (int x = m; x <= w - m - 1; ++x) {
      const int i = x - m;
      const auto fore = shade(tFore + i, foreStyle_, foreFactors_);
      const auto line = shade(tFore + i, foreStyle_, lineFactors_);
      const auto back = shade(tBack + i, backStyle_, backFactors_);
      for (int y = m; y <= h - m - 1; ++y) {
        put(x, y, y < boundary_ ? back : y == boundary_ ? line : fore);
      }
    }
  }
}

void TProgressCyl::DrawText(QImage& target) {
  const int w = width(), h = height();
  const QString s = DisplayText();
  const QFontMetrics fm(font());
  const int tw = fm.horizontalAdvance(s), th = fm.height();
  int x = 0, y = 0, angle = 0;
  switch (fontOrientation_) {
    case foLeftToRight:
      // A tenth of a degree in the original face: drawn level here.
      x = (w - tw) / 2;
      y = (h - th) / 2 + 1;
      break;
    case foTopToBottom:
      x = th + (w - th) / 2 - 1;
      y = (h - tw) / 2;
      angle = 90;
      break;
    case foBottomToTop:
      x = (w - th) / 2 + 1;
      y = tw + (h - tw) / 2;
      angle = -90;
      break;
  }
  auto draw = [&](QImage& target, const QFont& font, int px, int py, const QColor& color) {
    QPainter p(&target);
    p.setClipRect(QRect(0, 0, w, h));
    p.setFont(font);
    p.setPen(color);
    p.translate(px, py);
    p.rotate(angle);
    p.drawText(0, fm.ascent(), s);
  };

  if (fontEffect_ == feInvert) {
    if (invert_.size() != target.size()) invert_ = QImage(target.size(), QImage::Format_BGR888);
    invert_.setDevicePixelRatio(target.devicePixelRatio());
    invert_.fill(Qt::black);
    // Hard glyph edges, so every pixel is either inverted or left alone.
    QFont hard = font();
    hard.setStyleStrategy(QFont::NoAntialias);
    draw(invert_, hard, x, y, Qt::white);
    for (int row = 0; row < target.height(); ++row) {
      uchar* dst = target.scanLine(row);
      const uchar* src = invert_.constScanLine(row);
      for (int b = 0; b < 3 * target.width(); ++b) dst[b] ^= src[b];
    }
    return;
  }
  if (fontEffect_ != feNone) {
    draw(target, font(), x + shadowOffset_, y + shadowOffset_,
         ColorToRGB(fontShadowColor_, palette()));
  }
  draw(target, font(), x, y, fontColor_);
}

QImage TProgressCyl::RenderImage(qreal pixelRatio) {
  if (!ready_ || !GeometryValid()) return {};
  const int w = width(), h = height();
  const int a = bevelWidth_ + borderWidth_, m = borderWidth_ + 2 * bevelWidth_;
  if (bitmap_.size() != size()) bitmap_ = QImage(size(), QImage::Format_BGR888);
  bitmap_.fill(ColorToRGB(color_, palette()));
  Shade();
  auto rgb = [this](TColor c) { return ColorToRGB(c, palette()).rgb(); };
  const QRgb border = rgb(backBorderColor_);
  Frame3D(bitmap_, QRect(m, m, w - 2 * m, h - 2 * m), border, border, 1);
  if (bevelInner_ != bvNone) {
    Frame3D(bitmap_, QRect(a, a, w - 2 * a, h - 2 * a), rgb(innerTopLeft_), rgb(innerBottomRight_),
            bevelWidth_);
  }
  if (bevelOuter_ != bvNone) {
    Frame3D(bitmap_, QRect(0, 0, w, h), rgb(outerTopLeft_), rgb(outerBottomRight_), bevelWidth_);
  }
  // The shading follows its pixel rules in the control's own pixels; at a higher ratio it
  // is enlarged pixel for pixel and only the text is drawn at the finer resolution.
  if (pixelRatio == 1.0) {
    if (showText_) DrawText(bitmap_);
    return bitmap_;
  }
  QImage image = bitmap_.scaled(qRound(w * pixelRatio), qRound(h * pixelRatio), Qt::IgnoreAspectRatio,
                                Qt::FastTransformation);
  image.setDevicePixelRatio(pixelRatio);
  if (showText_) DrawText(image);
  return image;
}

void TProgressCyl::paintEvent(QPaintEvent*) {
  const QImage image = RenderImage(devicePixelRatioF());
  if (!image.isNull()) QPainter(this).drawImage(0, 0, image);
}
