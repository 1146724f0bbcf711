// Event objects in the manner of CreateEvent, SetEvent, ResetEvent, WaitForSingleObject and
// CloseHandle. A named event is shared by everything in the process that creates or opens
// it by the same name (names are case-sensitive), including modules loaded through
// LoadLibrary of module_loader.h: the loader hands each module the process's table of
// named events, so a module and its host see one event. The calls are thread-safe, so a
// module may set an event from a thread of its own.
#pragma once

#include <cstdint>

namespace orvax::win {

using HANDLE = struct EventObject*;

constexpr uint32_t INFINITE = 0xFFFFFFFFu;
constexpr uint32_t WAIT_OBJECT_0 = 0x00000000u;
constexpr uint32_t WAIT_TIMEOUT = 0x00000102u;
constexpr uint32_t WAIT_FAILED = 0xFFFFFFFFu;

// Creates the event NAME, or opens it when it already exists (then MANUALRESET and
// INITIALSTATE are ignored, as on Windows). NAME may be null or empty for an unnamed event.
// An auto-reset event releases one wait and returns to non-signalled.
HANDLE CreateEvent(bool manualReset, bool initialState, const char* name);

// Opens the existing event NAME, or returns null.
HANDLE OpenEvent(const char* name);

bool SetEvent(HANDLE event);
bool ResetEvent(HANDLE event);

// Waits until EVENT is signalled or TIMEOUTMS milliseconds have passed (INFINITE waits for
// ever). Returns WAIT_OBJECT_0, WAIT_TIMEOUT, or WAIT_FAILED for a null handle.
uint32_t WaitForSingleObject(HANDLE event, uint32_t timeoutMs);

// Closes one handle; the event goes away, and its name with it, when its last handle closes.
bool CloseHandle(HANDLE event);

// Name of the export through which LoadLibrary gives a module the process's event table.
inline constexpr const char kAttachProcessExport[] = "OrvaxWinAttachProcess";

namespace detail {
struct EventTable;
// The event table this module uses: its own, or the one of the process that loaded it.
EventTable* ProcessEventTable();
}  // namespace detail

}  // namespace orvax::win
