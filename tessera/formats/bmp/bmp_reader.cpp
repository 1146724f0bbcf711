// Reads uncompressed 8-bit grey and 24-bit colour BMP files.
//
// Checks, in order: the "BM" type (else 1013); the information header's size (40, or 108
// and 124 for the version 4 and 5 headers, whose extra fields are ignored), a width above
// 0, a height other than 0, one plane (each 1500); 8 or 24 bits per pixel (1502); the
// colours-used count, 0 or 256 for 8 bits and 0 for 24 (1501); no compression (1503); for
// 8 bits a palette that is the exact grey ramp (1500). Rows whose bytes cannot all be in
// the file are refused with 1500 before anything is allocated for them.
#include <algorithm>
#include <cstring>
#include <new>

#include "formats/bmp/bmp.h"
#include "formats/bmp/swap_rgb.h"
#include "formats/orientation.h"

namespace tessera {

double BmpDotsPerInch(int32_t pixelsPerMetre) {
  const uint32_t dpi = (1000u * static_cast<uint32_t>(pixelsPerMetre) + 19680u) / 39361u;
  return dpi == 0 ? 72.0 : static_cast<double>(dpi);
}

namespace {

constexpr long kFileHeaderBytes = 14;
constexpr long kInfoHeaderBytes = 40;
constexpr long kPaletteBytes = 1024;
constexpr int kBandRows = 128;


uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

struct Layout {
  int32_t width = 0;
  int32_t height = 0;     // always positive
  bool topDown = false;   // a negative height in the file: the first row is the top one
  int bytesPerPixel = 0;  // 1 or 3
  int64_t stride = 0;     // bytes per file row, a multiple of 4
  int64_t dataStart = 0;  // file offset of the first row
  int64_t headersEnd = 0; // file offset just after the headers and palette
  double resolution = 72.0;
};

class BmpReader final : public FormatReader {
 public:
  using FormatReader::FormatReader;

  long Test(tagTes_Image_Desc* desc, short* hasThumbnail) override {
    Layout layout;
    if (const long status = ReadHeaders(layout, false)) return status;
    if (desc != nullptr) *desc = Describe(layout);
    if (hasThumbnail != nullptr) *hasThumbnail = 0;
    return 0;
  }

  long Open(ProgressProc progress, void* param, const tagTes_Transform_Struct& transform) override {
    Layout layout;
    if (const long status = ReadHeaders(layout, true)) return status;
    if (target_ == nullptr) return TES_ERR_NO_IMAGE;
    if (const long status = DescribeTarget(*target_, Describe(layout), transform)) return status;
    if (layout.dataStart != layout.headersEnd && in_.Seek(static_cast<long>(layout.dataStart)) != 0)
      return in_.Error();
    return ReadRows(layout, progress, param, transform);
  }

  long OpenThumbnail(ProgressProc progress, void* param, short allowFullImage,
                     const tagTes_Transform_Struct& transform) override {
    if (allowFullImage != 0) return Open(progress, param, transform);
    // A BMP holds no thumbnail: only the type is checked.
    const long status = ReadType();
    return status != 0 ? status : TES_ERR_NO_THUMBNAIL;
  }

 private:
  // 0 when the file begins with "BM", else 1013; a file too short to hold the type is not
  // a BMP either. A read error is the stream's code.
  long ReadType() {
    for (const int expected : {'B', 'M'}) {
      const long b = in_.ReadByte();
      if (b == kStreamFailed) return in_.Error() == TES_ERR_IN_EOF ? TES_ERR_UNKNOWN_FORMAT : in_.Error();
      if (b != expected) return TES_ERR_UNKNOWN_FORMAT;
    }
    return 0;
  }

  long ReadHeaders(Layout& layout, bool readPalette) {
    if (const long status = ReadType()) return status;
    uint8_t file[kFileHeaderBytes - 2];
    if (in_.Read(file, sizeof file) != static_cast<long>(sizeof file)) return in_.Error();
    const uint32_t dataOffset = U32(file + 8);

    uint8_t info[kInfoHeaderBytes];
    if (in_.Read(info, kInfoHeaderBytes) != kInfoHeaderBytes) return in_.Error();
    const uint32_t headerSize = U32(info);
    const int32_t width = static_cast<int32_t>(U32(info + 4));
    const int32_t height = static_cast<int32_t>(U32(info + 8));
    const uint16_t planes = U16(info + 12);
    const uint16_t bits = U16(info + 14);
    const uint32_t compression = U32(info + 16);
    const int32_t pixelsPerMetre = static_cast<int32_t>(U32(info + 24));
    const uint32_t colorsUsed = U32(info + 32);

    if (headerSize != 40 && headerSize != 108 && headerSize != 124) return TES_ERR_BMP_HEADER;
    // A negative width has no meaning; a negative height means top-down rows.
    if (width <= 0 || height == 0 || planes != 1) return TES_ERR_BMP_HEADER;
    if (bits != 8 && bits != 24) return TES_ERR_BMP_DEPTH;
    if (bits == 24 ? colorsUsed != 0 : (colorsUsed != 0 && colorsUsed != 256)) return TES_ERR_BMP_COLORS_USED;
    if (compression != 0) return TES_ERR_BMP_COMPRESSED;

    // The rest of a version 4 or 5 header (masks, colour space, gamma, profile) is skipped.
    if (headerSize > kInfoHeaderBytes) {
      uint8_t rest[124 - kInfoHeaderBytes];
      const long extra = static_cast<long>(headerSize) - kInfoHeaderBytes;
      if (in_.Read(rest, extra) != extra) return in_.Error();
    }

    layout.width = width;
    layout.topDown = height < 0;
    const int64_t rows = height < 0 ? -int64_t{height} : int64_t{height};
    if (rows > INT32_MAX) return TES_ERR_BMP_HEADER;
    layout.height = static_cast<int32_t>(rows);
    layout.bytesPerPixel = bits / 8;
    layout.stride = (int64_t{width} * layout.bytesPerPixel + 3) / 4 * 4;
    layout.headersEnd = kFileHeaderBytes + headerSize + (bits == 8 ? kPaletteBytes : 0);
    layout.resolution = BmpDotsPerInch(pixelsPerMetre);

    // The rows start where the file header says when that lies after the headers and the
    // palette and inside the file; otherwise they are taken to follow the headers.
    const long long length = in_.Length();
    layout.dataStart = layout.headersEnd;
    if (dataOffset >= layout.headersEnd && (length < 0 || int64_t{dataOffset} < length))
      layout.dataStart = dataOffset;

    if (bits == 8 && readPalette) {
      uint8_t palette[kPaletteBytes];
      if (in_.Read(palette, kPaletteBytes) != kPaletteBytes) return in_.Error();
      for (int i = 0; i < 256; ++i) {
        const uint8_t* entry = palette + 4 * i;
        if (entry[0] != i || entry[1] != i || entry[2] != i) return TES_ERR_BMP_HEADER;
      }
    }
    // Last, before anything is allocated for them: the rows must all be in the file.
    // (Compared by division: the product of two sizes from the header can overflow.)
    if (length >= 0) {
      const int64_t room = length - int64_t{layout.dataStart};
      if (room < 0 || (rows > 0 && int64_t{layout.stride} > room / rows)) return TES_ERR_BMP_HEADER;
    }
    return 0;
  }

  static tagTes_Image_Desc Describe(const Layout& layout) {
    tagTes_Image_Desc desc{};
    desc.width = layout.width;
    desc.height = layout.height;
    desc.colorSpace = layout.bytesPerPixel == 1 ? TES_CS_GRAY8 : TES_CS_RGB24;
    for (int c = 0; c < layout.bytesPerPixel; ++c) desc.bitsPerChannel[c] = 8;
    desc.resolution = layout.resolution;
    return desc;
  }

  // Reads the rows a band at a time. The rows are stored in file order: for a bottom-up
  // file that is the image turned upside down, so a vertical flip is composed into the
  // caller's transform and each file row lands on image row height - 1 - i.
  long ReadRows(const Layout& layout, ProgressProc progress, void* param, const tagTes_Transform_Struct& transform) {
    const tagTes_Transform_Struct store = layout.topDown ? transform : ComposeOrientation(transform, 4);
    if (layout.stride > INT32_MAX) return TES_ERR_NO_MEMORY;  // a row the image store cannot take
    const int32_t rowBytes = static_cast<int32_t>(layout.stride);
    const int bandRows = std::min(kBandRows, layout.height);
    const size_t bandBytes = static_cast<size_t>(layout.stride) * bandRows;
    std::unique_ptr<uint8_t[]> band(new (std::nothrow) uint8_t[bandBytes]);
    if (!band) return TES_ERR_NO_MEMORY;

    for (int first = 0; first < layout.height; first += kBandRows) {
      const int rows = std::min(kBandRows, layout.height - first);
      const long bytes = static_cast<long>(layout.stride * rows);
      if (in_.Read(band.get(), bytes) != bytes) return in_.Error();
      if (layout.bytesPerPixel == 3) {
        for (int r = 0; r < rows; ++r) SwapRedBlue(band.get() + static_cast<size_t>(r) * layout.stride, layout.width);
      }
      // The band's first row alone, then progress for it, then the rest of the band.
      tagTes_Tile_Desc tile{{0, first, layout.width, 1}, rowBytes, 0};
      if (const long status = target_->SetData(tile, store, band.get())) return status;
      if (progress != nullptr)
        if (const long stop = progress(layout.height, first, param)) return stop;
      if (rows > 1) {
        tile.rect = {0, first + 1, layout.width, rows - 1};
        if (const long status = target_->SetData(tile, store, band.get() + layout.stride)) return status;
      }
    }
    return 0;
  }
};

}  // namespace

std::unique_ptr<FormatReader> MakeBmpReader(TesseraClass* target, InputStream& in) {
  return std::unique_ptr<FormatReader>(new (std::nothrow) BmpReader(target, in));
}

}  // namespace tessera
