#pragma once
#include "platform/Dialogs.h"

class QWidget;

// The real dialogs: Qt's message boxes, input dialog and file dialog, owned by a window.
class TQtDialogs final : public IDialogs {
public:
  explicit TQtDialogs(QWidget* owner) : owner_(owner) {}

  void ShowMessage(const QString& text) override;
  bool AskErrorYesNo(const QString& text) override;
  void ShowException(const QString& text) override;
  bool AskRetryCancel(const QString& text) override;
  std::optional<QString> InputBox(const QString& caption, const QString& prompt,
                                  const QString& defaultText) override;
  std::optional<QString> PasswordBox(const QString& caption, const QString& prompt) override;
  std::optional<QString> SaveFile(const TSaveRequest& request) override;

private:
  QWidget* owner_;
};
