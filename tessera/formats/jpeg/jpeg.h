// JPEG files with JFIF, JFXX and Exif segments (file type 4): the library's own baseline
// decoder and encoder behind the reader and writer interfaces.
#pragma once

#include <memory>

#include "formats/format.h"

namespace tessera {

std::unique_ptr<FormatReader> MakeJpegReader(TesseraClass* target, InputStream& in);
std::unique_ptr<FormatWriter> MakeJpegWriter(const TesseraClass& source, OutputStream& out);

namespace jpeg {
// The largest thumbnail stream written: a thumbnail whose JPEG stream is longer, or that
// would not fit its segment's 16-bit length, is left out of the file.
inline constexpr size_t kThumbnailBufferBytes = 204800;
}  // namespace jpeg

}  // namespace tessera
