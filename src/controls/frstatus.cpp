#include "controls/frstatus.h"

#include <QPainter>
#include <QSizeGrip>
#include <QStyleOption>

TFriendlyStatusBar::TFriendlyStatusBar(QWidget* parent)
    : QWidget(parent), grip_(new QSizeGrip(this)) {
  setFixedHeight(21);
  grip_->resize(grip_->sizeHint());
}

void TFriendlyStatusBar::SetPanelWidths(std::vector<int> widths) {
  panelWidths_ = std::move(widths);
  update();
}

void TFriendlyStatusBar::SetPanelWidth(int index, int width) {
  panelWidths_.at(static_cast<std::size_t>(index)) = width;
  update();
}

void TFriendlyStatusBar::SetSizeGrip(bool on) {
  sizeGrip_ = on;
  grip_->setVisible(on);
}

void TFriendlyStatusBar::resizeEvent(QResizeEvent*) {
  grip_->move(width() - grip_->width(), height() - grip_->height());
}

void TFriendlyStatusBar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QPalette& pal = palette();
  int left = 0;
  for (std::size_t i = 0; i < panelWidths_.size(); ++i) {
    // The last panel runs to the right edge, as a status bar's last panel does.
    const int right = i + 1 == panelWidths_.size() ? width() : left + panelWidths_[i];
    const QRect panel(left, 2, right - left - 2, height() - 2);
    painter.setPen(pal.color(QPalette::Dark));
    painter.drawLine(panel.topLeft(), panel.topRight());
    painter.drawLine(panel.topLeft(), panel.bottomLeft());
    painter.setPen(pal.color(QPalette::Light));
    painter.drawLine(panel.bottomLeft(), panel.bottomRight());
    painter.drawLine(panel.topRight(), panel.bottomRight());
    left = right;
  }
}
