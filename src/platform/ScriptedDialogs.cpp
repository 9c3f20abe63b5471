#include "platform/ScriptedDialogs.h"

namespace {
bool PopAnswer(std::deque<bool>& queue) {
  if (queue.empty()) return false;
  const bool value = queue.front();
  queue.pop_front();
  return value;
}

std::optional<QString> PopAnswer(std::deque<std::optional<QString>>& queue) {
  std::optional<QString> value;
  if (!queue.empty()) {
    value.swap(queue.front());
    queue.pop_front();
  }
  return value;
}
}  // namespace

void TScriptedDialogs::ShowMessage(const QString& text) {
  Calls.push_back({TKind::Message, text, {}, {}});
}

bool TScriptedDialogs::AskErrorYesNo(const QString& text) {
  Calls.push_back({TKind::ErrorYesNo, text, {}, {}});
  return PopAnswer(YesNoAnswers);
}

void TScriptedDialogs::ShowException(const QString& text) {
  Calls.push_back({TKind::Exception, text, {}, {}});
}

bool TScriptedDialogs::AskRetryCancel(const QString& text) {
  Calls.push_back({TKind::RetryCancel, text, {}, {}});
  return PopAnswer(RetryAnswers);
}

std::optional<QString> TScriptedDialogs::InputBox(const QString& caption, const QString& prompt,
                                                  const QString& defaultText) {
  Q_UNUSED(defaultText);
  Calls.push_back({TKind::Input, prompt, {}, caption});
  return PopAnswer(InputAnswers);
}

std::optional<QString> TScriptedDialogs::PasswordBox(const QString& caption, const QString& prompt) {
  Calls.push_back({TKind::Password, prompt, {}, caption});
  return PopAnswer(PasswordAnswers);
}

std::optional<QString> TScriptedDialogs::SaveFile(const TSaveRequest& request) {
  Calls.push_back({TKind::Save, request.Title, request, {}});
  return PopAnswer(SaveAnswers);
}

QStringList TScriptedDialogs::Texts(TKind kind) const {
  QStringList texts;
  for (const TCall& call : Calls) {
    if (call.Kind == kind) texts << call.Text;
  }
  return texts;
}
