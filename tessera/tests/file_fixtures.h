// Small helpers for the file tests: a scratch folder, BMP bytes built field by field, and
// images filled with a pattern whose every pixel is known.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tessera/tessera.h"

namespace fixtures {

using Bytes = std::vector<uint8_t>;

// A folder removed with everything in it when the test ends.
class ScratchDir {
 public:
  ScratchDir() {
    char name[] = "/tmp/tessera-files-XXXXXX";
    dir_ = ::mkdtemp(name) ? name : "/tmp";
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

 private:
  std::string dir_;
};

inline void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void Put16(Bytes& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(Bytes& b, size_t at, uint32_t v) {
  Put16(b, at, v);
  Put16(b, at + 2, v >> 16);
}
inline uint32_t Get32(const Bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

// The sample of channel c at (x, y) of the test pattern: distinct enough that a row or
// column out of place, a swapped channel or a lost pad shows.
inline uint8_t Sample(int x, int y, int c) { return static_cast<uint8_t>(x * 7 + y * 31 + c * 85 + (x ^ y)); }

// Fields of a BMP to build; the defaults give a valid file.
struct BmpSpec {
  int32_t width = 5;
  int32_t height = 4;  // negative: top-down rows
  uint16_t bits = 24;
  uint32_t headerSize = 40;
  uint16_t planes = 1;
  uint32_t compression = 0;
  uint32_t colorsUsed = 0;
  int32_t pixelsPerMetre = 11809;
  uint32_t gap = 0;           // bytes between the palette and the rows (the offset field says so)
  bool greyRamp = true;       // false: entry 7 of the palette is not grey
};

// The BMP bytes for a spec, with the pattern's pixels (row y of the image is file row
// height-1-y for a bottom-up file).
inline Bytes MakeBmp(const BmpSpec& s) {
  const int channels = s.bits == 8 ? 1 : 3;
  const int rows = s.height < 0 ? -s.height : s.height;
  const size_t stride = (static_cast<size_t>(s.width > 0 ? s.width : 0) * channels + 3) / 4 * 4;
  const size_t palette = s.bits == 8 ? 1024 : 0;
  const size_t offset = 14 + s.headerSize + palette + s.gap;
  Bytes b(offset + stride * rows, 0);
  b[0] = 'B';
  b[1] = 'M';
  Put32(b, 2, static_cast<uint32_t>(b.size()));
  Put32(b, 10, static_cast<uint32_t>(offset));
  Put32(b, 14, s.headerSize);
  Put32(b, 18, static_cast<uint32_t>(s.width));
  Put32(b, 22, static_cast<uint32_t>(s.height));
  Put16(b, 26, s.planes);
  Put16(b, 28, s.bits);
  Put32(b, 30, s.compression);
  Put32(b, 38, static_cast<uint32_t>(s.pixelsPerMetre));
  Put32(b, 42, static_cast<uint32_t>(s.pixelsPerMetre));
  Put32(b, 46, s.colorsUsed);
  for (size_t i = 0; i < palette / 4; ++i) {
    const size_t at = 14 + s.headerSize + 4 * i;
    b[at] = b[at + 1] = b[at + 2] = static_cast<uint8_t>(i);
    b[at + 3] = 0xAA;  // the reserved byte is not checked
  }
  if (palette && !s.greyRamp) b[14 + s.headerSize + 4 * 7 + 2] = 99;
  for (int fileRow = 0; fileRow < rows; ++fileRow) {
    const int y = s.height < 0 ? fileRow : rows - 1 - fileRow;
    uint8_t* row = b.data() + offset + stride * fileRow;
    for (int x = 0; x < s.width; ++x) {
      if (channels == 1) {
        row[x] = Sample(x, y, 0);
      } else {
        row[3 * x] = Sample(x, y, 2);  // blue, green, red
        row[3 * x + 1] = Sample(x, y, 1);
        row[3 * x + 2] = Sample(x, y, 0);
      }
    }
  }
  return b;
}

// Fills an object with the pattern (8-bit grey or RGB), replacing what it held.
inline long FillPattern(TesseraClass& image, int width, int height, int16_t colorSpace, double dpi = 300.0) {
  image.Clear();
  tagTes_Image_Desc desc{width, height, colorSpace, {0, 0, 0, 0}, dpi};
  if (const long status = image.SetImageDesc(desc, TesseraClass::m_s_EmptyTransform)) return status;
  const int channels = colorSpace == TES_CS_GRAY8 ? 1 : 3;
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * channels);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < channels; ++c) pixels[(static_cast<size_t>(y) * width + x) * channels + c] = Sample(x, y, c);
  tagTes_Tile_Desc tile{{0, 0, width, height}, width * channels, 0};
  return image.SetData(tile, TesseraClass::m_s_EmptyTransform, pixels.data());
}

// All stored pixels of an object, interleaved, rows top-down; empty on failure.
inline Bytes Pixels(const TesseraClass& image) {
  tagTes_Image_Desc desc{};
  image.GetImageDesc(&desc);
  const int channels = desc.colorSpace == TES_CS_GRAY8 ? 1 : 3;
  Bytes pixels(static_cast<size_t>(desc.width) * desc.height * channels);
  tagTes_Tile_Desc tile{{0, 0, desc.width, desc.height}, desc.width * channels, 0};
  if (pixels.empty() || image.GetData(tile, pixels.data()) != 0) return {};
  return pixels;
}

// The pattern's pixels as Pixels would report them.
inline Bytes PatternPixels(int width, int height, int channels) {
  Bytes pixels(static_cast<size_t>(width) * height * channels);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < channels; ++c) pixels[(static_cast<size_t>(y) * width + x) * channels + c] = Sample(x, y, c);
  return pixels;
}

}  // namespace fixtures
