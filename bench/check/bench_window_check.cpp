// Times the window's own check of an SFV file, offscreen: the owner-drawn list, the
// progress bar and the message pump included. Prints the failures and the seconds.
#include "app/Unit1.h"
#include "platform/ScriptedDialogs.h"

#include <QApplication>
#include <QDir>
#include <QTabWidget>
#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: bench_window_check FILE.sfv\n");
    return 2;
  }
  TScriptedDialogs dialogs;
  TFormServices services;
  services.Paths = ProgramPathsFor(QDir::tempPath().toStdString() + "/tallyra-bench/tallyra");
  services.Dialogs = &dialogs;
  TForm1 form(services);
  form.show();
  // As a user sees it: the check's page in front and painted before the check starts.
  form.PageControl1->setCurrentWidget(form.TabSheet2);
  QCoreApplication::processEvents();
  const QString sfv = QFile::decodeName(argv[1]);
  form.WorkDir = QFileInfo(sfv).absolutePath() + "/";
  const auto start = std::chrono::steady_clock::now();
  form.ValidateSfv(sfv);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%d %.4f\n", static_cast<int>(form.ErrorList.size()), seconds);
  return form.ErrorList.isEmpty() ? 0 : 1;
}
