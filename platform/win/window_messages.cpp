#include "win/window_messages.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <string>
#include <vector>

namespace orvax::win {
namespace detail {

struct MessageTable {
  std::mutex mutex;
  std::vector<std::string> names;  // index i holds message kFirstRegisteredMessage + i
  std::vector<HWND> windows;
};

namespace {
MessageTable* g_adopted = nullptr;
MessageTable* OwnTable() {
  static MessageTable* table = new MessageTable;  // lives as long as the process
  return table;
}

std::string Folded(const char* name) {
  std::string folded(name);
  for (char& c : folded) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return folded;
}
}  // namespace

MessageTable* ProcessMessageTable() { return g_adopted != nullptr ? g_adopted : OwnTable(); }

}  // namespace detail

UINT RegisterWindowMessage(const char* name) {
  if (name == nullptr || *name == '\0') return 0;
  detail::MessageTable* table = detail::ProcessMessageTable();
  const std::string folded = detail::Folded(name);
  std::lock_guard lock(table->mutex);
  auto it = std::find(table->names.begin(), table->names.end(), folded);
  if (it != table->names.end()) return kFirstRegisteredMessage + static_cast<UINT>(it - table->names.begin());
  if (table->names.size() > kLastRegisteredMessage - kFirstRegisteredMessage) return 0;
  table->names.push_back(folded);
  return kFirstRegisteredMessage + static_cast<UINT>(table->names.size() - 1);
}

void RegisterWindow(HWND window) {
  if (window == nullptr || window == HWND_BROADCAST) return;
  detail::MessageTable* table = detail::ProcessMessageTable();
  std::lock_guard lock(table->mutex);
  if (std::find(table->windows.begin(), table->windows.end(), window) == table->windows.end())
    table->windows.push_back(window);
}

void UnregisterWindow(HWND window) {
  detail::MessageTable* table = detail::ProcessMessageTable();
  std::lock_guard lock(table->mutex);
  std::erase(table->windows, window);
}

namespace {
// The registered windows MSG goes to; empty when WINDOW is unknown.
std::vector<HWND> Targets(HWND window) {
  detail::MessageTable* table = detail::ProcessMessageTable();
  std::lock_guard lock(table->mutex);
  if (window == HWND_BROADCAST) return table->windows;
  if (std::find(table->windows.begin(), table->windows.end(), window) != table->windows.end()) return {window};
  return {};
}
}  // namespace

bool IsWindow(HWND window) { return window != HWND_BROADCAST && !Targets(window).empty(); }

bool PostMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  const std::vector<HWND> targets = Targets(window);
  bool posted = !targets.empty();
  for (HWND target : targets) {
    if (target->magic != WindowHandle::kMagic || target->post == nullptr ||
        !target->post(target, msg, wParam, lParam))
      posted = false;
  }
  return posted;
}

LRESULT SendMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  for (HWND target : Targets(window)) {
    if (target->magic != WindowHandle::kMagic || target->send == nullptr) continue;
    result = target->send(target, msg, wParam, lParam);
  }
  return window == HWND_BROADCAST ? 0 : result;
}

}  // namespace orvax::win

// Called by LoadLibrary in a module that links this file: the module then shares the
// message numbers and windows of the process that loaded it.
extern "C" __attribute__((visibility("default"))) void OrvaxWinAttachMessages(void* table) {
  // Only the pointer is taken: asking for the module's own table here would create one that
  // nothing uses, and that is lost when the module is unloaded.
  if (table != nullptr) orvax::win::detail::g_adopted = static_cast<orvax::win::detail::MessageTable*>(table);
}
