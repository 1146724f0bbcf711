// A device context that draws through a QPainter: the screen and the printer. StretchDIBits
// picks the nearest source pixel for each device pixel exactly as the memory context does,
// and only for the part of the destination inside the context's bounds, so that a large
// zoom never builds more than the visible pixels.
#pragma once

#include "win/gdi.h"

#include <QRect>

class QPainter;

namespace orvax::app {

class QPainterDC : public win::DeviceContext {
 public:
  // BOUNDS is the device area in the painter's coordinates that drawing may touch.
  QPainterDC(QPainter& painter, const QRect& bounds) : painter_(painter), bounds_(bounds) {}

  int SetStretchBltMode(int mode) override;
  int StretchDIBits(int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc, int srcWidth,
                    int srcHeight, const void* bits, const win::BITMAPINFO* info, unsigned usage,
                    uint32_t rop) override;
  int stretchMode() const { return mode_; }

 private:
  QPainter& painter_;
  QRect bounds_;
  int mode_ = win::BLACKONWHITE;
};

}  // namespace orvax::app
