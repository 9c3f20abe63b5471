#include "controls/GradBtn.h"

TGradBtn::TGradBtn(const QString& caption, QWidget* parent) : QPushButton(caption, parent) {
  QFont f(QStringLiteral("Microsoft Sans Serif"));
  f.setPixelSize(13);
  f.setBold(true);
  setFont(f);
  setAutoDefault(false);
}
