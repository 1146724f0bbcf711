// The dialog's bitmap buttons: the four press-and-hold move buttons and the device button.
// They talk to the dialog by posting it messages, as the buttons of a Windows dialog post
// WM_USER + n.
#pragma once

#include <QAbstractButton>
#include <QEvent>
#include <QFont>
#include <QPixmap>

namespace larkspur {

// WM_USER + 1: open the device menu. WM_USER + 2: a move button was pressed (wParam 0) or
// released (wParam 1); lParam is the button's type.
constexpr QEvent::Type kDeviceMenuMessage = static_cast<QEvent::Type>(QEvent::User + 1);
constexpr QEvent::Type kMoveButtonMessage = static_cast<QEvent::Type>(QEvent::User + 2);

// Move button types (lParam).
enum MoveType : int { kBack = 0, kForward = 1, kFastBack = 2, kFastForward = 3 };

class DialogMessage : public QEvent {
 public:
  DialogMessage(QEvent::Type type, int wParam, int lParam) : QEvent(type), wParam(wParam), lParam(lParam) {}
  const int wParam;
  const int lParam;
};

class BitmapButton : public QAbstractButton {
  Q_OBJECT
 public:
  BitmapButton(int id, int upBitmap, int downBitmap, QWidget* parent);
  int id() const { return id_; }
  QSize sizeHint() const override { return up_.size(); }

 protected:
  void paintEvent(QPaintEvent*) override;
  void PostToDialog(QEvent::Type type, int wParam, int lParam);

 private:
  int id_;
  QPixmap up_, down_;
};

class MoveButton : public BitmapButton {
  Q_OBJECT
 public:
  MoveButton(int id, int upBitmap, int downBitmap, MoveType type, QWidget* parent);
  MoveType type() const { return type_; }

 protected:
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;

 private:
  void EndHold();
  MoveType type_;
  bool holding_ = false;
};

class DeviceButton : public BitmapButton {
  Q_OBJECT
 public:
  DeviceButton(int id, int upBitmap, int downBitmap, QWidget* parent);
  void SetDeviceText(const QString& text);
  QString DeviceText() const { return deviceText_; }
  const QFont& DeviceFont() const { return deviceFont_; }
  // The point size of the device text for a screen whose text height is TEXTHEIGHT pixels.
  static qreal DevicePointSize(int textHeight) { return textHeight < 19 ? 7.2 : 6.0; }
  static constexpr int kTextLeft = 10;

 protected:
  void paintEvent(QPaintEvent*) override;
  void mouseReleaseEvent(QMouseEvent* e) override;

 private:
  QString deviceText_;
  QFont deviceFont_;
};

}  // namespace larkspur
