// The pixel work of the turns and mirrors inside one tile block: 128 rows of 128 pixels of
// 1, 2, 3, 4 or 6 bytes, rows 128 x bytesPerPixel apart. Each kernel has a portable version;
// mirroring also has a vector one (SSSE3 byte shuffles), taken when CanMirrorTileVector()
// says so (core/cpu_features.h holds the switch that forces the portable versions).
#pragma once

#include <cstdint>

namespace tessera {

// Works on one block in place; `scratch` holds one block of the widest pixels (96 KiB) for
// the kernels that need it (NeedsScratch) and may be null for the others.
using TileKernel = void (*)(uint8_t* block, uint8_t* scratch);

enum class TileTurn { kMirror, kFlip, k90, k180, k270 };

// The kernel that does `turn` to a block of this pixel size, chosen once per operation: the
// vector version where the processor has it and portable versions are not forced.
TileKernel TileKernelFor(TileTurn turn, int bytesPerPixel);
// The portable kernel, whatever the processor offers. For benchmarks.
TileKernel PortableTileKernelFor(TileTurn turn, int bytesPerPixel);
bool NeedsScratch(TileTurn turn);

// Whether the mirror may take its vector version now.
bool CanMirrorTileVector();

}  // namespace tessera
