// The APP segments the writer puts before the image: the Exif segment of colour images
// (IFD0, Exif IFD, IFD1 with the thumbnail) and the JFXX thumbnail segment of grey ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tessera/tessera.h"

namespace tessera::jpeg {

struct ExifInput {
  const tagTes_Image_Info* info = nullptr;
  int dpi = 72;                        // whole dots per inch
  const char* dateTime = "";           // DateTime: now, "YYYY:MM:DD hh:mm:ss"
  const char* dateTimeDigitized = "";  // the output file's modification time
  bool srgb = false;
  uint32_t width = 0, height = 0;
  const std::vector<uint8_t>* thumbnail = nullptr;  // JPEG stream, or null
};

struct ExifSegment {
  std::vector<uint8_t> bytes;      // from the APP1 marker on
  size_t cbppNumeratorAt = 0;      // where, in bytes, the CompressedBitsPerPixel numerator is
};

// The segment's size in bytes, marker included, computed before it is built.
size_t ExifSegmentSize(const tagTes_Image_Info& info, size_t thumbnailBytes, bool withThumbnail);
ExifSegment BuildExifSegment(const ExifInput& input);

// JFXX segment holding a JPEG-coded thumbnail.
void AppendJfxx(std::vector<uint8_t>& out, const std::vector<uint8_t>& thumbnail);

// The largest segment a 16-bit length allows, marker included.
inline constexpr size_t kMaxSegmentBytes = 65535 + 2;

}  // namespace tessera::jpeg
