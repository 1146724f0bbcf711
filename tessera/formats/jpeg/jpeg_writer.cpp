// The JPEG writer: colour images with an Exif segment, grey images with JFIF (and JFXX for
// the thumbnail), then the tables and the scan, band by band.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <new>
#include <vector>

#include "core/object_state.h"
#include "core/thumbnail.h"
#include "formats/byte_order.h"
#include "formats/jpeg/jpeg.h"
#include "formats/jpeg/jpeg_encoder.h"
#include "formats/jpeg/jpeg_thumbnail.h"
#include "formats/jpeg/jpeg_segments.h"

namespace tessera {

namespace {

constexpr int kBandRows = 128;

void Now(char* text) {  // 20 bytes
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char full[64];
  std::snprintf(full, sizeof full, "%04d:%02d:%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec);
  std::memcpy(text, full, 19);
  text[19] = 0;
}

class JpegWriter final : public FormatWriter {
 public:
  using FormatWriter::FormatWriter;

  long Write(long level, ProgressProc progress, void* param, short writeThumbnail) override {
    tagTes_Image_Desc desc{};
    source_.GetImageDesc(&desc);
    if (desc.colorSpace != TES_CS_GRAY8 && desc.colorSpace != TES_CS_RGB24) return TES_ERR_CANNOT_STORE;
    if (level < 1 || level > 5) return TES_ERR_CANNOT_STORE;
    if (desc.width <= 0 || desc.height <= 0) return TES_ERR_NO_IMAGE;
    // The frame header holds 16-bit sizes.
    if (desc.width > 65535 || desc.height > 65535) return TES_ERR_CANNOT_STORE;
    const bool grey = desc.colorSpace == TES_CS_GRAY8;
    const int dpi = desc.resolution >= 1.0 && desc.resolution < 65536.0 ? static_cast<int>(desc.resolution)
                    : desc.resolution >= 65536.0                        ? 65535
                                                                        : 1;
    tagTes_Image_Info info{};
    source_.GetImageInfo(&info, sizeof info);

    std::vector<uint8_t> thumbnail;
    bool withThumbnail = false;
    if (writeThumbnail != 0) {
      if (const long s = MakeThumbnail(thumbnail, dpi)) return s;
      withThumbnail = thumbnail.size() <= jpeg::kThumbnailBufferBytes;
    }

    jpeg::EncoderConfig config;
    config.width = desc.width;
    config.height = desc.height;
    config.grey = grey;
    config.level = static_cast<int>(level);
    config.sampling = jpeg::QualitySampling(config.level);
    jpeg::ScanEncoder encoder(config);

    std::vector<uint8_t> header{0xFF, 0xD8};
    size_t cbppAt = 0;
    if (grey) {
      jpeg::AppendJfif(header, dpi);
      // The JFXX length field holds the thumbnail and 8 bytes.
      if (withThumbnail && thumbnail.size() + 8 <= 65535) jpeg::AppendJfxx(header, thumbnail);
    } else {
      if (withThumbnail && jpeg::ExifSegmentSize(info, thumbnail.size(), true) > jpeg::kMaxSegmentBytes)
        withThumbnail = false;
      char now[20] = {}, modified[20] = {};
      Now(now);
      // Without the file's time (its status cannot be read) the current time stands in.
      if (out_.GetModifiedTime(modified) != 0) std::memcpy(modified, now, sizeof now);
      jpeg::ExifInput exif;
      exif.info = &info;
      exif.dpi = dpi;
      exif.dateTime = now;
      exif.dateTimeDigitized = modified;
      exif.srgb = source_.State().store.srgb();
      exif.width = static_cast<uint32_t>(desc.width);
      exif.height = static_cast<uint32_t>(desc.height);
      exif.thumbnail = withThumbnail ? &thumbnail : nullptr;
      jpeg::ExifSegment segment = jpeg::BuildExifSegment(exif);
      cbppAt = header.size() + segment.cbppNumeratorAt;
      header.insert(header.end(), segment.bytes.begin(), segment.bytes.end());
    }
    encoder.AppendTables(header);
    if (out_.Write(header.data(), static_cast<long>(header.size())) != 0) return out_.Error();
    uint64_t written = header.size();

    const int channels = grey ? 1 : 3;
    const int32_t rowBytes = desc.width * channels;
    const int bandRows = std::min(kBandRows, desc.height);
    std::vector<uint8_t> band;
    try {
      band.resize(static_cast<size_t>(rowBytes) * bandRows);
      encoder.Output().reserve(static_cast<size_t>(rowBytes) * bandRows);
    } catch (const std::bad_alloc&) {
      return TES_ERR_NO_MEMORY;
    }
    for (int first = 0; first < desc.height; first += kBandRows) {
      const int rows = std::min(kBandRows, desc.height - first);
      const tagTes_Tile_Desc tile{{0, first, desc.width, rows}, rowBytes, 0};
      if (const long s = source_.GetData(tile, band.data())) return s;
      encoder.EncodeRows(band.data(), rowBytes, rows);
      if (first + rows >= desc.height) encoder.Finish();
      std::vector<uint8_t>& coded = encoder.Output();
      if (!coded.empty() && out_.Write(coded.data(), static_cast<long>(coded.size())) != 0) return out_.Error();
      written += coded.size();
      coded.clear();
      if (progress != nullptr)
        if (const long stop = progress(desc.height, first + rows, param)) return stop;
    }

    if (!grey) {
      const double bits = static_cast<double>(written) * 8.0 /
                          (static_cast<double>(desc.width) * 3.0 * static_cast<double>(desc.height)) * 1000.0;
      const uint32_t numerator = bits >= 4294967295.0 ? 4294967295u : static_cast<uint32_t>(bits);
      uint8_t le[4];
      bytes::StoreLE32(le, numerator);
      if (out_.Seek(static_cast<long>(cbppAt)) != 0) return out_.Error();
      if (out_.Write(le, 4) != 0) return out_.Error();
    }
    return 0;
  }

 private:
  // The thumbnail's JPEG stream, encoded in memory: level-3 tables, 2x1 luminance sampling
  // (1x1 for grey), and a JFIF segment only for the JFXX thumbnail of a grey image. The
  // stream grows as needed; the caller leaves it out of the file when it is longer than
  // the thumbnail buffer or its segment allows.
  long MakeThumbnail(std::vector<uint8_t>& stream, int dpi) const {
    return jpeg::EncodeThumbnail(source_.State(), dpi, 0, stream);
  }

};

}  // namespace

std::unique_ptr<FormatWriter> MakeJpegWriter(const TesseraClass& source, OutputStream& out) {
  return std::unique_ptr<FormatWriter>(new (std::nothrow) JpegWriter(source, out));
}

}  // namespace tessera
