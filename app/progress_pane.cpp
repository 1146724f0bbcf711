#include "progress_pane.h"

#include <QPainter>

#include <cmath>

namespace orvax::app {

CProgressPane::CProgressPane(QWidget* parent) : QWidget(parent) {
  setObjectName("PROGRESS");
  setFixedWidth(80);
}

double CProgressPane::Clamp(double fraction) {
  if (std::isnan(fraction) || fraction < 0.0) return 0.0;
  return fraction > 1.0 ? 1.0 : fraction;
}

int CProgressPane::BarWidth(double fraction) const {
  return fraction != 0.0 ? static_cast<int>(fraction * width()) : -1;
}

void CProgressPane::SetProgress(double fraction) {
  fraction_ = Clamp(fraction);
  // repaint(), not update(): an update would wait for the event loop, which does not run
  // until the open, save or scan that reports the progress has ended.
  if (BarWidth(fraction_) != paintedBar_ && isVisible()) repaint();
}

void CProgressPane::paintEvent(QPaintEvent*) {
  paintedBar_ = BarWidth(fraction_);
  ++paints_;
  QPainter painter(this);
  if (fraction_ != 0.0) {
    painter.fillRect(QRect(0, 0, static_cast<int>(fraction_ * width()), height()), Qt::black);
  } else {
    painter.fillRect(rect(), palette().color(QPalette::Button));
  }
}

}  // namespace orvax::app
