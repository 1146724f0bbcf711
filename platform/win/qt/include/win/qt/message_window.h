// A window that receives window messages on the Qt event loop. Posting queues the message
// as a queued call on the object's thread; sending calls the handler at once when the
// sender runs on that thread, and waits for it otherwise.
#pragma once

#include "win/window_messages.h"

#include <QObject>

#include <functional>

namespace orvax::win {

class MessageWindow : public QObject {
  Q_OBJECT
 public:
  using Handler = std::function<LRESULT(UINT msg, WPARAM wParam, LPARAM lParam)>;

  // WIDGET is handed to modules as the window's widget object (may be null).
  explicit MessageWindow(void* widget = nullptr, QObject* parent = nullptr);
  ~MessageWindow() override;

  HWND handle() { return &handle_; }
  void setHandler(Handler handler) { handler_ = std::move(handler); }

 private:
  static bool Post(WindowHandle* self, UINT msg, WPARAM wParam, LPARAM lParam);
  static LRESULT Send(WindowHandle* self, UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT Deliver(UINT msg, WPARAM wParam, LPARAM lParam);

  WindowHandle handle_;
  Handler handler_;
};

}  // namespace orvax::win
