// Quarter turns and mirrors of a stored image: a mapping of the tile grid plus a small
// in-place kernel per tile. No pixel leaves its tile and no second image buffer is needed.
#pragma once

#include "core/image_store.h"

namespace tessera {

long FlipHorizontal(ImageStore& store);
long FlipVertical(ImageStore& store);
// Turns clockwise by a normalised angle (0, 90, 180 or 270).
long RotateQuarter(ImageStore& store, int angle);

}  // namespace tessera
