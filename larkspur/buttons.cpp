#include "buttons.h"

#include "resources.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPainter>

namespace larkspur {

BitmapButton::BitmapButton(int id, int upBitmap, int downBitmap, QWidget* parent)
    : QAbstractButton(parent), id_(id), up_(LoadBitmap(upBitmap)), down_(LoadBitmap(downBitmap)) {
  setFocusPolicy(Qt::NoFocus);
  resize(up_.size());
}

void BitmapButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawPixmap(0, 0, isDown() ? down_ : up_);
}

void BitmapButton::PostToDialog(QEvent::Type type, int wParam, int lParam) {
  QCoreApplication::postEvent(window(), new DialogMessage(type, wParam, lParam));
}

MoveButton::MoveButton(int id, int upBitmap, int downBitmap, MoveType type, QWidget* parent)
    : BitmapButton(id, upBitmap, downBitmap, parent), type_(type) {}

void MoveButton::mousePressEvent(QMouseEvent* e) {
  BitmapButton::mousePressEvent(e);
  if (e->button() != Qt::LeftButton || holding_) return;
  // The press captures the mouse (Qt grabs it for the pressed widget until the release).
  holding_ = true;
  PostToDialog(kMoveButtonMessage, 0, type_);
}

void MoveButton::mouseMoveEvent(QMouseEvent* e) {
  BitmapButton::mouseMoveEvent(e);
  // Leaving the button while it is held counts as releasing it.
  if (holding_ && !rect().contains(e->position().toPoint())) EndHold();
}

void MoveButton::mouseReleaseEvent(QMouseEvent* e) {
  BitmapButton::mouseReleaseEvent(e);
  if (e->button() == Qt::LeftButton && holding_) EndHold();
}

void MoveButton::EndHold() {
  holding_ = false;
  setDown(false);
  PostToDialog(kMoveButtonMessage, 1, type_);
}

DeviceButton::DeviceButton(int id, int upBitmap, int downBitmap, QWidget* parent)
    : BitmapButton(id, upBitmap, downBitmap, parent) {
  // The text height of the screen's default font decides the size. The face name is kept as
  // the program has always named it; the style hint keeps the substitute font fixed-pitch.
  const int textHeight = fontMetrics().height();
  deviceFont_ = QFont(QStringLiteral("Courie New"));
  deviceFont_.setStyleHint(QFont::TypeWriter);
  deviceFont_.setPointSizeF(DevicePointSize(textHeight));
}

void DeviceButton::SetDeviceText(const QString& text) {
  deviceText_ = text;
  update();
}

void DeviceButton::paintEvent(QPaintEvent* e) {
  BitmapButton::paintEvent(e);
  QPainter p(this);
  p.setBackgroundMode(Qt::TransparentMode);
  p.setFont(deviceFont_);
  p.setPen(Qt::black);
  const int shift = isDown() ? 1 : 0;
  p.drawText(rect().adjusted(kTextLeft + shift, shift, 0, shift), Qt::AlignLeft | Qt::AlignVCenter, deviceText_);
}

void DeviceButton::mouseReleaseEvent(QMouseEvent* e) {
  const bool inside = rect().contains(e->position().toPoint());
  BitmapButton::mouseReleaseEvent(e);
  if (e->button() == Qt::LeftButton && inside) PostToDialog(kDeviceMenuMessage, 0, 0);
}

}  // namespace larkspur
