// The device context a view draws a page through: the printer's capabilities, fonts and
// text, and the mapping modes, over a QPainter on the printer or the preview.
#include "framework/printing.h"

#include "qpainter_dc.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QTransform>

namespace orvax::framework {

CDC::CDC(QPaintDevice* device) : device_(device) {}
CDC::~CDC() = default;

void CDC::Attach(QPainter* painter) {
  painter_ = painter;
  hdc_.reset();
  if (painter_ != nullptr) {
    painter_->setFont(font_);
    painter_->setPen(Qt::black);
    ApplyMapping();
  }
}

void CDC::Detach() {
  hdc_.reset();
  painter_ = nullptr;
}

int CDC::GetDeviceCaps(int index) const {
  if (device_ == nullptr) return 0;
  switch (index) {
    case HORZRES: return device_->width();
    case VERTRES: return device_->height();
    case LOGPIXELSX: return device_->logicalDpiX();
    case LOGPIXELSY: return device_->logicalDpiY();
    default: return 0;
  }
}

QFont CDC::SelectObject(const QFont& font) {
  QFont previous = font_;
  font_ = font;
  if (painter_ != nullptr) painter_->setFont(font_);
  return previous;
}

void CDC::SelectStockFont() { SelectObject(QFont()); }

int CDC::GetTextHeight() const { return QFontMetrics(font_, device_).height(); }

QSize CDC::GetTextExtent(const QString& text) const {
  const QFontMetrics metrics(font_, device_);
  return {metrics.horizontalAdvance(text), metrics.height()};
}

unsigned CDC::SetTextAlign(unsigned align) {
  const unsigned previous = align_;
  align_ = align;
  return previous;
}

void CDC::TextOut(int x, int y, const QString& text) {
  if (painter_ == nullptr) return;
  const QFontMetrics metrics(font_, device_);
  int left = x;
  if ((align_ & TA_CENTER) == TA_CENTER) left = x - metrics.horizontalAdvance(text) / 2;
  else if (align_ & 2u) left = x - metrics.horizontalAdvance(text);  // TA_RIGHT
  const int baseline = (align_ & TA_BASELINE) == TA_BASELINE ? y : y + metrics.ascent();
  painter_->drawText(QPoint(left, baseline), text);
}

int CDC::SetMapMode(int mode) {
  const int previous = mapMode_;
  mapMode_ = mode;
  ApplyMapping();
  return previous;
}

QSize CDC::SetWindowExt(int cx, int cy) {
  const QSize previous = windowExt_;
  windowExt_ = QSize(cx, cy);
  ApplyMapping();
  return previous;
}

QSize CDC::SetViewportExt(int cx, int cy) {
  const QSize previous = viewportExt_;
  viewportExt_ = QSize(cx, cy);
  ApplyMapping();
  return previous;
}

QPoint CDC::SetViewportOrg(int x, int y) {
  const QPoint previous = viewportOrg_;
  viewportOrg_ = QPoint(x, y);
  ApplyMapping();
  return previous;
}

void CDC::ApplyMapping() {
  hdc_.reset();
  if (painter_ == nullptr) return;
  if (mapMode_ == MM_ANISOTROPIC && windowExt_.width() != 0 && windowExt_.height() != 0) {
    painter_->setWindow(QRect(QPoint(0, 0), windowExt_));
    painter_->setViewport(QRect(viewportOrg_, viewportExt_));
    painter_->setViewTransformEnabled(true);
  } else if (!viewportOrg_.isNull()) {
    const QSize device(GetDeviceCaps(HORZRES), GetDeviceCaps(VERTRES));
    painter_->setWindow(QRect(QPoint(0, 0), device));
    painter_->setViewport(QRect(viewportOrg_, device));
    painter_->setViewTransformEnabled(true);
  } else {
    painter_->setViewTransformEnabled(false);
  }
}

win::DeviceContext* CDC::GetSafeHdc() {
  if (painter_ == nullptr) return nullptr;
  if (!hdc_) {
    // Drawing is limited to what lands on the device, in logical coordinates.
    const QRectF device(0, 0, GetDeviceCaps(HORZRES), GetDeviceCaps(VERTRES));
    bool invertible = false;
    const QTransform toLogical = painter_->combinedTransform().inverted(&invertible);
    const QRect bounds = invertible ? toLogical.mapRect(device).toAlignedRect() : QRect();
    hdc_ = std::make_unique<app::QPainterDC>(*painter_, bounds);
  }
  return hdc_.get();
}

}  // namespace orvax::framework
