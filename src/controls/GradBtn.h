#pragma once
// The page buttons. The caption's "&" marks the accelerator key.
#include <QPushButton>

class TGradBtn : public QPushButton {
  Q_OBJECT
public:
  explicit TGradBtn(const QString& caption, QWidget* parent = nullptr);

  QString Caption() const { return text(); }
  void SetCaption(const QString& caption) { setText(caption); }
};
