// Helpers shared by the image-object tests: pattern images and whole-image reads.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tessera/tessera.h"

namespace testing_support {

inline int ChannelsOf(int cs) { return cs <= 1 ? 1 : cs == 4 ? 4 : 3; }
inline int SampleBytesOf(int cs) { return (cs == 0 || cs == 2 || cs == 4) ? 1 : 2; }
inline int BppOf(int cs) { return ChannelsOf(cs) * SampleBytesOf(cs); }

// A pattern value for pixel (x, y), channel c, distinct enough to catch misplaced pixels.
inline uint16_t PatternValue(int x, int y, int c, int sampleBytes) {
  const uint32_t v = static_cast<uint32_t>(x * 7 + y * 131 + c * 57 + (x * y) % 13);
  return sampleBytes == 1 ? static_cast<uint16_t>(v & 0xFF) : static_cast<uint16_t>((v * 2654435761u) >> 16);
}

// Interleaved pixels of a w x h pattern image.
inline std::vector<uint8_t> PatternPixels(int w, int h, int cs) {
  const int channels = ChannelsOf(cs), sb = SampleBytesOf(cs), bpp = channels * sb;
  std::vector<uint8_t> out(static_cast<size_t>(w) * h * bpp);
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

// Reads the whole stored image, interleaved. Returns the status of GetData.
inline long ReadAll(const TesseraClass& image, std::vector<uint8_t>& out) {
  tagTes_Image_Desc d{};
  image.GetImageDesc(&d);
  const int bpp = BppOf(d.colorSpace);
  out.assign(static_cast<size_t>(d.width) * d.height * bpp, 0);
  tagTes_Tile_Desc t{{0, 0, d.width, d.height}, d.width * bpp, 0};
  return image.GetData(t, out.data());
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

}  // namespace testing_support
