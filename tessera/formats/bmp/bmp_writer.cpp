// Writes 8-bit grey images as BMP with a grey-ramp palette and 24-bit colour images as
// 24-bit BMP: a 40-byte information header, rows bottom-up, each padded with zeros to a
// multiple of 4 bytes.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "formats/bmp/bmp.h"
#include "formats/bmp/dib.h"
#include "formats/byte_order.h"

namespace tessera {

int32_t BmpPixelsPerMetre(double dotsPerInch) {
  const double ppm = (dotsPerInch * 39361.0 + 999.0) * 0.001;
  if (!(ppm > 0.0)) return 0;  // also NaN
  if (ppm >= 2147483647.0) return INT32_MAX;
  return static_cast<int32_t>(ppm);  // truncated toward zero
}

namespace {

constexpr int kBandRows = 128;

using namespace dib;
using bytes::StoreLE32;

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
    const uint32_t dataOffset = grey ? 14 + kInfoHeaderBytes + 1024 : 14 + kInfoHeaderBytes;
    const int64_t fileSize = stride * desc.height + dataOffset;
    // The file size field has 32 bits, and the image store hands out rows of at most
    // INT32_MAX bytes: larger images cannot be stored as BMP.
    if (fileSize > UINT32_MAX || stride > INT32_MAX) return TES_ERR_CANNOT_STORE;

    uint8_t header[14 + 40 + 1024] = {};
    header[0] = 'B';
    header[1] = 'M';
    StoreLE32(header + 2, static_cast<uint32_t>(fileSize));
    StoreLE32(header + 10, dataOffset);
    uint8_t* info = header + 14;
    WriteInfoHeader(info, desc.width, desc.height, grey ? 8 : 24, 0, BmpPixelsPerMetre(desc.resolution));
    if (grey) WriteGreyPalette(info + kInfoHeaderBytes);
    if (out_.Write(header, dataOffset) != 0) return out_.Error();

    const int bandRows = std::min(kBandRows, desc.height);
    const size_t bandBytes = static_cast<size_t>(stride) * bandRows;
    std::unique_ptr<uint8_t[]> file(new (std::nothrow) uint8_t[bandBytes]);
    if (!file) return TES_ERR_NO_MEMORY;

    // File row i is image row height - 1 - i: each row is fetched straight into its place
    // in the band, then turned to blue, green, red and padded with zeros.
    const tagTes_Rect whole{0, 0, desc.width, desc.height};
    for (int first = 0; first < desc.height; first += kBandRows) {
      const int rows = std::min(kBandRows, desc.height - first);
      for (int r = 0; r < rows; ++r)
        if (const long status = EncodeRow(source_, whole, first + r, channels, stride,
                                          file.get() + static_cast<size_t>(r) * stride))
          return status;
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
