#include "fpxlib.h"

namespace {

// Process-wide toolkit state, as in the library it stands in for: one thread at a time.
struct ToolkitState {
  bool initialised = false;
  unsigned long memoryLimit = 0;
  FPXResolutionUnit unit = FPX_INCHES;
};

ToolkitState& State() {
  static ToolkitState state;
  return state;
}

}  // namespace

FPXStatus FPX_InitSystem() {
  State() = ToolkitState{};
  State().initialised = true;
  return FPX_OK;
}

FPXStatus FPX_ClearSystem() {
  State() = ToolkitState{};
  return FPX_OK;
}

FPXStatus FPX_SetToolkitMemoryLimit(unsigned long* memoryLimit) {
  if (memoryLimit == nullptr) return FPX_ERROR;
  State().memoryLimit = *memoryLimit;
  return FPX_OK;
}

FPXStatus FPX_GetToolkitMemoryLimit(unsigned long* memoryLimit) {
  if (memoryLimit == nullptr) return FPX_ERROR;
  *memoryLimit = State().memoryLimit;
  return FPX_OK;
}

FPXStatus FPX_SetUnit(FPXResolutionUnit unit) {
  if (unit < FPX_INCHES || unit > FPX_MILLIMETERS) return FPX_ERROR;
  State().unit = unit;
  return FPX_OK;
}

FPXStatus FPX_GetUnit(FPXResolutionUnit* unit) {
  if (unit == nullptr) return FPX_ERROR;
  *unit = State().unit;
  return FPX_OK;
}

bool FPX_IsSystemInitialised() { return State().initialised; }
