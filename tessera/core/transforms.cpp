#include "core/transforms.h"

#include <cstring>
#include <new>

namespace tessera {
namespace {

constexpr int T = kTileSize;

// Every operation first checks that each tile has pixels, so that a tile without a block
// stops the operation before anything moves: a half-turned image is worse than none.
bool AllTilesHavePixels(const ImageStore& store) {
  for (const auto& tile : store.tiles())
    if (tile && !tile->pixels) return false;
  return true;
}

bool MakeTable(size_t count, std::vector<std::unique_ptr<Tile>>& table) {
  try {
    table.resize(count);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

template <int N>
void MirrorRows(Tile& tile) {
  uint8_t tmp[T * N];
  for (int r = 0; r < T; ++r) {
    uint8_t* row = tile.Row(r);
    std::memcpy(tmp, row, sizeof tmp);
    for (int k = 0; k < T; ++k) std::memcpy(row + k * N, tmp + (T - 1 - k) * N, N);
  }
}

void MirrorTile(Tile& tile) {
  switch (tile.bytesPerPixel) {
    case 1: MirrorRows<1>(tile); break;
    case 2: MirrorRows<2>(tile); break;
    case 3: MirrorRows<3>(tile); break;
    case 4: MirrorRows<4>(tile); break;
    default: MirrorRows<6>(tile); break;
  }
}

void FlipTileRows(Tile& tile) {
  const size_t n = static_cast<size_t>(tile.rowBytes);
  uint8_t tmp[T * 6];
  for (int r = 0; r < T / 2; ++r) {
    std::memcpy(tmp, tile.Row(r), n);
    std::memcpy(tile.Row(r), tile.Row(T - 1 - r), n);
    std::memcpy(tile.Row(T - 1 - r), tmp, n);
  }
}

// Turns a tile by copying it aside and writing every pixel to its turned place. The copy is
// one tile (at most 96 KiB), so no second image-sized buffer is ever needed. The walk goes
// in 16 x 16 blocks so that both the reads and the writes stay within a few cache lines.
template <int N, int Angle>
void TurnTile(uint8_t* block, uint8_t* scratch) {
  constexpr int rowBytes = T * N;
  std::memcpy(scratch, block, static_cast<size_t>(T) * rowBytes);
  constexpr int B = 16;
  for (int r0 = 0; r0 < T; r0 += B)
    for (int c0 = 0; c0 < T; c0 += B)
      for (int r = r0; r < r0 + B; ++r) {
        uint8_t* dst = block + r * rowBytes + c0 * N;
        for (int c = c0; c < c0 + B; ++c, dst += N) {
          // Destination (r, c) takes the source pixel that the turn carries there.
          int sr, sc;
          if constexpr (Angle == 90) {  // source (r, c) goes to (c, 127 - r)
            sr = T - 1 - c, sc = r;
          } else if constexpr (Angle == 180) {
            sr = T - 1 - r, sc = T - 1 - c;
          } else {  // 270: source (r, c) goes to (127 - c, r)
            sr = c, sc = T - 1 - r;
          }
          std::memcpy(dst, scratch + sr * rowBytes + sc * N, N);
        }
      }
}

using TurnFn = void (*)(uint8_t*, uint8_t*);

template <int Angle>
TurnFn TurnFor(int bytesPerPixel) {
  switch (bytesPerPixel) {
    case 1: return TurnTile<1, Angle>;
    case 2: return TurnTile<2, Angle>;
    case 3: return TurnTile<3, Angle>;
    case 4: return TurnTile<4, Angle>;
    default: return TurnTile<6, Angle>;
  }
}

}  // namespace

long FlipHorizontal(ImageStore& store) {
  if (!store.HasTable()) return TES_ERR_NO_IMAGE;
  if (!AllTilesHavePixels(store)) return TES_ERR_NO_MEMORY;
  const int Ta = store.tilesAcross(), Td = store.tilesDown();
  std::vector<std::unique_ptr<Tile>> table;
  if (!MakeTable(store.tiles().size(), table)) return TES_ERR_NO_MEMORY;
  const int x0 = store.width() - T * Ta - store.originX(), y0 = store.originY();
  for (int j = 0; j < Td; ++j) {
    for (int i = 0; i < Ta; ++i) {
      std::unique_ptr<Tile>& tile = store.tiles()[static_cast<size_t>(j) * Ta + i];
      if (tile) {
        MirrorTile(*tile);
        tile->DropCache();
        tile->position = {x0 + T * (Ta - 1 - i), y0 + T * j, T, T};
      }
      table[static_cast<size_t>(j) * Ta + (Ta - 1 - i)] = std::move(tile);
    }
  }
  store.SetGrid(store.width(), store.height(), Ta, Td, x0, y0, std::move(table));
  return TES_OK;
}

long FlipVertical(ImageStore& store) {
  if (!store.HasTable()) return TES_ERR_NO_IMAGE;
  if (!AllTilesHavePixels(store)) return TES_ERR_NO_MEMORY;
  const int Ta = store.tilesAcross(), Td = store.tilesDown();
  std::vector<std::unique_ptr<Tile>> table;
  if (!MakeTable(store.tiles().size(), table)) return TES_ERR_NO_MEMORY;
  const int x0 = store.originX(), y0 = store.height() - T * Td - store.originY();
  for (int j = 0; j < Td; ++j) {
    for (int i = 0; i < Ta; ++i) {
      std::unique_ptr<Tile>& tile = store.tiles()[static_cast<size_t>(j) * Ta + i];
      if (tile) {
        FlipTileRows(*tile);
        tile->DropCache();
        tile->position = {x0 + T * i, y0 + T * (Td - 1 - j), T, T};
      }
      table[static_cast<size_t>(Td - 1 - j) * Ta + i] = std::move(tile);
    }
  }
  store.SetGrid(store.width(), store.height(), Ta, Td, x0, y0, std::move(table));
  return TES_OK;
}

long RotateQuarter(ImageStore& store, int angle) {
  if (!store.HasTable()) return TES_ERR_NO_IMAGE;
  if (angle == 0) return TES_OK;
  if (!AllTilesHavePixels(store)) return TES_ERR_NO_MEMORY;
  const int W = store.width(), H = store.height();
  const int Ta = store.tilesAcross(), Td = store.tilesDown();
  const int x0 = store.originX(), y0 = store.originY();

  int newW = H, newH = W, newTa = Td, newTd = Ta, nx0 = 0, ny0 = 0;
  if (angle == 90) {
    nx0 = H - T * Td - y0;
    ny0 = x0;
  } else if (angle == 180) {
    newW = W, newH = H, newTa = Ta, newTd = Td;
    nx0 = W - T * Ta - x0;
    ny0 = H - T * Td - y0;
  } else {
    nx0 = y0;
    ny0 = W - T * Ta - x0;
  }

  std::vector<std::unique_ptr<Tile>> table;
  if (!MakeTable(store.tiles().size(), table)) return TES_ERR_NO_MEMORY;
  PixelBlock scratch = AllocateBlock(static_cast<size_t>(T) * T * 6);
  if (!scratch) return TES_ERR_NO_MEMORY;

  TurnFn turn = nullptr;
  for (int j = 0; j < Td; ++j) {
    for (int i = 0; i < Ta; ++i) {
      std::unique_ptr<Tile>& tile = store.tiles()[static_cast<size_t>(j) * Ta + i];
      int ni, nj;
      if (angle == 90) {
        ni = Td - 1 - j, nj = i;
      } else if (angle == 180) {
        ni = Ta - 1 - i, nj = Td - 1 - j;
      } else {
        ni = j, nj = Ta - 1 - i;
      }
      if (tile) {
        if (turn == nullptr) {  // all tiles share one pixel size: choose the kernel once
          turn = angle == 90 ? TurnFor<90>(tile->bytesPerPixel)
                             : angle == 180 ? TurnFor<180>(tile->bytesPerPixel) : TurnFor<270>(tile->bytesPerPixel);
        }
        turn(tile->pixels.get(), scratch.get());
        tile->DropCache();
        tile->position = {nx0 + T * ni, ny0 + T * nj, T, T};
      }
      table[static_cast<size_t>(nj) * newTa + ni] = std::move(tile);
    }
  }
  store.SetGrid(newW, newH, newTa, newTd, nx0, ny0, std::move(table));
  return TES_OK;
}

}  // namespace tessera
