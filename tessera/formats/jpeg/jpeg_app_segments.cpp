// The decoder's metadata segments: APP0 (JFIF and JFXX, with their thumbnails), APP1 (Exif)
// and APP14 (Adobe's colour transform). None of them can fail an image whose data are
// intact: what a segment says that cannot be followed is lost, the picture is kept.
#include <cstring>
#include <new>
#include <vector>

#include "formats/byte_order.h"
#include "formats/jpeg/jpeg_decoder.h"
#include "formats/jpeg/jpeg_exif.h"

namespace tessera::jpeg {

// The bytes of an APP segment after its length field, and the stream offset where they
// start.
long Decoder::ReadAppBody(std::vector<uint8_t>& body, long& start) {
  int length = 0;
  if (const long s = ReadLength(length)) return s;
  if (length < 2) return kBadAppSegment;
  start = Position();
  try {
    body.resize(static_cast<size_t>(length - 2));
  } catch (const std::bad_alloc&) {
    return TES_ERR_NO_MEMORY;
  }
  return ReadBytes(body.data(), body.size());
}

// APP0: JFIF or JFXX. A segment that says something this reader cannot follow (another
// identifier such as "AVI1", a size that does not fit its thumbnail, a JFXX segment with
// stray bytes) is metadata lost, not the image: it is skipped by its length. Only a length
// that cannot even be skipped fails the file.
long Decoder::ReadApp0() {
  std::vector<uint8_t> body;
  long start = 0;
  if (const long s = ReadAppBody(body, start)) return s;
  const uint8_t* p = body.data();
  const size_t n = body.size();
  if (n < 5) return 0;

  if (std::memcmp(p, "JFIF", 5) == 0) {
    jfif_ = true;
    if (n < 12) return 0;
    const int units = p[7];
    const unsigned density = bytes::LoadBE16(p + 8);
    // A density of 0 says nothing about the resolution: it is left as it was.
    if (units == 1 && density != 0) resolution_ = density;
    if (units == 2 && density != 0) resolution_ = static_cast<double>((density * 100000u + 19680u) / 39361u);
    if (n < 14) return 0;
    const int w = p[12], h = p[13];
    if (w == 0 && h == 0) return 0;
    if (n - 14 != static_cast<size_t>(w) * h * 3) return 0;
    if (w > 0 && h > 0) thumbnail_ = {ThumbnailKind::kRgb, start + 14, w, h};
    return 0;
  }
  if (std::memcmp(p, "JFXX", 5) == 0) {
    if (n == 5) return 0;
    const int code = p[5];
    if (code == 0x10) {
      thumbnail_ = {ThumbnailKind::kJpeg, start + 6, 0, 0};
      return 0;
    }
    if ((code != 0x11 && code != 0x13) || n < 8) return 0;
    const int w = p[6], h = p[7];
    const size_t pixels = code == 0x11 ? static_cast<size_t>(w) * h + 768 : static_cast<size_t>(w) * h * 3;
    if (n - 8 != pixels) return 0;
    if (w > 0 && h > 0) thumbnail_ = {code == 0x11 ? ThumbnailKind::kPalette : ThumbnailKind::kRgb, start + 8, w, h};
    return 0;
  }
  return 0;
}

// APP14 "Adobe": its transform byte says how three or four components are coded (0: RGB or
// CMYK as they stand, 1: YCbCr, 2: YCCK), and its presence that CMYK is stored inverted.
long Decoder::ReadApp14() {
  std::vector<uint8_t> p;
  long start = 0;
  if (const long s = ReadAppBody(p, start)) return s;
  if (p.size() >= 12 && std::memcmp(p.data(), "Adobe", 5) == 0) {
    adobe_ = true;
    adobeTransform_ = p[11];
  }
  return 0;
}

long Decoder::ReadApp1() {
  std::vector<uint8_t> p;
  long start = 0;
  if (const long s = ReadAppBody(p, start)) return s;
  const size_t n = p.size();
  // APP1 also carries other data (XMP and the like): only an Exif segment is read. A
  // damaged Exif segment keeps what could be read from it; the image does not depend on it.
  if (n < 6 || std::memcmp(p.data(), "Exif\0\0", 6) != 0) return 0;
  ExifFields fields;
  ReadExif(p.data() + 6, n - 6, start + 6, info_, fields);
  if (fields.hasOrientation) orientation_ = fields.orientation;
  if (fields.hasResolution) resolution_ = fields.resolution;
  if (fields.hasThumbnail) thumbnail_ = {ThumbnailKind::kJpeg, fields.thumbnailPosition, 0, 0};
  return 0;
}

}  // namespace tessera::jpeg
