// Preloaded (LD_PRELOAD) into an installed tallyra by test_install.sh, so that the real
// program, started the way a file manager starts it, can run to the end offscreen with
// nothing of the test compiled into it. It presses the default button of every modal
// dialog as it appears (the folder dialog's OK takes the proposed target), and once the
// status label reads "Extracted N files" it prints the text of every text area and label
// and closes the windows, which saves the settings as a user's close would.
#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {

bool Finished() {
  for (QWidget* window : QApplication::topLevelWidgets()) {
    for (const QLabel* label : window->findChildren<QLabel*>()) {
      const QString text = label->text();
      if (text.startsWith(QLatin1String("Extracted ")) && text.endsWith(QLatin1String(" files"))) return true;
    }
  }
  return false;
}

void PrintTexts() {
  for (QWidget* window : QApplication::topLevelWidgets()) {
    for (const QPlainTextEdit* memo : window->findChildren<QPlainTextEdit*>()) {
      std::printf("%s\n", memo->toPlainText().toLocal8Bit().constData());
    }
    for (const QLabel* label : window->findChildren<QLabel*>()) {
      std::printf("label: %s\n", label->text().toLocal8Bit().constData());
    }
  }
  std::fflush(stdout);
}

void Poll() {
  if (QWidget* modal = QApplication::activeModalWidget()) {
    for (QPushButton* button : modal->findChildren<QPushButton*>()) {
      if (button->isDefault() && button->isEnabled()) {
        button->click();
        return;
      }
    }
    return;
  }
  if (Finished()) {
    PrintTexts();
    QApplication::closeAllWindows();
  }
}

void StartDriver() {
  auto* timer = new QTimer(QCoreApplication::instance());
  QObject::connect(timer, &QTimer::timeout, &Poll);
  timer->start(50);
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(StartDriver)
