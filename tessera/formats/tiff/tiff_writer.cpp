// Writes an image as an uncompressed little-endian TIFF with one strip:
//
//   0    "II", 42, IFD offset 8
//   8    IFD: 15 entries (16 with an ICC profile), next-IFD offset 0
//        after it: BitsPerSample array (3 or 4 samples only), XResolution, YResolution,
//        the maker block, the ICC profile
//        then the strip
//
// The strip's byte count (file offset 126) is written as 0 and patched after the strip.
#include <sys/uio.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "formats/byte_order.h"
#include "formats/tiff/tiff.h"
#include "formats/tiff/tiff_ifd.h"
#include "formats/tiff/tiff_thumbnail.h"

namespace tessera {
namespace tiff {

bool FieldsFor(int colorSpace, WriteFields& f) {
  switch (colorSpace) {
    case TES_CS_GRAY8: f = {1, 8, 1}; return true;
    case TES_CS_GRAY16: f = {1, 16, 1}; return true;
    case TES_CS_RGB24: f = {3, 8, 2}; return true;
    case TES_CS_RGB48: f = {3, 16, 2}; return true;
    case TES_CS_CMYK32: f = {4, 8, 5}; return true;
    case TES_CS_LAB48: f = {3, 16, 8}; return true;
    default: return false;
  }
}

namespace {

// Dots per inch × 1000, truncated, as the numerator over 1000.
uint32_t ResolutionNumerator(double dpi) {
  const double scaled = std::trunc(dpi * 1000.0);
  if (!(scaled > 0.0)) return 0;  // also NaN; readers take 0 as 72 dpi
  if (scaled >= 4294967295.0) return 4294967295u;
  return static_cast<uint32_t>(scaled);
}

}  // namespace

long BuildWriteHead(const tagTes_Image_Desc& desc, uint16_t orientation, const uint8_t* icc, size_t iccLength,
                    const uint8_t* thumbnail, size_t thumbnailLength, WriteHead& head) {
  WriteFields f{};
  if (!FieldsFor(desc.colorSpace, f)) return TES_ERR_CANNOT_STORE;
  const bool withIcc = icc != nullptr && iccLength > 0;
  const uint32_t entries = withIcc ? 16 : 15;
  const uint64_t ifdEnd = 8 + 2 + 12 * entries + 4;
  const uint64_t bitsAt = ifdEnd;
  const uint64_t bitsBytes = f.samples > 1 ? 2u * f.samples : 0;
  const uint64_t xResAt = bitsAt + bitsBytes;
  const uint64_t yResAt = xResAt + 8;
  const uint64_t makerAt = yResAt + 8;
  const uint64_t makerBytes = thumbnailLength > 0 ? 22 + uint64_t{thumbnailLength} : 10;
  const uint64_t iccAt = makerAt + makerBytes;
  const uint64_t stripAt = iccAt + (withIcc ? iccLength : 0);
  const uint64_t stripBytes =
      uint64_t{static_cast<uint32_t>(desc.width)} * static_cast<uint32_t>(desc.height) * f.samples * (f.bits / 8);
  // Every offset and the strip's byte count are 32-bit fields.
  if (stripAt + stripBytes > UINT32_MAX) return TES_ERR_CANNOT_STORE;

  std::vector<uint8_t>& b = head.bytes;
  try {
    b.assign(static_cast<size_t>(stripAt), 0);
  } catch (const std::bad_alloc&) {
    return TES_ERR_NO_MEMORY;
  }
  b[0] = 'I';
  b[1] = 'I';
  bytes::StoreLE16(&b[2], 42);
  bytes::StoreLE32(&b[4], 8);
  bytes::StoreLE16(&b[8], entries);
  uint8_t* e = &b[10];
  const auto entry = [&](uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
    bytes::StoreLE16(e, tag);
    bytes::StoreLE16(e + 2, type);
    bytes::StoreLE32(e + 4, count);
    if (type == kShort && count == 1)
      bytes::StoreLE16(e + 8, value);  // a SHORT sits in the first two bytes of the value field
    else
      bytes::StoreLE32(e + 8, value);
    e += 12;
  };
  entry(256, kLong, 1, static_cast<uint32_t>(desc.width));
  entry(257, kLong, 1, static_cast<uint32_t>(desc.height));
  entry(258, kShort, f.samples, f.samples == 1 ? f.bits : static_cast<uint32_t>(bitsAt));
  entry(259, kShort, 1, 1);
  entry(262, kShort, 1, f.photometric);
  entry(273, kLong, 1, static_cast<uint32_t>(stripAt));
  // 0 means "not set" in the metadata record; readers refuse 0 as an Orientation.
  entry(274, kShort, 1, orientation >= 1 && orientation <= 8 ? orientation : 1);
  entry(277, kShort, 1, f.samples);
  entry(278, kLong, 1, static_cast<uint32_t>(desc.height));
  entry(279, kLong, 1, 0);  // patched after the strip
  entry(282, kRational, 1, static_cast<uint32_t>(xResAt));
  entry(283, kRational, 1, static_cast<uint32_t>(yResAt));
  entry(284, kShort, 1, 1);
  entry(296, kShort, 1, 2);
  entry(kMakerTag, kUndefined, static_cast<uint32_t>(makerBytes), static_cast<uint32_t>(makerAt));
  if (withIcc) entry(kIccTag, kUndefined, static_cast<uint32_t>(iccLength), static_cast<uint32_t>(iccAt));
  // The next-IFD offset stays 0.

  for (unsigned i = 0; i < bitsBytes / 2; ++i) bytes::StoreLE16(&b[bitsAt + 2 * i], f.bits);
  const uint32_t numerator = ResolutionNumerator(desc.resolution);
  for (const uint64_t at : {xResAt, yResAt}) {
    bytes::StoreLE32(&b[at], numerator);
    bytes::StoreLE32(&b[at + 4], 1000);
  }
  uint8_t* maker = &b[makerAt];
  std::memcpy(maker, kMakerId, 6);
  bytes::StoreLE16(maker + 6, kMakerVersion);
  if (thumbnailLength > 0) {
    bytes::StoreLE16(maker + 8, 1);
    bytes::StoreLE16(maker + 10, 256);
    bytes::StoreLE16(maker + 12, kUndefined);
    bytes::StoreLE32(maker + 14, static_cast<uint32_t>(thumbnailLength));
    bytes::StoreLE32(maker + 18, 22);
    std::memcpy(maker + 22, thumbnail, thumbnailLength);
  }
  if (withIcc) std::memcpy(&b[iccAt], icc, iccLength);
  head.stripBytes = static_cast<uint32_t>(stripBytes);
  return 0;
}

}  // namespace tiff

namespace {

// A band of the strip: about 1 MiB of rows, at most a tile's height.
constexpr size_t kBandBytes = size_t{1} << 20;
constexpr int kBandRows = 128;

class TiffWriter final : public FormatWriter {
 public:
  using FormatWriter::FormatWriter;

  long Write(long option, ProgressProc progress, void* param, short writeThumbnail) override {
    if (option != 0) return tiff::kCompressed;

    tagTes_Image_Desc desc{};
    source_.GetImageDesc(&desc);
    tiff::WriteFields fields{};
    if (!tiff::FieldsFor(desc.colorSpace, fields)) return TES_ERR_CANNOT_STORE;
    // An object without an image would give a file that no reader accepts.
    if (desc.width <= 0 || desc.height <= 0) return TES_ERR_NO_IMAGE;

    tagTes_Image_Info record{};
    if (const long s = source_.GetImageInfo(&record, sizeof record)) return s;
    // The profile is cached in the object on first use, as it is for every caller.
    unsigned char* icc = nullptr;
    unsigned long iccLength = 0;
    if (const long s = const_cast<TesseraClass&>(source_).GetCurIccProfileData(&icc, &iccLength)) return s;

    std::vector<uint8_t> thumbnail;
    if (writeThumbnail != 0)
      if (const long s = tiff::EncodeThumbnail(source_, thumbnail)) return s;

    tiff::WriteHead head;
    if (const long s = tiff::BuildWriteHead(desc, record.orientation, icc, iccLength, thumbnail.data(),
                                            thumbnail.size(), head))
      return s;
    if (out_.Write(head.bytes.data(), static_cast<long>(head.bytes.size())) != 0) return out_.Error();

    // The strip goes to the file a band of rows at a time, through one buffer small enough
    // to stay in the cache between the copy out of the tiles and the write.
    const size_t rowBytes = static_cast<size_t>(desc.width) * fields.samples * (fields.bits / 8);
    if (rowBytes > INT32_MAX) return TES_ERR_CANNOT_STORE;
    const int bandRows = static_cast<int>(std::clamp<size_t>(kBandBytes / rowBytes, 1, std::min(kBandRows, desc.height)));
    std::unique_ptr<uint8_t[]> band(new (std::nothrow) uint8_t[rowBytes * bandRows]);
    if (!band) return TES_ERR_NO_MEMORY;
    for (int first = 0; first < desc.height; first += bandRows) {
      const int rows = std::min(bandRows, desc.height - first);
      const tagTes_Tile_Desc tile{{0, first, desc.width, rows}, static_cast<int32_t>(rowBytes), 0};
      if (const long s = source_.GetData(tile, band.get())) return s;
      const iovec piece{band.get(), rowBytes * rows};
      if (out_.WritePieces(&piece, 1) != 0) return out_.Error();
      if (progress != nullptr)
        if (const long stop = progress(desc.height, first + rows, param)) return stop;
    }

    uint8_t count[4];
    bytes::StoreLE32(count, head.stripBytes);
    if (out_.Flush() != 0 || out_.Seek(tiff::kStripByteCountAt) != 0 || out_.Write(count, 4) != 0)
      return out_.Error();
    return 0;
  }
};

}  // namespace

std::unique_ptr<FormatWriter> MakeTiffWriter(const TesseraClass& source, OutputStream& out) {
  return std::unique_ptr<FormatWriter>(new (std::nothrow) TiffWriter(source, out));
}

}  // namespace tessera
