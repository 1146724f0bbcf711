#include "formats/bmp/dib.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "formats/bmp/bmp.h"
#include "formats/bmp/swap_rgb.h"
#include "formats/byte_order.h"
#include "tessera/dib.h"

namespace tessera {

namespace dib {

using bytes::LoadLE16;
using bytes::LoadLE32;
using bytes::StoreLE16;
using bytes::StoreLE32;

InfoHeader ReadInfoHeader(const uint8_t* info, bool core) {
  InfoHeader h;
  h.size = LoadLE32(info);
  if (core) {
    h.width = LoadLE16(info + 4);
    h.height = LoadLE16(info + 6);
    h.planes = LoadLE16(info + 8);
    h.bits = LoadLE16(info + 10);
  } else {
    h.width = static_cast<int32_t>(LoadLE32(info + 4));
    h.height = static_cast<int32_t>(LoadLE32(info + 8));
    h.planes = LoadLE16(info + 12);
    h.bits = LoadLE16(info + 14);
    h.compression = LoadLE32(info + 16);
    h.pixelsPerMetre = static_cast<int32_t>(LoadLE32(info + 24));
    h.colorsUsed = LoadLE32(info + 32);
  }
  return h;
}

long CheckGeometry(const InfoHeader& h) {
  // A negative width has no meaning; a negative height means top-down rows.
  if (h.width <= 0 || h.height == 0 || h.planes != 1) return TES_ERR_BMP_HEADER;
  const int bits = h.bits;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return TES_ERR_BMP_DEPTH;
  return 0;
}

void SetGeometry(Layout& layout, const InfoHeader& h) {
  layout.width = h.width;
  layout.topDown = h.height < 0;
  layout.height = h.height < 0 ? static_cast<int32_t>(-int64_t{h.height}) : h.height;
  layout.bits = h.bits;
  layout.compression = h.compression;
  layout.stride = Stride(h.width, h.bits);
}

void SetMasks(Layout& layout, const uint32_t* masks) {
  uint32_t m[3] = {};
  if (layout.bits == 16) m[0] = 0x7C00, m[1] = 0x03E0, m[2] = 0x001F;
  if (layout.bits == 32) m[0] = 0xFF0000, m[1] = 0xFF00, m[2] = 0xFF;
  if (masks != nullptr) std::copy(masks, masks + 3, m);
  layout.red.Set(m[0]);
  layout.green.Set(m[1]);
  layout.blue.Set(m[2]);
}

void SetPalette(Layout& layout, const uint8_t* entries, uint32_t count, int entryBytes) {
  layout.grey = layout.bits <= 8;
  for (uint32_t i = 0; i < count && i < 256; ++i) {
    const uint8_t* e = entries + entryBytes * i;
    layout.palette[i][0] = e[2];
    layout.palette[i][1] = e[1];
    layout.palette[i][2] = e[0];
    if (e[0] != e[1] || e[1] != e[2]) layout.grey = false;
  }
  layout.channels = layout.grey ? 1 : 3;
}

namespace {
// One pixel index of a palette row.
int IndexAt(const uint8_t* row, int bits, int x) {
  if (bits == 8) return row[x];
  if (bits == 4) return (row[x >> 1] >> (x & 1 ? 0 : 4)) & 15;
  return (row[x >> 3] >> (7 - (x & 7))) & 1;
}
}  // namespace

void FromIndices(const Layout& l, const uint8_t* indices, uint8_t* out) {
  for (int x = 0; x < l.width; ++x) {
    const uint8_t* e = l.palette[indices[x]];
    if (l.channels == 1) {
      out[x] = e[0];
    } else {
      out[3 * x] = e[0];
      out[3 * x + 1] = e[1];
      out[3 * x + 2] = e[2];
    }
  }
}

void ConvertRow(const Layout& l, const uint8_t* row, uint8_t* scratch, uint8_t* out) {
  switch (l.bits) {
    case 1: case 4: case 8:
      for (int x = 0; x < l.width; ++x) scratch[x] = static_cast<uint8_t>(IndexAt(row, l.bits, x));
      FromIndices(l, scratch, out);
      return;
    case 24:
      std::memcpy(out, row, static_cast<size_t>(l.width) * 3);
      SwapRedBlue(out, l.width);
      return;
    default:
      for (int x = 0; x < l.width; ++x) {
        const uint32_t p = l.bits == 16 ? LoadLE16(row + 2 * x) : LoadLE32(row + 4 * x);
        out[3 * x] = l.red.Of(p);
        out[3 * x + 1] = l.green.Of(p);
        out[3 * x + 2] = l.blue.Of(p);
      }
      return;
  }
}

void WriteInfoHeader(uint8_t* info, int32_t width, int32_t height, int bits, uint32_t imageBytes,
                     int32_t pixelsPerMetre) {
  std::memset(info, 0, kInfoHeaderBytes);
  StoreLE32(info, kInfoHeaderBytes);
  StoreLE32(info + 4, static_cast<uint32_t>(width));
  StoreLE32(info + 8, static_cast<uint32_t>(height));
  StoreLE16(info + 12, 1);
  StoreLE16(info + 14, static_cast<uint32_t>(bits));
  StoreLE32(info + 20, imageBytes);
  StoreLE32(info + 24, static_cast<uint32_t>(pixelsPerMetre));
  StoreLE32(info + 28, static_cast<uint32_t>(pixelsPerMetre));
}

void WriteGreyPalette(uint8_t* palette) {
  for (int i = 0; i < 256; ++i) {
    palette[4 * i] = palette[4 * i + 1] = palette[4 * i + 2] = static_cast<uint8_t>(i);
    palette[4 * i + 3] = 0;
  }
}

long EncodeRow(const TesseraClass& source, const tagTes_Rect& rect, int32_t row, int channels, int64_t stride,
               uint8_t* dst) {
  const tagTes_Tile_Desc tile{{rect.x, rect.y + rect.height - 1 - row, rect.width, 1}, static_cast<int32_t>(stride), 0};
  if (const long status = source.GetData(tile, dst)) return status;
  if (channels == 3) SwapRedBlue(dst, rect.width);
  const int64_t data = int64_t{rect.width} * channels;
  std::memset(dst + data, 0, static_cast<size_t>(stride - data));
  return 0;
}

}  // namespace dib

// ---------------------------------------------------------------------------------------
// Bitmaps in memory.

namespace {
// Native bitmaps larger than this either way are refused.
constexpr int64_t kMaxDibSide = 65535;
// The spare bytes after the rows of a written bitmap.
constexpr size_t kDibTrailer = 4;
}  // namespace

long ReadDib(const void* data, size_t bytes, short flags, std::unique_ptr<TesseraClass>* image) {
  using namespace dib;
  const auto* bitmap = static_cast<const uint8_t*>(data);
  if (bitmap == nullptr || image == nullptr || bytes < kInfoHeaderBytes) return TES_ERR_BMP_HEADER;
  const InfoHeader h = ReadInfoHeader(bitmap, false);
  if (h.size < kInfoHeaderBytes || h.size > bytes) return TES_ERR_BMP_HEADER;
  if (const long status = CheckGeometry(h)) return status;
  const bool bitfields = h.compression == kBitfields;
  if (h.compression != kRgb && !(bitfields && (h.bits == 16 || h.bits == 32))) return TES_ERR_BMP_COMPRESSED;
  if (h.width > kMaxDibSide || (h.height < 0 ? -int64_t{h.height} : int64_t{h.height}) > kMaxDibSide)
    return TES_ERR_BMP_HEADER;
  Layout layout;
  SetGeometry(layout, h);

  // Colour masks follow a 40-byte header; larger headers of 52 bytes or more carry them.
  size_t offset = h.size;
  uint32_t masks[3];
  const uint32_t* given = nullptr;
  if (bitfields) {
    if (h.size == kInfoHeaderBytes) {
      if (bytes < offset + 12) return TES_ERR_BMP_HEADER;
      for (int i = 0; i < 3; ++i) masks[i] = LoadLE32(bitmap + offset + 4 * i);
      offset += 12;
      given = masks;
    } else if (h.size >= 52) {
      for (int i = 0; i < 3; ++i) masks[i] = LoadLE32(bitmap + kInfoHeaderBytes + 4 * i);
      given = masks;
    }
  }
  SetMasks(layout, given);
  // The real palette: biClrUsed entries, or all the depth can index. Bitmaps of more bits
  // may carry a table too; it is skipped.
  const int bits = layout.bits;
  const uint32_t colors = bits <= 8 ? (h.colorsUsed != 0 ? std::min<uint32_t>(h.colorsUsed, 1u << bits) : 1u << bits)
                                    : std::min<uint32_t>(h.colorsUsed, 256);
  const size_t paletteAt = offset;
  offset += size_t{colors} * 4;
  const size_t rowBytes = static_cast<size_t>(layout.stride);
  if (offset > bytes || (bytes - offset) / rowBytes < static_cast<size_t>(layout.height)) return TES_ERR_BMP_HEADER;
  SetPalette(layout, bitmap + paletteAt, bits <= 8 ? colors : 0, 4);
  const uint8_t* rows = bitmap + offset;

  const int channels = layout.channels;
  const size_t outRow = static_cast<size_t>(layout.width) * channels;
  std::vector<uint8_t> out, scratch;
  try {
    out.resize(outRow * static_cast<size_t>(layout.height));
    scratch.resize(static_cast<size_t>(layout.width));
  } catch (const std::bad_alloc&) {
    return TES_ERR_NO_MEMORY;
  }
  for (int32_t y = 0; y < layout.height; ++y) {
    const uint8_t* row = rows + rowBytes * static_cast<size_t>(layout.topDown ? y : layout.height - 1 - y);
    ConvertRow(layout, row, scratch.data(), out.data() + outRow * static_cast<size_t>(y));
  }

  tagTes_Image_Desc desc{};
  desc.width = layout.width;
  desc.height = layout.height;
  desc.colorSpace = channels == 1 ? TES_CS_GRAY8 : TES_CS_RGB24;
  for (int c = 0; c < channels; ++c) desc.bitsPerChannel[c] = 8;
  desc.resolution = BmpDotsPerInch(h.pixelsPerMetre);
  std::unique_ptr<TesseraClass> made(new (std::nothrow) TesseraClass(flags, desc, TesseraClass::m_s_EmptyTransform));
  if (!made) return TES_ERR_NO_MEMORY;
  const tagTes_Tile_Desc tile{{0, 0, desc.width, desc.height}, static_cast<int32_t>(outRow), 0};
  if (const long status = made->SetData(tile, TesseraClass::m_s_EmptyTransform, out.data())) return status;
  *image = std::move(made);
  return 0;
}

size_t DibBytes24(int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) return 0;
  const int64_t stride = dib::Stride(width, 24);
  if (stride > INT32_MAX || stride * height > int64_t{UINT32_MAX}) return 0;
  return dib::kInfoHeaderBytes + static_cast<size_t>(stride * height) + kDibTrailer;
}

long WriteDib24(const TesseraClass& source, const tagTes_Rect& rect, void* data, size_t bytes) {
  using namespace dib;
  short colorSpace = -1;
  source.GetColorSpace(&colorSpace);
  if (colorSpace != TES_CS_RGB24) return TES_ERR_CANNOT_STORE;
  if (rect.width <= 0 || rect.height <= 0) return TES_ERR_NO_IMAGE;
  if (data == nullptr || bytes == 0 || bytes != DibBytes24(rect.width, rect.height)) return TES_ERR_NO_MEMORY;
  auto* bitmap = static_cast<uint8_t*>(data);
  const int64_t stride = Stride(rect.width, 24);
  WriteInfoHeader(bitmap, rect.width, rect.height, 24, static_cast<uint32_t>(stride * rect.height), 0);
  uint8_t* rows = bitmap + kInfoHeaderBytes;
  for (int32_t row = 0; row < rect.height; ++row)
    if (const long status = EncodeRow(source, rect, row, 3, stride, rows + stride * row)) return status;
  std::memset(rows + stride * rect.height, 0, kDibTrailer);
  return 0;
}

}  // namespace tessera
