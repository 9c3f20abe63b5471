// The "Help" and "About" pages.
#include "app/Unit1.h"

#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace {
// A borderless panel with a 10-pixel border around one child that fills it.
QWidget* FramedPanel(QWidget* child) {
  auto* panel = new QWidget;
  auto* layout = new QVBoxLayout(panel);
  layout->setContentsMargins(10, 10, 10, 10);
  layout->addWidget(child);
  return panel;
}
}  // namespace

QWidget* TForm1::CreateHelpPage() {
  Memo1 = new QPlainTextEdit;
  Memo1->setReadOnly(true);
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  QFont f(QStringLiteral("MS Sans Serif"));
  f.setPixelSize(13);
  Memo1->setFont(f);
  auto* groupBox6 = new QGroupBox;
  auto* inner = new QVBoxLayout(groupBox6);
  inner->setContentsMargins(0, 0, 0, 0);
  inner->addWidget(FramedPanel(Memo1));
  return FramedPanel(groupBox6);
}

QWidget* TForm1::CreateAboutPage() {
  auto* groupBox5 = new QGroupBox;
  auto* label2 = new QLabel(QStringLiteral("Tallyra"), groupBox5);
  label2->move(200, 16);
  Label7 = new QLabel(QStringLiteral("Label7"), groupBox5);
  Label7->move(200, 32);
  auto* label8 = new QLabel(QStringLiteral("Compile date:"), groupBox5);
  label8->move(200, 48);
  lblCompileDate = new QLabel(QStringLiteral("lblCompileDate"), groupBox5);
  lblCompileDate->move(272, 48);
  return FramedPanel(groupBox5);
}
