// Helpers shared by the FlashPix library's tests: test images, writing and reading them
// through the library's calls, and a scratch folder.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "fpxlib.h"

namespace fpxtest {

struct Picture {
  uint32_t width = 0, height = 0, channels = 0;
  std::vector<uint8_t> pixels;  // interleaved rows
  uint8_t at(uint32_t x, uint32_t y, uint32_t c) const { return pixels[(size_t(y) * width + x) * channels + c]; }
};

// A smooth picture with some detail, so that JPEG errors stay small and every pixel differs
// from its neighbours somewhere.
inline Picture MakePicture(uint32_t width, uint32_t height, uint32_t channels, uint32_t seed = 1) {
  Picture p{width, height, channels, std::vector<uint8_t>(size_t(width) * height * channels)};
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x)
      for (uint32_t c = 0; c < channels; ++c)
        p.pixels[(size_t(y) * width + x) * channels + c] =
            static_cast<uint8_t>((x * (3 + c) + y * (5 - c) + seed * 17 + ((x / 7 + y / 5) % 3) * 9) & 0xFF);
  return p;
}

// A smooth photograph-like picture for lossy tiles: waves and a gradient, no hard edges.
inline Picture MakeSmoothPicture(uint32_t width, uint32_t height, uint32_t channels) {
  Picture p{width, height, channels, std::vector<uint8_t>(size_t(width) * height * channels)};
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x)
      for (uint32_t c = 0; c < channels; ++c)
        p.pixels[(size_t(y) * width + x) * channels + c] = static_cast<uint8_t>(
            128 + 50 * std::sin(x / (9.0 + 3 * c)) * std::cos(y / 7.0) + 60.0 * (x + y) / (width + height) - 30);
  return p;
}

inline FPXColorspace Space(uint32_t channels) {
  FPXColorspace cs{};
  cs.numberOfComponents = static_cast<short>(channels);
  if (channels == 1) {
    cs.theComponents[0] = {MONOCHROME, DATA_TYPE_UNSIGNED_BYTE};
  } else {
    for (int c = 0; c < 3; ++c) cs.theComponents[c] = {static_cast<FPXComponentColor>(NIFRGB_R + c), DATA_TYPE_UNSIGNED_BYTE};
  }
  return cs;
}

// An image description over interleaved rows of `channels` bytes per pixel.
inline FPXImageDesc Describe(uint8_t* data, uint32_t width, uint32_t channels) {
  FPXImageDesc d{};
  d.numberOfComponents = channels;
  for (uint32_t c = 0; c < channels; ++c) {
    FPXImageComponentDesc& k = d.components[c];
    k.myColorType = {channels == 1 ? MONOCHROME : static_cast<FPXComponentColor>(NIFRGB_R + c), DATA_TYPE_UNSIGNED_BYTE};
    k.horzSubSampFactor = k.vertSubSampFactor = 1;
    k.columnStride = static_cast<long>(channels);
    k.lineStride = static_cast<long>(width * channels);
    k.theData = data + c;
  }
  return d;
}

// Writes the picture in bands of `band` rows; returns the status of the first call that fails.
inline FPXStatus WritePicture(const std::string& path, const Picture& p, FPXCompressionOption compression,
                              int quality = -1, uint32_t band = 128, float dpi = 300.0f) {
  FPXImageHandle* h = nullptr;
  FPXBackground background{};
  FPXStatus s = FPX_CreateImageByFilename(const_cast<char*>(path.c_str()), p.width, p.height, 64, 64,
                                          Space(p.channels), background, compression, &h);
  if (s != FPX_OK) return s;
  FPX_SetUnit(FPX_INCHES);
  s = FPX_SetImageResolution(h, dpi);
  if (s == FPX_OK && quality >= 0) s = FPX_SetJPEGCompression(h, static_cast<unsigned short>(quality));
  std::vector<uint8_t> copy(p.pixels);
  for (uint32_t y = 0; s == FPX_OK && y < p.height; y += band) {
    const uint32_t rows = std::min(band, p.height - y);
    FPXImageDesc d = Describe(copy.data() + size_t(y) * p.width * p.channels, p.width, p.channels);
    s = FPX_WriteImageRectangle(h, 0, y, p.width - 1, y + rows - 1, &d);
  }
  const FPXStatus closed = FPX_CloseImage(h);
  return s != FPX_OK ? s : closed;
}

// Reads a whole level of an open image.
inline FPXStatus ReadLevel(FPXImageHandle* h, unsigned level, uint32_t width, uint32_t height, uint32_t channels,
                           Picture* out) {
  *out = Picture{width, height, channels, std::vector<uint8_t>(size_t(width) * height * channels)};
  FPXImageDesc d = Describe(out->pixels.data(), width, channels);
  return FPX_ReadImageRectangle(h, 0, 0, width - 1, height - 1, level, &d);
}

// A folder for the test's files, removed afterwards.
class ScratchDir {
 public:
  ScratchDir() {
    char pattern[] = "/tmp/fpx_test_XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~ScratchDir() { std::filesystem::remove_all(path_); }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline int MaxDifference(const Picture& a, const Picture& b) {
  int worst = 0;
  for (size_t i = 0; i < a.pixels.size() && i < b.pixels.size(); ++i)
    worst = std::max(worst, std::abs(int(a.pixels[i]) - int(b.pixels[i])));
  return worst;
}

inline double MeanDifference(const Picture& a, const Picture& b) {
  double sum = 0;
  for (size_t i = 0; i < a.pixels.size(); ++i) sum += std::abs(int(a.pixels[i]) - int(b.pixels[i]));
  return a.pixels.empty() ? 0 : sum / a.pixels.size();
}

// The reduction the format's levels are made by: a rounded 2 x 2 average, the last column
// and row repeated when the size is odd.
inline Picture Halve(const Picture& p) {
  Picture r{(p.width + 1) / 2, (p.height + 1) / 2, p.channels, {}};
  r.pixels.resize(size_t(r.width) * r.height * r.channels);
  for (uint32_t y = 0; y < r.height; ++y)
    for (uint32_t x = 0; x < r.width; ++x)
      for (uint32_t c = 0; c < p.channels; ++c) {
        const uint32_t x0 = 2 * x, x1 = std::min(2 * x + 1, p.width - 1);
        const uint32_t y0 = 2 * y, y1 = std::min(2 * y + 1, p.height - 1);
        const unsigned sum = p.at(x0, y0, c) + p.at(x1, y0, c) + p.at(x0, y1, c) + p.at(x1, y1, c);
        r.pixels[(size_t(y) * r.width + x) * r.channels + c] = static_cast<uint8_t>((sum + 2) / 4);
      }
  return r;
}

}  // namespace fpxtest
