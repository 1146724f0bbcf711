#include "core/transforms.h"

#include <new>

#include "core/tile_kernels.h"

namespace tessera {
namespace {

constexpr int T = kTileSize;

// Where a turn or mirror carries the tile grid: the new image size, grid and origin, and the
// new place of tile (i, j) as ni = ii * i + ij * j + i0, nj = ji * i + jj * j + j0.
struct GridMapping {
  int width, height, tilesAcross, tilesDown, originX, originY;
  int ii, ij, i0, ji, jj, j0;
};

GridMapping MappingOf(const ImageStore& store, TileTurn turn) {
  const int W = store.width(), H = store.height();
  const int Ta = store.tilesAcross(), Td = store.tilesDown();
  const int x0 = store.originX(), y0 = store.originY();
  // The origin moves so that the far edge of the grid lands where the near one was.
  const int farX = W - T * Ta - x0, farY = H - T * Td - y0;
  switch (turn) {
    case TileTurn::kMirror: return {W, H, Ta, Td, farX, y0, -1, 0, Ta - 1, 0, 1, 0};
    case TileTurn::kFlip: return {W, H, Ta, Td, x0, farY, 1, 0, 0, 0, -1, Td - 1};
    case TileTurn::k90: return {H, W, Td, Ta, farY, x0, 0, -1, Td - 1, 1, 0, 0};
    case TileTurn::k180: return {W, H, Ta, Td, farX, farY, -1, 0, Ta - 1, 0, -1, Td - 1};
    default: return {H, W, Td, Ta, y0, farX, 0, 1, 0, -1, 0, Ta - 1};  // 270
  }
}

// Every operation first checks that each tile has pixels, so that a tile without a block
// stops the operation before anything moves: a half-turned image is worse than none.
bool AllTilesHavePixels(const ImageStore& store) {
  for (const auto& tile : store.tiles())
    if (tile && !tile->pixels) return false;
  return true;
}

// Turns every tile in place with one kernel and moves it to its new place in the grid.
long Relocate(ImageStore& store, TileTurn turn) {
  if (!AllTilesHavePixels(store)) return TES_ERR_NO_MEMORY;
  const GridMapping m = MappingOf(store, turn);
  std::vector<std::unique_ptr<Tile>> table;
  try {
    table.resize(store.tiles().size());
  } catch (const std::bad_alloc&) {
    return TES_ERR_NO_MEMORY;
  }
  PixelBlock scratch;
  if (NeedsScratch(turn)) {
    scratch = AllocateBlock(static_cast<size_t>(T) * T * 6);
    if (!scratch) return TES_ERR_NO_MEMORY;
  }

  const int Ta = store.tilesAcross(), Td = store.tilesDown();
  TileKernel kernel = nullptr;
  for (int j = 0; j < Td; ++j) {
    for (int i = 0; i < Ta; ++i) {
      std::unique_ptr<Tile>& tile = store.tiles()[static_cast<size_t>(j) * Ta + i];
      const int ni = m.ii * i + m.ij * j + m.i0, nj = m.ji * i + m.jj * j + m.j0;
      if (tile) {
        // All tiles share one pixel size: the kernel is chosen once.
        if (kernel == nullptr) kernel = TileKernelFor(turn, tile->bytesPerPixel);
        kernel(tile->pixels.get(), scratch.get());
        tile->DropCache();
        tile->position = {m.originX + T * ni, m.originY + T * nj, T, T};
      }
      table[static_cast<size_t>(nj) * m.tilesAcross + ni] = std::move(tile);
    }
  }
  store.SetGrid(m.width, m.height, m.tilesAcross, m.tilesDown, m.originX, m.originY, std::move(table));
  return TES_OK;
}

}  // namespace

long FlipHorizontal(ImageStore& store) {
  if (!store.HasTable()) return TES_ERR_NO_IMAGE;
  return Relocate(store, TileTurn::kMirror);
}

long FlipVertical(ImageStore& store) {
  if (!store.HasTable()) return TES_ERR_NO_IMAGE;
  return Relocate(store, TileTurn::kFlip);
}

long RotateQuarter(ImageStore& store, int angle) {
  if (!store.HasTable()) return TES_ERR_NO_IMAGE;
  if (angle == 0) return TES_OK;
  return Relocate(store, angle == 90 ? TileTurn::k90 : angle == 180 ? TileTurn::k180 : TileTurn::k270);
}

}  // namespace tessera
