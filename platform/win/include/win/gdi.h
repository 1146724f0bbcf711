// The GDI pieces that image drawing relies on: device-independent bitmap headers, the
// stretch mode and StretchDIBits, over an abstract device context. Screen and printer
// contexts (Qt-backed) live with the application; the memory raster context here is exact
// and is what tests and the command-line tool draw into.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The device contexts are part of the image library's installed surface: the memory context
// is built into libtessera, so these classes keep default visibility in every build.
#define ORVAX_GDI_API __attribute__((visibility("default")))

namespace orvax::win {

struct BITMAPINFOHEADER {
  uint32_t biSize;
  int32_t biWidth;
  int32_t biHeight;  // positive: rows stored bottom-up
  uint16_t biPlanes;
  uint16_t biBitCount;
  uint32_t biCompression;
  uint32_t biSizeImage;
  int32_t biXPelsPerMeter;
  int32_t biYPelsPerMeter;
  uint32_t biClrUsed;
  uint32_t biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

struct RGBQUAD {
  uint8_t rgbBlue;
  uint8_t rgbGreen;
  uint8_t rgbRed;
  uint8_t rgbReserved;
};

struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
};

// A BITMAPINFO with room for a full 256-entry palette.
struct BITMAPINFO256 {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[256];
  const BITMAPINFO* info() const { return reinterpret_cast<const BITMAPINFO*>(this); }
};

constexpr uint32_t BI_RGB = 0;
constexpr int BLACKONWHITE = 1;
constexpr int WHITEONBLACK = 2;
constexpr int COLORONCOLOR = 3;
constexpr int HALFTONE = 4;
constexpr unsigned DIB_RGB_COLORS = 0;
constexpr uint32_t SRCCOPY = 0x00CC0020;

// Bytes in one row of a DIB: rows are padded to a multiple of four bytes.
constexpr int DibRowBytes(int width, int bitCount) { return ((width * bitCount + 31) / 32) * 4; }

class ORVAX_GDI_API DeviceContext {
 public:
  virtual ~DeviceContext() = default;
  // Returns the previous mode, or 0 on failure.
  virtual int SetStretchBltMode(int mode) = 0;
  // Copies a rectangle of a DIB onto the device, stretching it to the destination extent.
  // The source y counts from the bottom row of a bottom-up bitmap. Returns the number of
  // source rows copied, or 0 on failure.
  virtual int StretchDIBits(int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc,
                            int srcWidth, int srcHeight, const void* bits, const BITMAPINFO* info,
                            unsigned usage, uint32_t rop) = 0;
};

using HDC = DeviceContext*;

inline int SetStretchBltMode(HDC hdc, int mode) { return hdc ? hdc->SetStretchBltMode(mode) : 0; }
inline int StretchDIBits(HDC hdc, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc,
                         int srcWidth, int srcHeight, const void* bits, const BITMAPINFO* info, unsigned usage,
                         uint32_t rop) {
  return hdc ? hdc->StretchDIBits(xDest, yDest, destWidth, destHeight, xSrc, ySrc, srcWidth, srcHeight, bits,
                                  info, usage, rop)
             : 0;
}

// A 24-bit RGB raster in memory (rows top-down, pixels R, G, B). Drawing is clipped to the
// surface; COLORONCOLOR stretching picks the nearest source pixel for each device pixel.
class ORVAX_GDI_API MemoryDC : public DeviceContext {
 public:
  MemoryDC(int width, int height, uint8_t background = 0);

  int SetStretchBltMode(int mode) override;
  int StretchDIBits(int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc, int srcWidth,
                    int srcHeight, const void* bits, const BITMAPINFO* info, unsigned usage,
                    uint32_t rop) override;

  int width() const { return width_; }
  int height() const { return height_; }
  int stretchMode() const { return mode_; }
  int blitCount() const { return blits_; }
  const uint8_t* pixel(int x, int y) const { return &pixels_[(static_cast<size_t>(y) * width_ + x) * 3]; }
  const std::vector<uint8_t>& pixels() const { return pixels_; }
  void Fill(uint8_t value);

 private:
  int width_;
  int height_;
  int mode_ = BLACKONWHITE;
  int blits_ = 0;
  std::vector<uint8_t> pixels_;
  std::vector<int> columnMap_;  // reused between calls
};

// A memory context that can be told to refuse the stretch mode or the blit, for testing
// how callers report a device that will not draw.
class ORVAX_GDI_API FailingDC : public MemoryDC {
 public:
  FailingDC(int width, int height, bool failMode, bool failBlit)
      : MemoryDC(width, height), failMode_(failMode), failBlit_(failBlit) {}
  int SetStretchBltMode(int mode) override { return failMode_ ? 0 : MemoryDC::SetStretchBltMode(mode); }
  int StretchDIBits(int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc, int srcWidth,
                    int srcHeight, const void* bits, const BITMAPINFO* info, unsigned usage,
                    uint32_t rop) override {
    if (failBlit_) return 0;
    return MemoryDC::StretchDIBits(xDest, yDest, destWidth, destHeight, xSrc, ySrc, srcWidth, srcHeight, bits,
                                   info, usage, rop);
  }

 private:
  bool failMode_;
  bool failBlit_;
};

}  // namespace orvax::win
