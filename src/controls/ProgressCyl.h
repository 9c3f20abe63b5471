#pragma once
// The progress bar of the status bar: a position between Min and Max shown as a filled
// part and a percentage text ("55%", or TextDone at 100 %).
#include <QColor>
#include <QString>
#include <QWidget>

class TProgressCyl : public QWidget {
  Q_OBJECT
public:
  explicit TProgressCyl(QWidget* parent = nullptr);

  int Min() const { return min_; }
  void SetMin(int value);
  int Max() const { return max_; }
  void SetMax(int value);
  int Position() const { return position_; }
  void SetPosition(int value);
  QString Text() const { return text_; }
  void SetText(const QString& text);
  QString TextDone() const { return textDone_; }
  void SetTextDone(const QString& text);
  QColor FontColor() const { return fontColor_; }
  void SetFontColor(const QColor& color);

  // The percentage shown, 0..100, halves rounded to even.
  int Percent() const;
  // The text drawn for the current percentage.
  QString DisplayText() const;

signals:
  void ProgressDone();

protected:
  void paintEvent(QPaintEvent* event) override;

private:
  int min_ = 0;
  int max_ = 100;
  int position_ = 0;
  int lastPercent_ = -1;
  QString text_ = QStringLiteral("%");
  QString textDone_ = QStringLiteral("Done");
  QColor fontColor_ = Qt::black;
};
