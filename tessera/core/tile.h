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
// second pass over it, and pixels no write has touched read as zero. A block may instead be
// a piece of a PixelSlab, shared by the tiles it was made for and returned with the last.
struct FreeBlock {
  std::shared_ptr<void> slab;  // null for a block of its own
  void operator()(uint8_t* p) {
    if (slab)
      slab.reset();
    else
      std::free(p);
  }
};
using PixelBlock = std::unique_ptr<uint8_t[], FreeBlock>;

inline PixelBlock AllocateBlock(size_t bytes) { return PixelBlock(static_cast<uint8_t*>(std::calloc(bytes, 1))); }

// The zeroed blocks of several tiles in one mapping, which the system fills with pages as it
// is made: far cheaper than taking each page at its first touch (a fault each).
class PixelSlab {
 public:
  // count blocks of blockBytes (a multiple of the page size); empty when memory runs out.
  PixelSlab(size_t count, size_t blockBytes);
  explicit operator bool() const { return static_cast<bool>(base_); }
  // Block i, holding the slab until it is freed.
  PixelBlock Block(size_t i) const {
    return PixelBlock(static_cast<uint8_t*>(base_.get()) + i * blockBytes_, FreeBlock{base_});
  }

 private:
  std::shared_ptr<void> base_;
  size_t blockBytes_;
};

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
