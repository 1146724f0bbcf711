// The status bar's progress pane: 80 pixels wide, drawn by the program. A fraction other
// than 0 paints a black bar over that part of the pane; 0 paints the pane in the
// button-face colour.
#pragma once

#include <QWidget>

namespace orvax::app {

class CProgressPane : public QWidget {
  Q_OBJECT
 public:
  explicit CProgressPane(QWidget* parent = nullptr);

  // Clamps FRACTION to 0..1 (a value that is not a number, or negative, becomes 0), stores
  // it and redraws at once.
  void SetProgress(double fraction);
  double Progress() const { return fraction_; }
  static double Clamp(double fraction);
  QSize sizeHint() const override { return {80, 16}; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  double fraction_ = 0.0;
};

}  // namespace orvax::app
