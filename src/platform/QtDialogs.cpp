#include "platform/QtDialogs.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>

void TQtDialogs::ShowMessage(const QString& text) {
  QMessageBox::information(owner_, ApplicationTitle(), text, QMessageBox::Ok);
}

bool TQtDialogs::AskErrorYesNo(const QString& text) {
  return QMessageBox::critical(owner_, QStringLiteral("Error"), text,
                               QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::No) == QMessageBox::Yes;
}

void TQtDialogs::ShowException(const QString& text) {
  QMessageBox::critical(owner_, ApplicationTitle(), text, QMessageBox::Ok);
}

bool TQtDialogs::AskRetryCancel(const QString& text) {
  return QMessageBox::warning(owner_, ApplicationTitle(), text, QMessageBox::Retry | QMessageBox::Cancel,
                              QMessageBox::Retry) == QMessageBox::Retry;
}

std::optional<QString> TQtDialogs::InputBox(const QString& caption, const QString& prompt,
                                            const QString& defaultText) {
  bool ok = false;
  const QString text =
      QInputDialog::getText(owner_, caption, prompt, QLineEdit::Normal, defaultText, &ok);
  if (!ok) return std::nullopt;
  return text;
}

std::optional<QString> TQtDialogs::PasswordBox(const QString& caption, const QString& prompt) {
  QInputDialog dialog(owner_);
  dialog.setWindowTitle(caption);
  dialog.setLabelText(prompt);
  dialog.setTextEchoMode(QLineEdit::Password);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.textValue();
}

std::optional<QString> TQtDialogs::SaveFile(const TSaveRequest& request) {
  QFileDialog dialog(owner_, request.Title, request.InitialDir, QtFilterFromPairs(request.Filter));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(request.DefaultExt);
  if (!request.PromptOverwrite) dialog.setOption(QFileDialog::DontConfirmOverwrite);
  if (!request.FileName.isEmpty()) dialog.selectFile(request.FileName);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().constFirst();
}
