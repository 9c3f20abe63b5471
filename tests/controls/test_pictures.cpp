#include "controls/FilCtl95.h"
#include "controls/frstatus.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QVBoxLayout>

namespace {

const char* const Names[] = {"OPENFOLDER_95", "CLOSEDFOLDER_95", "CURRENTFOLDER_95", "FLOPPY_95",
                             "FIXED_95",      "NETWORK_95",      "CDROM_95",         "RAM_95"};

QImage Argb(const QPixmap& p) { return p.toImage().convertToFormat(QImage::Format_ARGB32); }

}  // namespace

TEST(Pictures95, EightSixteenColourPicturesWithATransparentCorner) {
  std::vector<QImage> seen;
  for (const char* name : Names) {
    const QImage raw = Picture95(name);
    ASSERT_FALSE(raw.isNull()) << name;
    EXPECT_EQ(raw.size(), QSize(16, 16)) << name;
    EXPECT_EQ(raw.format(), QImage::Format_Indexed8) << name;  // how a 4-bit BMP loads
    EXPECT_LE(raw.colorCount(), 16) << name;

    const QImage shown = Argb(TransparentPicture95(name));
    const QRgb key = raw.pixel(0, 15);
    int clear = 0;
    for (int y = 0; y < 16; ++y) {
      for (int x = 0; x < 16; ++x) {
        const bool transparent = qAlpha(shown.pixel(x, y)) == 0;
        EXPECT_EQ(transparent, raw.pixel(x, y) == key) << name << " " << x << "," << y;
        clear += transparent;
      }
    }
    EXPECT_GT(clear, 0) << name;
    EXPECT_LT(clear, 200) << name;  // there is a picture left
    for (const QImage& other : seen) EXPECT_NE(other, raw) << name;
    seen.push_back(raw);
  }
  EXPECT_TRUE(Picture95("NOSUCH_95").isNull());
  EXPECT_TRUE(Picture95("").isNull());
}

TEST(Pictures95, EachDriveTypeHasItsPicture) {
  const struct {
    TDriveType Type;
    const char* Name;
  } cases[] = {{TDriveType::Removable, "FLOPPY_95"}, {TDriveType::Fixed, "FIXED_95"},
               {TDriveType::Network, "NETWORK_95"},  {TDriveType::CDRom, "CDROM_95"},
               {TDriveType::RamDisk, "RAM_95"},      {TDriveType::Unknown, "FIXED_95"}};
  for (const auto& c : cases) EXPECT_EQ(DrivePictureName(c.Type), c.Name);
}

TEST(Drive95ComboBox, ARamDiskShowsTheRamPicture) {
  TDrive95ComboBox drives;
  ASSERT_EQ(drives.count(), static_cast<int>(drives.Drives().size()));
  int ramDisks = 0;
  for (int i = 0; i < drives.count(); ++i) {
    const TDriveType type = drives.Drives()[static_cast<std::size_t>(i)].Type;
    const QImage icon = Argb(drives.itemIcon(i).pixmap(16, 16));
    EXPECT_EQ(icon, Argb(TransparentPicture95(DrivePictureName(type)))) << drives.itemText(i).toStdString();
    if (type == TDriveType::RamDisk) {
      ++ramDisks;
      EXPECT_NE(icon, Argb(TransparentPicture95("FLOPPY_95")));
    }
  }
  if (ramDisks == 0) GTEST_SKIP() << "no tmpfs or ramfs mount on this machine";
}

TEST(Drive95ComboBox, ItemsAreAtLeastAsHighAsAPicture) {
  for (int pixels : {6, 11, 30}) {
    TDrive95ComboBox drives;
    QFont f = drives.font();
    f.setPixelSize(pixels);
    drives.setFont(f);
    ASSERT_GT(drives.count(), 0);
    const int height = drives.view()->sizeHintForRow(0);
    EXPECT_GE(height, 16) << pixels;
    EXPECT_GE(height, QFontMetrics(f).height()) << pixels;
    EXPECT_EQ(drives.ItemHeight(), std::max(16, QFontMetrics(f).height())) << pixels;
  }
}

TEST(Directory95ListBox, ItemHeightFollowsTheFontButNotBelowSeventeen) {
  for (int pixels : {6, 11, 30}) {
    TDirectory95ListBox folders;
    QFont f = folders.font();
    f.setPixelSize(pixels);
    folders.setFont(f);
    EXPECT_EQ(folders.ItemHeight(), std::max(17, QFontMetrics(f).height())) << pixels;
    EXPECT_EQ(folders.sizeHintForRow(0), folders.ItemHeight()) << pixels;
  }
}

TEST(Directory95ListBox, PicturesIndentFourPixelsPerLevel) {
  TDirectory95ListBox folders;
  folders.resize(300, 400);
  folders.SetDirectory("/usr/share");
  folders.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&folders));
  ASSERT_GE(folders.count(), 3);
  EXPECT_EQ(folders.item(0)->icon().pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32),
            Argb(TransparentPicture95("OPENFOLDER_95")));
  EXPECT_EQ(Argb(folders.item(2)->icon().pixmap(16, 16)), Argb(TransparentPicture95("CURRENTFOLDER_95")));

  // The opened-folder picture's first column is its outline from row 4 down: find it.
  const QImage shot = folders.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
  auto outlineLeft = [&](int row) {
    const QRect r = folders.visualItemRect(folders.item(row));
    const int y = r.top() + (r.height() - 16) / 2 + 8;
    const QRgb background = shot.pixel(r.right() - 1, y);
    for (int x = r.left(); x < r.right(); ++x) {
      if (shot.pixel(x, y) != background) return x - r.left();
    }
    return -1;
  };
  EXPECT_EQ(outlineLeft(0), 2);
  EXPECT_EQ(outlineLeft(1), 6);
}

TEST(FriendlyStatusBar, AHostedControlMovesWithTheBar) {
  QWidget window;
  auto* layout = new QVBoxLayout(&window);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(new QWidget, 1);
  auto* bar = new TFriendlyStatusBar;
  bar->SetPanelWidths({200, 50});
  layout->addWidget(bar);
  auto* label = new QLabel(QStringLiteral("status"), bar);
  label->setGeometry(4, 4, 70, 13);
  window.resize(605, 348);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  for (const QSize size : {QSize(605, 348), QSize(800, 500), QSize(400, 200)}) {
    window.resize(size);
    QApplication::processEvents();
    EXPECT_EQ(bar->geometry().bottom(), size.height() - 1);
    EXPECT_EQ(label->parentWidget(), bar);
    EXPECT_TRUE(bar->rect().contains(label->geometry()));
    EXPECT_EQ(label->mapTo(&window, QPoint(0, 0)), bar->pos() + QPoint(4, 4));
  }
}
