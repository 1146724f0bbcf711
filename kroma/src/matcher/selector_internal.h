// What the colour matcher reaches in the selector beyond the exported functions.
#pragma once

#include <cstdint>

#include "kroma.h"

namespace kroma {

// Replaces or composes the 1-D tables of one side of a built transform.
int32_t SelectorChangeTables(MatchingSelector* sel, uint16_t side, uint16_t bits,
                             uint32_t entries, const uint16_t* const* tables, bool merge);

// Chooses the pixel loop of a built transform for these depths and layout, once, for the
// colour matcher's calls (PreparedMatching1/2). Depths or a layout the loops do not take
// leave no loop chosen.
void PrepareLoop(MatchingSelector* sel, uint16_t inBits, uint16_t outBits, uint16_t layout);

// CMatching1 and CMatching2 for the depths and layout of the prepared loop, which were checked
// when it was chosen: the buffers are checked as those calls check them, in the same order,
// and the prepared loop runs. Other depths or layouts take the exported calls.
int32_t PreparedMatching1(MatchingSelector* sel, CMBuffer* buffer, uint32_t width, uint32_t srcBufferBytes,
                          uint16_t inBits, uint16_t outBits, uint16_t layout);
int32_t PreparedMatching2(MatchingSelector* sel, CMBuffer* src, void** dst, uint32_t width,
                          uint32_t srcBufferBytes, uint32_t dstBufferBytes, uint16_t inBits,
                          uint16_t outBits, uint16_t layout);

}  // namespace kroma
