// Renders every page of the main window offscreen to PNG files, with the page buttons and,
// on the check page, the cylinder bar as it looks during a check. Usage:
//   tallyra_shots OUTDIR
#include "app/Unit1.h"
#include "controls/FileCtrl.h"
#include "controls/FilCtl95.h"
#include "controls/GradBtn.h"
#include "controls/ProgressCyl.h"
#include "platform/Paths.h"
#include "platform/ScriptedDialogs.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPainter>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdio>

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: tallyra_shots OUTDIR\n");
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(out);
  QTemporaryDir home;
  TScriptedDialogs dialogs;
  TFormServices services;
  services.Paths = ProgramPathsFor((home.path() + QStringLiteral("/tallyra")).toStdString());
  services.Dialogs = &dialogs;
  TForm1 form(services);
  form.show();
  QApplication::processEvents();

  const char* names[] = {"1-create-sfv", "2-validate-sfv", "3-create-rar", "4-unrar", "5-help", "6-about"};
  for (int page = 0; page < form.PageControl1->count(); ++page) {
    form.PageControl1->setCurrentIndex(page);
    QApplication::processEvents();
    form.grab().save(out + QLatin1Char('/') + QLatin1String(names[page]) + QStringLiteral(".png"));
  }
  // A real check, caught in the middle of its first (sparse, all-zero) file.
  QFile big(home.path() + QStringLiteral("/big.bin"));
  if (big.open(QIODevice::WriteOnly) && big.resize(qint64(2) << 30)) {
    big.close();
    QFile sfv(home.path() + QStringLiteral("/set.sfv"));
    if (sfv.open(QIODevice::WriteOnly)) sfv.write("big.bin 00000000\r\nmissing.bin 12345678\r\n");
    sfv.close();
    form.PageControl1->setCurrentIndex(1);
    form.Directory95ListBox1->SetDirectory(home.path());
    form.FileListBox1->SetFileName(home.path() + QStringLiteral("/set.sfv"));
    QTimer::singleShot(400, &form, [&] {
      form.grab().save(out + QStringLiteral("/2b-validate-during-check.png"));
      form.Halted = true;
    });
    form.GradBtn5Click();
    form.grab().save(out + QStringLiteral("/2c-validate-halted.png"));
  }

  // The bar alone, large enough to see its pixels.
  form.PageControl1->setCurrentIndex(1);
  form.BeginWorkflow({});
  form.GradProgress1->show();
  for (int position : {0, 37, 100}) {
    form.GradProgress1->SetFontColor(position >= 50 ? Qt::white : Qt::black);
    form.GradProgress1->SetPosition(position);
    const QImage bar = form.GradProgress1->grab().toImage();
    bar.scaled(bar.size() * 4).save(out + QStringLiteral("/bar-%1.png").arg(position));
  }
  const QImage button = form.GradBtn5->grab().toImage();
  button.scaled(button.size() * 3).save(out + QStringLiteral("/button-validate.png"));
  // Held down (a right button presses the face without clicking).
  QTest::mousePress(form.GradBtn7, Qt::RightButton, {}, QPoint(5, 5));
  const QImage pressed = form.GradBtn7->grab().toImage();
  QTest::mouseRelease(form.GradBtn7, Qt::RightButton, {}, QPoint(5, 5));
  pressed.scaled(pressed.size() * 3).save(out + QStringLiteral("/button-clear-pressed.png"));

  // The eight pictures as drawn, four times their size, on a light background.
  const char* pictures[] = {"OPENFOLDER_95", "CLOSEDFOLDER_95", "CURRENTFOLDER_95", "FLOPPY_95",
                            "FIXED_95", "NETWORK_95", "CDROM_95", "RAM_95"};
  QImage sheet(8 * 72, 72, QImage::Format_RGB32);
  sheet.fill(QColor(0xF0, 0xF0, 0xF0));
  QPainter painter(&sheet);
  for (int i = 0; i < 8; ++i) {
    painter.drawPixmap(QRect(i * 72 + 4, 4, 64, 64), TransparentPicture95(QLatin1String(pictures[i])));
  }
  painter.end();
  sheet.save(out + QStringLiteral("/pictures.png"));
  return 0;
}
