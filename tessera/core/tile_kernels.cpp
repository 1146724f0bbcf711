#include "core/tile_kernels.h"

#include <cstring>

#include "core/cpu_features.h"
#include "core/geometry.h"
#include "core/tile.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

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

#if defined(__x86_64__)
#define TESSERA_SSSE3 __attribute__((target("ssse3")))

// Byte shuffles that reverse the order of N-byte pixels. Pixel sizes that divide 16 reverse
// one 16-byte piece at a time (kPiece); 3 and 6 bytes reverse a 48-byte group (16 or 8
// whole pixels) whose output piece k gathers from input pieces j (kGroup[k][j], -128 clears).
template <int N>
struct MirrorMasks {
  alignas(16) int8_t piece[16];
  alignas(16) int8_t group[3][3][16];
  constexpr MirrorMasks() : piece{}, group{} {
    for (int b = 0; b < 16; ++b) piece[b] = static_cast<int8_t>((16 / N - 1 - b / N) * N + b % N);
    constexpr int pixels = 48 / N;
    for (int k = 0; k < 3; ++k)
      for (int j = 0; j < 3; ++j)
        for (int b = 0; b < 16; ++b) {
          const int o = 16 * k + b, from = (pixels - 1 - o / N) * N + o % N;
          group[k][j][b] = static_cast<int8_t>(from / 16 == j ? from % 16 : -128);
        }
  }
};
template <int N>
constexpr MirrorMasks<N> kMirrorMasks;

TESSERA_SSSE3 inline __m128i Load16(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
TESSERA_SSSE3 inline void Store16(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
TESSERA_SSSE3 inline __m128i Mask(const int8_t* m) { return _mm_load_si128(reinterpret_cast<const __m128i*>(m)); }

// 1, 2 and 4 bytes: the pieces at both ends of a row change places, each reversed.
template <int N>
TESSERA_SSSE3 void MirrorRowsPieces(uint8_t* block, uint8_t*) {
  constexpr int pieces = T * N / 16;
  const __m128i m = Mask(kMirrorMasks<N>.piece);
  for (int r = 0; r < T; ++r) {
    uint8_t* row = block + static_cast<size_t>(r) * T * N;
    for (int i = 0; i < pieces / 2; ++i) {
      uint8_t* a = row + 16 * i;
      uint8_t* b = row + 16 * (pieces - 1 - i);
      const __m128i va = Load16(a), vb = Load16(b);
      Store16(a, _mm_shuffle_epi8(vb, m));
      Store16(b, _mm_shuffle_epi8(va, m));
    }
  }
}

template <int N>
TESSERA_SSSE3 inline void ReverseGroup(__m128i p0, __m128i p1, __m128i p2, uint8_t* out) {
  const MirrorMasks<N>& m = kMirrorMasks<N>;
  const __m128i in[3] = {p0, p1, p2};
  for (int k = 0; k < 3; ++k) {
    __m128i v = _mm_setzero_si128();
    for (int j = 0; j < 3; ++j) v = _mm_or_si128(v, _mm_shuffle_epi8(in[j], Mask(m.group[k][j])));
    Store16(out + 16 * k, v);
  }
}

// 3 and 6 bytes: the 48-byte groups at both ends of a row change places, each reversed.
template <int N>
TESSERA_SSSE3 void MirrorRowsGroups(uint8_t* block, uint8_t*) {
  constexpr int groups = T * N / 48;
  for (int r = 0; r < T; ++r) {
    uint8_t* row = block + static_cast<size_t>(r) * T * N;
    for (int i = 0; i < groups / 2; ++i) {
      uint8_t* a = row + 48 * i;
      uint8_t* b = row + 48 * (groups - 1 - i);
      const __m128i a0 = Load16(a), a1 = Load16(a + 16), a2 = Load16(a + 32);
      const __m128i b0 = Load16(b), b1 = Load16(b + 16), b2 = Load16(b + 32);
      ReverseGroup<N>(b0, b1, b2, a);
      ReverseGroup<N>(a0, a1, a2, b);
    }
  }
}

TileKernel VectorMirror(int bytesPerPixel) {
  return ForPixelSize(bytesPerPixel, [](auto n) -> TileKernel {
    constexpr int N = decltype(n)::value;
    if constexpr (16 % N == 0) return MirrorRowsPieces<N>;
    else return MirrorRowsGroups<N>;
  });
}
#endif

template <int Angle>
TileKernel TurnFor(int bytesPerPixel) {
  return ForPixelSize(bytesPerPixel, [](auto n) -> TileKernel { return TurnTile<decltype(n)::value, Angle>; });
}

}  // namespace

bool CanMirrorTileVector() {
  return CpuCan(kCpuSsse3);
}

TileKernel PortableTileKernelFor(TileTurn turn, int bytesPerPixel) {
  switch (turn) {
    case TileTurn::kMirror:
      return ForPixelSize(bytesPerPixel, [](auto n) -> TileKernel { return MirrorRows<decltype(n)::value>; });
    case TileTurn::kFlip:
      return ForPixelSize(bytesPerPixel, [](auto n) -> TileKernel { return FlipRows<decltype(n)::value>; });
    case TileTurn::k90: return TurnFor<90>(bytesPerPixel);
    case TileTurn::k180: return TurnFor<180>(bytesPerPixel);
    default: return TurnFor<270>(bytesPerPixel);
  }
}

TileKernel TileKernelFor(TileTurn turn, int bytesPerPixel) {
#if defined(__x86_64__)
  if (turn == TileTurn::kMirror && CanMirrorTileVector()) return VectorMirror(bytesPerPixel);
#endif
  return PortableTileKernelFor(turn, bytesPerPixel);
}

bool NeedsScratch(TileTurn turn) { return turn == TileTurn::k90 || turn == TileTurn::k180 || turn == TileTurn::k270; }

}  // namespace tessera
