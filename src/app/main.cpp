// Program entry: the application object titled "Tallyra", the main window, the loop.
#include "app/Unit1.h"

#include <QApplication>
#include <QDirIterator>
#include <QFile>
#include <QIcon>

namespace {

// Errors a handler does not catch end up here and are shown in a message box with
// their text; the program carries on, as the runtime's default handler would.
class TApplication final : public QApplication {
public:
  using QApplication::QApplication;
  TForm1* MainForm = nullptr;

  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
      if (MainForm != nullptr) MainForm->HandleException(error);
      return false;
    }
  }
};

}  // namespace

int main(int argc, char* argv[]) {
  TApplication app(argc, argv);
  // The name only: a display name would be added to every window title on X11
  // ("Errors — Tallyra"), and the titles are the program's own texts.
  QApplication::setApplicationName(QStringLiteral("Tallyra"));
  // The desktop entry's id, so that desktops match the window with its menu entry and icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("tallyra"));
  QIcon icon;
  QDirIterator sizes(QStringLiteral(":/icons"), {QStringLiteral("tallyra.png")}, QDir::Files,
                     QDirIterator::Subdirectories);
  while (sizes.hasNext()) icon.addFile(sizes.next());
  QApplication::setWindowIcon(icon);

  TFormServices services;
  services.Paths = ResolveProgramPaths();
  for (int i = 1; i < argc; ++i) services.Arguments << QFile::decodeName(argv[i]);

  TForm1 form(services);
  app.MainForm = &form;
  form.show();
  const int result = app.exec();
  app.MainForm = nullptr;
  return result;
}
