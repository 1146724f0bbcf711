// Reads BMP files: 1-, 4- and 8-bit palettes (grey palettes into 8-bit grey, others into
// RGB), RLE8 and RLE4, 16- and 32-bit pixels with or without bit-field masks, 24-bit RGB,
// under OS/2 1.x and 2.x headers as well as the Windows ones.
//
// Checks, in order: the "BM" type (else TES_ERR_UNKNOWN_FORMAT); the information header's
// size, a width above 0, a height other than 0, one plane (each TES_ERR_BMP_HEADER); the
// depth (TES_ERR_BMP_DEPTH); a colours-used count the depth can index
// (TES_ERR_BMP_COLORS_USED); a compression that fits the depth (TES_ERR_BMP_COMPRESSED).
// Rows whose bytes cannot all be in the file, and run-length data too short for the image
// they claim, are refused with TES_ERR_BMP_HEADER before anything is allocated for them.
// The header fields, masks, palette and row conversion are the bitmap codec's (dib.h).
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "formats/bmp/bmp.h"
#include "formats/bmp/dib.h"
#include "formats/byte_order.h"
#include "formats/orientation.h"

namespace tessera {

double BmpDotsPerInch(int32_t pixelsPerMetre) {
  const uint32_t dpi = (1000u * static_cast<uint32_t>(pixelsPerMetre) + 19680u) / 39361u;
  return dpi == 0 ? 72.0 : static_cast<double>(dpi);
}

namespace {

constexpr long kFileHeaderBytes = 14;
constexpr int kBandRows = 128;
// A compressed file's pixels per byte of file are bounded (runs of up to 255 pixels in two
// bytes, and skips): a header that claims far more than the data could give is refused
// before anything is allocated for it.
constexpr int64_t kMaxRlePixelsPerByte = 4096;

using namespace dib;
using bytes::LoadLE32;

class BmpReader final : public FormatReader {
 public:
  using FormatReader::FormatReader;

  long Test(tagTes_Image_Desc* desc, short* hasThumbnail) override {
    Layout layout;
    if (const long status = ReadHeaders(layout)) return status;
    if (desc != nullptr) *desc = Describe(layout);
    if (hasThumbnail != nullptr) *hasThumbnail = 0;
    return 0;
  }

  long Open(ProgressProc progress, void* param, const tagTes_Transform_Struct& transform) override {
    Layout layout;
    if (const long status = ReadHeaders(layout)) return status;
    if (target_ == nullptr) return TES_ERR_NO_IMAGE;
    if (const long status = DescribeTarget(*target_, Describe(layout), transform)) return status;
    if (in_.Seek(static_cast<long>(layout.dataStart)) != 0) return in_.Error();
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
  // 0 when the file begins with "BM", else TES_ERR_UNKNOWN_FORMAT; a file too short to hold the type is not
  // a BMP either. A read error is the stream's code.
  long ReadType() {
    for (const int expected : {'B', 'M'}) {
      const long b = in_.ReadByte();
      if (b == kStreamFailed) return in_.Error() == TES_ERR_IN_EOF ? TES_ERR_UNKNOWN_FORMAT : in_.Error();
      if (b != expected) return TES_ERR_UNKNOWN_FORMAT;
    }
    return 0;
  }

  // The headers of every common kind: OS/2 1.x (12 bytes, 16-bit sizes, 3-byte palette
  // entries), OS/2 2.x (16 to 64 bytes), Windows 3 (40) and its successors (52, 56, 108,
  // 124, whose colour-space fields are ignored); bit-field masks inside the header or after
  // a 40-byte one; the palette.
  long ReadHeaders(Layout& layout) {
    if (const long status = ReadType()) return status;
    uint8_t file[kFileHeaderBytes - 2];
    if (in_.Read(file, sizeof file) != static_cast<long>(sizeof file)) return in_.Error();
    const uint32_t dataOffset = LoadLE32(file + 8);

    uint8_t info[124] = {};
    if (in_.Read(info, 4) != 4) return in_.Error();
    const uint32_t headerSize = LoadLE32(info);
    const bool core = headerSize == 12;
    const bool os2 = headerSize >= 16 && headerSize <= 64 && headerSize != 40 && headerSize != 52 &&
                     headerSize != 56;
    if (!core && !os2 && headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 108 &&
        headerSize != 124)
      return TES_ERR_BMP_HEADER;
    const long rest = static_cast<long>(headerSize) - 4;
    if (in_.Read(info + 4, rest) != rest) return in_.Error();

    const InfoHeader header = ReadInfoHeader(info, core);
    const int32_t width = header.width, height = header.height;
    const uint16_t bits = header.bits;
    const uint32_t compression = header.compression, colorsUsed = header.colorsUsed;
    if (const long status = CheckGeometry(header)) return status;
    layout.bits = bits;
    // A palette of a 16-, 24- or 32-bit file is only skipped, whatever its size.
    const uint32_t paletteMax = bits <= 8 ? 1u << bits : 256;
    if (bits <= 8 && colorsUsed > 256) return TES_ERR_BMP_COLORS_USED;
    // OS/2 2.x gives 3 and 4 other meanings (Huffman and RLE24 coding): refused.
    const bool bitfields = !os2 && (compression == kBitfields || compression == kAlphaBitfields);
    const bool fits = compression == kRgb || (compression == kRle8 && bits == 8) ||
                      (compression == kRle4 && bits == 4) || (bitfields && (bits == 16 || bits == 32));
    if (!fits) return TES_ERR_BMP_COMPRESSED;
    const bool rle = compression == kRle8 || compression == kRle4;

    // Masks: inside a header of 52 bytes or more, else after the 40-byte header.
    int64_t at = kFileHeaderBytes + headerSize;
    uint32_t masks[3] = {};
    if (bitfields) {
      if (headerSize >= 52) {
        for (int i = 0; i < 3; ++i) masks[i] = LoadLE32(info + kInfoHeaderBytes + 4 * i);
      } else {
        uint8_t m[16];
        const long n = compression == kAlphaBitfields ? 16 : 12;
        if (in_.Read(m, n) != n) return in_.Error();
        for (int i = 0; i < 3; ++i) masks[i] = LoadLE32(m + 4 * i);
        at += n;
      }
    }
    SetMasks(layout, bitfields ? masks : nullptr);

    // The palette: colorsUsed entries (0: all that the depth can index), 3 bytes each in
    // an OS/2 1.x file, else 4. Files of 16 bits and more may carry one; it is skipped.
    const int entryBytes = core ? 3 : 4;
    const int64_t headersEnd = at;
    uint32_t entries = colorsUsed == 0 ? (bits <= 8 ? paletteMax : 0) : std::min(colorsUsed, 256u);
    // Some writers leave less room than the count says before the pixels: the room wins.
    if (bits <= 8 && dataOffset > at && (dataOffset - at) / entryBytes < entries)
      entries = static_cast<uint32_t>((dataOffset - at) / entryBytes);
    uint8_t palette[256 * 4];
    if (bits <= 8) {
      const long bytes = static_cast<long>(entries) * entryBytes;
      if (in_.Read(palette, bytes) != bytes) return in_.Error();
    }
    SetPalette(layout, palette, bits <= 8 ? entries : 0, entryBytes);
    at += static_cast<int64_t>(entries) * entryBytes * (bits <= 8 ? 1 : 0);
    if (bits > 8) at += static_cast<int64_t>(colorsUsed) * entryBytes;

    const int64_t rows = height < 0 ? -int64_t{height} : int64_t{height};
    if (rows > INT32_MAX) return TES_ERR_BMP_HEADER;
    SetGeometry(layout, header);
    layout.resolution = BmpDotsPerInch(header.pixelsPerMetre);

    // The rows start where the file header says when that lies after the headers and
    // inside the file; otherwise they are taken to follow the headers (and palette).
    const long long length = in_.Length();
    // (The palette of a file of more than 8 bits is not read: the offset may lie anywhere
    // after the headers.)
    layout.dataStart = at;
    const int64_t earliest = bits <= 8 ? at : headersEnd;
    if (dataOffset >= earliest && (length < 0 || int64_t{dataOffset} < length)) layout.dataStart = dataOffset;

    // Last, before anything is allocated for them: the rows must all be in the file, and
    // run-length data must be able to give the pixels the header claims. (Compared by
    // division: the product of two sizes from the header can overflow.)
    if (length >= 0) {
      const int64_t room = length - int64_t{layout.dataStart};
      if (room < 0) return TES_ERR_BMP_HEADER;
      if (rle) {
        if (int64_t{width} > (room + 1) * kMaxRlePixelsPerByte / rows) return TES_ERR_BMP_HEADER;
      } else if (rows > 0 && int64_t{layout.stride} > room / rows) {
        return TES_ERR_BMP_HEADER;
      }
    }
    return 0;
  }

  static tagTes_Image_Desc Describe(const Layout& layout) {
    tagTes_Image_Desc desc{};
    desc.width = layout.width;
    desc.height = layout.height;
    desc.colorSpace = layout.channels == 1 ? TES_CS_GRAY8 : TES_CS_RGB24;
    for (int c = 0; c < layout.channels; ++c) desc.bitsPerChannel[c] = 8;
    desc.resolution = layout.resolution;
    return desc;
  }

  // Stores a band of image rows (file order), the band's first row alone, then progress
  // for it, then the rest of the band.
  long StoreBand(const Layout& layout, const tagTes_Transform_Struct& store, const uint8_t* band, int first, int rows,
                 ProgressProc progress, void* param) {
    const int32_t rowBytes = layout.width * layout.channels;
    tagTes_Tile_Desc tile{{0, first, layout.width, 1}, rowBytes, 0};
    if (const long status = target_->SetData(tile, store, const_cast<uint8_t*>(band))) return status;
    if (progress != nullptr)
      if (const long stop = progress(layout.height, first, param)) return stop;
    if (rows > 1) {
      tile.rect = {0, first + 1, layout.width, rows - 1};
      if (const long status = target_->SetData(tile, store, const_cast<uint8_t*>(band) + rowBytes)) return status;
    }
    return 0;
  }

  // Reads the rows a band at a time. The rows are stored in file order: for a bottom-up
  // file that is the image turned upside down, so a vertical flip is composed into the
  // caller's transform and each file row lands on image row height - 1 - i.
  long ReadRows(const Layout& layout, ProgressProc progress, void* param, const tagTes_Transform_Struct& transform) {
    const tagTes_Transform_Struct store = layout.topDown ? transform : ComposeOrientation(transform, 4);
    if (layout.stride > INT32_MAX || int64_t{layout.width} * 3 > INT32_MAX) return TES_ERR_NO_MEMORY;
    const size_t outRow = static_cast<size_t>(layout.width) * layout.channels;
    const int bandRows = std::min(kBandRows, layout.height);
    std::unique_ptr<uint8_t[]> band(new (std::nothrow) uint8_t[outRow * bandRows]);
    std::unique_ptr<uint8_t[]> scratch(new (std::nothrow) uint8_t[static_cast<size_t>(layout.width)]);
    if (!band || !scratch) return TES_ERR_NO_MEMORY;
    if (layout.compression == kRle8 || layout.compression == kRle4)
      return ReadRunLengthRows(layout, store, band.get(), scratch.get(), progress, param);

    const size_t fileBand = static_cast<size_t>(layout.stride) * bandRows;
    std::unique_ptr<uint8_t[]> raw(new (std::nothrow) uint8_t[fileBand]);
    if (!raw) return TES_ERR_NO_MEMORY;
    for (int first = 0; first < layout.height; first += kBandRows) {
      const int rows = std::min(kBandRows, layout.height - first);
      const long bytes = static_cast<long>(layout.stride * rows);
      if (in_.Read(raw.get(), bytes) != bytes) return in_.Error();
      for (int r = 0; r < rows; ++r)
        ConvertRow(layout, raw.get() + static_cast<size_t>(r) * layout.stride, scratch.get(),
                   band.get() + static_cast<size_t>(r) * outRow);
      if (const long s = StoreBand(layout, store, band.get(), first, rows, progress, param)) return s;
    }
    return 0;
  }

  // RLE8 and RLE4: runs, literal groups, end of line, delta and end of bitmap. Pixels the
  // codes skip are index 0 turned black; data that end early leave the rest black too.
  long ReadRunLengthRows(const Layout& layout, const tagTes_Transform_Struct& store, uint8_t* band, uint8_t* indices,
                         ProgressProc progress, void* param) {
    const size_t outRow = static_cast<size_t>(layout.width) * layout.channels;
    const bool four = layout.compression == kRle4;
    const uint8_t black[3] = {0, 0, 0};
    int y = 0, x = 0, first = 0;
    bool ended = false;
    std::memset(indices, 0, static_cast<size_t>(layout.width));
    std::vector<bool> skipped;  // pixels of the current row no code wrote
    try {
      skipped.assign(static_cast<size_t>(layout.width), true);
    } catch (const std::bad_alloc&) {
      return TES_ERR_NO_MEMORY;
    }
    // Finishes the current row into the band; stores the band when it is full.
    auto endRow = [&]() -> long {
      uint8_t* out = band + static_cast<size_t>(y - first) * outRow;
      FromIndices(layout, indices, out);
      for (int i = 0; i < layout.width; ++i)
        if (skipped[static_cast<size_t>(i)]) std::memcpy(out + i * layout.channels, black, static_cast<size_t>(layout.channels));
      std::memset(indices, 0, static_cast<size_t>(layout.width));
      std::fill(skipped.begin(), skipped.end(), true);
      ++y;
      x = 0;
      if (y - first == kBandRows || y == layout.height) {
        if (const long s = StoreBand(layout, store, band, first, y - first, progress, param)) return s;
        first = y;
      }
      return 0;
    };
    auto put = [&](int index) {
      if (x < layout.width) {
        indices[x] = static_cast<uint8_t>(index);
        skipped[static_cast<size_t>(x)] = false;
      }
      ++x;
    };
    auto next = [&](int& b) {
      const long v = ended ? kStreamFailed : in_.ReadByte();
      if (v == kStreamFailed) {
        ended = true;
        return false;
      }
      b = static_cast<int>(v);
      return true;
    };
    while (y < layout.height) {
      int count = 0, value = 0;
      if (!next(count) || !next(value)) {
        if (in_.Error() != TES_ERR_IN_EOF && in_.Error() != 0) return in_.Error();
        // The data ended: the rest of the image stays black.
        while (y < layout.height)
          if (const long s = endRow()) return s;
        break;
      }
      if (count > 0) {
        for (int i = 0; i < count; ++i) put(four ? (i & 1 ? value & 15 : value >> 4) : value);
        continue;
      }
      if (value == 0) {  // end of line
        if (const long s = endRow()) return s;
      } else if (value == 1) {  // end of bitmap
        while (y < layout.height)
          if (const long s = endRow()) return s;
      } else if (value == 2) {  // delta: right and up (in file order, onward) by two bytes
        int dx = 0, dy = 0;
        if (!next(dx) || !next(dy)) continue;
        for (int i = 0; i < dy && y < layout.height; ++i) {
          const int keep = x;
          if (const long s = endRow()) return s;
          x = keep;
        }
        x += dx;
      } else {  // a literal group of `value` pixels, padded to a whole 16-bit word
        const int bytes = four ? (value + 1) / 2 : value;
        for (int i = 0; i < bytes; ++i) {
          int b = 0;
          if (!next(b)) break;
          if (four) {
            put(b >> 4);
            if (2 * i + 1 < value) put(b & 15);
          } else {
            put(b);
          }
        }
        if (bytes & 1) {
          int pad = 0;
          next(pad);
        }
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
