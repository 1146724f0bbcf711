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

void CProgressPane::SetProgress(double fraction) {
  fraction_ = Clamp(fraction);
  repaint();
}

void CProgressPane::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (fraction_ != 0.0) {
    painter.fillRect(QRect(0, 0, static_cast<int>(fraction_ * width()), height()), Qt::black);
  } else {
    painter.fillRect(rect(), palette().color(QPalette::Button));
  }
}

}  // namespace orvax::app
