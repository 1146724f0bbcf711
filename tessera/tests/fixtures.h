// The Tessera tests' fixtures: a scratch folder, file bytes built field by field, images
// filled with one pattern whose every sample is known, whole-image reads, and the library
// started for a test.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

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

// Channels and bytes per sample of a colour space (TES_CS_...).
inline int ChannelsOf(int cs) { return cs <= TES_CS_GRAY16 ? 1 : cs == TES_CS_CMYK32 ? 4 : 3; }
inline int SampleBytesOf(int cs) { return (cs == TES_CS_GRAY8 || cs == TES_CS_RGB24 || cs == TES_CS_CMYK32) ? 1 : 2; }
inline int BppOf(int cs) { return ChannelsOf(cs) * SampleBytesOf(cs); }

// The pattern's sample of channel c at (x, y), 8 or 16 bits wide: distinct enough that a
// row or column out of place, a swapped channel or a lost pad shows.
inline uint16_t PatternValue(int x, int y, int c, int sampleBytes) {
  const uint32_t v = static_cast<uint32_t>(x * 7 + y * 31 + c * 85 + (x ^ y));
  return sampleBytes == 1 ? static_cast<uint16_t>(v & 0xFF) : static_cast<uint16_t>((v * 2654435761u) >> 13);
}
inline uint8_t Sample(int x, int y, int c) { return static_cast<uint8_t>(PatternValue(x, y, c, 1)); }

// The pattern's pixels for a w x h image of colour space cs (TES_CS_...), interleaved, rows
// top-down, 16-bit samples in the machine's order: what ReadAll hands back.
inline Bytes PatternPixels(int w, int h, int cs) {
  const int channels = ChannelsOf(cs), sb = SampleBytesOf(cs), bpp = channels * sb;
  Bytes out(static_cast<size_t>(w) * h * bpp);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < channels; ++c) {
        const uint16_t v = PatternValue(x, y, c, sb);
        uint8_t* p = &out[(static_cast<size_t>(y) * w + x) * bpp + c * sb];
        if (sb == 1)
          *p = static_cast<uint8_t>(v);
        else
          std::memcpy(p, &v, 2);
      }
  return out;
}

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

// Reads the whole stored image, interleaved. Returns the status of GetData.
inline long ReadAll(const TesseraClass& image, Bytes& out) {
  tagTes_Image_Desc d{};
  image.GetImageDesc(&d);
  const int bpp = BppOf(d.colorSpace);
  out.assign(static_cast<size_t>(d.width) * d.height * bpp, 0);
  tagTes_Tile_Desc t{{0, 0, d.width, d.height}, d.width * bpp, 0};
  return image.GetData(t, out.data());
}

// All stored pixels of an object, as ReadAll reads them; empty on failure.
inline Bytes Pixels(const TesseraClass& image) {
  Bytes pixels;
  if (ReadAll(image, pixels) != 0) return {};
  return pixels;
}

// Describes and fills an image with the given pixels (untransformed layout), delivered in
// strips of stripRows rows, turned by the transform.
inline long Fill(TesseraClass& image, int w, int h, int cs, const std::vector<uint8_t>& pixels,
                 const tagTes_Transform_Struct& transform, int stripRows = 128) {
  tagTes_Image_Desc desc{w, h, static_cast<int16_t>(cs), {0, 0, 0, 0}, 72.0};
  if (const long s = image.SetImageDesc(desc, transform)) return s;
  const int bpp = BppOf(cs);
  for (int y = 0; y < h; y += stripRows) {
    const int rows = std::min(stripRows, h - y);
    tagTes_Tile_Desc t{{0, y, w, rows}, w * bpp, 0};
    auto* start = const_cast<uint8_t*>(pixels.data()) + static_cast<size_t>(y) * w * bpp;
    if (const long s = image.SetData(t, transform, start)) return s;
  }
  return 0;
}

// Replaces what an object held with the pattern, at the given resolution.
inline long FillPattern(TesseraClass& image, int width, int height, int16_t colorSpace, double dpi = 300.0) {
  image.Clear();
  tagTes_Image_Desc desc{width, height, colorSpace, {0, 0, 0, 0}, dpi};
  if (const long status = image.SetImageDesc(desc, TesseraClass::m_s_EmptyTransform)) return status;
  Bytes pixels = PatternPixels(width, height, colorSpace);
  tagTes_Tile_Desc tile{{0, 0, width, height}, width * BppOf(colorSpace), 0};
  return image.SetData(tile, TesseraClass::m_s_EmptyTransform, pixels.data());
}

// Starts the library for a test binary's lifetime.
struct LibraryGuard {
  LibraryGuard() {
    tagTes_Image_Info info{};
    info.size = sizeof info;
    char empty[] = "";
    char* none = empty;
    TesseraClass::InitMosaic(info, none, none, none, none, 1.0);
  }
  ~LibraryGuard() { TesseraClass::CloseMosaic(); }
};

// A test fixture that starts the library with the build's colour folder (the Windows root
// that ctest names in ORVAX_WINDOWS_DIR) and the given monitor and CMYK profiles; empty
// paths mean the library's own sRGB profile.
class ManagedLibraryTest : public ::testing::Test {
 protected:
  void StartLibrary(std::string monitor = {}, std::string cmyk = {}) {
    const char* root = std::getenv("ORVAX_WINDOWS_DIR");
    ASSERT_NE(root, nullptr) << "ORVAX_WINDOWS_DIR names the build's Windows root";
    color_ = std::string(root) + "/SYSTEM/COLOR";
    monitor_ = monitor.empty() ? color_ + "/OXsRGB.icm" : monitor;
    cmyk_ = cmyk.empty() ? monitor_ : cmyk;
    tagTes_Image_Info info{};
    info.size = sizeof info;
    char *m = monitor_.data(), *k = cmyk_.data(), *d = color_.data();
    ASSERT_EQ(TesseraClass::InitMosaic(info, m, m, k, d, 1.0), 0);
    started_ = true;
  }
  void TearDown() override {
    if (started_) TesseraClass::CloseMosaic();
  }
  std::string color_, monitor_, cmyk_;
  bool started_ = false;
};

}  // namespace fixtures
