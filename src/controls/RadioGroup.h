#pragma once
// A captioned group of radio buttons with one selected item, or none (-1).
#include <QGroupBox>
#include <QStringList>

class QButtonGroup;
class QRadioButton;

class TRadioGroup : public QGroupBox {
  Q_OBJECT
public:
  TRadioGroup(const QString& caption, const QStringList& items, QWidget* parent = nullptr);

  int ItemIndex() const;
  // Below -1 selects nothing; past the last item selects the last item.
  void SetItemIndex(int index);
  int Count() const { return static_cast<int>(buttons_.size()); }
  QRadioButton* Button(int index) const { return buttons_.at(index); }

signals:
  void Click();

private:
  QButtonGroup* group_;
  QList<QRadioButton*> buttons_;
};
