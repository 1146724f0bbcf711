// Device-independent bitmaps: an information header, its bit-field masks or palette, and
// rows of pixels. The one codec of the BMP format: the file reader and writer put a file
// header and a stream around these pieces, and the DIBs in memory of tessera/dib.h (native
// transfers, the clipboard) use them as they are.
#pragma once

#include <cstdint>

#include "tessera/tessera.h"

namespace tessera::dib {

enum Compression : uint32_t { kRgb = 0, kRle8 = 1, kRle4 = 2, kBitfields = 3, kAlphaBitfields = 6 };

// The Windows information header: 40 bytes, and the size of every later one's first part.
constexpr uint32_t kInfoHeaderBytes = 40;
// The OS/2 1.x header: 12 bytes, with 16-bit sizes.
constexpr uint32_t kCoreHeaderBytes = 12;

// The fields of an information header that the pixels depend on.
struct InfoHeader {
  uint32_t size = 0;
  int32_t width = 0;
  int32_t height = 0;  // negative: the first row is the top one
  uint16_t planes = 0;
  uint16_t bits = 0;
  uint32_t compression = kRgb;
  int32_t pixelsPerMetre = 0;
  uint32_t colorsUsed = 0;
};

// The fields of the header at INFO: 12 bytes for an OS/2 1.x header (CORE), else the first
// 40 bytes of a Windows or OS/2 2.x one (the caller zeroes what a shorter header lacks).
InfoHeader ReadInfoHeader(const uint8_t* info, bool core);

// A width above 0, a height other than 0 and one plane (else TES_ERR_BMP_HEADER); a depth of
// 1, 4, 8, 16, 24 or 32 bits (else TES_ERR_BMP_DEPTH).
long CheckGeometry(const InfoHeader& header);

// Bytes per row of WIDTH pixels of BITS, a multiple of 4.
inline int64_t Stride(int32_t width, int bits) { return (int64_t{width} * bits + 31) / 32 * 4; }

// One colour field of a 16- or 32-bit pixel: its mask's position and width, and how its
// value widens to 8 bits.
struct Field {
  uint32_t mask = 0;
  int shift = 0;
  uint32_t max = 0;
  void Set(uint32_t m) {
    mask = m;
    shift = m == 0 ? 0 : __builtin_ctz(m);
    max = m == 0 ? 0 : m >> shift;
  }
  uint8_t Of(uint32_t pixel) const {
    if (max == 0) return 0;
    const uint32_t v = (pixel & mask) >> shift;
    return static_cast<uint8_t>((uint64_t{v} * 255 + max / 2) / max);
  }
};

// How the rows of a bitmap turn into image pixels.
struct Layout {
  int32_t width = 0;
  int32_t height = 0;     // always positive
  bool topDown = false;   // a negative height in the header: the first row is the top one
  int bits = 0;           // 1, 4, 8, 16, 24 or 32 per pixel in the bitmap
  uint32_t compression = kRgb;
  bool grey = false;      // palette entries all grey: the image is 8-bit grey
  int channels = 3;       // of the image: 1 grey, 3 RGB
  int64_t stride = 0;     // bytes per bitmap row, a multiple of 4
  int64_t dataStart = 0;  // where the first row starts (a file offset for BMP files)
  double resolution = 72.0;
  uint8_t palette[256][3] = {};  // R, G, B; entries past the bitmap's palette are black
  Field red, green, blue;
};

// Width, height, row order, depth, compression and stride from HEADER, already checked,
// whose height either way fits 32 bits.
void SetGeometry(Layout& layout, const InfoHeader& header);

// The masks of a 16- or 32-bit bitmap: MASKS (red, green, blue) for bit fields, else null
// for the defaults (5-5-5 for 16 bits, 8-8-8 for 32).
void SetMasks(Layout& layout, const uint32_t* masks);

// COUNT palette entries (at most 256) at ENTRIES, blue, green, red and ENTRYBYTES apart (3
// in an OS/2 1.x bitmap, else 4), into the layout's palette. Sets grey when the bitmap has a
// palette and every entry is grey; channels follows.
void SetPalette(Layout& layout, const uint8_t* entries, uint32_t count, int entryBytes);

// A row of palette indices (one byte each) into image pixels.
void FromIndices(const Layout& layout, const uint8_t* indices, uint8_t* out);

// An uncompressed bitmap row of any depth into image pixels; SCRATCH holds width bytes.
void ConvertRow(const Layout& layout, const uint8_t* row, uint8_t* scratch, uint8_t* out);

// Writing: a 40-byte information header of WIDTH x HEIGHT (bottom-up) at BITS, no
// compression, IMAGEBYTES as the image size and PIXELSPERMETRE both ways; the rest zero.
void WriteInfoHeader(uint8_t* info, int32_t width, int32_t height, int bits, uint32_t imageBytes,
                     int32_t pixelsPerMetre);

// The 256 entries of a grey ramp palette (1024 bytes).
void WriteGreyPalette(uint8_t* palette);

// Bitmap row ROW (0 = the bottom one) of RECT of SOURCE, an 8-bit grey (CHANNELS 1) or
// 24-bit RGB image (3), into DST: fetched, turned to blue, green, red, padded with zeros to
// STRIDE bytes. The source's status when it cannot give the row.
long EncodeRow(const TesseraClass& source, const tagTes_Rect& rect, int32_t row, int channels, int64_t stride,
               uint8_t* dst);

}  // namespace tessera::dib
