// SSE2 and AVX2 versions of the codec's kernels, compiled with per-function target
// attributes so that the rest of the library stays baseline x86-64. Each computes exactly
// what its portable version computes: the same integer operations on the same values, only
// several at a time.
#include "formats/jpeg/jpeg_dct.h"
#include "formats/jpeg/jpeg_huffman_coder.h"
#include "formats/jpeg/jpeg_simd.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include <cstring>

// Wide vector values pass only between always-inlined pieces (the shared butterfly and its
// arithmetic) inside functions of the AVX2 target, so the calling convention that -Wpsabi
// notes for them without AVX never applies.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace tessera::jpeg {

namespace {

#define TESSERA_AVX2 __attribute__((target("avx2")))

// ---------------------------------------------------------------------------------------
// Encoder: the scaled AAN transform and the symmetric-rounding quantiser in 16-bit lanes,
// eight lines at a time, in SSE2 operations only; the AVX2 kernel is the same code with VEX
// encodings. For samples of -128..128 every value the transform makes stays well inside 16
// bits (below 2048 after the row pass, below 24000 after the column pass), so 16-bit sums
// are the portable transform's 32-bit ones, and each product int16((v * c) >> 8) is the high
// half of v times c << 8, or v plus that of c - 256 where c << 8 passes 15 bits.

#define TESSERA_ALWAYS_INLINE inline __attribute__((always_inline))

TESSERA_ALWAYS_INLINE __m128i AanMul16(__m128i v, int c) {
  if (c < 128) return _mm_mulhi_epi16(v, _mm_set1_epi16(static_cast<int16_t>(c * 256)));
  return _mm_add_epi16(v, _mm_mulhi_epi16(v, _mm_set1_epi16(static_cast<int16_t>((c - 256) * 256))));
}

TESSERA_ALWAYS_INLINE void Transpose8x16(__m128i* v) {
  const __m128i a0 = _mm_unpacklo_epi16(v[0], v[1]), a1 = _mm_unpackhi_epi16(v[0], v[1]);
  const __m128i a2 = _mm_unpacklo_epi16(v[2], v[3]), a3 = _mm_unpackhi_epi16(v[2], v[3]);
  const __m128i a4 = _mm_unpacklo_epi16(v[4], v[5]), a5 = _mm_unpackhi_epi16(v[4], v[5]);
  const __m128i a6 = _mm_unpacklo_epi16(v[6], v[7]), a7 = _mm_unpackhi_epi16(v[6], v[7]);
  const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
  const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
  const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
  const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
  v[0] = _mm_unpacklo_epi64(b0, b4);
  v[1] = _mm_unpackhi_epi64(b0, b4);
  v[2] = _mm_unpacklo_epi64(b1, b5);
  v[3] = _mm_unpackhi_epi64(b1, b5);
  v[4] = _mm_unpacklo_epi64(b2, b6);
  v[5] = _mm_unpackhi_epi64(b2, b6);
  v[6] = _mm_unpacklo_epi64(b3, b7);
  v[7] = _mm_unpackhi_epi64(b3, b7);
}

TESSERA_ALWAYS_INLINE void Fdct16(__m128i* d) {
  const __m128i tmp0 = _mm_add_epi16(d[0], d[7]), tmp7 = _mm_sub_epi16(d[0], d[7]);
  const __m128i tmp1 = _mm_add_epi16(d[1], d[6]), tmp6 = _mm_sub_epi16(d[1], d[6]);
  const __m128i tmp2 = _mm_add_epi16(d[2], d[5]), tmp5 = _mm_sub_epi16(d[2], d[5]);
  const __m128i tmp3 = _mm_add_epi16(d[3], d[4]), tmp4 = _mm_sub_epi16(d[3], d[4]);
  __m128i tmp10 = _mm_add_epi16(tmp0, tmp3), tmp13 = _mm_sub_epi16(tmp0, tmp3);
  __m128i tmp11 = _mm_add_epi16(tmp1, tmp2), tmp12 = _mm_sub_epi16(tmp1, tmp2);
  d[0] = _mm_add_epi16(tmp10, tmp11);
  d[4] = _mm_sub_epi16(tmp10, tmp11);
  const __m128i z1 = AanMul16(_mm_add_epi16(tmp12, tmp13), 181);
  d[2] = _mm_add_epi16(tmp13, z1);
  d[6] = _mm_sub_epi16(tmp13, z1);
  tmp10 = _mm_add_epi16(tmp4, tmp5);
  tmp11 = _mm_add_epi16(tmp5, tmp6);
  tmp12 = _mm_add_epi16(tmp6, tmp7);
  const __m128i z5 = AanMul16(_mm_sub_epi16(tmp10, tmp12), 98);
  const __m128i z2 = _mm_add_epi16(AanMul16(tmp10, 139), z5);
  const __m128i z4 = _mm_add_epi16(AanMul16(tmp12, 334), z5);
  const __m128i z3 = AanMul16(tmp11, 181);
  const __m128i z11 = _mm_add_epi16(tmp7, z3), z13 = _mm_sub_epi16(tmp7, z3);
  d[5] = _mm_add_epi16(z13, z2);
  d[3] = _mm_sub_epi16(z13, z2);
  d[1] = _mm_add_epi16(z11, z4);
  d[7] = _mm_sub_epi16(z11, z4);
}

TESSERA_ALWAYS_INLINE void ForwardFast16(const int32_t* samples, ptrdiff_t stride, const uint16_t* reciprocals,
                                         int16_t* out) {
  __m128i d[8];
  for (int r = 0; r < 8; ++r) {
    const int32_t* row = samples + r * stride;
    d[r] = _mm_packs_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row)),
                           _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 4)));
  }
  // Rows first (transposed: register i holds element i of every row), then columns.
  Transpose8x16(d);
  Fdct16(d);
  Transpose8x16(d);
  Fdct16(d);
  // sign(c) * ((|c| * r + 32768) >> 16): the high half of |c| * r, plus one where the low
  // half reaches 32768.
  for (int u = 0; u < 8; ++u) {
    const __m128i c = d[u];
    const __m128i sign = _mm_srai_epi16(c, 15);
    const __m128i a = _mm_sub_epi16(_mm_xor_si128(c, sign), sign);
    const __m128i rec = _mm_loadu_si128(reinterpret_cast<const __m128i*>(reciprocals + 8 * u));
    const __m128i m = _mm_add_epi16(_mm_mulhi_epu16(a, rec), _mm_srli_epi16(_mm_mullo_epi16(a, rec), 15));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * u), _mm_sub_epi16(_mm_xor_si128(m, sign), sign));
  }
}

// ---------------------------------------------------------------------------------------
// Shuffle masks that gather R, G and B out of 16 interleaved pixels (48 bytes in three
// 16-byte pieces) and put them back. kGather[c][piece] takes channel c's bytes out of one
// piece; kScatter[piece][c] places channel c's bytes into one piece. -128 clears a byte.

struct ShuffleMasks {
  alignas(16) int8_t gather[3][3][16];
  alignas(16) int8_t scatter[3][3][16];
  constexpr ShuffleMasks() : gather{}, scatter{} {
    for (int c = 0; c < 3; ++c)
      for (int piece = 0; piece < 3; ++piece)
        for (int j = 0; j < 16; ++j) {
          const int at = 3 * j + c;  // byte of pixel j's channel c
          gather[c][piece][j] = static_cast<int8_t>(at / 16 == piece ? at % 16 : -128);
          const int g = 16 * piece + j;  // output byte g holds channel g % 3 of pixel g / 3
          scatter[piece][c][j] = static_cast<int8_t>(g % 3 == c ? g / 3 : -128);
        }
  }
};
constexpr ShuffleMasks kMasks;

TESSERA_AVX2 inline __m128i Mask(const int8_t* m) { return _mm_load_si128(reinterpret_cast<const __m128i*>(m)); }

// R, G, B of 16 pixels.
TESSERA_AVX2 inline void Deinterleave(const uint8_t* rgb, __m128i& r, __m128i& g, __m128i& b) {
  const __m128i p0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rgb));
  const __m128i p1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rgb + 16));
  const __m128i p2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rgb + 32));
  __m128i* out[3] = {&r, &g, &b};
  for (int c = 0; c < 3; ++c)
    *out[c] = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(p0, Mask(kMasks.gather[c][0])),
                                        _mm_shuffle_epi8(p1, Mask(kMasks.gather[c][1]))),
                           _mm_shuffle_epi8(p2, Mask(kMasks.gather[c][2])));
}

TESSERA_AVX2 inline void Interleave(__m128i r, __m128i g, __m128i b, uint8_t* rgb) {
  for (int piece = 0; piece < 3; ++piece) {
    const __m128i v = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(r, Mask(kMasks.scatter[piece][0])),
                                                _mm_shuffle_epi8(g, Mask(kMasks.scatter[piece][1]))),
                                   _mm_shuffle_epi8(b, Mask(kMasks.scatter[piece][2])));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(rgb + 16 * piece), v);
  }
}

// ---------------------------------------------------------------------------------------
// Decoder colour conversion. With Y in 0..255 and Cb, Cr in -128..127 every value lies in
// -512..511, where the range-limit table is a clamp to 0..255: a saturating pack gives the
// same bytes.

// (m0 * a + m1 * b) for 8 pairs, 32-bit, with the pairs given as two vectors of 16-bit values.
inline __m128i MaddPairs(__m128i a, __m128i b, __m128i m, bool high) {
  return _mm_madd_epi16(high ? _mm_unpackhi_epi16(a, b) : _mm_unpacklo_epi16(a, b), m);
}

// Converts 16 pixels; y, cb, cr as 16 unsigned bytes each (chroma already at full
// resolution).
inline void Ycc16(__m128i y8, __m128i cb8, __m128i cr8, __m128i& r8, __m128i& g8, __m128i& b8) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i bias = _mm_set1_epi16(128);
  const __m128i one = _mm_set1_epi16(1);
  // Multiplier pairs: (359, 128) on (Cr, 1); (-88, -183) on (Cb, Cr); (454, 128) on (Cb, 1).
  const __m128i mR = _mm_set1_epi32(128 << 16 | 359);
  const __m128i mG = _mm_set1_epi32(static_cast<int32_t>(static_cast<uint32_t>(-183) << 16 | (-88 & 0xFFFF)));
  const __m128i mB = _mm_set1_epi32(128 << 16 | 454);
  const __m128i round = _mm_set1_epi32(128);
  __m128i res[3][2];  // per channel, pixels 0-7 and 8-15 as 16-bit values
  for (int half = 0; half < 2; ++half) {
    const bool high = half == 1;
    const __m128i yv = high ? _mm_unpackhi_epi8(y8, zero) : _mm_unpacklo_epi8(y8, zero);
    const __m128i b = _mm_sub_epi16(high ? _mm_unpackhi_epi8(cb8, zero) : _mm_unpacklo_epi8(cb8, zero), bias);
    const __m128i r = _mm_sub_epi16(high ? _mm_unpackhi_epi8(cr8, zero) : _mm_unpacklo_epi8(cr8, zero), bias);
    const __m128i dr = _mm_packs_epi32(_mm_srai_epi32(MaddPairs(r, one, mR, false), 8),
                                       _mm_srai_epi32(MaddPairs(r, one, mR, true), 8));
    const __m128i dg = _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(MaddPairs(b, r, mG, false), round), 8),
                                       _mm_srai_epi32(_mm_add_epi32(MaddPairs(b, r, mG, true), round), 8));
    const __m128i db = _mm_packs_epi32(_mm_srai_epi32(MaddPairs(b, one, mB, false), 8),
                                       _mm_srai_epi32(MaddPairs(b, one, mB, true), 8));
    res[0][half] = _mm_add_epi16(yv, dr);
    res[1][half] = _mm_add_epi16(yv, dg);
    res[2][half] = _mm_add_epi16(yv, db);
  }
  r8 = _mm_packus_epi16(res[0][0], res[0][1]);
  g8 = _mm_packus_epi16(res[1][0], res[1][1]);
  b8 = _mm_packus_epi16(res[2][0], res[2][1]);
}

inline void LoadYcc16(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int x, int chromaShift, __m128i& y8,
                      __m128i& cb8, __m128i& cr8) {
  y8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x));
  if (chromaShift) {
    const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb + (x >> 1)));
    const __m128i r = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr + (x >> 1)));
    cb8 = _mm_unpacklo_epi8(b, b);  // each chroma sample serves two pixels
    cr8 = _mm_unpacklo_epi8(r, r);
  } else {
    cb8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cb + x));
    cr8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cr + x));
  }
}

void YccRowSse2(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int width, int chromaShift, uint8_t* rgb) {
  int x = 0;
  const __m128i zero = _mm_setzero_si128();
  // Pixels go out two at a time as 8-byte stores of which 6 bytes count; the last store of
  // a group reaches 2 bytes into the next pixel, so a further pixel must follow the group.
  for (; x + 16 < width; x += 16) {
    __m128i y8, cb8, cr8, r8, g8, b8;
    LoadYcc16(y, cb, cr, x, chromaShift, y8, cb8, cr8);
    Ycc16(y8, cb8, cr8, r8, g8, b8);
    const __m128i rgLo = _mm_unpacklo_epi8(r8, g8), rgHi = _mm_unpackhi_epi8(r8, g8);
    const __m128i bLo = _mm_unpacklo_epi8(b8, zero), bHi = _mm_unpackhi_epi8(b8, zero);
    const __m128i quads[4] = {_mm_unpacklo_epi16(rgLo, bLo), _mm_unpackhi_epi16(rgLo, bLo),
                              _mm_unpacklo_epi16(rgHi, bHi), _mm_unpackhi_epi16(rgHi, bHi)};  // R G B 0
    uint8_t* o = rgb + 3 * x;
    for (int j = 0; j < 4; ++j) {
      const uint64_t lo = static_cast<uint64_t>(_mm_cvtsi128_si64(quads[j]));
      const uint64_t hi = static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(quads[j], quads[j])));
      const uint64_t a = (lo & 0xFFFFFF) | (lo >> 32 & 0xFFFFFF) << 24;
      const uint64_t b = (hi & 0xFFFFFF) | (hi >> 32 & 0xFFFFFF) << 24;
      std::memcpy(o + 12 * j, &a, 8);
      std::memcpy(o + 12 * j + 6, &b, 8);
    }
  }
  if (x < width)
    YccRowScalar(y + x, cb + (x >> chromaShift), cr + (x >> chromaShift), width - x, chromaShift, rgb + 3 * x);
}

TESSERA_AVX2 void YccRowAvx2(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int width, int chromaShift,
                             uint8_t* rgb) {
  int x = 0;
  for (; x + 16 <= width; x += 16) {
    __m128i y8, cb8, cr8, r8, g8, b8;
    LoadYcc16(y, cb, cr, x, chromaShift, y8, cb8, cr8);
    Ycc16(y8, cb8, cr8, r8, g8, b8);
    Interleave(r8, g8, b8, rgb + 3 * x);
  }
  if (x < width)
    YccRowScalar(y + x, cb + (x >> chromaShift), cr + (x >> chromaShift), width - x, chromaShift, rgb + 3 * x);
}

// ---------------------------------------------------------------------------------------
// 8 x 8 blocks of 32-bit values in eight AVX2 registers.

TESSERA_AVX2 inline void Transpose8(__m256i* v) {
  const __m256i t0 = _mm256_unpacklo_epi32(v[0], v[1]), t1 = _mm256_unpackhi_epi32(v[0], v[1]);
  const __m256i t2 = _mm256_unpacklo_epi32(v[2], v[3]), t3 = _mm256_unpackhi_epi32(v[2], v[3]);
  const __m256i t4 = _mm256_unpacklo_epi32(v[4], v[5]), t5 = _mm256_unpackhi_epi32(v[4], v[5]);
  const __m256i t6 = _mm256_unpacklo_epi32(v[6], v[7]), t7 = _mm256_unpackhi_epi32(v[6], v[7]);
  const __m256i u0 = _mm256_unpacklo_epi64(t0, t2), u1 = _mm256_unpackhi_epi64(t0, t2);
  const __m256i u2 = _mm256_unpacklo_epi64(t1, t3), u3 = _mm256_unpackhi_epi64(t1, t3);
  const __m256i u4 = _mm256_unpacklo_epi64(t4, t6), u5 = _mm256_unpackhi_epi64(t4, t6);
  const __m256i u6 = _mm256_unpacklo_epi64(t5, t7), u7 = _mm256_unpackhi_epi64(t5, t7);
  v[0] = _mm256_permute2x128_si256(u0, u4, 0x20);
  v[4] = _mm256_permute2x128_si256(u0, u4, 0x31);
  v[1] = _mm256_permute2x128_si256(u1, u5, 0x20);
  v[5] = _mm256_permute2x128_si256(u1, u5, 0x31);
  v[2] = _mm256_permute2x128_si256(u2, u6, 0x20);
  v[6] = _mm256_permute2x128_si256(u2, u6, 0x31);
  v[3] = _mm256_permute2x128_si256(u3, u7, 0x20);
  v[7] = _mm256_permute2x128_si256(u3, u7, 0x31);
}

TESSERA_AVX2 inline __m256i Add(__m256i a, __m256i b) { return _mm256_add_epi32(a, b); }

// ---------------------------------------------------------------------------------------
// Decoder: the accurate inverse transform, eight lines at a time.

using dct::kConstBits;
using dct::kPass1Bits;

// Eight and four 32-bit lanes as GCC vector types, so that the shared butterfly's + and -
// work on them; they alias the intrinsics' types.
typedef int32_t Lanes8 __attribute__((vector_size(32), __may_alias__));
typedef int32_t Lanes4 __attribute__((vector_size(16), __may_alias__));

// Eight lanes. Every factor of Mul stays within 16 bits (inputs below 2^14, sums of two), so
// a multiply-add of (x, 0) pairs with (c, 0) gives the exact product at a fraction of a 32-bit
// multiply's cost; MulSum's sum of four takes two of them.
struct Avx2Arithmetic {
  TESSERA_AVX2 static Lanes8 Mul(Lanes8 x, int32_t c) {
    return reinterpret_cast<Lanes8>(_mm256_madd_epi16(reinterpret_cast<__m256i>(x), _mm256_set1_epi32(c & 0xFFFF)));
  }
  TESSERA_AVX2 static Lanes8 MulSum(Lanes8 a, Lanes8 b, int32_t c) {
    return Mul(a, c) + Mul(b, c);
  }
  TESSERA_AVX2 static Lanes8 Scale(Lanes8 x) { return x << kConstBits; }
};

// The shared butterfly compiled for AVX2, so that its eight-lane values pass only between
// functions of that target.
namespace avx2 {
#define TESSERA_IDCT8_TARGET TESSERA_AVX2
#include "formats/jpeg/jpeg_idct8.inc"
#undef TESSERA_IDCT8_TARGET
}  // namespace avx2

// Eight lines of the block at once (register i holds element i of each).
TESSERA_AVX2 inline void Idct8Avx2(const __m256i* in, __m256i* out) {
  avx2::Idct8<Lanes8, Avx2Arithmetic>(reinterpret_cast<const Lanes8*>(in), reinterpret_cast<Lanes8*>(out));
}

TESSERA_AVX2 void InverseAvx2(const int16_t* coef, const uint16_t* quant, uint8_t* out, ptrdiff_t stride) {
  // Columns: register r holds row r of the block, so one transform over the eight
  // registers does all eight columns.
  __m256i v[8], o[8];
  const __m256i lo = _mm256_set1_epi32(-16384), hi = _mm256_set1_epi32(16383);
  for (int r = 0; r < 8; ++r) {
    const __m256i c = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(coef + 8 * r)));
    const __m256i q = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(quant + 8 * r)));
    v[r] = _mm256_min_epi32(_mm256_max_epi32(_mm256_mullo_epi32(c, q), lo), hi);
  }
  Idct8Avx2(v, o);
  constexpr int shift1 = kConstBits - kPass1Bits;
  const __m256i round1 = _mm256_set1_epi32(1 << (shift1 - 1));
  __m256i largest = _mm256_setzero_si256();
  for (int r = 0; r < 8; ++r) {
    v[r] = _mm256_srai_epi32(Add(o[r], round1), shift1);
    largest = _mm256_or_si256(largest, _mm256_abs_epi32(v[r]));
  }
  // Values of 2^14 or more (corrupt data only) need the portable version's 64-bit rows.
  if (!_mm256_testz_si256(largest, _mm256_set1_epi32(~16383))) {
    InverseScalar(coef, quant, out, stride);
    return;
  }
  // Rows: after the transpose register i holds element i of every row.
  Transpose8(v);
  Idct8Avx2(v, o);
  constexpr int shift2 = kConstBits + kPass1Bits + 3;
  const __m256i round2 = _mm256_set1_epi32(1 << (shift2 - 1)), centre = _mm256_set1_epi32(128);
  const __m256i mask = _mm256_set1_epi32(1023), limit = _mm256_set1_epi32(512), top = _mm256_set1_epi32(255);
  for (int i = 0; i < 8; ++i) {
    // The range-limit table: index & 1023; 0..255 as is, 256..511 give 255, above 0.
    const __m256i a = _mm256_and_si256(Add(_mm256_srai_epi32(Add(o[i], round2), shift2), centre), mask);
    o[i] = _mm256_and_si256(_mm256_min_epi32(a, top), _mm256_cmpgt_epi32(limit, a));
  }
  Transpose8(o);
  const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  for (int r = 0; r < 8; r += 4) {
    const __m256i p = _mm256_packus_epi16(_mm256_packus_epi32(o[r], o[r + 1]), _mm256_packus_epi32(o[r + 2], o[r + 3]));
    const __m256i rows = _mm256_permutevar8x32_epi32(p, order);  // rows r..r+3, 8 bytes each
    const __m128i a = _mm256_castsi256_si128(rows), b = _mm256_extracti128_si256(rows, 1);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + r * stride), a);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + (r + 1) * stride), _mm_unpackhi_epi64(a, a));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + (r + 2) * stride), b);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + (r + 3) * stride), _mm_unpackhi_epi64(b, b));
  }
}

// ---------------------------------------------------------------------------------------
// Encoder: the scaled AAN transform and the quantiser (ForwardFast16 below) with VEX
// encodings.
TESSERA_AVX2 void ForwardFastQuantizeAvx2(const int32_t* samples, ptrdiff_t stride, const uint16_t* reciprocals,
                                          int16_t* out) {
  ForwardFast16(samples, stride, reciprocals, out);
}

// ---------------------------------------------------------------------------------------
// Encoder colour conversion, 16 pixels at a time.

// Y = ((77 R + 150 G + 29 B + 128) >> 8) - 128. The sum stays below 65536, so 16-bit
// unsigned arithmetic holds it.
TESSERA_AVX2 void LumaRowAvx2(const uint8_t* rgb, int width, int32_t* y) {
  int x = 0;
  const __m256i kr = _mm256_set1_epi16(77), kg = _mm256_set1_epi16(150), kb = _mm256_set1_epi16(29);
  const __m256i round = _mm256_set1_epi16(128);
  for (; x + 16 <= width; x += 16) {
    __m128i r8, g8, b8;
    Deinterleave(rgb + 3 * x, r8, g8, b8);
    const __m256i r = _mm256_cvtepu8_epi16(r8), g = _mm256_cvtepu8_epi16(g8), b = _mm256_cvtepu8_epi16(b8);
    const __m256i sum = _mm256_add_epi16(_mm256_add_epi16(_mm256_mullo_epi16(r, kr), _mm256_mullo_epi16(g, kg)),
                                         _mm256_add_epi16(_mm256_mullo_epi16(b, kb), round));
    const __m256i v = _mm256_sub_epi16(_mm256_srli_epi16(sum, 8), round);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(y + x), _mm256_cvtepi16_epi32(_mm256_castsi256_si128(v)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(y + x + 8), _mm256_cvtepi16_epi32(_mm256_extracti128_si256(v, 1)));
  }
  if (x < width) LumaRowScalar(rgb + 3 * x, width - x, y + x);
}

// Two 16-bit multipliers in each 32-bit lane, for multiply-adds of (lo, hi) pairs.
constexpr int32_t Pair(int lo, int hi) { return static_cast<int32_t>(static_cast<uint32_t>(hi) << 16 | (lo & 0xFFFF)); }

// Cb = (128 B - 43 R - 85 G + 128) >> 8, Cr = (128 R - 107 G - 21 B + 128) >> 8 in 32-bit
// multiply-adds of 16-bit pairs.
TESSERA_AVX2 void ChromaRowAvx2(const uint8_t* rgb, int count, int step, int32_t* cb, int32_t* cr) {
  int i = 0;
  const __m256i one = _mm256_set1_epi16(1);
  const __m256i mBR = _mm256_set1_epi32(Pair(128, -43)), mG1 = _mm256_set1_epi32(Pair(-85, 128));
  const __m256i mRG = _mm256_set1_epi32(Pair(128, -107)), mB1 = _mm256_set1_epi32(Pair(-21, 128));
  if (step == 1 || step == 2) {
    // With pairs, 16 groups read 32 pixels, while the row may end on the last group's first
    // pixel: one group is left to the portable loop.
    const int reach = step == 2 ? 17 : 16;
    for (; i + reach <= count; i += 16) {
      __m128i r8, g8, b8;
      const uint8_t* p = rgb + 3 * static_cast<ptrdiff_t>(i) * step;
      Deinterleave(p, r8, g8, b8);
      if (step == 2) {
        // The top-left pixel of each pair: the even bytes of 32 pixels.
        __m128i r2, g2, b2;
        Deinterleave(p + 48, r2, g2, b2);
        const __m128i even = _mm_set1_epi16(0x00FF);
        r8 = _mm_packus_epi16(_mm_and_si128(r8, even), _mm_and_si128(r2, even));
        g8 = _mm_packus_epi16(_mm_and_si128(g8, even), _mm_and_si128(g2, even));
        b8 = _mm_packus_epi16(_mm_and_si128(b8, even), _mm_and_si128(b2, even));
      }
      // Order the 16-bit values so that the in-lane unpacks below give pixels 0-7 and 8-15.
      const __m256i r = _mm256_permute4x64_epi64(_mm256_cvtepu8_epi16(r8), 0xD8);
      const __m256i g = _mm256_permute4x64_epi64(_mm256_cvtepu8_epi16(g8), 0xD8);
      const __m256i b = _mm256_permute4x64_epi64(_mm256_cvtepu8_epi16(b8), 0xD8);
      const __m256i br[2] = {_mm256_unpacklo_epi16(b, r), _mm256_unpackhi_epi16(b, r)};
      const __m256i g1[2] = {_mm256_unpacklo_epi16(g, one), _mm256_unpackhi_epi16(g, one)};
      const __m256i rg[2] = {_mm256_unpacklo_epi16(r, g), _mm256_unpackhi_epi16(r, g)};
      const __m256i b1[2] = {_mm256_unpacklo_epi16(b, one), _mm256_unpackhi_epi16(b, one)};
      for (int h = 0; h < 2; ++h) {
        const __m256i vb = _mm256_srai_epi32(_mm256_add_epi32(_mm256_madd_epi16(br[h], mBR), _mm256_madd_epi16(g1[h], mG1)), 8);
        const __m256i vr = _mm256_srai_epi32(_mm256_add_epi32(_mm256_madd_epi16(rg[h], mRG), _mm256_madd_epi16(b1[h], mB1)), 8);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(cb + i + 8 * h), vb);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(cr + i + 8 * h), vr);
      }
    }
  }
  if (i < count) ChromaRowScalar(rgb + 3 * static_cast<ptrdiff_t>(i) * step, count - i, step, cb + i, cr + i);
}

// ---------------------------------------------------------------------------------------
// SSE2 versions: four 32-bit lanes, an 8 x 8 block as v[row][half] (columns 0-3, 4-7).

inline __m128i Add4(__m128i a, __m128i b) { return _mm_add_epi32(a, b); }
// x * c for x and c in 16-bit range: one multiply-add of (x, 0) pairs with (c, 0).
inline __m128i Madd4(__m128i x, int32_t c) { return _mm_madd_epi16(x, _mm_set1_epi32(c & 0xFFFF)); }
inline __m128i Abs4(__m128i x) {
  const __m128i s = _mm_srai_epi32(x, 31);
  return _mm_sub_epi32(_mm_xor_si128(x, s), s);
}
inline __m128i Select4(__m128i mask, __m128i a, __m128i b) {
  return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
}

inline void Transpose4(__m128i& a0, __m128i& a1, __m128i& a2, __m128i& a3) {
  const __m128i t0 = _mm_unpacklo_epi32(a0, a1), t1 = _mm_unpacklo_epi32(a2, a3);
  const __m128i t2 = _mm_unpackhi_epi32(a0, a1), t3 = _mm_unpackhi_epi32(a2, a3);
  a0 = _mm_unpacklo_epi64(t0, t1);
  a1 = _mm_unpackhi_epi64(t0, t1);
  a2 = _mm_unpacklo_epi64(t2, t3);
  a3 = _mm_unpackhi_epi64(t2, t3);
}

// v[r][h] (row r, columns 4h..4h+3) becomes v[c][h] (column c, rows 4h..4h+3).
inline void Transpose8Sse2(__m128i (*v)[2]) {
  Transpose4(v[0][0], v[1][0], v[2][0], v[3][0]);
  Transpose4(v[4][1], v[5][1], v[6][1], v[7][1]);
  Transpose4(v[0][1], v[1][1], v[2][1], v[3][1]);
  Transpose4(v[4][0], v[5][0], v[6][0], v[7][0]);
  for (int i = 0; i < 4; ++i) {
    const __m128i t = v[i][1];
    v[i][1] = v[4 + i][0];
    v[4 + i][0] = t;
  }
}

// Four lanes without SSE4.1's 32-bit multiply: every factor of Mul stays within 16 bits
// (inputs below 2^14, sums of two), so a multiply-add of (x, 0) pairs with (c, 0) gives the
// exact product; MulSum's sum of four takes two of them.
struct Sse2Arithmetic {
  __attribute__((always_inline)) static Lanes4 Mul(Lanes4 x, int32_t c) {
    return reinterpret_cast<Lanes4>(Madd4(reinterpret_cast<__m128i>(x), c));
  }
  __attribute__((always_inline)) static Lanes4 MulSum(Lanes4 a, Lanes4 b, int32_t c) {
    return Mul(a, c) + Mul(b, c);
  }
  __attribute__((always_inline)) static Lanes4 Scale(Lanes4 x) { return x << kConstBits; }
};

// The butterfly on four lines: in[2 * i + h] holds element i of lines 4h..4h+3.
inline void Idct8Sse2(const __m128i* in, __m128i* out, int h) {
  dct::Idct8<Lanes4, Sse2Arithmetic>(reinterpret_cast<const Lanes4*>(in) + h, reinterpret_cast<Lanes4*>(out) + h, 2);
}

void InverseSse2(const int16_t* coef, const uint16_t* quant, uint8_t* out, ptrdiff_t stride) {
  __m128i v[8][2], o[8][2];
  const __m128i zero = _mm_setzero_si128();
  const __m128i lo = _mm_set1_epi32(-16384), hi = _mm_set1_epi32(16383);
  for (int r = 0; r < 8; ++r) {
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(coef + 8 * r));
    const __m128i q = _mm_loadu_si128(reinterpret_cast<const __m128i*>(quant + 8 * r));
    // The 32-bit products of a signed coefficient and an unsigned quantisation value (16-bit
    // tables reach 65535): the signed high half, plus the coefficient where the value's top
    // bit, read as a sign, took 65536 away.
    const __m128i low = _mm_mullo_epi16(c, q);
    const __m128i high = _mm_add_epi16(_mm_mulhi_epi16(c, q), _mm_and_si128(_mm_srai_epi16(q, 15), c));
    const __m128i products[2] = {_mm_unpacklo_epi16(low, high), _mm_unpackhi_epi16(low, high)};
    for (int h = 0; h < 2; ++h) {
      const __m128i x = Select4(_mm_cmpgt_epi32(products[h], hi), hi, products[h]);
      v[r][h] = Select4(_mm_cmplt_epi32(x, lo), lo, x);
    }
  }
  for (int h = 0; h < 2; ++h) Idct8Sse2(&v[0][0], &o[0][0], h);
  constexpr int shift1 = kConstBits - kPass1Bits;
  const __m128i round1 = _mm_set1_epi32(1 << (shift1 - 1));
  __m128i largest = zero;
  for (int r = 0; r < 8; ++r)
    for (int h = 0; h < 2; ++h) {
      v[r][h] = _mm_srai_epi32(Add4(o[r][h], round1), shift1);
      largest = _mm_or_si128(largest, Abs4(v[r][h]));
    }
  if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(largest, _mm_set1_epi32(~16383)), zero)) != 0xFFFF) {
    InverseScalar(coef, quant, out, stride);
    return;
  }
  Transpose8Sse2(v);
  for (int h = 0; h < 2; ++h) Idct8Sse2(&v[0][0], &o[0][0], h);
  constexpr int shift2 = kConstBits + kPass1Bits + 3;
  const __m128i round2 = _mm_set1_epi32(1 << (shift2 - 1)), centre = _mm_set1_epi32(128);
  const __m128i mask = _mm_set1_epi32(1023), limit = _mm_set1_epi32(512), top = _mm_set1_epi32(255);
  for (int i = 0; i < 8; ++i)
    for (int h = 0; h < 2; ++h) {
      const __m128i a = _mm_and_si128(Add4(_mm_srai_epi32(Add4(o[i][h], round2), shift2), centre), mask);
      o[i][h] = _mm_and_si128(Select4(_mm_cmpgt_epi32(a, top), top, a), _mm_cmpgt_epi32(limit, a));
    }
  Transpose8Sse2(o);
  for (int r = 0; r < 8; ++r) {
    const __m128i w = _mm_packs_epi32(o[r][0], o[r][1]);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + r * stride), _mm_packus_epi16(w, w));
  }
}

void ForwardFastQuantizeSse2(const int32_t* samples, ptrdiff_t stride, const uint16_t* reciprocals, int16_t* out) {
  ForwardFast16(samples, stride, reciprocals, out);
}

// Colour conversion of four pixels at a time: each pixel's 4 bytes from its first (the
// fourth belongs to the next pixel and is masked off), R and B as a 16-bit pair in one
// lane, G with a 1 as another, and multiply-adds with the coefficient pairs.
inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

inline void Pairs4(const uint8_t* p, int step, __m128i& rb, __m128i& g1) {
  const int s = 3 * step;
  const __m128i v = _mm_setr_epi32(static_cast<int32_t>(Load32(p)), static_cast<int32_t>(Load32(p + s)),
                                   static_cast<int32_t>(Load32(p + 2 * s)), static_cast<int32_t>(Load32(p + 3 * s)));
  rb = _mm_and_si128(v, _mm_set1_epi32(0x00FF00FF));
  g1 = _mm_or_si128(_mm_and_si128(_mm_srli_epi32(v, 8), _mm_set1_epi32(0xFF)), _mm_set1_epi32(0x10000));
}

void LumaRowSse2(const uint8_t* rgb, int width, int32_t* y) {
  int x = 0;
  const __m128i mRB = _mm_set1_epi32(Pair(77, 29)), mG1 = _mm_set1_epi32(Pair(150, 128));
  const __m128i shift = _mm_set1_epi32(128);
  // The last group's fourth load reaches one byte past its pixel: a further pixel must follow.
  for (; x + 5 <= width; x += 4) {
    __m128i rb, g1;
    Pairs4(rgb + 3 * x, 1, rb, g1);
    const __m128i sum = _mm_add_epi32(_mm_madd_epi16(rb, mRB), _mm_madd_epi16(g1, mG1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(y + x), _mm_sub_epi32(_mm_srai_epi32(sum, 8), shift));
  }
  if (x < width) LumaRowScalar(rgb + 3 * x, width - x, y + x);
}

void ChromaRowSse2(const uint8_t* rgb, int count, int step, int32_t* cb, int32_t* cr) {
  int i = 0;
  const __m128i mRBb = _mm_set1_epi32(Pair(-43, 128)), mG1b = _mm_set1_epi32(Pair(-85, 128));
  const __m128i mRBr = _mm_set1_epi32(Pair(128, -21)), mG1r = _mm_set1_epi32(Pair(-107, 128));
  for (; i + 5 <= count; i += 4) {
    __m128i rb, g1;
    Pairs4(rgb + 3 * static_cast<ptrdiff_t>(i) * step, step, rb, g1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(cb + i),
                     _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(rb, mRBb), _mm_madd_epi16(g1, mG1b)), 8));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(cr + i),
                     _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(rb, mRBr), _mm_madd_epi16(g1, mG1r)), 8));
  }
  if (i < count) ChromaRowScalar(rgb + 3 * static_cast<ptrdiff_t>(i) * step, count - i, step, cb + i, cr + i);
}

// The block coder with BMI1/BMI2 (shifts by a register without the flags): the same text as
// the portable build.
__attribute__((target("avx2,bmi,bmi2"))) void CodeBlockBmi2(const int16_t* q, int& prediction, const HuffCodes& dc,
                                                           const HuffCodes& ac, uint64_t& bitBuffer, int& bitCount,
                                                           uint8_t*& put) {
  CodeBlock(q, prediction, dc, ac, bitBuffer, bitCount, put);
}

const KernelTable kSse2{&LumaRowSse2, &ChromaRowSse2, &ForwardFastQuantizeSse2, &InverseSse2, &YccRowSse2,
                        &CodeBlockPortable};
const KernelTable kAvx2{&LumaRowAvx2,  &ChromaRowAvx2, &ForwardFastQuantizeAvx2,
                        &InverseAvx2,  &YccRowAvx2,    &CodeBlockPortable};
const KernelTable kAvx2Bmi2{&LumaRowAvx2,  &ChromaRowAvx2, &ForwardFastQuantizeAvx2,
                            &InverseAvx2,  &YccRowAvx2,    &CodeBlockBmi2};

}  // namespace

const KernelTable* VectorKernels() {
  if (CpuCan(kCpuAvx2 | kCpuBmi2)) return &kAvx2Bmi2;
  if (CpuCan(kCpuAvx2)) return &kAvx2;
  return CpuCan(kCpuSse2) ? &kSse2 : nullptr;
}

const char* VectorKernelsName() {
  const unsigned features = DetectedCpuFeatures();
  return features & kCpuAvx2 ? "avx2" : features & kCpuSse2 ? "sse2" : "none";
}

const KernelTable* VectorKernelsOf(const char* level) {
  if (std::strcmp(level, "sse2") == 0) return DetectedCpuFeatures() & kCpuSse2 ? &kSse2 : nullptr;
  if (std::strcmp(level, "avx2") == 0) {
    const unsigned f = DetectedCpuFeatures();
    return f & kCpuAvx2 ? (f & kCpuBmi2 ? &kAvx2Bmi2 : &kAvx2) : nullptr;
  }
  return nullptr;
}

}  // namespace tessera::jpeg

#else

namespace tessera::jpeg {

const KernelTable* VectorKernels() { return nullptr; }
const char* VectorKernelsName() { return "none"; }
const KernelTable* VectorKernelsOf(const char*) { return nullptr; }

}  // namespace tessera::jpeg

#endif
