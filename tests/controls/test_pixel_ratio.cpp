// The gradient button and the cylinder bar at a device pixel ratio of 2: the face keeps
// its pixel rules (each pixel becomes a 2 x 2 block of the same colour), and the text is
// drawn at the finer resolution, not enlarged from the 1x drawing.
#include "controls/GradBtn.h"
#include "controls/ProgressCyl.h"

#include <gtest/gtest.h>

#include <QImage>

namespace {

// The 2x image against the 1x one: blocks outside `text` must repeat their 1x pixel;
// inside it some block must hold more than one colour.
void ExpectCrispAtTwice(const QImage& one, const QImage& two, const QRect& text, const char* what) {
  ASSERT_EQ(two.width(), 2 * one.width()) << what;
  ASSERT_EQ(two.height(), 2 * one.height()) << what;
  EXPECT_EQ(two.devicePixelRatio(), 2.0) << what;
  int finer = 0, differing = 0;
  for (int y = 0; y < one.height(); ++y) {
    for (int x = 0; x < one.width(); ++x) {
      const QRgb a = two.pixel(2 * x, 2 * y);
      const bool uniform = two.pixel(2 * x + 1, 2 * y) == a && two.pixel(2 * x, 2 * y + 1) == a &&
                           two.pixel(2 * x + 1, 2 * y + 1) == a;
      if (text.contains(x, y)) {
        finer += uniform ? 0 : 1;
      } else if (!uniform || (a & 0xFFFFFF) != (one.pixel(x, y) & 0xFFFFFF)) {
        ++differing;
      }
    }
  }
  EXPECT_EQ(differing, 0) << what << ": the face away from the text follows the 1x rules";
  EXPECT_GT(finer, 10) << what << ": the text has detail finer than a 1x pixel";
}

}  // namespace

TEST(PixelRatio, TheButtonsCaptionIsDrawnAtTwice) {
  TGradBtn button(QStringLiteral("&Validate"));
  button.resize(137, 33);
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(13);
  font.setBold(true);
  button.setFont(font);
  const QImage one = button.RenderImage(1.0);
  const QImage two = button.RenderImage(2.0);
  const QFontMetrics fm(font);
  const int tw = fm.horizontalAdvance(QStringLiteral("Validate"));
  // The caption with its embossed copies, one pixel around.
  const QRect text((137 - tw) / 2 - 2, (33 - fm.height()) / 2 - 2, tw + 4, fm.height() + 4);
  ExpectCrispAtTwice(one, two, text, "button");
}

TEST(PixelRatio, TheBarsPercentageIsDrawnAtTwice) {
  TProgressCyl bar;
  bar.resize(150, 22);
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(12);
  font.setBold(true);
  bar.setFont(font);
  for (const TFontEffect effect : {feShadowBottomRight, feInvert}) {
    bar.SetFontEffect(effect);
    bar.SetPosition(30);
    const QImage one = bar.RenderImage(1.0);
    const QImage two = bar.RenderImage(2.0);
    const QFontMetrics fm(font);
    const int tw = fm.horizontalAdvance(QStringLiteral("30%"));
    const QRect text((150 - tw) / 2 - 2, (22 - fm.height()) / 2 - 1, tw + 4, fm.height() + 4);
    ExpectCrispAtTwice(one, two, text, effect == feInvert ? "bar, inverted" : "bar, shadowed");
  }
}
