#pragma once
// The error report window: the error list in an editable fixed-pitch memo, "&OK" to close
// and "Save" to write the (possibly edited) lines to a log file. Modal; created and freed
// for each showing by TForm1::ShowErrorReport.
#include <QDialog>
#include <QString>

class IDialogs;
class QPlainTextEdit;
class QPushButton;
class QWidget;

class TfrmError : public QDialog {
  Q_OBJECT
public:
  TfrmError(IDialogs& dialogs, QWidget* parent = nullptr);

  QString LogFolder;
  QWidget* Panel1 = nullptr;
  QPlainTextEdit* Memo1 = nullptr;
  QWidget* Panel2 = nullptr;
  QPushButton* Button1 = nullptr;  // "&OK"
  QPushButton* Button2 = nullptr;  // "Save"

  void Button1Click();
  void Button2Click();
  void FormResize();

  // The memo's lines, as the user left them.
  QStringList Lines() const;

protected:
  void resizeEvent(QResizeEvent* event) override;

private:
  IDialogs& dialogs_;
};
