#include "controls/GradBtn.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

namespace {

QImage Shot(QWidget& w) { return w.grab().toImage().convertToFormat(QImage::Format_RGB32); }

// A button with a flat face and no frame, so only the caption shows on it.
void MakeFlat(TGradBtn& b, TColor color) {
  b.SetBeginColor(color);
  b.SetEndColor(color);
  b.SetBtnFrameSize(0);
}

// Counts paint events of one widget.
struct TPaintCounter : QObject {
  int Paints = 0;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++Paints;
    return false;
  }
};

}  // namespace

TEST(GradBtn, DisplayTextDropsAcceleratorAmpersands) {
  const struct {
    const char* Caption;
    const char* Shown;
  } cases[] = {{"&Halt", "Halt"},     {"E&xit", "Exit"},       {"Save && Exit", "Save & Exit"},
               {"a&&&b", "a&&b"},      {"", ""},                {"&", "&"},
               {"end&", "end&"},      {"Clear Results", "Clear Results"}};
  for (const auto& c : cases) EXPECT_EQ(TGradBtn::DisplayText(c.Caption), c.Shown) << c.Caption;
}

TEST(GradBtn, BeginEqualToEndGivesAFlatFaceForEveryStyle) {
  for (TGradientStyle style : {gsHorizontal, gsVertical, gsElliptic, gsRectangle, gsVertCenter,
                               gsHorizCenter}) {
    TGradBtn b;
    b.resize(75, 33);
    b.SetGradientStyle(style);
    MakeFlat(b, 0x336699);
    const QImage img = Shot(b);
    int other = 0;
    for (int y = 0; y < img.height(); ++y) {
      for (int x = 0; x < img.width(); ++x) other += img.pixel(x, y) != qRgb(0x99, 0x66, 0x33);
    }
    EXPECT_EQ(other, 0) << "style " << style;
  }
}

TEST(GradBtn, SystemColoursPaintByTheirRawBytes) {
  TGradBtn b;
  MakeFlat(b, clBtnFace);
  EXPECT_EQ(Shot(b).pixel(10, 10), qRgb(15, 0, 0));
  MakeFlat(b, clBtnHighlight);
  EXPECT_EQ(Shot(b).pixel(10, 10), qRgb(20, 0, 0));
}

TEST(GradBtn, GradientRowsOfTheWindowsButtons) {
  TGradBtn b;
  b.resize(100, 33);
  b.SetBtnFrameSize(0);
  b.SetBeginColor(13553358);
  b.SetEndColor(6250335);
  b.SetGradientStyle(gsVertical);
  const QImage vertical = Shot(b);
  // Bands 0..2 are empty at this height; row 0 is band 3: 206 + MulDiv(3, -111, 255).
  EXPECT_EQ(vertical.pixel(50, 0), qRgb(205, 205, 205));
  // The last row is band 252 of 255: 206 + MulDiv(252, -111, 255) = 206 - 110.
  EXPECT_EQ(vertical.pixel(50, 32), qRgb(96, 96, 96));

  // Centre style: rows i and H-1-i match, begin at the edges, end in the middle.
  b.SetBeginColor(0x000000);
  b.SetEndColor(0xFFFFFF);
  b.SetGradientStyle(gsVertCenter);
  const QImage centre = Shot(b);
  const struct {
    int Row;
    int Gray;  // MulDiv(row, 255, 16)
  } rows[] = {{0, 0}, {1, 16}, {5, 80}, {8, 128}, {15, 239}, {16, 255}};
  for (const auto& r : rows) {
    EXPECT_EQ(centre.pixel(50, r.Row), qRgb(r.Gray, r.Gray, r.Gray)) << r.Row;
    EXPECT_EQ(centre.pixel(50, 32 - r.Row), qRgb(r.Gray, r.Gray, r.Gray)) << r.Row;
  }
}

TEST(GradBtn, OuterAndInnerColoursOfTheOtherStyles) {
  TGradBtn b;
  b.resize(256, 25);
  b.SetBtnFrameSize(0);
  b.SetBeginColor(0x000000);
  b.SetEndColor(0xFFFFFF);
  b.SetGradientStyle(gsHorizontal);
  QImage img = Shot(b);
  // 256 strips of one column each: column x shows step x of 255.
  for (int x = 0; x < 256; ++x) ASSERT_EQ(img.pixel(x, 12), qRgb(x, x, x)) << x;

  // Rectangles shrink by 75/2/255 and 25/2/255 per step from (0, 0, 77, 27): the top-left
  // corner is last covered by step 5, the right-hand corners by step 12.
  b.resize(75, 25);
  b.SetGradientStyle(gsRectangle);
  img = Shot(b);
  const struct {
    QPoint At;
    int Gray;
  } corners[] = {{{0, 0}, 5}, {{0, 24}, 5}, {{74, 0}, 12}, {{74, 24}, 12}};
  for (const auto& c : corners) EXPECT_EQ(img.pixel(c.At), qRgb(c.Gray, c.Gray, c.Gray)) << c.Gray;
  EXPECT_GE(qRed(img.pixel(37, 12)), 240);

  // Ellipses: the outer ones already cover the corners, the innermost is near the end colour.
  b.SetGradientStyle(gsElliptic);
  img = Shot(b);
  for (const auto& c : corners) EXPECT_LT(qRed(img.pixel(c.At)), 64);
  EXPECT_GE(qRed(img.pixel(38, 13)), 240);
}

TEST(GradBtn, FrameSizeIsLimitedByTheButtonsSize) {
  const struct {
    int W, H, Set, Expect;
  } cases[] = {{75, 25, 7, 7}, {75, 25, 8, 1}, {75, 25, 1, 1}, {30, 100, 10, 10},
               {30, 100, 11, 1}, {100, 14, 2, 2}, {100, 14, 3, 1}};
  for (const auto& c : cases) {
    TGradBtn b;
    b.resize(c.W, c.H);
    b.SetBtnFrameSize(c.Set);
    EXPECT_EQ(b.BtnFrameSize(), c.Expect) << c.W << "x" << c.H << " " << c.Set;
  }
}

TEST(GradBtn, APressSwapsColoursFrameAndMovesTheCaption) {
  TGradBtn b(QStringLiteral("&Halt"));
  b.resize(75, 33);
  b.SetShowFocus(false);
  b.SetBeginColor(0x112233);
  b.SetEndColor(0x445566);
  b.SetBtnHiliteClr(clWhite);
  b.SetBtnShadowClr(clBlack);
  b.SetBtnFrameSize(2);
  b.show();
  QSignalSpy clicks(&b, &QAbstractButton::clicked);
  const QImage up = Shot(b);
  EXPECT_EQ(up.pixel(0, 10), qRgb(255, 255, 255));
  EXPECT_EQ(up.pixel(1, 10), qRgb(255, 255, 255));
  EXPECT_EQ(up.pixel(74, 10), qRgb(0, 0, 0));

  QTest::mousePress(&b, Qt::LeftButton, {}, QPoint(10, 10));
  EXPECT_FALSE(b.Raised());
  EXPECT_EQ(b.BeginColor(), 0x445566u);  // the exchange is on the properties themselves
  const QImage down = Shot(b);
  EXPECT_EQ(down.pixel(0, 10), qRgb(0, 0, 0));
  EXPECT_EQ(down.pixel(74, 10), qRgb(255, 255, 255));
  // The gradient runs the other way: the middle row now shows the begin colour.
  EXPECT_EQ(up.pixel(5, 16), qRgb(0x66, 0x55, 0x44));
  EXPECT_EQ(down.pixel(5, 16), qRgb(0x33, 0x22, 0x11));

  QTest::mouseRelease(&b, Qt::LeftButton, {}, QPoint(10, 10));
  EXPECT_TRUE(b.Raised());
  EXPECT_EQ(b.BeginColor(), 0x112233u);
  EXPECT_EQ(clicks.count(), 1);
  EXPECT_EQ(Shot(b), up);

  // Any mouse button presses the face; only the left one clicks.
  QTest::mousePress(&b, Qt::RightButton, {}, QPoint(10, 10));
  EXPECT_FALSE(b.Raised());
  QTest::mouseRelease(&b, Qt::RightButton, {}, QPoint(10, 10));
  EXPECT_TRUE(b.Raised());
  EXPECT_EQ(clicks.count(), 1);

  // Without SwapColors the colours stay where they are.
  b.SetSwapColors(false);
  QTest::mousePress(&b, Qt::LeftButton, {}, QPoint(10, 10));
  EXPECT_EQ(b.BeginColor(), 0x112233u);
  QTest::mouseRelease(&b, Qt::LeftButton, {}, QPoint(10, 10));
}

TEST(GradBtn, APressedCaptionIsDrawnOnePixelDownAndRight) {
  TGradBtn b(QStringLiteral("E&xit"));
  b.resize(75, 33);
  b.SetShowFocus(false);
  MakeFlat(b, 0xC0C0C0);
  b.show();
  const QImage up = Shot(b);
  QTest::mousePress(&b, Qt::LeftButton, {}, QPoint(5, 5));
  const QImage down = Shot(b);
  QTest::mouseRelease(&b, Qt::LeftButton, {}, QPoint(5, 5));
  int inked = 0;
  for (int y = 0; y + 1 < 33; ++y) {
    for (int x = 0; x + 1 < 75; ++x) {
      ASSERT_EQ(down.pixel(x + 1, y + 1), up.pixel(x, y)) << x << "," << y;
      inked += up.pixel(x, y) != qRgb(0xC0, 0xC0, 0xC0);
    }
  }
  EXPECT_GT(inked, 20);  // the caption was drawn at all
}

TEST(GradBtn, AnEmptyCaptionDrawsNoText) {
  TGradBtn b;
  b.SetShowFocus(false);
  MakeFlat(b, 0x808080);
  for (TTextStyle style : {tsNormal, tsRaised, tsInset}) {
    b.SetTextStyle(style);
    b.SetTextShadeType(stHeavy);
    const QImage img = Shot(b);
    EXPECT_EQ(img.pixel(37, 12), qRgb(128, 128, 128));
    EXPECT_EQ(img.pixel(30, 10), qRgb(128, 128, 128));
  }
}

TEST(GradBtn, TheCaptionStylesAddTheirCopies) {
  // Each copy is a colour of its own, so counting colours counts copies.
  const struct {
    TTextStyle Style;
    TShadeType Shade;
    bool Hilite, Shadow;
  } cases[] = {{tsNormal, stHeavy, false, false}, {tsRaised, stLight, true, false},
               {tsRaised, stHeavy, true, true},   {tsInset, stLight, true, false},
               {tsInset, stHeavy, true, true}};
  for (const auto& c : cases) {
    TGradBtn b(QStringLiteral("MMMM"));
    b.resize(100, 33);
    b.SetShowFocus(false);
    MakeFlat(b, 0x000000);
    QFont f = b.font();
    f.setPixelSize(16);
    f.setStyleStrategy(QFont::NoAntialias);
    b.setFont(f);
    b.SetFontColor(0x0000FF);
    b.SetTxtHiliteClr(0x00FF00);
    b.SetTxtShadowClr(0xFF0000);
    b.SetTextStyle(c.Style);
    b.SetTextShadeType(c.Shade);
    const QImage img = Shot(b);
    bool red = false, green = false, blue = false;
    for (int y = 0; y < img.height(); ++y) {
      for (int x = 0; x < img.width(); ++x) {
        red |= img.pixel(x, y) == qRgb(255, 0, 0);
        green |= img.pixel(x, y) == qRgb(0, 255, 0);
        blue |= img.pixel(x, y) == qRgb(0, 0, 255);
      }
    }
    EXPECT_TRUE(red) << c.Style << c.Shade;
    EXPECT_EQ(green, c.Hilite) << c.Style << c.Shade;
    EXPECT_EQ(blue, c.Shadow) << c.Style << c.Shade;
  }
}

TEST(GradBtn, EnterClicksAfterTheKeyPressAndSpaceDoesNothing) {
  TGradBtn b(QStringLiteral("&Validate"));
  b.show();
  b.setFocus();
  std::vector<std::string> order;
  QObject::connect(&b, &TGradBtn::KeyPress, [&](QChar key) {
    order.push_back("key " + std::to_string(key.unicode()));
  });
  QObject::connect(&b, &QAbstractButton::clicked, [&] { order.push_back("click"); });
  QTest::keyClick(&b, Qt::Key_Space);
  QTest::keyClick(&b, Qt::Key_Return);
  const std::vector<std::string> expected = {"key 32", "key 13", "click"};
  EXPECT_EQ(order, expected);
}

TEST(GradBtn, TheAcceleratorClicksOnlyAnEnabledButton) {
  QWidget window;
  auto* layout = new QVBoxLayout(&window);
  auto* exitButton = new TGradBtn(QStringLiteral("E&xit"));
  auto* doubled = new TGradBtn(QStringLiteral("Save && Quit"));
  layout->addWidget(exitButton);
  layout->addWidget(doubled);
  window.show();
  QApplication::setActiveWindow(&window);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  QSignalSpy exits(exitButton, &QAbstractButton::clicked);
  QSignalSpy saves(doubled, &QAbstractButton::clicked);

  QTest::keyClick(&window, Qt::Key_X, Qt::AltModifier);
  EXPECT_EQ(exits.count(), 1);
  EXPECT_TRUE(exitButton->Raised());
  exitButton->setEnabled(false);
  QTest::keyClick(&window, Qt::Key_X, Qt::AltModifier);
  EXPECT_EQ(exits.count(), 1);
  // A doubled ampersand is no accelerator.
  QTest::keyClick(&window, Qt::Key_Q, Qt::AltModifier);
  QTest::keyClick(&window, Qt::Key_A, Qt::AltModifier);
  EXPECT_EQ(saves.count(), 0);
}

TEST(GradBtn, PresetsOnlyTakeEffectWhileDesigning) {
  TGradBtn b;
  b.SetPresets(GoldCoast);
  EXPECT_EQ(b.Presets(), None);
  EXPECT_EQ(b.BeginColor(), 0x800000u);
  EXPECT_EQ(b.GradientStyle(), gsVertCenter);

  b.SetDesigning(true);
  b.SetPresets(Aluminum);
  EXPECT_EQ(b.Presets(), Aluminum);
  EXPECT_EQ(b.BeginColor(), 0xCECECEu);
  EXPECT_EQ(b.EndColor(), 0x5F5F5Fu);
  EXPECT_EQ(b.GradientStyle(), gsVertical);
  EXPECT_EQ(b.TextStyle(), tsInset);
  EXPECT_EQ(b.TextShadeType(), stHeavy);
  EXPECT_EQ(b.BtnHiliteClr(), 0xFFFFFFu);
  EXPECT_EQ(b.BtnShadowClr(), 0x000000u);
  EXPECT_EQ(b.TxtHiliteClr(), clBtnHighlight);
  EXPECT_EQ(b.font().pointSize(), 10);
  EXPECT_TRUE(b.font().bold());
  b.SetPresets(static_cast<TPreset>(9));  // outside the enumeration
  EXPECT_EQ(b.Presets(), Aluminum);
}

TEST(GradBtn, SwapColorsAndShowFocusDoNotRepaint) {
  TGradBtn b;
  b.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&b));
  QTest::qWait(20);
  TPaintCounter counter;
  b.installEventFilter(&counter);
  b.SetSwapColors(false);
  b.SetShowFocus(false);
  QApplication::processEvents();
  EXPECT_EQ(counter.Paints, 0);
  b.SetBeginColor(0x010203);
  EXPECT_EQ(counter.Paints, 1);
  b.SetBeginColor(0x010203);  // the same value: nothing
  EXPECT_EQ(counter.Paints, 1);
}

TEST(GradBtn, TheFocusRectangleInvertsEveryOtherPixel) {
  QWidget window;
  auto* b = new TGradBtn(QString(), &window);
  MakeFlat(*b, 0x404040);
  window.show();
  QApplication::setActiveWindow(&window);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  b->setFocus();
  ASSERT_TRUE(b->hasFocus());
  const QImage focused = Shot(*b);
  EXPECT_EQ(focused.pixel(2, 2), qRgb(0xBF, 0xBF, 0xBF));
  EXPECT_EQ(focused.pixel(3, 2), qRgb(0x40, 0x40, 0x40));
  EXPECT_EQ(focused.pixel(72, 22), qRgb(0xBF, 0xBF, 0xBF));  // (W - 3, H - 3)
  EXPECT_EQ(focused.pixel(10, 10), qRgb(0x40, 0x40, 0x40));
  b->SetShowFocus(false);
  EXPECT_EQ(Shot(*b).pixel(2, 2), qRgb(0x40, 0x40, 0x40));
}

TEST(GradBtn, DisabledWhileHeldItStandsUpAgain) {
  TGradBtn b;
  b.SetBeginColor(0x000001);
  b.show();
  QTest::mousePress(&b, Qt::LeftButton, {}, QPoint(5, 5));
  ASSERT_FALSE(b.Raised());
  b.setEnabled(false);
  EXPECT_TRUE(b.Raised());
  EXPECT_EQ(b.BeginColor(), 0x000001u);
}
