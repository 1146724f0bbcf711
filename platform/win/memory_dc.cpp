#include "win/gdi.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace orvax::win {

MemoryDC::MemoryDC(int width, int height, uint8_t background)
    : width_(std::max(width, 0)), height_(std::max(height, 0)),
      pixels_(static_cast<size_t>(width_) * height_ * 3, background) {}

void MemoryDC::Fill(uint8_t value) { std::fill(pixels_.begin(), pixels_.end(), value); }

int MemoryDC::SetStretchBltMode(int mode) {
  if (mode < BLACKONWHITE || mode > HALFTONE) return 0;
  const int previous = mode_;
  mode_ = mode;
  return previous;
}

int MemoryDC::StretchDIBits(int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc,
                            int srcWidth, int srcHeight, const void* bits, const BITMAPINFO* info,
                            unsigned usage, uint32_t rop) {
  if (bits == nullptr || info == nullptr || usage != DIB_RGB_COLORS || rop != SRCCOPY) return 0;
  const BITMAPINFOHEADER& h = info->bmiHeader;
  if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biCompression != BI_RGB || h.biWidth <= 0 || h.biHeight <= 0)
    return 0;
  if (h.biBitCount != 8 && h.biBitCount != 24) return 0;
  if (destWidth <= 0 || destHeight <= 0 || srcWidth <= 0 || srcHeight <= 0) return 0;
  if (xSrc < 0 || ySrc < 0 || xSrc + srcWidth > h.biWidth || ySrc + srcHeight > h.biHeight) return 0;

  const auto* src = static_cast<const uint8_t*>(bits);
  const int rowBytes = DibRowBytes(h.biWidth, h.biBitCount);
  const int colors = h.biBitCount == 8 ? (h.biClrUsed ? static_cast<int>(std::min<uint32_t>(h.biClrUsed, 256)) : 256) : 0;

  // Visible part of the destination.
  const int x0 = std::max(xDest, 0), x1 = std::min(xDest + destWidth, width_);
  const int y0 = std::max(yDest, 0), y1 = std::min(yDest + destHeight, height_);
  ++blits_;
  if (x0 >= x1 || y0 >= y1) return srcHeight;

  // Nearest source pixel for the centre of each destination pixel. A device that cannot
  // get the memory to draw refuses the call, as GDI does.
  try {
    columnMap_.resize(static_cast<size_t>(x1 - x0));
  } catch (const std::bad_alloc&) {
    return 0;
  }
  for (int x = x0; x < x1; ++x) {
    const long long j = x - xDest;
    columnMap_[x - x0] = xSrc + static_cast<int>((2 * j + 1) * srcWidth / (2LL * destWidth));
  }
  for (int y = y0; y < y1; ++y) {
    const long long j = y - yDest;
    const int fromTop = static_cast<int>((2 * j + 1) * srcHeight / (2LL * destHeight));
    const int bottomUpRow = ySrc + srcHeight - 1 - fromTop;
    const uint8_t* row = src + static_cast<size_t>(bottomUpRow) * rowBytes;
    uint8_t* out = &pixels_[(static_cast<size_t>(y) * width_ + x0) * 3];
    if (h.biBitCount == 24) {
      for (int x = x0; x < x1; ++x, out += 3) {
        const uint8_t* p = row + columnMap_[x - x0] * 3;
        out[0] = p[2];
        out[1] = p[1];
        out[2] = p[0];
      }
    } else {
      for (int x = x0; x < x1; ++x, out += 3) {
        const int index = row[columnMap_[x - x0]];
        if (index < colors) {
          const RGBQUAD& q = info->bmiColors[index];
          out[0] = q.rgbRed;
          out[1] = q.rgbGreen;
          out[2] = q.rgbBlue;
        } else {
          out[0] = out[1] = out[2] = 0;
        }
      }
    }
  }
  return srcHeight;
}

}  // namespace orvax::win
