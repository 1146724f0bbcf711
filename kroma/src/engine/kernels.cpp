// Pixel loops. Every decision (engine, channel counts, depths, layout, LCh output) is taken
// once in SelectKernel; the loops themselves only look up, multiply and shift.
#include "engine/kernels.h"

#include <algorithm>
#include <array>

#include "build/pcs.h"
#include "engine/cpu.h"

#include <immintrin.h>

namespace kroma {
namespace {

// The per-pixel helpers are always inlined into their loops: with this many instantiations
// the compiler's own growth limits would otherwise leave them as calls.
#define KROMA_INLINE inline __attribute__((always_inline))

// ---- samples --------------------------------------------------------------------------------

template <int Bits>
KROMA_INLINE uint32_t Load(const uint8_t* p, size_t index) {
  if constexpr (Bits == 8) {
    return p[index];
  } else {
    const uint8_t* q = p + 2 * index;
    return uint32_t(q[0]) | (uint32_t(q[1]) << 8);
  }
}

template <int Bits>
KROMA_INLINE void Store(uint8_t* p, size_t index, uint32_t v) {
  if constexpr (Bits == 8) {
    p[index] = uint8_t(v);
  } else {
    uint8_t* q = p + 2 * index;
    q[0] = uint8_t(v);
    q[1] = uint8_t(v >> 8);
  }
}

// Where the channels of pixel i (line y, column x) sit: first sample and channel step.
struct Addressing {
  int layout;
  uint32_t width, lines;
  size_t Base(uint32_t y, uint32_t x, int channels) const {
    switch (layout) {
      case 0: return (size_t(y) * width + x) * channels;
      case 1: return size_t(y) * width + x;
      default: return size_t(y) * channels * width + x;
    }
  }
  size_t Step() const {
    switch (layout) {
      case 0: return 1;
      case 1: return size_t(lines) * width;
      default: return width;
    }
  }
};

// 8-bit Lab to 8-bit LCh (C and h) for every (a, b), shared read-only by all handles.
const std::array<uint8_t, 2 * 65536>& LabToLChTable8() {
  static const std::array<uint8_t, 2 * 65536> table = [] {
    std::array<uint8_t, 2 * 65536> t{};
    for (int a = 0; a < 256; ++a)
      for (int b = 0; b < 256; ++b) {
        const uint8_t lab[3] = {0, uint8_t(a), uint8_t(b)};
        uint8_t lch[3];
        pcs::Lab8ToLCh8(lab, lch);
        t[2 * (a * 256 + b)] = lch[1];
        t[2 * (a * 256 + b) + 1] = lch[2];
      }
    return t;
  }();
  return table;
}

// ---- trilinear engine -------------------------------------------------------------------------

struct TriView {
  const AxisEntry* axis[kMaxChannels];
  const uint16_t* out16[kMaxChannels];
  const uint8_t* out8[kMaxChannels];
  const int32_t* grid;
  uint32_t stride[kMaxChannels];
  uint32_t corner[64];  // offset of every cell corner from the base node
  int inCh, outCh;

  // 8-bit samples index the 256-entry axis tables directly, wider ones the 4096-entry tables.
  TriView(const KromaEngineState& st, bool byteAxis) : inCh(st.inCh), outCh(st.outCh) {
    for (int c = 0; c < inCh; ++c) {
      axis[c] = byteAxis ? st.axis8.data() + size_t(c) * 256 : st.axis.data() + size_t(c) * kInTable;
      stride[c] = st.stride[c];
    }
    for (int c = 0; c < outCh; ++c) {
      out16[c] = st.triOut16.data() + size_t(c) * kTriOutTable;
      out8[c] = st.triOut8.data() + size_t(c) * kTriOutTable;
    }
    grid = st.grid.data();
    const int corners = 1 << inCh;
    for (int k = 0; k < corners && k < 64; ++k) {
      uint32_t off = 0;
      for (int a = 0; a < inCh; ++a)
        if ((k >> (inCh - 1 - a)) & 1) off += stride[a];
      corner[k] = off;
    }
  }
};

KROMA_INLINE int64_t Lerp16(int64_t a, int64_t b, int64_t f) { return a + (((b - a) * f + 32768) >> 16); }
KROMA_INLINE uint32_t Clip16(int64_t v) { return uint32_t(v < 0 ? 0 : v > 65535 ? 65535 : v); }

// Interpolates all outputs of one pixel from the input-table indices of its samples; NI = 0
// means the channel count is read at run time.
template <int NI, int NO>
KROMA_INLINE void TriInterp(const TriView& v, const uint32_t* index, uint32_t* out) {
  const int ni = NI ? NI : v.inCh;
  const int no = NO ? NO : v.outCh;
  int64_t f[kMaxChannels];
  uint32_t base = 0;
  for (int i = 0; i < ni; ++i) {
    const AxisEntry e = v.axis[i][index[i]];
    base += e.offset;
    f[i] = e.weight;
  }
  const int32_t* g = v.grid + base;
  if constexpr (NI == 3) {
    // The common case written out: seven interpolations per output, last axis first.
    const uint32_t s0 = v.stride[0], s1 = v.stride[1], s2 = v.stride[2];
    const int32_t f0 = int32_t(f[0]), f1 = int32_t(f[1]), f2 = int32_t(f[2]);
    for (int o = 0; o < no; ++o) {
      const int32_t* q = g + o;
      const int64_t x00 = Lerp16(q[0], q[s2], f2), x01 = Lerp16(q[s1], q[s1 + s2], f2);
      const int64_t x10 = Lerp16(q[s0], q[s0 + s2], f2), x11 = Lerp16(q[s0 + s1], q[s0 + s1 + s2], f2);
      const int64_t y0 = Lerp16(x00, x01, f1), y1 = Lerp16(x10, x11, f1);
      out[o] = Clip16(Lerp16(y0, y1, f0));
    }
    return;
  }
  const int corners = 1 << ni;
  for (int o = 0; o < no; ++o) {
    int64_t c[64];
    for (int k = 0; k < corners; ++k) c[k] = g[v.corner[k] + o];
    int count = corners;
    for (int a = ni - 1; a >= 0; --a) {
      count >>= 1;
      for (int j = 0; j < count; ++j) c[j] = Lerp16(c[2 * j], c[2 * j + 1], f[a]);
    }
    out[o] = Clip16(c[0]);
  }
}

// The axis-table index of a sample: the byte itself (256-entry tables), or a word's index into
// the 4096-entry tables.
template <int IB>
KROMA_INLINE uint32_t TriIndex(const uint8_t* p, size_t index) {
  if constexpr (IB == 8) return p[index];
  else return InIndex<IB>(Load<IB>(p, index));
}

template <int NO, int OB, bool Lch>
KROMA_INLINE void TriOutput(const TriView& v, uint32_t* g, uint8_t* dst, size_t base, size_t step) {
  const int no = NO ? NO : v.outCh;
  if constexpr (Lch) {
    const uint16_t lab[3] = {uint16_t(g[0]), uint16_t(g[1]), uint16_t(g[2])};
    uint16_t lch[3];
    pcs::Lab16ToLCh16(lab, lch);
    g[0] = lch[0], g[1] = lch[1], g[2] = lch[2];
  }
  for (int o = 0; o < no; ++o) {
    if constexpr (OB == 16) Store<16>(dst, base + o * step, v.out16[o][TriOutIndex(g[o])]);
    else Store<8>(dst, base + o * step, v.out8[o][TriOutIndex(g[o])]);
  }
}

template <int NI, int NO, int IB, int OB, bool Lch>
void TriInterleaved(const KromaEngineState& st, const uint8_t* src, uint8_t* dst, uint32_t width,
                    uint32_t lines, int) {
  const TriView v(st, IB == 8);
  const size_t pixels = size_t(width) * lines;
  for (size_t i = 0; i < pixels; ++i) {
    uint32_t p[NI], g[NO];
    for (int c = 0; c < NI; ++c) p[c] = TriIndex<IB>(src, i * NI + c);
    TriInterp<NI, NO>(v, p, g);
    TriOutput<NO, OB, Lch>(v, g, dst, i * NO, 1);
  }
}

// The same loop with AVX2 for three or four inputs and three or four outputs: the four output
// channels of one corner sit in four 64-bit lanes and every interpolation step is Lerp16 on
// all of them at once (the product (b - a) * f taken in 64 bits, the arithmetic shift made a
// logical one by a bias), so the samples are those of the plain loop.
__attribute__((target("avx2"))) inline __m256i Lerp16x4(__m256i a, __m256i b, __m256i f) {
  const __m256i biasedHalf = _mm256_set1_epi64x(32768 + (int64_t(1) << 47));
  const __m256i bias = _mm256_set1_epi64x(int64_t(1) << 31);
  const __m256i m = _mm256_mul_epi32(_mm256_sub_epi64(b, a), f);
  return _mm256_add_epi64(a, _mm256_sub_epi64(_mm256_srli_epi64(_mm256_add_epi64(m, biasedHalf), 16), bias));
}

template <int NI, int NO, int IB, int OB>
__attribute__((target("avx2"))) void TriInterleavedAvx2(const KromaEngineState& st, const uint8_t* src, uint8_t* dst,
                                                        uint32_t width, uint32_t lines, int) {
  static_assert((NI == 3 || NI == 4) && (NO == 3 || NO == 4));
  const TriView v(st, IB == 8);
  const size_t pixels = size_t(width) * lines;
  // Three outputs read three lanes only, so the last node is never read past.
  const __m128i mask = NO == 4 ? _mm_set1_epi32(-1) : _mm_setr_epi32(-1, -1, -1, 0);
  const __m256i pick = _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6);
  const __m128i zero = _mm_setzero_si128(), top = _mm_set1_epi32(65535);
  constexpr int kCorners = 1 << NI;
  for (size_t i = 0; i < pixels; ++i) {
    uint32_t base = 0;
    int64_t f[NI];
    for (int c = 0; c < NI; ++c) {
      const AxisEntry e = v.axis[c][TriIndex<IB>(src, i * NI + c)];
      base += e.offset;
      f[c] = e.weight;
    }
    const int32_t* g = v.grid + base;
    __m256i k[kCorners];
    for (int j = 0; j < kCorners; ++j) k[j] = _mm256_cvtepi32_epi64(_mm_maskload_epi32(g + v.corner[j], mask));
    int count = kCorners;
    for (int a = NI - 1; a >= 0; --a) {
      count >>= 1;
      const __m256i fa = _mm256_set1_epi64x(f[a]);
      for (int j = 0; j < count; ++j) k[j] = Lerp16x4(k[2 * j], k[2 * j + 1], fa);
    }
    // The results fit 32 bits: the low halves of the four lanes, clipped to 0..65535.
    const __m128i r = _mm_min_epi32(_mm_max_epi32(_mm256_castsi256_si128(_mm256_permutevar8x32_epi32(k[0], pick)), zero), top);
    alignas(16) uint32_t out[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(out), r);
    for (int o = 0; o < NO; ++o) {
      if constexpr (OB == 16) Store<16>(dst, i * NO + o, v.out16[o][TriOutIndex(out[o])]);
      else Store<8>(dst, i * NO + o, v.out8[o][TriOutIndex(out[o])]);
    }
  }
}

template <int IB, int OB, bool Lch>
void TriGeneral(const KromaEngineState& st, const uint8_t* src, uint8_t* dst, uint32_t width,
                uint32_t lines, int layout) {
  const TriView v(st, IB == 8);
  const Addressing a{layout, width, lines};
  const size_t step = a.Step();
  for (uint32_t y = 0; y < lines; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      uint32_t p[kMaxChannels], g[kMaxChannels];
      const size_t in = a.Base(y, x, v.inCh), out = a.Base(y, x, v.outCh);
      for (int c = 0; c < v.inCh; ++c)
        p[c] = TriIndex<IB>(src, in + c * step);
      TriInterp<0, 0>(v, p, g);
      TriOutput<0, OB, Lch>(v, g, dst, out, step);
    }
}

// ---- tetrahedral engine -----------------------------------------------------------------------

struct TetView {
  const AxisEntry* axis[kMaxChannels];
  const WeightEntry* weights;
  const uint32_t (*vertex)[3];
  const int16_t* grid;
  uint32_t farOffset;
  const uint8_t* lch;
  const uint8_t* out8[kMaxChannels];    // linear grid only
  const uint16_t* out16[kMaxChannels];  // linear grid only
  int inCh, outCh;
  // Wide samples index the 4096-entry axis tables by their top 12 bits.
  TetView(const KromaEngineState& st, bool wide)
      : weights(st.weights.data()), vertex(st.vertex), grid(st.tetGrid.data()), farOffset(st.farOffset),
        lch(st.lchOut ? LabToLChTable8().data() : nullptr), inCh(st.inCh), outCh(st.outCh) {
    for (int c = 0; c < inCh; ++c)
      axis[c] = wide ? st.axisWide.data() + size_t(c) * kInTable : st.axis8.data() + size_t(c) * 256;
    for (int c = 0; c < outCh; ++c) {
      out8[c] = st.tetLinear ? st.linOut8.data() + size_t(c) * kLinOutTable : nullptr;
      out16[c] = st.tetLinear ? st.linOut16.data() + size_t(c) * kLinOutTable : nullptr;
    }
  }
};

static_assert(kTetSteps3 == 256, "the three-input sum is divided by a shift of 8");
constexpr int kTetShift3 = 8;
constexpr int32_t kFoldTop = 255 * kFoldScale;
KROMA_INLINE uint32_t ClipFold(int32_t v) { return uint32_t(v < 0 ? 0 : v > kFoldTop ? kFoldTop : v); }

// The three-input simplex of one pixel: the base node, the two intermediate vertices (one step
// along the axis with the largest fraction, then one along the middle one), the far corner,
// and the weights of the four (256 - F1, F1 - F2, F2 - F3, F3 for sorted fractions F1 >= F2
// >= F3; they sum to 256). No branches: the order code picks the vertex row.
struct Simplex3 {
  const int16_t *g0, *g1, *g2, *gf;
  int32_t w0, w1, w2, w3;
};

KROMA_INLINE Simplex3 TetSimplex3(const TetView& v, const uint32_t* in) {
  const AxisEntry e0 = v.axis[0][in[0]], e1 = v.axis[1][in[1]], e2 = v.axis[2][in[2]];
  const int32_t x = int32_t(e0.weight), y = int32_t(e1.weight), z = int32_t(e2.weight);
  const unsigned code = unsigned(x >= y) | unsigned(y >= z) << 1 | unsigned(x >= z) << 2;
  const int32_t hi = std::max(x, std::max(y, z)), lo = std::min(x, std::min(y, z));
  const int32_t mid = x + y + z - hi - lo;
  const uint32_t* vx = v.vertex[code];
  Simplex3 s;
  s.g0 = v.grid + e0.offset + e1.offset + e2.offset;
  s.g1 = s.g0 + vx[0];
  s.g2 = s.g0 + vx[1];
  s.gf = s.g0 + v.farOffset;
  s.w0 = kTetSteps3 - hi;
  s.w1 = hi - mid;
  s.w2 = mid - lo;
  s.w3 = lo;
  return s;
}

// One pixel from its axis-table indices. Folded grid: results in folded units (0 .. 255 * 64).
// Linear grid (three inputs): indices into the output tables.
template <int NI, int NO, bool Linear>
KROMA_INLINE void TetInterp(const TetView& v, const uint32_t* in, uint32_t* out) {
  const int ni = NI ? NI : v.inCh;
  const int no = NO ? NO : v.outCh;
  if (NI == 1 || (NI == 0 && ni == 1)) {
    const AxisEntry e = v.axis[0][in[0]];
    const int16_t* g0 = v.grid + e.offset;
    const int16_t* g1 = g0 + v.farOffset;
    const int32_t f = int32_t(e.weight);
    for (int o = 0; o < no; ++o) out[o] = ClipFold(g0[o] + (((g1[o] - g0[o]) * f + 128) >> 8));
  } else if (NI == 3 || (NI == 0 && ni == 3)) {
    const Simplex3 s = TetSimplex3(v, in);
    for (int o = 0; o < no; ++o) {
      const int32_t sum = s.w0 * s.g0[o] + s.w1 * s.g1[o] + s.w2 * s.g2[o] + s.w3 * s.gf[o];
      if constexpr (Linear) out[o] = LinIndex((sum + 8) >> (kTetShift3 - 4));
      else out[o] = ClipFold((sum + kTetSteps3 / 2) >> kTetShift3);
    }
  } else {
    const AxisEntry e0 = v.axis[0][in[0]], e1 = v.axis[1][in[1]], e2 = v.axis[2][in[2]],
                    e3 = v.axis[3][in[3]];
    const WeightEntry& w = v.weights[e0.weight + e1.weight + e2.weight + e3.weight];
    const uint32_t* vx = v.vertex[w.order];
    const int16_t* g0 = v.grid + e0.offset + e1.offset + e2.offset + e3.offset;
    const int16_t* g1 = g0 + vx[0];
    const int16_t* g2 = g0 + vx[1];
    const int16_t* g3 = g0 + vx[2];
    const int16_t* gf = g0 + v.farOffset;
    const int32_t f1 = w.step[0], f2 = w.step[1], f3 = w.step[2], f4 = w.step[3];
    for (int o = 0; o < no; ++o) {
      const int32_t s = kTetSteps4 * g0[o] + f1 * (g1[o] - g0[o]) + f2 * (g2[o] - g1[o]) +
                        f3 * (g3[o] - g2[o]) + f4 * (gf[o] - g3[o]);
      out[o] = ClipFold(s < 0 ? 0 : (s + 2) / kTetSteps4);
    }
  }
}

template <int NO, int OB, bool Lch, bool Linear>
KROMA_INLINE void TetOutput(const TetView& v, uint32_t* r, uint8_t* dst, size_t base, size_t step) {
  const int no = NO ? NO : v.outCh;
  if constexpr (Linear) {
    for (int o = 0; o < no; ++o) {
      if constexpr (OB == 16) Store<16>(dst, base + o * step, v.out16[o][r[o]]);
      else Store<8>(dst, base + o * step, v.out8[o][r[o]]);
    }
    return;
  }
  if constexpr (Lch) {
    const uint8_t* e = v.lch + 2 * ((((r[1] + 32) >> 6) << 8) | ((r[2] + 32) >> 6));
    r[1] = uint32_t(e[0]) * kFoldScale;
    r[2] = uint32_t(e[1]) * kFoldScale;
  }
  for (int o = 0; o < no; ++o) {
    // 255 * 64 becomes 65535 at 16 bits and 255 at 8 bits.
    if constexpr (OB == 16) Store<16>(dst, base + o * step, (r[o] * 257 + 32) >> 6);
    else Store<8>(dst, base + o * step, (r[o] + 32) >> 6);
  }
}

// The axis-table index of a sample: the byte itself, or a word's index into the 4096-entry
// tables, scaled so that full scale reads the last entry at every depth.
template <int IB>
KROMA_INLINE uint32_t TetIndex(const uint8_t* p, size_t index) {
  if constexpr (IB == 8) return p[index];
  else return InIndex<IB>(Load<IB>(p, index));
}

template <int NI, int NO, int IB, int OB, bool Lch, bool Linear>
void TetInterleaved(const KromaEngineState& st, const uint8_t* src, uint8_t* dst, uint32_t width,
                    uint32_t lines, int) {
  const TetView v(st, IB != 8);
  const size_t pixels = size_t(width) * lines;
  for (size_t i = 0; i < pixels; ++i) {
    uint32_t in[NI], r[NO];
    for (int c = 0; c < NI; ++c) in[c] = TetIndex<IB>(src, i * NI + c);
    TetInterp<NI, NO, Linear>(v, in, r);
    TetOutput<NO, OB, Lch, Linear>(v, r, dst, i * NO, 1);
  }
}

template <int IB, int OB, bool Lch, bool Linear>
void TetGeneral(const KromaEngineState& st, const uint8_t* src, uint8_t* dst, uint32_t width,
                uint32_t lines, int layout) {
  const TetView v(st, IB != 8);
  const Addressing a{layout, width, lines};
  const size_t step = a.Step();
  for (uint32_t y = 0; y < lines; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      uint32_t in[kMaxChannels], r[kMaxChannels];
      const size_t ib = a.Base(y, x, v.inCh), ob = a.Base(y, x, v.outCh);
      for (int c = 0; c < v.inCh; ++c) in[c] = TetIndex<IB>(src, ib + c * step);
      TetInterp<0, 0, Linear>(v, in, r);
      TetOutput<0, OB, Lch, Linear>(v, r, dst, ob, step);
    }
}

// ---- affine path (both engines, three inputs to a matrix/TRC destination) ---------------------

// One pixel is the sum of three per-axis entries, clipped and looked up in the linear-light
// output tables (KromaEngineState::affine).
struct AffineView {
  const int32_t* axis[3];
  const uint8_t* out8[3];
  const uint16_t* out16[3];
  AffineView(const KromaEngineState& st, bool wide) {
    const size_t n = wide ? kInTable : 256;
    const int32_t* t = wide ? st.affineWide.data() : st.affine8.data();
    for (int c = 0; c < 3; ++c) {
      axis[c] = t + size_t(c) * n * 4;
      out8[c] = st.linOut8.data() + size_t(c) * kLinOutTable;
      out16[c] = st.linOut16.data() + size_t(c) * kLinOutTable;
    }
  }
};

template <int IB>
KROMA_INLINE uint32_t AffineIndex(const uint8_t* src, size_t index) {
  if constexpr (IB == 8) return src[index];
  else return InIndex<IB>(Load<IB>(src, index));
}

template <int IB, int OB>
void AffineInterleaved(const KromaEngineState& st, const uint8_t* src, uint8_t* dst, uint32_t width,
                       uint32_t lines, int) {
  const AffineView v(st, IB != 8);
  const size_t pixels = size_t(width) * lines;
  for (size_t i = 0; i < pixels; ++i) {
    const int32_t* a = v.axis[0] + 4 * AffineIndex<IB>(src, 3 * i);
    const int32_t* b = v.axis[1] + 4 * AffineIndex<IB>(src, 3 * i + 1);
    const int32_t* c = v.axis[2] + 4 * AffineIndex<IB>(src, 3 * i + 2);
    for (int o = 0; o < 3; ++o) {
      const uint32_t idx = LinIndex(a[o] + b[o] + c[o]);
      if constexpr (OB == 16) Store<16>(dst, 3 * i + o, v.out16[o][idx]);
      else Store<8>(dst, 3 * i + o, v.out8[o][idx]);
    }
  }
}

// The same with SSE4.1: the three entries are added, clipped and turned into table indices
// as one vector; the arithmetic is LinIndex's, so both loops give the same samples.
template <int IB, int OB>
__attribute__((target("sse4.1"))) void AffineInterleavedSse41(const KromaEngineState& st, const uint8_t* src,
                                                              uint8_t* dst, uint32_t width, uint32_t lines, int) {
  const AffineView v(st, IB != 8);
  const size_t pixels = size_t(width) * lines;
  const __m128i zero = _mm_setzero_si128(), top = _mm_set1_epi32(kLinTop);
  const __m128i fine = _mm_set1_epi32(kLinFine), bias = _mm_set1_epi32(kLinFine >> kLinCoarseShift);
  for (size_t i = 0; i < pixels; ++i) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v.axis[0] + 4 * AffineIndex<IB>(src, 3 * i)));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v.axis[1] + 4 * AffineIndex<IB>(src, 3 * i + 1)));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v.axis[2] + 4 * AffineIndex<IB>(src, 3 * i + 2)));
    __m128i s = _mm_add_epi32(_mm_add_epi32(a, b), c);
    s = _mm_min_epi32(_mm_max_epi32(s, zero), top);
    const __m128i idx = _mm_sub_epi32(
        _mm_add_epi32(_mm_min_epi32(s, fine), _mm_srli_epi32(_mm_max_epi32(s, fine), kLinCoarseShift)), bias);
    const uint32_t i0 = uint32_t(_mm_cvtsi128_si32(idx)), i1 = uint32_t(_mm_extract_epi32(idx, 1)),
                   i2 = uint32_t(_mm_extract_epi32(idx, 2));
    if constexpr (OB == 16) {
      Store<16>(dst, 3 * i, v.out16[0][i0]);
      Store<16>(dst, 3 * i + 1, v.out16[1][i1]);
      Store<16>(dst, 3 * i + 2, v.out16[2][i2]);
    } else {
      dst[3 * i] = v.out8[0][i0];
      dst[3 * i + 1] = v.out8[1][i1];
      dst[3 * i + 2] = v.out8[2][i2];
    }
  }
}

template <int IB>
Kernel PickAffineOut(int ob, bool vector) {
  if (vector) return ob == 16 ? &AffineInterleavedSse41<IB, 16> : &AffineInterleavedSse41<IB, 8>;
  return ob == 16 ? &AffineInterleaved<IB, 16> : &AffineInterleaved<IB, 8>;
}

Kernel PickAffine(int ib, int ob) {
  const bool vector = CpuCan(kCpuSse41);
  switch (ib) {
    case 8: return PickAffineOut<8>(ob, vector);
    case 10: return PickAffineOut<10>(ob, vector);
    case 12: return PickAffineOut<12>(ob, vector);
    default: return PickAffineOut<16>(ob, vector);
  }
}

// ---- selection --------------------------------------------------------------------------------

// What follows the interpolation: nothing, the LCh conversion, or (tetrahedral engine with a
// linear grid) the output tables.
enum Finish : int { kPlain = 0, kLch = 1, kLinear = 2 };

template <bool Tri, int NI, int NO, int IB, int OB>
Kernel PickFinish(int finish) {
  if constexpr (Tri) {
    if constexpr (NO == 3)
      if (finish == kLch) return &TriInterleaved<NI, NO, IB, OB, true>;
    if constexpr ((NI == 3 || NI == 4) && (NO == 3 || NO == 4))
      if (CpuCan(kCpuAvx2)) return &TriInterleavedAvx2<NI, NO, IB, OB>;
    return &TriInterleaved<NI, NO, IB, OB, false>;
  } else {
    constexpr int kIB = IB;
    if constexpr (NO == 3) {
      if (finish == kLch) return &TetInterleaved<NI, NO, kIB, OB, true, false>;
      if constexpr (NI == 3)
        if (finish == kLinear) return &TetInterleaved<NI, NO, kIB, OB, false, true>;
    }
    return &TetInterleaved<NI, NO, kIB, OB, false, false>;
  }
}

template <bool Tri, int NI, int NO, int IB>
Kernel PickOut(int ob, int finish) {
  return ob == 16 ? PickFinish<Tri, NI, NO, IB, 16>(finish) : PickFinish<Tri, NI, NO, IB, 8>(finish);
}

template <bool Tri, int NI, int NO>
Kernel PickIn(int ib, int ob, int finish) {
  switch (ib) {
    case 8: return PickOut<Tri, NI, NO, 8>(ob, finish);
    case 10: return PickOut<Tri, NI, NO, 10>(ob, finish);
    case 12: return PickOut<Tri, NI, NO, 12>(ob, finish);
    default: return PickOut<Tri, NI, NO, 16>(ob, finish);
  }
}

template <bool Tri, int NI>
Kernel PickNo(int no, int ib, int ob, int finish) {
  switch (no) {
    case 1: return PickIn<Tri, NI, 1>(ib, ob, finish);
    case 3: return PickIn<Tri, NI, 3>(ib, ob, finish);
    case 4: return PickIn<Tri, NI, 4>(ib, ob, finish);
    default: return nullptr;
  }
}

template <bool Tri>
Kernel PickInterleaved(int ni, int no, int ib, int ob, int finish) {
  switch (ni) {
    case 1: return PickNo<Tri, 1>(no, ib, ob, finish);
    case 3: return PickNo<Tri, 3>(no, ib, ob, finish);
    case 4: return PickNo<Tri, 4>(no, ib, ob, finish);
    default: return nullptr;
  }
}

template <int IB, int OB>
Kernel PickGeneral(bool tri, int finish) {
  constexpr int kTetIB = IB;
  if (tri) return finish == kLch ? &TriGeneral<IB, OB, true> : &TriGeneral<IB, OB, false>;
  if (finish == kLinear) return &TetGeneral<kTetIB, OB, false, true>;
  return finish == kLch ? &TetGeneral<kTetIB, OB, true, false> : &TetGeneral<kTetIB, OB, false, false>;
}

template <int IB>
Kernel PickGeneralOut(int ob, bool tri, int finish) {
  return ob == 16 ? PickGeneral<IB, 16>(tri, finish) : PickGeneral<IB, 8>(tri, finish);
}

}  // namespace

Kernel SelectKernel(const KromaEngineState& st, int inBits, int outBits, int layout) {
  const bool tri = st.engine == kTrilinear;
  const int finish = st.lchOut ? kLch : (!tri && st.tetLinear) ? kLinear : kPlain;
  if (layout == 0 && st.affine) return PickAffine(inBits, outBits);
  if (layout == 0) {
    const Kernel k = tri ? PickInterleaved<true>(st.inCh, st.outCh, inBits, outBits, finish)
                         : PickInterleaved<false>(st.inCh, st.outCh, inBits, outBits, finish);
    if (k != nullptr) return k;
  }
  // Planar layouts and unusual channel counts share the routine with run-time counts, one per
  // input depth because the table index differs.
  switch (inBits) {
    case 8: return PickGeneralOut<8>(outBits, tri, finish);
    case 10: return PickGeneralOut<10>(outBits, tri, finish);
    case 12: return PickGeneralOut<12>(outBits, tri, finish);
    default: return PickGeneralOut<16>(outBits, tri, finish);
  }
}

}  // namespace kroma
