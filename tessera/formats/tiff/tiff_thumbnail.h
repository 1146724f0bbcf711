// The JPEG-coded thumbnail inside the TIFF maker block, through the library's JPEG coder.
#pragma once

#include <cstdint>
#include <vector>

#include "formats/streams.h"
#include "tessera/tessera.h"

namespace tessera::tiff {

// Decodes the JPEG stream of length bytes at the file offset into the target, stored with
// the transform. No progress is reported.
long ReadThumbnail(TesseraClass& target, InputStream& in, uint64_t offset, uint32_t length,
                   const tagTes_Transform_Struct& transform);

// The source image reduced until neither side exceeds 256 pixels, JPEG-coded in memory
// with its own JFIF segment.
long EncodeThumbnail(const TesseraClass& source, std::vector<uint8_t>& jpeg);

}  // namespace tessera::tiff
