#pragma once
#include "platform/Dialogs.h"

#include <deque>
#include <vector>

// Dialogs answered from a script, for tests: every call is recorded, and answers are
// taken from queues in order. An empty queue answers No / Cancel.
class TScriptedDialogs final : public IDialogs {
public:
  enum class TKind { Message, ErrorYesNo, Exception, RetryCancel, Input, Password, Save };
  struct TCall {
    TKind Kind;
    QString Text;  // the message, question or prompt; the title of a save dialog
    TSaveRequest Save;
    QString Caption;  // of an input or password box
  };

  void ShowMessage(const QString& text) override;
  bool AskErrorYesNo(const QString& text) override;
  void ShowException(const QString& text) override;
  bool AskRetryCancel(const QString& text) override;
  std::optional<QString> InputBox(const QString& caption, const QString& prompt,
                                  const QString& defaultText) override;
  std::optional<QString> PasswordBox(const QString& caption, const QString& prompt) override;
  std::optional<QString> SaveFile(const TSaveRequest& request) override;

  std::deque<bool> YesNoAnswers;
  std::deque<bool> RetryAnswers;
  std::deque<std::optional<QString>> InputAnswers;
  std::deque<std::optional<QString>> PasswordAnswers;
  std::deque<std::optional<QString>> SaveAnswers;
  std::vector<TCall> Calls;

  // The texts of the calls of one kind, in order.
  QStringList Texts(TKind kind) const;
};
