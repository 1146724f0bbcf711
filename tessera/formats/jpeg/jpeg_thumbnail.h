// The image's thumbnail as a JPEG stream in memory, for the JPEG and TIFF writers.
#pragma once

#include <cstdint>
#include <vector>

#include "core/object_state.h"

namespace tessera::jpeg {

// Encodes the object's thumbnail (core/thumbnail.h) with the level-3 tables and 2x1
// luminance sampling (one component for grey). A JFIF segment is written when the dpi given
// for the thumbnail's kind (grey or colour) is above 0. The stream grows as needed.
long EncodeThumbnail(const ObjectState& state, int greyJfifDpi, int colourJfifDpi, std::vector<uint8_t>& stream);

}  // namespace tessera::jpeg
