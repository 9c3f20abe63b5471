#include "controls/ProgressCyl.h"
#include "controls/RadioGroup.h"
#include "controls/frstatus.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QSignalSpy>

TEST(RadioGroup, ItemIndexRules) {
  TRadioGroup group("Base SFV filename on...", {"First selected filename", "Directory name",
                                               "Custom name"});
  const struct {
    int Set;
    int Get;
  } cases[] = {{1, 1}, {0, 0}, {7, 2}, {-1, -1}, {2, 2}, {-5, -1}};
  for (const auto& c : cases) {
    group.SetItemIndex(c.Set);
    EXPECT_EQ(group.ItemIndex(), c.Get) << c.Set;
  }
}

TEST(ProgressCyl, TextAndDoneEvent) {
  TProgressCyl bar;
  QSignalSpy done(&bar, &TProgressCyl::ProgressDone);
  bar.SetPosition(55);
  EXPECT_EQ(bar.DisplayText(), "55%");
  bar.SetPosition(100);
  EXPECT_EQ(bar.DisplayText(), "Done");
  bar.SetPosition(100);
  EXPECT_EQ(done.count(), 1);  // the same position twice raises it once
  bar.SetTextDone("");
  EXPECT_EQ(bar.DisplayText(), "100%");
  bar.SetText("");
  EXPECT_EQ(bar.DisplayText(), "100");
  bar.SetPosition(250);
  EXPECT_EQ(bar.Position(), 100);  // kept inside Min..Max
}

TEST(ProgressCyl, PercentRoundsHalvesToEven) {
  TProgressCyl bar;
  bar.SetMax(200);
  const struct {
    int Position;
    int Percent;
  } cases[] = {{1, 0}, {3, 2}, {5, 2}, {7, 4}, {199, 100}};
  for (const auto& c : cases) {
    bar.SetPosition(c.Position);
    EXPECT_EQ(bar.Percent(), c.Percent) << c.Position;
  }
}

TEST(FriendlyStatusBar, HostsChildrenAndSwitchesTheGrip) {
  TFriendlyStatusBar bar;
  bar.SetPanelWidths({200, 50});
  auto* label = new QLabel("status", &bar);
  label->move(4, 4);
  bar.resize(605, 21);
  bar.resize(800, 21);
  EXPECT_EQ(label->parentWidget(), &bar);
  EXPECT_EQ(label->pos(), QPoint(4, 4));
  bar.SetSizeGrip(false);
  EXPECT_FALSE(bar.SizeGrip());
  EXPECT_EQ(bar.PanelWidth(1), 50);
}
