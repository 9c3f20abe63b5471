#pragma once
#include <QString>
#include <QStringList>
#include <optional>

// Every question and notice the window puts to the user goes through this seam, so
// tests can answer it (TScriptedDialogs) and the real program asks with Qt's boxes
// (TQtDialogs). Calls come from the GUI thread and block until answered.
class IDialogs {
public:
  virtual ~IDialogs() = default;

  // A plain notice in an OK box titled with the application's title.
  virtual void ShowMessage(const QString& text) = 0;
  // A question in an error-type box (error icon, title "Error") with Yes and No;
  // true for Yes.
  virtual bool AskErrorYesNo(const QString& text) = 0;
  // An error the workflows do not catch, shown as the default handler would.
  virtual void ShowException(const QString& text) = 0;
  // A warning with Retry and Cancel; true for Retry.
  virtual bool AskRetryCancel(const QString& text) = 0;
  // A one-line input box; nothing when cancelled.
  virtual std::optional<QString> InputBox(const QString& caption, const QString& prompt,
                                          const QString& defaultText) = 0;
  // The same for a password: what is typed is masked and starts empty; nothing when cancelled.
  virtual std::optional<QString> PasswordBox(const QString& caption, const QString& prompt) = 0;

  struct TSaveRequest {
    QString Title;
    QString Filter;      // "Rar Files (*.rar)|*.rar|All Files (*.*)|*.*"
    QString DefaultExt;  // without the dot
    QString InitialDir;
    QString FileName;
    bool PromptOverwrite = true;
  };
  // A save dialog; the chosen path, or nothing when cancelled.
  virtual std::optional<QString> SaveFile(const TSaveRequest& request) = 0;
};

// The application's title, used as the caption of plain notices.
QString ApplicationTitle();

// Turns a "Name (*.a)|*.a|All (*.*)|*.*" filter into Qt's "Name (*.a);;All (*.*)".
QString QtFilterFromPairs(const QString& filter);
