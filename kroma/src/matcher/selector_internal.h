// What the colour matcher reaches in the selector beyond the exported functions.
#pragma once

#include <cstdint>

#include "kroma.h"

namespace kroma {

// Replaces or composes the 1-D tables of one side of a built transform.
int32_t SelectorChangeTables(MatchingSelector* sel, uint16_t side, uint16_t bits,
                             uint32_t entries, const uint16_t* const* tables, bool merge);

}  // namespace kroma
