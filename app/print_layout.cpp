#include "print_layout.h"

#include "string_table.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace orvax::app {

namespace {

int ClampToInt(long long v) { return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX)); }

}  // namespace

int PrintWarningFor(const std::optional<PrinterCaps>& caps, int width, int height, long resolution) {
  // A printer that could not be read, or one that reports no page, says nothing either way.
  if (!caps || caps->horzRes <= 0 || caps->vertRes <= 0 || caps->logPixelsX <= 0) return 0;
  // How many pages wide or high the image is at one dot per device pixel.
  const double r = std::max(static_cast<double>(width) / caps->horzRes, static_cast<double>(height) / caps->vertRes);
  const double limit = std::floor(caps->logPixelsX * r);
  if (static_cast<double>(resolution) < limit) return IDS_PRINT_WARN_NOFIT;
  if (resolution > caps->logPixelsX) return IDS_PRINT_WARN_EXCEEDS;
  return 0;
}

std::optional<PageLayout> ComputePageLayout(const PrinterCaps& caps, int width, int height, int textHeight,
                                            bool fitToPage, long resolution) {
  if (width <= 0 || height <= 0) return std::nullopt;
  if (!fitToPage && resolution <= 0) return std::nullopt;
  PageLayout layout;
  const long long w = width, h = height;
  const long long pageWidth = caps.horzRes;
  const long long usable = static_cast<long long>(caps.vertRes) - 2LL * textHeight;
  layout.usableHeight = ClampToInt(usable);
  long long outW, outH;
  if (fitToPage) {
    outW = std::min(pageWidth, usable * w / h);
    outH = std::min(usable, h * pageWidth / w);
  } else {
    outW = static_cast<long long>(caps.logPixelsX) * w / resolution;
    outH = static_cast<long long>(caps.logPixelsY) * h / resolution;
  }
  // A page too small for anything leaves no room for the image, not a negative one.
  outW = std::max(0LL, outW);
  outH = std::max(0LL, outH);
  layout.outputWidth = ClampToInt(outW);
  layout.outputHeight = ClampToInt(outH);
  layout.left = ClampToInt((pageWidth - outW) / 2);
  layout.top = ClampToInt((usable - outH) / 2);
  layout.captionX = ClampToInt(pageWidth / 2);
  layout.captionTop = ClampToInt(static_cast<long long>(layout.top) + textHeight / 2 + outH);
  return layout;
}

}  // namespace orvax::app
