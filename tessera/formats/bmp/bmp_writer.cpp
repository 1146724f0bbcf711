// Writes 8-bit grey images as BMP with a grey-ramp palette and 24-bit colour images as
// 24-bit BMP: a 40-byte information header, rows bottom-up, each padded with zeros to a
// multiple of 4 bytes.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "formats/bmp/bmp.h"
#include "formats/bmp/swap_rgb.h"

namespace tessera {

int32_t BmpPixelsPerMetre(double dotsPerInch) {
  const double ppm = (dotsPerInch * 39361.0 + 999.0) * 0.001;
  if (!(ppm > 0.0)) return 0;  // also NaN
  if (ppm >= 2147483647.0) return INT32_MAX;
  return static_cast<int32_t>(ppm);  // truncated toward zero
}

namespace {

constexpr int kBandRows = 128;

void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}


class BmpWriter final : public FormatWriter {
 public:
  using FormatWriter::FormatWriter;

  long Write(long, ProgressProc progress, void* param, short) override {
    tagTes_Image_Desc desc{};
    source_.GetImageDesc(&desc);
    if (desc.colorSpace != TES_CS_GRAY8 && desc.colorSpace != TES_CS_RGB24) return TES_ERR_CANNOT_STORE;
    // An object without an image would give a file that no reader accepts.
    if (desc.width <= 0 || desc.height <= 0) return TES_ERR_NO_IMAGE;
    const bool grey = desc.colorSpace == TES_CS_GRAY8;
    const int channels = grey ? 1 : 3;
    const int64_t rowData = int64_t{desc.width} * channels;
    const int64_t stride = (rowData + 3) / 4 * 4;
    const uint32_t dataOffset = grey ? 14 + 40 + 1024 : 14 + 40;
    const int64_t fileSize = stride * desc.height + dataOffset;
    // The file size field has 32 bits, and the image store hands out rows of at most
    // INT32_MAX bytes: larger images cannot be stored as BMP.
    if (fileSize > UINT32_MAX || stride > INT32_MAX) return TES_ERR_CANNOT_STORE;

    uint8_t header[14 + 40 + 1024] = {};
    header[0] = 'B';
    header[1] = 'M';
    Put32(header + 2, static_cast<uint32_t>(fileSize));
    Put32(header + 10, dataOffset);
    uint8_t* info = header + 14;
    Put32(info, 40);
    Put32(info + 4, static_cast<uint32_t>(desc.width));
    Put32(info + 8, static_cast<uint32_t>(desc.height));
    Put16(info + 12, 1);
    Put16(info + 14, grey ? 8 : 24);
    const uint32_t ppm = static_cast<uint32_t>(BmpPixelsPerMetre(desc.resolution));
    Put32(info + 24, ppm);
    Put32(info + 28, ppm);
    if (grey) {
      uint8_t* palette = info + 40;
      for (int i = 0; i < 256; ++i) palette[4 * i] = palette[4 * i + 1] = palette[4 * i + 2] = static_cast<uint8_t>(i);
    }
    if (out_.Write(header, dataOffset) != 0) return out_.Error();

    const int bandRows = std::min(kBandRows, desc.height);
    const size_t bandBytes = static_cast<size_t>(stride) * bandRows;
    std::unique_ptr<uint8_t[]> file(new (std::nothrow) uint8_t[bandBytes]);
    if (!file) return TES_ERR_NO_MEMORY;

    // File row i is image row height - 1 - i: each row is fetched straight into its place
    // in the band, then turned to blue, green, red and padded with zeros.
    for (int first = 0; first < desc.height; first += kBandRows) {
      const int rows = std::min(kBandRows, desc.height - first);
      for (int r = 0; r < rows; ++r) {
        uint8_t* dst = file.get() + static_cast<size_t>(r) * stride;
        const tagTes_Tile_Desc tile{{0, desc.height - 1 - first - r, desc.width, 1}, static_cast<int32_t>(stride), 0};
        if (const long status = source_.GetData(tile, dst)) return status;
        if (!grey) SwapRedBlue(dst, desc.width);
        std::memset(dst + rowData, 0, static_cast<size_t>(stride - rowData));
      }
      // The band's first row, progress for it, then the rest.
      if (out_.Write(file.get(), static_cast<long>(stride)) != 0) return out_.Error();
      if (progress != nullptr)
        if (const long stop = progress(desc.height, first, param)) return stop;
      if (rows > 1 && out_.Write(file.get() + stride, static_cast<long>(stride * (rows - 1))) != 0)
        return out_.Error();
    }
    return 0;
  }
};

}  // namespace

std::unique_ptr<FormatWriter> MakeBmpWriter(const TesseraClass& source, OutputStream& out) {
  return std::unique_ptr<FormatWriter>(new (std::nothrow) BmpWriter(source, out));
}

}  // namespace tessera
