#include "win/named_event.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>

namespace orvax::win {

struct EventObject {
  std::mutex mutex;
  std::condition_variable signalled;
  bool manualReset = false;
  bool state = false;
  int handles = 1;  // guarded by the table's mutex
  std::string name;
};

namespace detail {

struct EventTable {
  std::mutex mutex;
  std::map<std::string, EventObject*> named;
};

namespace {
// Never destroyed: handles may be closed from static destructors of other modules.
EventTable* g_adopted = nullptr;
EventTable* OwnTable() {
  static EventTable* table = new EventTable;
  return table;
}
}  // namespace

EventTable* ProcessEventTable() { return g_adopted != nullptr ? g_adopted : OwnTable(); }

}  // namespace detail

HANDLE CreateEvent(bool manualReset, bool initialState, const char* name) {
  detail::EventTable* table = detail::ProcessEventTable();
  std::lock_guard<std::mutex> lock(table->mutex);
  if (name != nullptr && *name != '\0') {
    if (auto it = table->named.find(name); it != table->named.end()) {
      ++it->second->handles;
      return it->second;
    }
  }
  auto* event = new EventObject;
  event->manualReset = manualReset;
  event->state = initialState;
  if (name != nullptr && *name != '\0') {
    event->name = name;
    table->named.emplace(event->name, event);
  }
  return event;
}

HANDLE OpenEvent(const char* name) {
  if (name == nullptr || *name == '\0') return nullptr;
  detail::EventTable* table = detail::ProcessEventTable();
  std::lock_guard<std::mutex> lock(table->mutex);
  auto it = table->named.find(name);
  if (it == table->named.end()) return nullptr;
  ++it->second->handles;
  return it->second;
}

bool SetEvent(HANDLE event) {
  if (event == nullptr) return false;
  {
    std::lock_guard<std::mutex> lock(event->mutex);
    event->state = true;
  }
  if (event->manualReset)
    event->signalled.notify_all();
  else
    event->signalled.notify_one();
  return true;
}

bool ResetEvent(HANDLE event) {
  if (event == nullptr) return false;
  std::lock_guard<std::mutex> lock(event->mutex);
  event->state = false;
  return true;
}

uint32_t WaitForSingleObject(HANDLE event, uint32_t timeoutMs) {
  if (event == nullptr) return WAIT_FAILED;
  std::unique_lock<std::mutex> lock(event->mutex);
  const auto ready = [event] { return event->state; };
  if (timeoutMs == INFINITE) {
    event->signalled.wait(lock, ready);
  } else if (!event->signalled.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
    return WAIT_TIMEOUT;
  }
  if (!event->manualReset) event->state = false;
  return WAIT_OBJECT_0;
}

bool CloseHandle(HANDLE event) {
  if (event == nullptr) return false;
  detail::EventTable* table = detail::ProcessEventTable();
  {
    std::lock_guard<std::mutex> lock(table->mutex);
    if (--event->handles > 0) return true;
    if (!event->name.empty()) table->named.erase(event->name);
  }
  delete event;
  return true;
}

}  // namespace orvax::win

// Called by LoadLibrary right after loading a module that carries this file: from then on
// the module's named events are the loading process's.
extern "C" __attribute__((visibility("default"))) void OrvaxWinAttachProcess(void* table) {
  // Only the pointer is taken: asking for the module's own table here would create one that
  // nothing uses.
  if (table != nullptr) orvax::win::detail::g_adopted = static_cast<orvax::win::detail::EventTable*>(table);
}
