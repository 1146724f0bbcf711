// The pixel types the data source knows, in the order its capabilities keep their depths.
#pragma once

#include "datasource/ds_exports.h"
#include "datasource/ds_twain.h"

#include <QList>

namespace orvax::ds {

inline constexpr int kPixelTypes[] = {twain::TWPT_BW, twain::TWPT_GRAY, twain::TWPT_RGB, twain::TWPT_CMYK, TWPT_HSL};
inline constexpr int kPixelTypeCount = 5;

// The depths each pixel type comes in, in the order of kPixelTypes.
// (A function, so that the module's static source object can use it while starting.)
inline const QList<int>* DefaultDepths() {
  static const QList<int> depths[] = {{1}, {8, 16}, {8, 16}, {8}, {16}};
  return depths;
}

// The position of PIXELTYPE in kPixelTypes; -1 for one the source does not know.
inline int IndexOfType(int pixelType) {
  for (int i = 0; i < kPixelTypeCount; ++i)
    if (kPixelTypes[i] == pixelType) return i;
  return -1;
}

}  // namespace orvax::ds
