// Pixel loops of both engines, one specialised routine per combination of channel counts,
// depths and layout, chosen once per buffer.
#pragma once

#include <cstdint>

#include "engine/engine_state.h"

namespace kroma {

// Converts `lines` lines of `width` pixels from src to dst (which may be the same buffer
// when channel counts and sample widths match).
using Kernel = void (*)(const KromaEngineState& st, const uint8_t* src, uint8_t* dst,
                        uint32_t width, uint32_t lines, int layout);

// The routine for this transform and these depths and layout (never null for a built state
// and valid depths).
Kernel SelectKernel(const KromaEngineState& st, int inBits, int outBits, int layout);

}  // namespace kroma
