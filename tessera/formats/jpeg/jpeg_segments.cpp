#include "formats/jpeg/jpeg_segments.h"

#include <cmath>
#include <cstring>

#include "formats/byte_order.h"

namespace tessera::jpeg {

namespace {

size_t TextCount(const char* field, size_t size) { return ::strnlen(field, size - 1) + 1; }

// Little-endian TIFF structure written at known offsets of a fixed-size buffer.
class Builder {
 public:
  Builder(std::vector<uint8_t>& b, size_t tiffStart) : b_(b), t_(tiffStart) {}
  void U16(size_t at, uint32_t v) { bytes::StoreLE16(&b_[t_ + at], v); }
  void U32(size_t at, uint32_t v) { bytes::StoreLE32(&b_[t_ + at], v); }
  void Bytes(size_t at, const void* data, size_t n) { std::memcpy(&b_[t_ + at], data, n); }
  // One 12-byte entry at `at`.
  void Entry(size_t at, uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
    U16(at, tag);
    U16(at + 2, type);
    U32(at + 4, count);
    U32(at + 8, value);
  }
  void Short(size_t at, uint16_t tag, uint16_t value) { Entry(at, tag, 3, 1, value); }

 private:
  std::vector<uint8_t>& b_;
  size_t t_;
};

// value x 1000, truncated, kept inside the field's range (a negative value in an unsigned
// field is 0, NaN is 0).
uint32_t Unsigned1000(double v) {
  const double x = v * 1000.0;
  if (!(x > 0.0)) return 0;
  if (x >= 4294967295.0) return 4294967295u;
  return static_cast<uint32_t>(x);
}
uint32_t Signed1000(double v) {
  double x = v * 1000.0;
  if (std::isnan(x)) x = 0;
  if (x >= 2147483647.0) x = 2147483647.0;
  if (x <= -2147483648.0) x = -2147483648.0;
  return static_cast<uint32_t>(static_cast<int32_t>(x));
}

}  // namespace

size_t ExifSegmentSize(const tagTes_Image_Info& info, size_t thumbnailBytes, bool withThumbnail) {
  size_t size = 392 + 144;
  for (const char* text : {info.description, info.maker, info.model}) {
    const size_t n = TextCount(text, 34);
    if (n >= 5) size += n;
  }
  if (withThumbnail) size += thumbnailBytes + 94;
  return size;
}

ExifSegment BuildExifSegment(const ExifInput& in) {
  const tagTes_Image_Info& info = *in.info;
  const bool thumb = in.thumbnail != nullptr;
  const size_t size = ExifSegmentSize(info, thumb ? in.thumbnail->size() : 0, thumb);
  ExifSegment seg;
  std::vector<uint8_t>& b = seg.bytes;
  b.assign(size, 0);
  b[0] = 0xFF;
  b[1] = 0xE1;
  bytes::StoreBE16(&b[2], static_cast<uint32_t>(size - 2));
  std::memcpy(&b[4], "Exif\0\0", 6);
  Builder t(b, 10);
  t.Bytes(0, "II", 2);
  t.U16(2, 42);
  t.U32(4, 8);

  // IFD0 and its data.
  size_t data = 8 + 2 + 10 * 12 + 4;
  size_t e = 10;  // first entry
  t.U16(8, 10);
  const uint16_t textTags[3] = {270, 271, 272};
  const char* texts[3] = {info.description, info.maker, info.model};
  for (int i = 0; i < 3; ++i, e += 12) {
    const size_t n = TextCount(texts[i], 34);
    if (n <= 4) {
      t.Entry(e, textTags[i], 2, static_cast<uint32_t>(n), 0);
      t.Bytes(e + 8, texts[i], n - 1);
    } else {
      t.Entry(e, textTags[i], 2, static_cast<uint32_t>(n), static_cast<uint32_t>(data));
      t.Bytes(data, texts[i], n - 1);
      data += n;
    }
  }
  // An orientation of 0 means "not set": it is written as 1, the upright value.
  t.Short(e, 274, info.orientation == 0 ? 1 : info.orientation);
  e += 12;
  const uint32_t dpi1000 = Unsigned1000(in.dpi);
  for (const uint16_t tag : {282, 283}) {
    t.Entry(e, tag, 5, 1, static_cast<uint32_t>(data));
    t.U32(data, dpi1000);
    t.U32(data + 4, 1000);
    data += 8;
    e += 12;
  }
  t.Short(e, 296, 2);
  e += 12;
  t.Entry(e, 306, 2, 20, static_cast<uint32_t>(data));
  t.Bytes(data, in.dateTime, ::strnlen(in.dateTime, 19));
  data += 20;
  e += 12;
  t.Short(e, 531, 2);
  e += 12;
  const size_t exifIfd = data;
  t.Entry(e, 34665, 4, 1, static_cast<uint32_t>(exifIfd));
  const size_t ifd0Next = e + 12;

  // The Exif IFD; its data follow it in entry order.
  t.U16(exifIfd, 19);
  e = exifIfd + 2;
  data = exifIfd + 2 + 19 * 12 + 4;
  auto rational = [&](uint16_t tag, uint16_t type, uint32_t numerator) {
    t.Entry(e, tag, type, 1, static_cast<uint32_t>(data));
    t.U32(data, numerator);
    t.U32(data + 4, 1000);
    data += 8;
    e += 12;
  };
  auto inline4 = [&](uint16_t tag, const char* bytes) {
    t.Entry(e, tag, 7, 4, 0);
    t.Bytes(e + 8, bytes, 4);
    e += 12;
  };
  auto text20 = [&](uint16_t tag, const char* text) {
    t.Entry(e, tag, 2, 20, static_cast<uint32_t>(data));
    t.Bytes(data, text, 20);
    data += 20;
    e += 12;
  };
  rational(33434, 5, Unsigned1000(info.exposureTime));
  rational(33437, 5, Unsigned1000(info.fNumber));
  inline4(36864, "0200");
  char original[20];
  const size_t dateLength = ::strnlen(info.date, 19);
  std::memset(original, ' ', 19);
  std::memcpy(original, info.date, dateLength);
  original[19] = 0;
  text20(36867, original);
  char digitized[20] = {};
  std::memcpy(digitized, in.dateTimeDigitized, ::strnlen(in.dateTimeDigitized, 19));
  text20(36868, digitized);
  inline4(37121, "\1\2\3\0");
  seg.cbppNumeratorAt = 10 + data;
  rational(37122, 5, 0);
  rational(37377, 10, Signed1000(info.shutterSpeedValue));
  rational(37378, 5, Unsigned1000(info.apertureValue));
  rational(37379, 10, Signed1000(info.brightnessValue));
  rational(37380, 10, Signed1000(info.exposureBiasValue));
  rational(37382, 5, Unsigned1000(info.subjectDistance));
  t.Short(e, 37385, info.flash);
  e += 12;
  rational(37386, 5, Unsigned1000(info.focalLength));
  t.Entry(e, 37500, 7, 10, static_cast<uint32_t>(data));
  t.Bytes(data, "Orvax\0\0\1\0\0", 10);
  data += 10;
  e += 12;
  inline4(40960, "0100");
  t.Short(e, 40961, in.srgb ? 1 : 65535);
  e += 12;
  t.Entry(e, 40962, 4, 1, in.width);
  e += 12;
  t.Entry(e, 40963, 4, 1, in.height);

  // IFD1 with the thumbnail.
  if (thumb) {
    const size_t ifd1 = data;
    t.U32(ifd0Next, static_cast<uint32_t>(ifd1));
    t.U16(ifd1, 6);
    e = ifd1 + 2;
    data = ifd1 + 2 + 6 * 12 + 4;
    t.Short(e, 259, 6);
    t.Entry(e + 12, 282, 5, 1, static_cast<uint32_t>(data));
    t.Entry(e + 24, 283, 5, 1, static_cast<uint32_t>(data + 8));
    t.Short(e + 36, 296, 2);
    t.Entry(e + 48, 513, 4, 1, static_cast<uint32_t>(data + 16));
    t.Entry(e + 60, 514, 4, 1, static_cast<uint32_t>(in.thumbnail->size()));
    for (int i = 0; i < 2; ++i) {
      t.U32(data + 8 * i, 72000);
      t.U32(data + 8 * i + 4, 1000);
    }
    t.Bytes(data + 16, in.thumbnail->data(), in.thumbnail->size());
  }
  return seg;
}

void AppendJfxx(std::vector<uint8_t>& out, const std::vector<uint8_t>& thumbnail) {
  const size_t length = thumbnail.size() + 8;
  const uint8_t head[10] = {0xFF, 0xE0, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length),
                            'J',  'F',  'X', 'X', 0, 0x10};
  out.insert(out.end(), head, head + 10);
  out.insert(out.end(), thumbnail.begin(), thumbnail.end());
}

}  // namespace tessera::jpeg
