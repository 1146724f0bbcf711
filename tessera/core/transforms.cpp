#include "core/transforms.h"

#include <array>
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
  for (int r = 0; r < T; ++r) {
    uint8_t* row = tile.Row(r);
    for (int k = 0; k < T / 2; ++k) {
      uint8_t tmp[N];
      uint8_t* a = row + k * N;
      uint8_t* b = row + (T - 1 - k) * N;
      std::memcpy(tmp, a, N);
      std::memcpy(a, b, N);
      std::memcpy(b, tmp, N);
    }
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

// The 4096 four-pixel cycles that cover a 128 x 128 tile, as byte offsets; every entry but
// the first holds its difference from the one before, so a walk only adds.
using CycleTable = std::array<std::array<int32_t, 4>, 4096>;

void BuildCycles(CycleTable& table, int rowBytes, int bytesPerPixel) {
  auto offset = [&](int r, int c) { return r * rowBytes + c * bytesPerPixel; };
  size_t n = 0;
  for (int L = 0; L < T / 2; ++L)
    for (int c = L; c <= T - 2 - L; ++c)
      table[n++] = {offset(L, c), offset(c, T - 1 - L), offset(T - 1 - L, T - 1 - c), offset(T - 1 - c, L)};
  for (size_t i = table.size() - 1; i > 0; --i)
    for (int k = 0; k < 4; ++k) table[i][k] -= table[i - 1][k];
}

template <int N, int Angle>
void TurnTile(uint8_t* block, const CycleTable& table) {
  int32_t o0 = 0, o1 = 0, o2 = 0, o3 = 0;
  for (const auto& d : table) {
    o0 += d[0];
    o1 += d[1];
    o2 += d[2];
    o3 += d[3];
    uint8_t* p0 = block + o0;
    uint8_t* p1 = block + o1;
    uint8_t* p2 = block + o2;
    uint8_t* p3 = block + o3;
    uint8_t tmp[N];
    if constexpr (Angle == 90) {  // first -> second -> third -> fourth -> first
      std::memcpy(tmp, p3, N);
      std::memcpy(p3, p2, N);
      std::memcpy(p2, p1, N);
      std::memcpy(p1, p0, N);
      std::memcpy(p0, tmp, N);
    } else if constexpr (Angle == 180) {
      std::memcpy(tmp, p0, N);
      std::memcpy(p0, p2, N);
      std::memcpy(p2, tmp, N);
      std::memcpy(tmp, p1, N);
      std::memcpy(p1, p3, N);
      std::memcpy(p3, tmp, N);
    } else {  // 270: fourth -> third -> second -> first -> fourth
      std::memcpy(tmp, p0, N);
      std::memcpy(p0, p1, N);
      std::memcpy(p1, p2, N);
      std::memcpy(p2, p3, N);
      std::memcpy(p3, tmp, N);
    }
  }
}

using TurnFn = void (*)(uint8_t*, const CycleTable&);

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
  std::unique_ptr<CycleTable> cycles(new (std::nothrow) CycleTable);
  if (!cycles) return TES_ERR_NO_MEMORY;

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
        if (turn == nullptr) {  // all tiles share one pixel size: build the table once
          BuildCycles(*cycles, tile->rowBytes, tile->bytesPerPixel);
          turn = angle == 90 ? TurnFor<90>(tile->bytesPerPixel)
                             : angle == 180 ? TurnFor<180>(tile->bytesPerPixel) : TurnFor<270>(tile->bytesPerPixel);
        }
        turn(tile->pixels.get(), *cycles);
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
