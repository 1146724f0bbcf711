// Angles, rectangles and the point mappings shared by storage, transforms and drawing.
#pragma once

#include <algorithm>
#include <cstdint>

#include "tessera/tessera.h"

namespace tessera {

inline constexpr int kTileSize = 128;

// Reduces an angle to 0, 90, 180 or 270: wrapped into [0, 360), then snapped to the
// nearest quarter turn (315 and above snap to 0).
int NormaliseAngle(double degrees);

// Maps a point of an untransformed image of size (w, h) into the transformed image.
void ForwardPoint(tagTes_Point& p, int w, int h, bool mirror, int angle);
// Maps a point of a transformed image of size (w, h) back into the untransformed image.
void ReversePoint(tagTes_Point& p, int w, int h, bool mirror, int angle);

inline tagTes_Rect Intersect(const tagTes_Rect& a, const tagTes_Rect& b) {
  const int x0 = std::max(a.x, b.x), y0 = std::max(a.y, b.y);
  const int x1 = std::min(a.x + a.width, b.x + b.width), y1 = std::min(a.y + a.height, b.y + b.height);
  return {x0, y0, std::max(0, x1 - x0), std::max(0, y1 - y0)};
}

inline bool IsEmpty(const tagTes_Rect& r) { return r.width <= 0 || r.height <= 0; }

// a / n rounded to the nearest integer, an exact half rounding down (for a >= 0).
inline int64_t RoundDiv(int64_t a, int64_t n) { return (a + n - n / 2 - 1) / n; }

}  // namespace tessera
