#include "controls/ProgressCyl.h"

#include <QPainter>
#include <cmath>

TProgressCyl::TProgressCyl(QWidget* parent) : QWidget(parent) {
  resize(150, 22);
  QFont f(QStringLiteral("Arial"));
  f.setPixelSize(12);
  f.setBold(true);
  setFont(f);
}

void TProgressCyl::SetMin(int value) {
  if (value == min_ || value > max_) return;
  min_ = value;
  SetPosition(std::max(position_, min_));
  update();
}

void TProgressCyl::SetMax(int value) {
  if (value == max_ || value < min_) return;
  max_ = value;
  SetPosition(std::min(position_, max_));
  update();
}

void TProgressCyl::SetPosition(int value) {
  value = std::clamp(value, min_, max_);
  position_ = value;
  const int percent = Percent();
  if (percent == lastPercent_) return;
  lastPercent_ = percent;
  if (position_ == max_) emit ProgressDone();
  update();
}

void TProgressCyl::SetText(const QString& text) {
  if (text == text_) return;
  text_ = text;
  update();
}

void TProgressCyl::SetTextDone(const QString& text) {
  if (text == textDone_) return;
  textDone_ = text;
  update();
}

void TProgressCyl::SetFontColor(const QColor& color) {
  if (color == fontColor_) return;
  fontColor_ = color;
  update();
}

int TProgressCyl::Percent() const {
  if (max_ == min_) return 0;
  return static_cast<int>(std::nearbyint(100.0 * (position_ - min_) / (max_ - min_)));
}

QString TProgressCyl::DisplayText() const {
  const int percent = Percent();
  if (percent == 100 && !textDone_.isEmpty()) return textDone_;
  return QString::number(percent) + text_;
}

void TProgressCyl::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect frame = rect().adjusted(0, 0, -1, -1);
  painter.fillRect(rect(), Qt::white);
  const int filled = frame.width() * Percent() / 100;
  painter.fillRect(QRect(frame.left(), frame.top(), filled, frame.height()), QColor(0x81CCFF));
  painter.setPen(Qt::black);
  painter.drawRect(frame);
  painter.setPen(fontColor_);
  painter.drawText(rect(), Qt::AlignCenter, DisplayText());
}
