#include "controls/ProgressCyl.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

namespace {

QImage Shot(QWidget& w) { return w.grab().toImage().convertToFormat(QImage::Format_RGB32); }

// The main window's bar: the metal gold preset over a lowered inner bevel, content inset 2.
void MakeWindowBar(TProgressCyl& bar) {
  bar.SetProEffect(peMetalGold);
  bar.SetBevelInner(bvLowered);
  bar.SetBevelOuter(bvNone);
  bar.SetBorderWidth(0);
}

// Flat roles in plain colours: fore red, line blue, back green, text off.
void MakeFlatBar(TProgressCyl& bar) {
  bar.SetCylinderEffect(ceFlat);
  bar.SetForeColor(0x0000FF);
  bar.SetForeLineColor(0xFF0000);
  bar.SetBackColor(0x00FF00);
  bar.SetShowText(false);
}
const QRgb FlatFore = qRgb(255, 63, 63);  // 255 * ((255 - v) / 4 + v) / 255 for each channel
const QRgb FlatLine = qRgb(63, 63, 255);
const QRgb FlatBack = qRgb(63, 255, 63);

struct TPaintCounter : QObject {
  int Paints = 0;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++Paints;
    return false;
  }
};

void SetMetal(TPCColorStyle& s) {
  s.SetIntensityRGB(-100);
  s.SetIntensity(4);
  s.SetIntensityFactor(-1.7f);
  s.SetRangeRGB(-100);
  s.SetColorRGB(-100);
  s.SetColorFactor(-1);
  s.SetLightAngle(-1.5f);
}

}  // namespace

TEST(ProgressCyl, ShadingOfTheWorkedExample) {
  TPCColorStyle metal(nullptr);
  SetMetal(metal);
  const float white = metal.Factor(255);
  EXPECT_NEAR(white, -1.21625f, 1e-6f);
  // 22 high, m 2: ih 18, k = 255 div 18 = 14, rows start at t = trunc(18 / -1.5) = -12.
  const struct {
    int T, Channel;
  } rows[] = {{0, 121}, {-1, 138}, {1, 138}, {-11, 255}, {-12, 255}, {6, 223}};
  for (const auto& r : rows) EXPECT_EQ(TProgressCyl::ShadeChannel(r.T, 14, metal, white), r.Channel) << r.T;
}

TEST(ProgressCyl, TheWindowsBarOnScreen) {
  TProgressCyl bar;
  MakeWindowBar(bar);
  bar.SetShowText(false);
  bar.SetPosition(55);
  EXPECT_EQ(bar.ProEffect(), peMetalGold);
  // e = round(150 * 55 * inv) + 4 - round(4 * 55 * inv) = 82 + 4 - 2; the line is at e - m.
  EXPECT_EQ(bar.Boundary(), 82);
  const QImage img = Shot(bar);
  EXPECT_EQ(img.pixel(140, 14), qRgb(121, 121, 121));  // the highlight row of the white part
  EXPECT_EQ(img.pixel(140, 3), qRgb(255, 255, 255));   // eleven rows away, clamped
  EXPECT_EQ(img.pixel(140, 2), qRgb(0, 0, 0));         // the content's border
  EXPECT_EQ(img.pixel(82, 10), qRgb(0, 0, 0));         // the black dividing line
  EXPECT_EQ(img.pixel(83, 14), qRgb(121, 121, 121));
  EXPECT_NE(img.pixel(81, 14), img.pixel(83, 14));     // gold before the line
  EXPECT_EQ(img.pixel(0, 10), img.pixel(149, 10));     // no outer bevel: the control's colour
}

TEST(ProgressCyl, FlatEffectGivesFlatRoles) {
  TProgressCyl bar;
  MakeFlatBar(bar);
  bar.SetPosition(50);
  const int m = 4;  // border 2 and two bevels of 1
  ASSERT_EQ(bar.Boundary(), 75);
  const QImage img = Shot(bar);
  for (int y = m + 1; y < 22 - m - 1; ++y) {
    for (int x = m + 1; x < 150 - m - 1; ++x) {
      const QRgb want = x < 75 ? FlatFore : x == 75 ? FlatLine : FlatBack;
      ASSERT_EQ(img.pixel(x, y), want) << x << "," << y;
    }
  }
}

TEST(ProgressCyl, EmptyBarsShowTheirLineOrNothing) {
  TProgressCyl bar;
  MakeFlatBar(bar);
  bar.SetPosition(0);
  // Horizontal at 0 %: one fore column (m, under the border) and the line right after it.
  EXPECT_EQ(bar.Boundary(), 5);
  QImage img = Shot(bar);
  EXPECT_EQ(img.pixel(5, 10), FlatLine);
  EXPECT_EQ(img.pixel(6, 10), FlatBack);
  bar.SetPosition(2);
  img = Shot(bar);
  EXPECT_EQ(img.pixel(5, 10), FlatFore);
  EXPECT_EQ(img.pixel(7, 10), FlatLine);

  // Vertical at 0 %: the line falls below the content and no fore row shows.
  bar.SetOrientation(pbVertical);
  EXPECT_EQ(bar.FontOrientation(), foBottomToTop);
  bar.SetPosition(0);
  EXPECT_EQ(bar.Boundary(), 22 - 4);
  img = Shot(bar);
  for (int y = 0; y < 22; ++y) {
    for (int x = 0; x < 150; ++x) ASSERT_NE(img.pixel(x, y), FlatFore) << x << "," << y;
  }
  EXPECT_EQ(img.pixel(70, 16), FlatBack);  // row 17 is the content's border
  bar.SetPosition(100);
  img = Shot(bar);
  EXPECT_EQ(img.pixel(70, 5), FlatFore);
  EXPECT_EQ(img.pixel(70, 16), FlatFore);
}

TEST(ProgressCyl, RangeRules) {
  enum TOp { SetMin, SetMax, SetPos };
  const struct {
    TOp Op;
    int Value;
    int Min, Max, Position;
  } cases[] = {
      {SetMin, 100, 99, 100, 99}, {SetMin, 150, 0, 100, 0},  {SetMax, 0, 0, 1, 0},
      {SetMax, -5, 0, 100, 0},    {SetPos, 110, 0, 100, 100}, {SetPos, -1, 0, 100, 0},
      {SetMin, -20, -20, 100, 0}, {SetMax, 40, 0, 40, 0},
  };
  for (const auto& c : cases) {
    TProgressCyl bar;
    switch (c.Op) {
      case SetMin: bar.SetMin(c.Value); break;
      case SetMax: bar.SetMax(c.Value); break;
      case SetPos: bar.SetPosition(c.Value); break;
    }
    EXPECT_EQ(bar.Min(), c.Min) << c.Op << " " << c.Value;
    EXPECT_EQ(bar.Max(), c.Max) << c.Op << " " << c.Value;
    EXPECT_EQ(bar.Position(), c.Position) << c.Op << " " << c.Value;
  }
  // Raising Min pulls the position up with it; lowering Max pulls it down.
  TProgressCyl bar;
  bar.SetPosition(30);
  bar.SetMin(50);
  EXPECT_EQ(bar.Position(), 50);
  bar.SetMax(60);
  bar.SetPosition(60);
  bar.SetMax(55);
  EXPECT_EQ(bar.Position(), 55);
}

TEST(ProgressCyl, PercentHalvesGoToEven) {
  TProgressCyl bar;
  bar.SetMax(8);
  const struct {
    int Position, Percent;
  } cases[] = {{1, 12}, {3, 38}, {5, 62}, {7, 88}, {4, 50}, {8, 100}};
  for (const auto& c : cases) {
    bar.SetPosition(c.Position);
    EXPECT_EQ(bar.Percent(), c.Percent) << c.Position;
  }
}

TEST(ProgressCyl, RepaintsAndDoneOnlyWhenTheDrawingChanges) {
  TProgressCyl bar;
  bar.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
  QTest::qWait(20);
  TPaintCounter counter;
  bar.installEventFilter(&counter);
  QSignalSpy done(&bar, &TProgressCyl::ProgressDone);

  bar.SetPosition(100);
  EXPECT_EQ(done.count(), 1);
  EXPECT_EQ(counter.Paints, 1);  // at once, not through the event queue
  bar.SetPosition(100);
  bar.SetMax(100);
  EXPECT_EQ(done.count(), 1);
  EXPECT_EQ(counter.Paints, 1);
  EXPECT_EQ(bar.DisplayText(), "Done");

  bar.resize(200, 22);  // the drawn extent changes at Max
  QApplication::processEvents();
  EXPECT_EQ(done.count(), 2);

  // A step too small to move the drawing repaints nothing.
  bar.SetMax(10000);
  const int paints = counter.Paints;
  bar.SetPosition(1);
  bar.SetPosition(2);
  EXPECT_EQ(counter.Paints, paints + 1);
}

TEST(ProgressCyl, CustomMarkingAndRejectedValues) {
  TProgressCyl bar;
  MakeWindowBar(bar);
  EXPECT_EQ(bar.ProEffect(), peMetalGold);
  EXPECT_EQ(bar.ForeColor(), 0x81CCFFu);
  EXPECT_EQ(bar.BackColor(), 0xFFFFFFu);
  EXPECT_EQ(bar.FontShadowColor(), clBtnFace);
  EXPECT_FLOAT_EQ(bar.ForeStyle().LightAngle(), -1.5f);
  EXPECT_FLOAT_EQ(bar.BackStyle().IntensityFactor(), -1.7f);
  EXPECT_TRUE(bar.isVisible());  // a preset always ends visible

  // Frames, texts and the range do not leave the preset; a repeated colour does.
  bar.SetBevelWidth(2);
  bar.SetText("x");
  bar.SetMax(50);
  bar.SetFontShadowColor(clBtnFace);
  bar.ForeStyle().SetLightAngle(0);
  bar.ForeStyle().SetIntensity(0);
  bar.ForeStyle().SetRangeRGB(0);
  bar.ForeStyle().SetLightAngle(-1.5f);
  EXPECT_EQ(bar.ProEffect(), peMetalGold);
  EXPECT_FLOAT_EQ(bar.ForeStyle().LightAngle(), -1.5f);
  EXPECT_FLOAT_EQ(bar.ForeStyle().Intensity(), 4.0f);
  EXPECT_EQ(bar.ForeStyle().RangeRGB(), -100);
  bar.SetForeColor(0x81CCFF);
  EXPECT_EQ(bar.ProEffect(), peCustom);

  bar.SetProEffect(peStdRed);
  EXPECT_EQ(bar.FontEffect(), feInvert);
  bar.BackStyle().SetColorFactor(2);
  EXPECT_EQ(bar.ProEffect(), peCustom);
  bar.SetProEffect(static_cast<TProEffect>(40));  // past the last: stored, nothing applied
  EXPECT_EQ(bar.FontEffect(), feInvert);
}

TEST(ProgressCyl, FrameSettingsThatLeaveNoContentAreReverted) {
  TProgressCyl bar;
  bar.resize(20, 10);
  bar.SetBorderWidth(3);  // m = 5 would leave no rows
  EXPECT_EQ(bar.BorderWidth(), 2);
  bar.SetBevelWidth(2);
  EXPECT_EQ(bar.BevelWidth(), 1);
  bar.SetBevelWidth(0);  // at least 1
  EXPECT_EQ(bar.BevelWidth(), 1);
  bar.SetBorderWidth(1);
  EXPECT_EQ(bar.BorderWidth(), 1);
}

TEST(ProgressCyl, InvertedTextFlipsThePixelsUnderIt) {
  TProgressCyl bar;
  MakeFlatBar(bar);
  bar.SetPosition(37);
  const QImage plain = Shot(bar);
  bar.SetFontEffect(feInvert);
  bar.SetShowText(true);
  EXPECT_TRUE(bar.HasInvertBitmap());
  const QImage inverted = Shot(bar);
  int flipped = 0;
  for (int y = 0; y < 22; ++y) {
    for (int x = 0; x < 150; ++x) {
      const QRgb a = plain.pixel(x, y), b = inverted.pixel(x, y);
      ASSERT_TRUE(a == b || (a ^ 0x00FFFFFFu) == b) << x << "," << y;
      flipped += a != b;
    }
  }
  EXPECT_GT(flipped, 20);

  // Leaving the invert effect frees its image; the shadow goes up and left.
  bar.SetFontEffect(feShadowTopLeft);
  EXPECT_FALSE(bar.HasInvertBitmap());
  EXPECT_EQ(bar.ProEffect(), peCustom);
}

TEST(ProgressCyl, TextsAndTheirShadow) {
  TProgressCyl bar;
  MakeFlatBar(bar);
  bar.SetShowText(true);
  bar.SetFontColor(Qt::black);
  bar.SetFontShadowColor(0xFFFFFF);
  QFont f = bar.font();
  f.setStyleStrategy(QFont::NoAntialias);
  bar.setFont(f);
  bar.SetPosition(100);
  EXPECT_EQ(bar.DisplayText(), "Done");
  // Inside the border (m = 4) only the text can be black or white.
  const QImage done = Shot(bar);
  bool black = false, white = false;
  for (int y = 5; y < 17; ++y) {
    for (int x = 5; x < 145; ++x) {
      black |= done.pixel(x, y) == qRgb(0, 0, 0);
      white |= done.pixel(x, y) == qRgb(255, 255, 255);
    }
  }
  EXPECT_TRUE(black);
  EXPECT_TRUE(white);  // the shadow copy
  bar.SetFontEffect(feNone);
  const QImage noShadow = Shot(bar);
  for (int y = 5; y < 17; ++y) {
    for (int x = 5; x < 145; ++x) ASSERT_NE(noShadow.pixel(x, y), qRgb(255, 255, 255));
  }
}

TEST(ProgressCyl, TextRunsInItsOrientation) {
  const struct {
    TFontOrientation Orientation;
    bool Wide;
  } cases[] = {{foLeftToRight, true}, {foTopToBottom, false}, {foBottomToTop, false}};
  for (const auto& c : cases) {
    TProgressCyl bar;
    bar.resize(60, 120);
    MakeFlatBar(bar);
    bar.SetShowText(true);
    bar.SetFontEffect(feNone);
    bar.SetFontOrientation(c.Orientation);
    bar.SetPosition(88);
    QFont f = bar.font();
    f.setStyleStrategy(QFont::NoAntialias);
    bar.setFont(f);
    const QImage img = Shot(bar);
    QRect ink;
    for (int y = 5; y < 115; ++y) {
      for (int x = 5; x < 55; ++x) {
        if (img.pixel(x, y) == qRgb(0, 0, 0)) ink |= QRect(x, y, 1, 1);
      }
    }
    ASSERT_FALSE(ink.isEmpty()) << c.Orientation;
    EXPECT_EQ(ink.width() > ink.height(), c.Wide) << c.Orientation;
    // Centred across the bar either way.
    EXPECT_LE(std::abs(ink.center().x() - 30), 3) << c.Orientation;
    EXPECT_LE(std::abs(ink.center().y() - 60), 3) << c.Orientation;
  }
}
