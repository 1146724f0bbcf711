// Registered window messages and a minimal window handle, in the manner of
// RegisterWindowMessageA, PostMessageA, SendMessageA and IsWindow.
//
// A window is any object that fills in a WindowHandle: its post operation queues a message
// for later delivery (the Qt side delivers it on the event loop, see win/qt/message_window.h),
// its send operation delivers at once and returns the result. Modules loaded through
// LoadLibrary receive HWNDs and post to them through the same calls; the loader hands each
// module the process's message table, so a name registers to the same number in the host
// and in every module, and HWND_BROADCAST reaches every window of the process.
#pragma once

#include <cstdint>

namespace orvax::win {

using UINT = unsigned int;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

struct WindowHandle;
using HWND = WindowHandle*;

// The parts of a window the messaging calls rely on. The layout is shared with modules,
// so it only ever grows at the end.
struct WindowHandle {
  uint32_t magic = kMagic;
  // The widget object behind the handle (a QWidget* for Qt windows), for modules that
  // show dialogs owned by the window; may be null.
  void* widget = nullptr;
  // Queues MSG for delivery; false when it cannot be queued.
  bool (*post)(WindowHandle* self, UINT msg, WPARAM wParam, LPARAM lParam) = nullptr;
  // Delivers MSG at once and returns the handler's result.
  LRESULT (*send)(WindowHandle* self, UINT msg, WPARAM wParam, LPARAM lParam) = nullptr;
  // Owner data for POST and SEND.
  void* context = nullptr;

  static constexpr uint32_t kMagic = 0x4F58574Eu;  // "OXWN"
};

// Sends or posts to every window registered with RegisterWindow.
inline HWND const HWND_BROADCAST = reinterpret_cast<HWND>(static_cast<uintptr_t>(0xFFFF));

// Registered message numbers lie in 0xC000..0xFFFF, as on Windows.
constexpr UINT kFirstRegisteredMessage = 0xC000;
constexpr UINT kLastRegisteredMessage = 0xFFFF;

// The number of the message NAME: the same number for the same name (compared ignoring
// case) for the whole process. 0 for a null or empty name, or when the range is used up.
UINT RegisterWindowMessage(const char* name);

// Makes WINDOW known to IsWindow and HWND_BROADCAST until UnregisterWindow.
void RegisterWindow(HWND window);
void UnregisterWindow(HWND window);

// True for a registered window.
bool IsWindow(HWND window);

// Queues MSG for WINDOW (or for every registered window with HWND_BROADCAST). False for a
// window that is not registered or will not take the message.
bool PostMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

// Delivers MSG to WINDOW at once and returns its result; 0 for an unknown window. With
// HWND_BROADCAST every window receives it and the result is 0.
LRESULT SendMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

// Name of the export through which LoadLibrary gives a module the process's message table.
inline constexpr const char kAttachMessagesExport[] = "OrvaxWinAttachMessages";

namespace detail {
struct MessageTable;
// The message table this module uses: its own, or the one of the process that loaded it.
MessageTable* ProcessMessageTable();
}  // namespace detail

}  // namespace orvax::win
