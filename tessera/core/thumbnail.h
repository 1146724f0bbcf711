// The image's small preview for the file writers: at most 256 pixels a side, point-sampled
// from the stored pixels, as 8-bit grey or 24-bit RGB.
#pragma once

#include "core/object_state.h"

namespace tessera {

struct ThumbnailShape {
  int width, height, colorSpace;
};

ThumbnailShape ThumbnailSize(const ObjectState& object);
// Writes the thumbnail's rows into buffer, each width * bytes-per-pixel long, rowBytes apart.
long ThumbnailPixels(const ObjectState& object, uint8_t* buffer, int rowBytes);

}  // namespace tessera
