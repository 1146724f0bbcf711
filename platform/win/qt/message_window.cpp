#include "win/qt/message_window.h"

#include <QMetaObject>
#include <QPointer>
#include <QThread>

namespace orvax::win {

MessageWindow::MessageWindow(void* widget, QObject* parent) : QObject(parent) {
  handle_.widget = widget;
  handle_.post = &MessageWindow::Post;
  handle_.send = &MessageWindow::Send;
  handle_.context = this;
  RegisterWindow(&handle_);
}

MessageWindow::~MessageWindow() { UnregisterWindow(&handle_); }

bool MessageWindow::Post(WindowHandle* self, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* window = static_cast<MessageWindow*>(self->context);
  QPointer<MessageWindow> guard(window);
  return QMetaObject::invokeMethod(
      window,
      [guard, msg, wParam, lParam] {
        if (guard) guard->Deliver(msg, wParam, lParam);
      },
      Qt::QueuedConnection);
}

LRESULT MessageWindow::Send(WindowHandle* self, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* window = static_cast<MessageWindow*>(self->context);
  if (QThread::currentThread() == window->thread()) return window->Deliver(msg, wParam, lParam);
  LRESULT result = 0;
  QMetaObject::invokeMethod(
      window, [&] { result = window->Deliver(msg, wParam, lParam); }, Qt::BlockingQueuedConnection);
  return result;
}

LRESULT MessageWindow::Deliver(UINT msg, WPARAM wParam, LPARAM lParam) {
  return handler_ ? handler_(msg, wParam, lParam) : 0;
}

}  // namespace orvax::win
