#include "core/thumbnail.h"

#include <cstring>
#include <new>
#include <vector>

namespace tessera {

ThumbnailShape ThumbnailSize(const ObjectState& object) {
  int w = object.store.width(), h = object.store.height();
  while (w > 256 || h > 256) {
    w /= 4;
    h /= 4;
  }
  const int code = IsGrey(object.store.colorSpace()) ? TES_CS_GRAY8 : TES_CS_RGB24;
  return {w == 0 ? 1 : w, h == 0 ? 1 : h, code};
}

long ThumbnailPixels(const ObjectState& object, uint8_t* buffer, int rowBytes) {
  const ThumbnailShape shape = ThumbnailSize(object);
  const int W = object.store.width(), H = object.store.height();
  const int w = shape.width, h = shape.height;
  const int bpp = object.store.bytesPerPixel();
  if (buffer == nullptr || W <= 0 || H <= 0 || rowBytes < w * BytesPerPixel(shape.colorSpace))
    return TES_ERR_NO_IMAGE;

  std::vector<uint8_t> sourceRow, thumb;
  try {
    sourceRow.resize(static_cast<size_t>(W) * bpp);
    thumb.resize(static_cast<size_t>(w) * h * bpp);
  } catch (const std::bad_alloc&) {
    return TES_ERR_NO_MEMORY;
  }

  // Bresenham-style point sampling: thumbnail pixel (i, j) is source pixel
  // (ceil(j * W / w), ceil(i * H / h)).
  int made = 0, r = 0;
  long e = 0;
  while (made < h) {
    if (e < 0) {
      ++r;
      e += h;
      continue;
    }
    tagTes_Tile_Desc one{{0, r, W, 1}, W * bpp, 0};
    if (const long status = object.store.Load(one, sourceRow.data())) return status;
    uint8_t* out = thumb.data() + static_cast<size_t>(made) * w * bpp;
    int columns = 0, c = 0;
    long ce = 0;
    while (columns < w) {
      if (ce >= 0) {
        std::memcpy(out + static_cast<size_t>(columns) * bpp, sourceRow.data() + static_cast<size_t>(c) * bpp, bpp);
        ++columns;
        ce -= W;
      } else {
        ++c;
        ce += w;
      }
    }
    ++made;
    e -= H;
  }

  const uint8_t* result = thumb.data();
  std::vector<uint8_t> converted;
  const int outBpp = BytesPerPixel(shape.colorSpace);
  if (shape.colorSpace != object.store.colorSpace()) {
    try {
      converted.resize(static_cast<size_t>(w) * h * outBpp);
    } catch (const std::bad_alloc&) {
      return TES_ERR_NO_MEMORY;
    }
    if (!object.pipeline) return TES_ERR_NO_IMAGE;
    long status = object.pipeline->BeginConversion(shape.colorSpace, nullptr, w, h);
    if (status == TES_OK) status = object.pipeline->ConvertBlock(thumb.data(), converted.data());
    const long endStatus = object.pipeline->EndConversion(status == TES_OK, false);
    if (status == TES_OK) status = endStatus;
    if (status != TES_OK) return status;
    result = converted.data();
  }
  for (int i = 0; i < h; ++i)
    std::memcpy(buffer + static_cast<size_t>(i) * rowBytes, result + static_cast<size_t>(i) * w * outBpp,
                static_cast<size_t>(w) * outBpp);
  return TES_OK;
}

}  // namespace tessera
