#include "platform/ScriptedDialogs.h"

namespace {
template <typename T>
T PopOr(std::deque<T>& queue, T fallback) {
  if (queue.empty()) return fallback;
  T value = std::move(queue.front());
  queue.pop_front();
  return value;
}
}  // namespace

void TScriptedDialogs::ShowMessage(const QString& text) {
  Calls.push_back({TKind::Message, text, {}});
}

bool TScriptedDialogs::AskErrorYesNo(const QString& text) {
  Calls.push_back({TKind::ErrorYesNo, text, {}});
  return PopOr(YesNoAnswers, false);
}

void TScriptedDialogs::ShowException(const QString& text) {
  Calls.push_back({TKind::Exception, text, {}});
}

std::optional<QString> TScriptedDialogs::InputBox(const QString& caption, const QString& prompt,
                                                  const QString& defaultText) {
  Q_UNUSED(caption);
  Q_UNUSED(defaultText);
  Calls.push_back({TKind::Input, prompt, {}});
  return PopOr(InputAnswers, std::optional<QString>());
}

std::optional<QString> TScriptedDialogs::SaveFile(const TSaveRequest& request) {
  Calls.push_back({TKind::Save, request.Title, request});
  return PopOr(SaveAnswers, std::optional<QString>());
}

QStringList TScriptedDialogs::Texts(TKind kind) const {
  QStringList texts;
  for (const TCall& call : Calls) {
    if (call.Kind == kind) texts << call.Text;
  }
  return texts;
}
