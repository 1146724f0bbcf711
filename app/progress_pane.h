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
  // it and, when the pane would look different, repaints it at once: callers are long
  // operations on the user-interface thread, which runs no event loop until they end. Calls
  // that would not change a pixel cost nothing more.
  void SetProgress(double fraction);
  double Progress() const { return fraction_; }
  static double Clamp(double fraction);
  // How often the pane has been painted, for tests.
  int PaintCount() const { return paints_; }
  QSize sizeHint() const override { return {80, 16}; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  // The bar's width in pixels for FRACTION; -1 for the empty pane.
  int BarWidth(double fraction) const;

  double fraction_ = 0.0;
  int paintedBar_ = -2;  // what the last paint drew (BarWidth), -2 before the first
  int paints_ = 0;
};

}  // namespace orvax::app
