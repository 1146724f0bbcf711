// Which vector instructions the pixel loops may use: detected once per process, and a switch
// that forces the plain C++ loops (the tests compare both paths result for result).
#pragma once

namespace kroma {

enum VectorLevel : int { kVectorNone = 0, kVectorSse41 = 1, kVectorAvx2 = 2 };

// The level the loops use now: what the processor offers, unless vector loops are switched
// off (SetVectorLoops(false), or KROMA_SCALAR set to anything but 0 in the environment).
int ActiveVectorLevel();
void SetVectorLoops(bool enabled);

}  // namespace kroma
