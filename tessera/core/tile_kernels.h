// The pixel work of the turns and mirrors inside one tile block: 128 rows of 128 pixels of
// 1, 2, 3, 4 or 6 bytes, rows 128 x bytesPerPixel apart.
#pragma once

#include <cstdint>

namespace tessera {

// Works on one block in place; `scratch` holds one block of the widest pixels (96 KiB) for
// the kernels that need it (NeedsScratch) and may be null for the others.
using TileKernel = void (*)(uint8_t* block, uint8_t* scratch);

enum class TileTurn { kMirror, kFlip, k90, k180, k270 };

// The kernel that does `turn` to a block of this pixel size, chosen once per operation.
TileKernel TileKernelFor(TileTurn turn, int bytesPerPixel);
TileKernel PortableTileKernelFor(TileTurn turn, int bytesPerPixel);
bool NeedsScratch(TileTurn turn);

}  // namespace tessera
