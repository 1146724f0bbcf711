#include "core/geometry.h"

#include <cmath>

namespace tessera {

int NormaliseAngle(double degrees) {
  if (!std::isfinite(degrees)) return 0;
  double a = std::fmod(degrees, 360.0);
  if (a < 0) a += 360.0;
  if (a >= 360.0) a -= 360.0;
  if (a < 45) return 0;
  if (a < 135) return 90;
  if (a < 225) return 180;
  if (a < 315) return 270;
  return 0;
}

void ForwardPoint(tagTes_Point& p, int w, int h, bool mirror, int angle) {
  if (mirror) p.x = w - 1 - p.x;
  const int x = p.x, y = p.y;
  switch (angle) {
    case 90: p = {h - 1 - y, x}; break;
    case 180: p = {w - 1 - x, h - 1 - y}; break;
    case 270: p = {y, w - 1 - x}; break;
    default: break;
  }
}

void ReversePoint(tagTes_Point& p, int w, int h, bool mirror, int angle) {
  const int x = p.x, y = p.y;
  switch (angle) {
    case 90: p = {y, w - 1 - x}; break;
    case 180: p = {w - 1 - x, h - 1 - y}; break;
    case 270: p = {h - 1 - y, x}; break;
    default: break;
  }
  if (mirror) p.x = ((angle == 90 || angle == 270) ? h - 1 : w - 1) - p.x;
}

}  // namespace tessera
