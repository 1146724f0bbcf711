// One 128 x 128 square of an image, its pixels and its display cache.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <type_traits>

#include "core/geometry.h"
#include "tessera/tessera.h"

namespace tessera {

// Pixel blocks come from calloc: fresh memory arrives zeroed from the system without a
// second pass over it, and pixels no write has touched read as zero.
struct FreeBlock {
  void operator()(uint8_t* p) const { std::free(p); }
};
using PixelBlock = std::unique_ptr<uint8_t[], FreeBlock>;

inline PixelBlock AllocateBlock(size_t bytes) { return PixelBlock(static_cast<uint8_t*>(std::calloc(bytes, 1))); }

// What `pick` gives for the stored pixel size `bytes` (1, 2, 3, 4, else 6) passed as a
// std::integral_constant: the instance of a kernel template for that size.
template <typename Pick>
auto ForPixelSize(int bytes, Pick pick) {
  switch (bytes) {
    case 1: return pick(std::integral_constant<int, 1>{});
    case 2: return pick(std::integral_constant<int, 2>{});
    case 3: return pick(std::integral_constant<int, 3>{});
    case 4: return pick(std::integral_constant<int, 4>{});
    default: return pick(std::integral_constant<int, 6>{});
  }
}

struct Tile {
  tagTes_Rect position{};  // image coordinates; edge tiles reach past the image
  int bytesPerPixel = 0;
  int rowBytes = 0;
  PixelBlock pixels;                        // 128 rows of rowBytes, allocated at first write
  std::unique_ptr<uint8_t[]> displayCache;  // 128 x 128 DIB for the screen, made when first drawn

  size_t BlockBytes() const { return static_cast<size_t>(kTileSize) * rowBytes; }
  uint8_t* Row(int r) { return pixels.get() + static_cast<size_t>(r) * rowBytes; }
  const uint8_t* Row(int r) const { return pixels.get() + static_cast<size_t>(r) * rowBytes; }

  // Allocates the pixel block if there is none; false when memory runs out.
  bool EnsurePixels() {
    if (!pixels) pixels = AllocateBlock(BlockBytes());
    return static_cast<bool>(pixels);
  }
  void DropCache() { displayCache.reset(); }
};

}  // namespace tessera
