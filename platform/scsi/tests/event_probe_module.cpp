// A module that sets a named event of its host through its own copy of the event code.
#include "win/named_event.h"

extern "C" __attribute__((visibility("default"))) bool ProbeSetEvent(const char* name) {
  orvax::win::HANDLE event = orvax::win::OpenEvent(name);
  if (event == nullptr) return false;
  const bool ok = orvax::win::SetEvent(event);
  orvax::win::CloseHandle(event);
  return ok;
}
