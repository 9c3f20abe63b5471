// The "Help" and "About" pages. Both are filled once, when the window is made; the
// version and build date labels get their texts in FormCreate.
#include "app/Unit1.h"

#include "app/AppResources.h"
#include "app/JpegImage.h"
#include "controls/ASLink.h"

#include <QGroupBox>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QVBoxLayout>
#include <algorithm>

namespace {

// Where the Tallyra developers can be reached. example.org is the reserved example
// domain: these are the program's stand-in addresses until it has a home of its own.
const QString ContactMail = QStringLiteral("tallyra@example.org");
const QString ContactWeb = QStringLiteral("https://tallyra.example.org/");

// A borderless panel with a 10-pixel border around one child that fills it.
QWidget* FramedPanel(QWidget* child) {
  auto* panel = new QWidget;
  auto* layout = new QVBoxLayout(panel);
  layout->setContentsMargins(10, 10, 10, 10);
  layout->addWidget(child);
  return panel;
}

QFont CreditFont(bool bold) {
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setPixelSize(11);
  font.setBold(bold);
  return font;
}

// A centred credit line across the group box.
QLabel* CreditLabel(const QString& text, QWidget* parent, int top, int height, bool bold) {
  auto* label = new QLabel(text, parent);
  label->setFont(CreditFont(bold));
  label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  label->setGeometry(2, top, 570, height);
  return label;
}

TASLink* ContactLink(const QString& caption, QWidget* parent, int left, int top) {
  auto* link = new TASLink(parent);
  link->move(left, top);
  link->SetTransparent(true);
  link->SetCaption(caption);
  return link;
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
  QString guide = QString::fromUtf8(HelpTextUtf8);
  // The file ends its last line; the memo would show that as one more, empty line.
  if (guide.endsWith('\n')) guide.chop(1);
  Memo1->setPlainText(guide);
  auto* groupBox6 = new QGroupBox;
  auto* inner = new QVBoxLayout(groupBox6);
  inner->setContentsMargins(0, 0, 0, 0);
  inner->addWidget(FramedPanel(Memo1));
  return FramedPanel(groupBox6);
}

QWidget* TForm1::CreateAboutPage() {
  auto* groupBox5 = new QGroupBox;

  Image1 = new QLabel(groupBox5);
  Image1->setAttribute(Qt::WA_TranslucentBackground);
  const QImage picture = DecodeJpeg(AboutPictureJpeg, AboutPictureJpegSize);
  Image1->setPixmap(QPixmap::fromImage(picture));
  Image1->setGeometry(12, 16, picture.width(), picture.height());

  auto* label2 = new QLabel(QStringLiteral("Tallyra"), groupBox5);
  label2->move(200, 16);
  label2->adjustSize();
  Label7 = new QLabel(QStringLiteral("Label7"), groupBox5);
  Label7->setGeometry(200, 32, 360, 13);  // room for any version text
  auto* label8 = new QLabel(QStringLiteral("Compile date:"), groupBox5);
  label8->move(200, 48);
  label8->adjustSize();
  lblCompileDate = new QLabel(QStringLiteral("lblCompileDate"), groupBox5);
  // At 272, unless the font standing in for "MS Sans Serif" makes "Compile date:" reach
  // past it; the date then follows it instead of overlapping it. Wide enough for any date.
  lblCompileDate->setGeometry(std::max(272, label8->x() + label8->width() + 4), 48, 300, 13);

  CreditLabel(QStringLiteral("Tallyra checks and makes SFV files and RAR archives."), groupBox5, 104, 13, false);
  CreditLabel(QStringLiteral("Written by the Tallyra developers"), groupBox5, 128, 13, true);
  CreditLabel(QStringLiteral("Contact info:"), groupBox5, 152, 13, false);

  ASLink1 = ContactLink(ContactMail, groupBox5, 216, 168);
  ASLink1->SetShadowSize(0);
  ASLink1->SetURLEnabled(false);
  connect(ASLink1, &TASLink::clicked, this, [this] { ASLink1Click(); });

  ASLink3 = ContactLink(ContactWeb, groupBox5, 176, 184);
  ASLink3->SetShadowSize(0);
  ASLink3->SetURLTypeAdd(false);
  ASLink3->SetURLType(utHttp);

  auto* label6 = CreditLabel(QStringLiteral("Questions, bug reports and ideas are welcome by mail or "
                                            "on the project's web page."),
                             groupBox5, 216, 33, false);
  label6->setWordWrap(true);

  ASLink2 = ContactLink(ContactMail + QStringLiteral("?subject=") + QStringLiteral("Tallyra"), groupBox5, 168, 240);
  ASLink2->setVisible(false);

  return FramedPanel(groupBox5);
}

// The visible address opens nothing itself: the hidden one carries the subject line.
void TForm1::ASLink1Click() { ASLink2->OpenLink(); }
