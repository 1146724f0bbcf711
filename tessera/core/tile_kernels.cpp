#include "core/tile_kernels.h"

#include <cstring>

#include "core/geometry.h"

namespace tessera {
namespace {

constexpr int T = kTileSize;

template <int N>
void MirrorRows(uint8_t* block, uint8_t*) {
  uint8_t tmp[T * N];
  for (int r = 0; r < T; ++r) {
    uint8_t* row = block + static_cast<size_t>(r) * T * N;
    std::memcpy(tmp, row, sizeof tmp);
    for (int k = 0; k < T; ++k) std::memcpy(row + k * N, tmp + (T - 1 - k) * N, N);
  }
}

template <int N>
void FlipRows(uint8_t* block, uint8_t*) {
  constexpr size_t n = static_cast<size_t>(T) * N;
  uint8_t tmp[n];
  for (int r = 0; r < T / 2; ++r) {
    uint8_t* top = block + r * n;
    uint8_t* bottom = block + (T - 1 - r) * n;
    std::memcpy(tmp, top, n);
    std::memcpy(top, bottom, n);
    std::memcpy(bottom, tmp, n);
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

template <int Angle>
TileKernel TurnFor(int bytesPerPixel) {
  switch (bytesPerPixel) {
    case 1: return TurnTile<1, Angle>;
    case 2: return TurnTile<2, Angle>;
    case 3: return TurnTile<3, Angle>;
    case 4: return TurnTile<4, Angle>;
    default: return TurnTile<6, Angle>;
  }
}

}  // namespace

TileKernel PortableTileKernelFor(TileTurn turn, int bytesPerPixel) {
  switch (turn) {
    case TileTurn::kMirror:
      switch (bytesPerPixel) {
        case 1: return MirrorRows<1>;
        case 2: return MirrorRows<2>;
        case 3: return MirrorRows<3>;
        case 4: return MirrorRows<4>;
        default: return MirrorRows<6>;
      }
    case TileTurn::kFlip:
      switch (bytesPerPixel) {
        case 1: return FlipRows<1>;
        case 2: return FlipRows<2>;
        case 3: return FlipRows<3>;
        case 4: return FlipRows<4>;
        default: return FlipRows<6>;
      }
    case TileTurn::k90: return TurnFor<90>(bytesPerPixel);
    case TileTurn::k180: return TurnFor<180>(bytesPerPixel);
    default: return TurnFor<270>(bytesPerPixel);
  }
}

TileKernel TileKernelFor(TileTurn turn, int bytesPerPixel) { return PortableTileKernelFor(turn, bytesPerPixel); }

bool NeedsScratch(TileTurn turn) { return turn == TileTurn::k90 || turn == TileTurn::k180 || turn == TileTurn::k270; }

}  // namespace tessera
