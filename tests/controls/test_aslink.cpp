#include "controls/ASLink.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEnterEvent>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QMouseEvent>
#include <QTest>
#include <algorithm>
#include <memory>
#include <set>
#include <vector>

namespace {

struct TShellCall {
  QString File, Parameters, Directory;
  int Show;
};

// Puts a recording shell in for one test and takes it out again.
struct TRecordingShell {
  std::vector<TShellCall> Calls;
  int Result = 42;
  TShellOpenService Previous;
  TRecordingShell() {
    Previous = SetShellOpenService([this](const QString& f, const QString& p, const QString& d, int s) {
      Calls.push_back({f, p, d, s});
      return Result;
    });
  }
  ~TRecordingShell() { SetShellOpenService(Previous); }
};

QFont CrispFont(int pixels = 14) {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(pixels);
  font.setStyleStrategy(QFont::NoAntialias);
  return font;
}

const QColor Background(0, 0, 0);
const QColor TextRed(255, 0, 0);
const QColor ShadowGreen(0, 255, 0);

std::unique_ptr<TASLink> OpaqueLink(const QString& caption) {
  auto link = std::make_unique<TASLink>();
  link->setFont(CrispFont());
  link->SetTransparent(false);
  link->SetColor(Background);
  link->SetFontColor(TextRed);
  link->SetShadowColor(ShadowGreen);
  link->SetCaption(caption);
  return link;
}

// The size the text layout gives a caption (fractional advances round up).
QSize TextSize(const QFont& font, const QString& text) {
  return QFontMetrics(font).boundingRect(QRect(0, 0, 2000, 2000), Qt::AlignLeft | Qt::TextShowMnemonic, text).size();
}

std::vector<QPoint> PixelsOf(const QImage& image, const QColor& color) {
  std::vector<QPoint> points;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (image.pixelColor(x, y) == color) points.emplace_back(x, y);
    }
  }
  return points;
}

}  // namespace

TEST(ASLinkOpen, TargetsForEveryUrlTypeWithAndWithoutThePrefix) {
  const struct {
    TURLType Type;
    const char* Prefix;
  } cases[] = {
      {utFile, "file://"},     {utFtp, "ftp://"},     {utGopher, "gopher://"},
      {utHttp, "http://"},     {utHttps, "https://"}, {utMailto, "mailto:"},
      {utNews, "news:"},       {utTelnet, "telnet:"}, {utWais, "wais:"},
  };
  TRecordingShell shell;
  TASLink link;
  link.SetCaption(QStringLiteral("host.example/x?y=1"));
  for (const auto& c : cases) {
    for (bool add : {true, false}) {
      shell.Calls.clear();
      link.SetURLType(c.Type);
      link.SetURLTypeAdd(add);
      EXPECT_TRUE(link.OpenLink());
      ASSERT_EQ(shell.Calls.size(), 1u);
      const QString expected = (add ? QString::fromLatin1(c.Prefix) : QString()) + "host.example/x?y=1";
      EXPECT_EQ(shell.Calls[0].File, expected);
      EXPECT_EQ(shell.Calls[0].Parameters, "");
      EXPECT_EQ(shell.Calls[0].Directory, "");
      EXPECT_EQ(shell.Calls[0].Show, swShowNoActivate);
    }
  }
}

TEST(ASLinkOpen, DefaultIsAMailLinkAndTheCaptionIsNotInspected) {
  TRecordingShell shell;
  TASLink mail;
  mail.SetCaption(QStringLiteral("someone@example.org?subject=Tallyra"));
  EXPECT_EQ(mail.LinkTarget(), "mailto:someone@example.org?subject=Tallyra");
  TASLink web;
  web.SetURLType(utHttp);
  web.SetCaption(QStringLiteral("http://example.org"));
  EXPECT_EQ(web.LinkTarget(), "http://http://example.org");
}

TEST(ASLinkOpen, DisabledEmptyOrFailedLinksReportFalse) {
  TRecordingShell shell;
  TASLink link;
  EXPECT_FALSE(link.OpenLink());  // empty caption
  link.SetCaption(QStringLiteral("a@b"));
  link.SetURLEnabled(false);
  int clicks = 0;
  QObject::connect(&link, &TASLink::clicked, [&] { ++clicks; });
  EXPECT_FALSE(link.OpenLink());
  link.Click();
  EXPECT_EQ(clicks, 1);  // OnClick still runs
  EXPECT_TRUE(shell.Calls.empty());
  link.SetURLEnabled(true);
  shell.Result = 32;  // the shell's failure range ends at 32
  EXPECT_FALSE(link.OpenLink());
  shell.Result = 33;
  EXPECT_TRUE(link.OpenLink());
}

TEST(ASLinkOpen, LongTargetsGoWhole) {
  TRecordingShell shell;
  TASLink link;
  link.SetURLType(utHttps);
  const QString caption = QStringLiteral("example.org/") + QString(150, 'x');
  link.SetCaption(caption);
  ASSERT_TRUE(link.OpenLink());
  EXPECT_EQ(shell.Calls.at(0).File, "https://" + caption);
}

TEST(ASLinkOpen, AMouseClickRaisesOnClickFirstThenOpens) {
  TRecordingShell shell;
  TASLink link;
  link.SetCaption(QStringLiteral("a@b"));
  std::vector<std::string> order;
  QObject::connect(&link, &TASLink::clicked, [&] {
    order.push_back("click");
    EXPECT_TRUE(shell.Calls.empty());
  });
  link.show();
  QTest::mouseClick(&link, Qt::LeftButton, {}, QPoint(3, 3));
  ASSERT_EQ(order.size(), 1u);
  ASSERT_EQ(shell.Calls.size(), 1u);
  EXPECT_EQ(shell.Calls[0].File, "mailto:a@b");
  QTest::mouseClick(&link, Qt::RightButton, {}, QPoint(3, 3));
  EXPECT_EQ(shell.Calls.size(), 1u);
}

TEST(ASLinkOpen, ADoubleClickOpensTheLinkOnce) {
  TRecordingShell shell;
  TASLink link;
  link.SetCaption(QStringLiteral("a@b"));
  int clicks = 0, doubleClicks = 0;
  QObject::connect(&link, &TASLink::clicked, [&] { ++clicks; });
  QObject::connect(&link, &TASLink::doubleClicked, [&] { ++doubleClicks; });
  link.show();
  // The events a double-click brings a widget: press, release, press, double-click,
  // release.
  const QPointF at(3, 3);
  auto send = [&](QEvent::Type type) {
    QMouseEvent event(type, at, link.mapToGlobal(at), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&link, &event);
  };
  for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonPress,
                            QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}) {
    send(type);
  }
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(doubleClicks, 1);
  EXPECT_EQ(shell.Calls.size(), 1u);
  QTest::mouseClick(&link, Qt::LeftButton, {}, QPoint(3, 3));  // a later click clicks again
  EXPECT_EQ(shell.Calls.size(), 2u);
}

TEST(ASLinkPaint, ShadowLiesAtTheOffsetOfItsPosition) {
  const struct {
    TShadowPosition Pos;
    QPoint ShadowToText;  // where the text pixel lies, seen from a shadow pixel
  } cases[] = {
      {spLeftTop, {2, 2}}, {spLeftBottom, {2, -2}}, {spRightBottom, {-2, -2}}, {spRightTop, {-2, 2}},
  };
  for (const auto& c : cases) {
    auto link = OpaqueLink(QStringLiteral("Tallyra"));
    link->SetShadowSize(2);
    link->SetShadowPos(c.Pos);
    const QImage image = link->grab().toImage();
    const auto shadow = PixelsOf(image, ShadowGreen);
    const auto text = PixelsOf(image, TextRed);
    ASSERT_FALSE(shadow.empty()) << c.Pos;
    ASSERT_FALSE(text.empty()) << c.Pos;
    EXPECT_EQ(shadow.size() + text.size() + PixelsOf(image, Background).size(),
              static_cast<std::size_t>(image.width() * image.height()));
    for (const QPoint& p : shadow) {
      const QPoint t = p + c.ShadowToText;
      ASSERT_TRUE(image.rect().contains(t)) << c.Pos;
      EXPECT_EQ(image.pixelColor(t), TextRed) << c.Pos << " at " << p.x() << "," << p.y();
    }
  }
}

TEST(ASLinkPaint, ADisabledLinkIsGreyWithAOnePixelHighlightShadow) {
  auto link = OpaqueLink(QStringLiteral("Contact"));
  link->SetShadowSize(0);
  QPalette palette = link->palette();
  const QColor grey(128, 128, 128);
  const QColor highlight(255, 255, 255);
  palette.setColor(QPalette::Disabled, QPalette::WindowText, grey);
  palette.setColor(QPalette::Active, QPalette::Light, highlight);
  palette.setColor(QPalette::Disabled, QPalette::Light, highlight);
  link->setPalette(palette);
  link->setEnabled(false);
  const QImage image = link->grab().toImage();
  EXPECT_TRUE(PixelsOf(image, TextRed).empty());
  EXPECT_TRUE(PixelsOf(image, ShadowGreen).empty());
  const auto shadow = PixelsOf(image, highlight);
  ASSERT_FALSE(shadow.empty());
  ASSERT_FALSE(PixelsOf(image, grey).empty());
  // Below and to the right: every highlight pixel has grey text up and to the left.
  for (const QPoint& p : shadow) EXPECT_EQ(image.pixelColor(p - QPoint(1, 1)), grey);

  // Enabled again, a zero shadow lies exactly under the text: no green shows.
  link->setEnabled(true);
  const QImage enabled = link->grab().toImage();
  EXPECT_TRUE(PixelsOf(enabled, ShadowGreen).empty());
  EXPECT_FALSE(PixelsOf(enabled, TextRed).empty());
}

TEST(ASLinkPaint, LayoutPlacesTheTextTopCentreOrBottom) {
  for (TTextLayout layout : {tlTop, tlCenter, tlBottom}) {
    auto link = OpaqueLink(QStringLiteral("Xy"));
    link->SetShadowSize(0);
    const int lineHeight = link->height();
    link->SetAutoSize(false);
    link->resize(link->width(), 90);
    link->SetLayout(layout);
    const auto text = PixelsOf(link->grab().toImage(), TextRed);
    ASSERT_FALSE(text.empty());
    int top = 1000, bottom = -1;
    for (const QPoint& p : text) {
      top = std::min(top, p.y());
      bottom = std::max(bottom, p.y());
    }
    const int lineTop = layout == tlTop ? 0 : layout == tlBottom ? 90 - lineHeight : (90 - lineHeight) / 2;
    EXPECT_GE(top, lineTop) << layout;
    EXPECT_LT(bottom, lineTop + lineHeight) << layout;
  }
}

TEST(ASLinkBounds, AutoSizeFitsTheTextAndTheShadow) {
  auto link = OpaqueLink(QStringLiteral("Tallyra"));
  const QSize text = TextSize(link->font(), QStringLiteral("Tallyra"));
  const int lineHeight = TextSize(link->font(), QStringLiteral(" ")).height();
  link->SetShadowSize(3);
  EXPECT_EQ(link->height(), text.height() + 3);
  EXPECT_EQ(link->width(), text.width() + 3 + 2);  // one pixel on either side
  link->SetCaption(QString());
  EXPECT_EQ(link->height(), lineHeight + 3);  // an empty caption is one line high
  EXPECT_GT(lineHeight, 5);
  link->SetAutoSize(false);
  link->SetCaption(QStringLiteral("a much longer caption than before"));
  EXPECT_EQ(link->height(), lineHeight + 3);
  EXPECT_LT(link->width(), TextSize(link->font(), QStringLiteral("a much longer caption")).width());
}

TEST(ASLinkBounds, RightAlignedAutoSizeGrowsToTheLeft) {
  QWidget parent;
  parent.resize(600, 100);
  auto* link = new TASLink(&parent);
  link->setFont(CrispFont());
  link->move(300, 10);
  link->SetAlignment(taRightJustify);
  link->SetCaption(QStringLiteral("short"));
  const int right = link->x() + link->width();
  const int left = link->x();
  link->SetCaption(QStringLiteral("a good deal longer"));
  EXPECT_LT(link->x(), left);
  EXPECT_EQ(link->x() + link->width(), right);
  link->SetCaption(QStringLiteral("short"));
  EXPECT_EQ(link->x(), left);  // and back, without creeping
  EXPECT_EQ(link->x() + link->width(), right);

  link->SetAlignment(taLeftJustify);
  link->SetCaption(QStringLiteral("a good deal longer"));
  EXPECT_EQ(link->x(), left);
  EXPECT_GT(link->x() + link->width(), right);
}

TEST(ASLinkAccel, TheAcceleratorFocusesTheFocusControl) {
  QWidget window;
  auto* edit = new QLineEdit(&window);
  auto* other = new QLineEdit(&window);
  auto* link = new TASLink(&window);
  link->SetCaption(QStringLiteral("&Go to"));
  link->SetFocusControl(edit);
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  other->setFocus();
  EXPECT_FALSE(link->DialogChar('x'));
  EXPECT_TRUE(link->DialogChar('g'));  // either case
  EXPECT_EQ(QApplication::focusWidget(), edit);
  EXPECT_TRUE(link->FocusControlFocused());

  other->setFocus();
  EXPECT_FALSE(link->FocusControlFocused());
  link->SetShowAccelChar(false);
  EXPECT_FALSE(link->DialogChar('G'));
  link->SetShowAccelChar(true);
  link->setEnabled(false);
  EXPECT_FALSE(link->DialogChar('G'));
  link->setEnabled(true);
  edit->setEnabled(false);
  EXPECT_FALSE(link->DialogChar('G'));  // a control that cannot take the focus
  edit->setEnabled(true);

  link->SetCaption(QStringLiteral("Fish && &Chips"));
  EXPECT_FALSE(link->DialogChar('&'));
  EXPECT_TRUE(link->DialogChar('c'));

  delete edit;
  EXPECT_EQ(link->FocusControl(), nullptr);
  EXPECT_FALSE(link->DialogChar('c'));
}

TEST(ASLinkAccel, WithoutAccelCharsTheAmpersandIsDrawn) {
  auto withAccel = OpaqueLink(QStringLiteral("&Go"));
  auto literal = OpaqueLink(QString());
  literal->SetShowAccelChar(false);
  literal->SetCaption(QStringLiteral("&Go"));
  const QFont& font = withAccel->font();
  EXPECT_EQ(withAccel->width(), TextSize(font, QStringLiteral("Go")).width() + 2 + 1);
  EXPECT_EQ(literal->width(), TextSize(font, QStringLiteral("&&Go")).width() + 2 + 1);
  EXPECT_GT(PixelsOf(literal->grab().toImage(), TextRed).size(),
            PixelsOf(withAccel->grab().toImage(), TextRed).size());
}

TEST(ASLinkHover, TheLinkColourShowsWhileTheMouseIsOverIt) {
  TASLink link;
  link.SetFontColor(QColor(10, 20, 30));
  link.SetLinkColor(QColor(0, 0, 255));
  QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
  QApplication::sendEvent(&link, &enter);
  EXPECT_EQ(link.FontColor(), QColor(0, 0, 255));
  link.SetFontColor(QColor(200, 0, 0));  // changed during the hover: undone on leaving
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(&link, &leave);
  EXPECT_EQ(link.FontColor(), QColor(10, 20, 30));
}

TEST(DrawShadowText, MeasuresTheTextAndTheShadowTogether) {
  QImage image(200, 60, QImage::Format_RGB32);
  QPainter painter(&image);
  painter.setFont(CrispFont());
  const QSize text = TextSize(painter.font(), QStringLiteral("Abc"));
  QRect r(5, 5, 150, 40);
  const int h = DrawShadowText(painter, QStringLiteral("Abc"), spRightBottom, Qt::green, 4, Qt::AlignLeft, r, true);
  EXPECT_EQ(h, text.height() + 4);
  EXPECT_EQ(r, QRect(5, 5, text.width() + 4, text.height() + 4));
  QRect drawn(5, 5, 150, 40);
  DrawShadowText(painter, QStringLiteral("Abc"), spLeftTop, Qt::green, 2, Qt::AlignLeft, drawn, false);
  EXPECT_EQ(drawn, QRect(5, 5, 152, 42));  // the union of both rectangles
}

TEST(ASLinkPaint, AFocusMarkFramesTheTextWhileTheFocusControlHasTheFocus) {
  QWidget window;
  auto* edit = new QLineEdit(&window);
  auto* other = new QLineEdit(&window);
  TASLink* link = new TASLink(&window);
  link->setFont(CrispFont());
  link->SetTransparent(false);
  link->SetColor(Background);
  link->SetFontColor(TextRed);
  link->SetShadowSize(0);
  link->SetCaption(QStringLiteral("&Name"));
  QPalette palette = link->palette();
  const QColor mark(0, 128, 255);  // not the link colour a stray hover would bring
  palette.setColor(QPalette::WindowText, mark);
  link->setPalette(palette);
  link->SetFocusControl(edit);
  link->SetShowFocus(true);
  link->move(60, 60);
  window.resize(200, 200);
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  other->setFocus();
  EXPECT_TRUE(PixelsOf(link->grab().toImage(), mark).empty());
  edit->setFocus();
  ASSERT_TRUE(link->FocusControlFocused());
  const QImage focused = link->grab().toImage();
  const auto frame = PixelsOf(focused, mark);
  ASSERT_FALSE(frame.empty());
  // Dotted, on the left column and the top row.
  EXPECT_TRUE(std::any_of(frame.begin(), frame.end(), [](const QPoint& p) { return p.x() == 0 && p.y() > 2; }));
  EXPECT_TRUE(std::any_of(frame.begin(), frame.end(), [](const QPoint& p) { return p.y() == 0 && p.x() > 2; }));
  link->SetShowFocus(false);
  EXPECT_TRUE(PixelsOf(link->grab().toImage(), mark).empty());
}
