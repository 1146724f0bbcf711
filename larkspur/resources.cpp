#include "resources.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

namespace larkspur {

QString LoadString(int id) {
  switch (id) {
    case IDS_ABOUTBOX: return QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報(Larkspur) (&A)...");
    case IDS_NO_FEEDER: return QStringLiteral("There's no QV-7100 with RA-310 Feeder adapter equipped.");
    case IDS_CANNOT_OPEN_DRIVER: return QStringLiteral("Cannot Open SCSI Driver. ");
    case IDS_POSITION: return QStringLiteral("Feeder: %1 steps");
    case IDS_MOVED_FORWARD: return QStringLiteral("(forward %1)");
    case IDS_MOVED_BACK: return QStringLiteral("(back %1)");
    case IDS_MOVE_FAILED: return QStringLiteral("(the last move failed)");
    case IDS_DEVICE_LABEL: return QStringLiteral("%1, ID %2, HA %3");
    default: return {};
  }
}

namespace {

// A raised (up) or sunken (down) button face.
void DrawFace(QPainter& p, const QRect& r, bool down) {
  QLinearGradient fill(r.topLeft(), r.bottomLeft());
  fill.setColorAt(0, down ? QColor(0xA8, 0xAE, 0xB8) : QColor(0xF4, 0xF5, 0xF7));
  fill.setColorAt(1, down ? QColor(0xC8, 0xCC, 0xD2) : QColor(0xC6, 0xCA, 0xD1));
  p.fillRect(r, fill);
  p.setPen(down ? QColor(0x50, 0x54, 0x5A) : Qt::white);
  p.drawLine(r.topLeft(), r.topRight());
  p.drawLine(r.topLeft(), r.bottomLeft());
  p.setPen(down ? Qt::white : QColor(0x50, 0x54, 0x5A));
  p.drawLine(r.bottomLeft(), r.bottomRight());
  p.drawLine(r.topRight(), r.bottomRight());
}

// One or two arrow heads pointing left (backwards) or right (forwards).
QPixmap MoveBitmap(bool forward, bool fast, bool down) {
  QPixmap pixmap(kMoveButtonWidth, kMoveButtonHeight);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  DrawFace(p, pixmap.rect().adjusted(0, 0, -1, -1), down);
  const qreal shift = down ? 1 : 0;
  const qreal cy = kMoveButtonHeight / 2.0 + shift;
  const int heads = fast ? 2 : 1;
  const qreal w = 8, h = 7;
  qreal x = kMoveButtonWidth / 2.0 - heads * w / 2 + shift;
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x1F, 0x3A, 0x68));
  for (int i = 0; i < heads; ++i, x += w) {
    QPolygonF head = forward ? QPolygonF({QPointF(x, cy - h), QPointF(x + w, cy), QPointF(x, cy + h)})
                             : QPolygonF({QPointF(x + w, cy - h), QPointF(x, cy), QPointF(x + w, cy + h)});
    p.drawPolygon(head);
  }
  return pixmap;
}

QPixmap DeviceBitmap(bool down) {
  QPixmap pixmap(kDeviceButtonWidth, kDeviceButtonHeight);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  DrawFace(p, pixmap.rect().adjusted(0, 0, -1, -1), down);
  // The drop-down mark at the right end.
  const qreal x = kDeviceButtonWidth - 16 + (down ? 1 : 0), y = kDeviceButtonHeight / 2.0 - 2 + (down ? 1 : 0);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x1F, 0x3A, 0x68));
  p.drawPolygon(QPolygonF({QPointF(x, y), QPointF(x + 8, y), QPointF(x + 4, y + 5)}));
  return pixmap;
}

// A strip of film with a slide frame at its left end, behind the move buttons.
QPixmap StripBitmap() {
  QPixmap pixmap(kStripWidth, kStripHeight);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  QPainterPath path;
  path.addRoundedRect(QRectF(0.5, 0.5, kStripWidth - 1, kStripHeight - 1), 4, 4);
  p.fillPath(path, QColor(0x3A, 0x3D, 0x42));
  p.setPen(QColor(0xD8, 0xDA, 0xDE));
  p.setBrush(QColor(0xE8, 0xE4, 0xD8));
  p.drawRect(QRectF(4, 6, 12, kStripHeight - 12));
  return pixmap;
}

}  // namespace

QPixmap LoadBitmap(int id) {
  switch (id) {
    case IDB_BACK_UP: return MoveBitmap(false, false, false);
    case IDB_BACK_DOWN: return MoveBitmap(false, false, true);
    case IDB_FAST_BACK_UP: return MoveBitmap(false, true, false);
    case IDB_FAST_BACK_DOWN: return MoveBitmap(false, true, true);
    case IDB_FORWARD_UP: return MoveBitmap(true, false, false);
    case IDB_FORWARD_DOWN: return MoveBitmap(true, false, true);
    case IDB_FAST_FORWARD_UP: return MoveBitmap(true, true, false);
    case IDB_FAST_FORWARD_DOWN: return MoveBitmap(true, true, true);
    case IDB_DEVICE_UP: return DeviceBitmap(false);
    case IDB_DEVICE_DOWN: return DeviceBitmap(true);
    case IDB_STRIP: return StripBitmap();
    default: return {};
  }
}

QIcon AppIcon() {
  QIcon icon;
  for (int size : {16, 32}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal u = size / 16.0;
    p.setPen(QPen(QColor(0x30, 0x30, 0x30), u));
    p.setBrush(QColor(0xF2, 0xEE, 0xE2));
    p.drawRoundedRect(QRectF(1 * u, 1 * u, 14 * u, 14 * u), 2 * u, 2 * u);  // slide mount
    p.setBrush(QColor(0x5B, 0x7F, 0xB8));
    p.drawRect(QRectF(4 * u, 5 * u, 8 * u, 6 * u));  // the picture in it
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace larkspur
