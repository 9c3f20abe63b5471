#include "app/Unit2.h"

#include "platform/Dialogs.h"

#include <QFile>
#include <QFrame>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

TfrmError::TfrmError(IDialogs& dialogs, QWidget* parent) : QDialog(parent), dialogs_(dialogs) {
  setWindowTitle(QStringLiteral("Errors"));
  setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setPixelSize(11);
  setFont(font);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  auto* panel1 = new QFrame;
  panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  Panel1 = panel1;
  auto* panel1Layout = new QVBoxLayout(panel1);
  panel1Layout->setContentsMargins(10, 10, 10, 10);
  Memo1 = new QPlainTextEdit;
  QFont terminal(QStringLiteral("Terminal"));
  terminal.setStyleHint(QFont::TypeWriter);
  terminal.setPixelSize(13);
  Memo1->setFont(terminal);
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  panel1Layout->addWidget(Memo1);
  layout->addWidget(panel1, 1);

  auto* panel2 = new QFrame;
  panel2->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel2->setFixedHeight(41);
  Panel2 = panel2;
  Button1 = new QPushButton(QStringLiteral("&OK"), panel2);
  Button1->setGeometry(88, 8, 75, 25);
  Button2 = new QPushButton(QStringLiteral("Save"), panel2);
  Button2->setGeometry(176, 8, 75, 25);
  layout->addWidget(panel2);

  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
  setFixedSize(352, 226);
}

void TfrmError::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  FormResize();
}

void TfrmError::FormResize() {
  // Button1 ends 10 pixels left of the middle; Button2 starts at it.
  const int w = Panel2->width() > 0 ? Panel2->width() : width();
  Button1->move(w / 2 - Button1->width() - 10, Button1->y());
  Button2->move(Button1->x() + Button1->width() + 10, Button2->y());
}

void TfrmError::Button1Click() { accept(); }

QStringList TfrmError::Lines() const {
  QStringList lines = Memo1->toPlainText().split(QLatin1Char('\n'));
  // A text that ends in a line break has no empty line after it.
  if (!lines.isEmpty() && lines.constLast().isEmpty()) lines.removeLast();
  return lines;
}

void TfrmError::Button2Click() {
  IDialogs::TSaveRequest request;
  request.Title = QStringLiteral("Save SFV Error Log");
  request.Filter = QStringLiteral("Log Files (*.log)|*.log|All Files (*.*)|*.*");
  request.InitialDir = LogFolder;
  request.PromptOverwrite = false;
  const std::optional<QString> path = dialogs_.SaveFile(request);
  if (!path) return;
  QByteArray bytes;
  for (const QString& line : Lines()) bytes += line.toLocal8Bit() + "\r\n";
  QFile file(*path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
    dialogs_.ShowException(QStringLiteral("Cannot create file ") + *path);
  }
}
