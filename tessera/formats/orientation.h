// The TIFF/Exif Orientation value composed into a read transform. Used by the readers of
// formats that carry an orientation (JPEG, TIFF) and by the BMP reader for bottom-up rows.
#pragma once

#include "tessera/tessera.h"

namespace tessera {

// The transform that stores a file's pixels, laid out as the Orientation value says, the
// way the caller's transform would store the upright image. Orientations 1 to 8:
//   1 (and any unknown value) keep, 2 mirror, 3 turn 180, 4 mirror + 180,
//   5 mirror + 270, 6 turn 90, 7 mirror + 90, 8 turn 270.
// The mirror flag is toggled for 2, 4, 5 and 7 and normalised to 0 or 1 otherwise. The
// orientation's angle is added to the caller's angle when the caller does not mirror; when
// it does, the mirror reverses the sense of the orientation's turn, so the angle is
// subtracted (this matters only for quarter turns).
tagTes_Transform_Struct ComposeOrientation(const tagTes_Transform_Struct& transform, int orientation);

}  // namespace tessera
