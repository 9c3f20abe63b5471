#pragma once
// A status bar that hosts child controls (the status label and the progress bar) over
// its panels. Children keep their positions; the window lays them out on resize.
#include <QWidget>
#include <vector>

class QSizeGrip;

class TFriendlyStatusBar : public QWidget {
  Q_OBJECT
public:
  explicit TFriendlyStatusBar(QWidget* parent = nullptr);

  int PanelCount() const { return static_cast<int>(panelWidths_.size()); }
  int PanelWidth(int index) const { return panelWidths_.at(static_cast<std::size_t>(index)); }
  void SetPanelWidths(std::vector<int> widths);
  void SetPanelWidth(int index, int width);

  bool SizeGrip() const { return sizeGrip_; }
  void SetSizeGrip(bool on);

protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

private:
  std::vector<int> panelWidths_;
  bool sizeGrip_ = true;
  QSizeGrip* grip_;
};
