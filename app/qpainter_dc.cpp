#include "qpainter_dc.h"

#include <QImage>
#include <QPainter>

#include <algorithm>
#include <vector>

namespace orvax::app {

int QPainterDC::SetStretchBltMode(int mode) {
  if (mode < win::BLACKONWHITE || mode > win::HALFTONE) return 0;
  const int previous = mode_;
  mode_ = mode;
  return previous;
}

int QPainterDC::StretchDIBits(int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc,
                              int srcWidth, int srcHeight, const void* bits, const win::BITMAPINFO* info,
                              unsigned usage, uint32_t rop) {
  if (bits == nullptr || info == nullptr || usage != win::DIB_RGB_COLORS || rop != win::SRCCOPY) return 0;
  const win::BITMAPINFOHEADER& h = info->bmiHeader;
  if (h.biSize < sizeof(win::BITMAPINFOHEADER) || h.biCompression != win::BI_RGB || h.biWidth <= 0 ||
      h.biHeight <= 0)
    return 0;
  if (h.biBitCount != 8 && h.biBitCount != 24) return 0;
  if (destWidth <= 0 || destHeight <= 0 || srcWidth <= 0 || srcHeight <= 0) return 0;
  if (xSrc < 0 || ySrc < 0 || xSrc + srcWidth > h.biWidth || ySrc + srcHeight > h.biHeight) return 0;

  const QRect visible = QRect(xDest, yDest, destWidth, destHeight).intersected(bounds_);
  if (visible.isEmpty()) return srcHeight;
  QImage out(visible.size(), QImage::Format_RGB888);
  if (out.isNull()) return 0;

  const auto* src = static_cast<const uint8_t*>(bits);
  const int rowBytes = win::DibRowBytes(h.biWidth, h.biBitCount);
  const int colors =
      h.biBitCount == 8 ? (h.biClrUsed ? static_cast<int>(std::min<uint32_t>(h.biClrUsed, 256)) : 256) : 0;
  std::vector<int> columns(static_cast<size_t>(visible.width()));
  for (int x = 0; x < visible.width(); ++x) {
    const long long j = visible.x() + x - xDest;
    columns[x] = xSrc + static_cast<int>((2 * j + 1) * srcWidth / (2LL * destWidth));
  }
  for (int y = 0; y < visible.height(); ++y) {
    const long long j = visible.y() + y - yDest;
    const int fromTop = static_cast<int>((2 * j + 1) * srcHeight / (2LL * destHeight));
    const uint8_t* row = src + static_cast<size_t>(ySrc + srcHeight - 1 - fromTop) * rowBytes;
    uint8_t* o = out.scanLine(y);
    for (int x = 0; x < visible.width(); ++x, o += 3) {
      if (h.biBitCount == 24) {
        const uint8_t* p = row + columns[x] * 3;
        o[0] = p[2], o[1] = p[1], o[2] = p[0];
      } else {
        const int index = row[columns[x]];
        if (index < colors) {
          const win::RGBQUAD& q = info->bmiColors[index];
          o[0] = q.rgbRed, o[1] = q.rgbGreen, o[2] = q.rgbBlue;
        } else {
          o[0] = o[1] = o[2] = 0;
        }
      }
    }
  }
  painter_.drawImage(visible.topLeft(), out);
  return srcHeight;
}

}  // namespace orvax::app
