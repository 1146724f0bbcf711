// Portable decoder kernels (accurate inverse transform, colour conversion) and the choice
// of kernel table.
#include <atomic>
#include <cstring>

#include "core/cpu_features.h"

#include "formats/jpeg/jpeg_simd.h"

namespace tessera::jpeg {

const uint8_t kRangeLimit[1024] = {
#define R4(i) (i), (i) + 1, (i) + 2, (i) + 3
#define R16(i) R4(i), R4((i) + 4), R4((i) + 8), R4((i) + 12)
#define R64(i) R16(i), R16((i) + 16), R16((i) + 32), R16((i) + 48)
    R64(0), R64(64), R64(128), R64(192),
#undef R4
#undef R16
#undef R64
#define F16 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255
#define F64 F16, F16, F16, F16
    F64, F64, F64, F64,
#undef F16
#undef F64
};  // entries 512..1023 are zero

namespace {

constexpr int kConstBits = 13, kPass1Bits = 2;
constexpr int32_t kF0_298631336 = 2446, kF0_390180644 = 3196, kF0_541196100 = 4433, kF0_765366865 = 6270,
                  kF0_899976223 = 7373, kF1_175875602 = 9633, kF1_501321110 = 12299, kF1_847759065 = 15137,
                  kF1_961570560 = 16069, kF2_053119869 = 16819, kF2_562915447 = 20995, kF3_072711026 = 25172;

// One 8-point inverse transform (after Loeffler, Ligtenberg and Moschytz) of in[0..7]
// (step apart), results before descaling in out[0..7].
template <typename T>
inline void Idct8(T i0, T i1, T i2, T i3, T i4, T i5, T i6, T i7, T* out) {
  T z1 = (i2 + i6) * kF0_541196100;
  const T tmp2 = z1 - i6 * kF1_847759065;
  const T tmp3 = z1 + i2 * kF0_765366865;
  const T tmp0e = (i0 + i4) * (T{1} << kConstBits);
  const T tmp1e = (i0 - i4) * (T{1} << kConstBits);
  const T tmp10 = tmp0e + tmp3, tmp13 = tmp0e - tmp3, tmp11 = tmp1e + tmp2, tmp12 = tmp1e - tmp2;

  T t0 = i7, t1 = i5, t2 = i3, t3 = i1;
  z1 = t0 + t3;
  T z2 = t1 + t2, z3 = t0 + t2, z4 = t1 + t3;
  const T z5 = (z3 + z4) * kF1_175875602;
  t0 *= kF0_298631336;
  t1 *= kF2_053119869;
  t2 *= kF3_072711026;
  t3 *= kF1_501321110;
  z1 *= -kF0_899976223;
  z2 *= -kF2_562915447;
  z3 = z3 * -kF1_961570560 + z5;
  z4 = z4 * -kF0_390180644 + z5;
  t0 += z1 + z3;
  t1 += z2 + z4;
  t2 += z2 + z3;
  t3 += z1 + z4;
  out[0] = tmp10 + t3;
  out[7] = tmp10 - t3;
  out[1] = tmp11 + t2;
  out[6] = tmp11 - t2;
  out[2] = tmp12 + t1;
  out[5] = tmp12 - t1;
  out[3] = tmp13 + t0;
  out[4] = tmp13 - t0;
}

template <typename T>
void IdctRows(const int32_t* ws, uint8_t* out, ptrdiff_t stride) {
  constexpr int shift = kConstBits + kPass1Bits + 3;
  for (int r = 0; r < 8; ++r, ws += 8, out += stride) {
    T o[8];
    Idct8<T>(ws[0], ws[1], ws[2], ws[3], ws[4], ws[5], ws[6], ws[7], o);
    for (int i = 0; i < 8; ++i)
      out[i] = kRangeLimit[static_cast<int>(((o[i] + (T{1} << (shift - 1))) >> shift) + 128) & 1023];
  }
}

}  // namespace

void InverseScalar(const int16_t* coef, const uint16_t* quant, uint8_t* out, ptrdiff_t stride) {
  // Columns first into a workspace with 2 extra fraction bits. Coefficients are bounded so
  // that corrupt data cannot overflow; valid data never come near the bound.
  int32_t ws[64];
  int32_t largest = 0;
  for (int c = 0; c < 8; ++c) {
    int32_t in[8];
    bool acZero = true;
    for (int r = 0; r < 8; ++r) {
      int32_t v = static_cast<int32_t>(coef[8 * r + c]) * quant[8 * r + c];
      v = v > 16383 ? 16383 : v < -16384 ? -16384 : v;
      in[r] = v;
      if (r && v) acZero = false;
    }
    if (acZero) {
      const int32_t dc = in[0] * (1 << kPass1Bits);
      for (int r = 0; r < 8; ++r) ws[8 * r + c] = dc;
      largest |= dc < 0 ? -dc : dc;
      continue;
    }
    int32_t o[8];
    Idct8<int32_t>(in[0], in[1], in[2], in[3], in[4], in[5], in[6], in[7], o);
    constexpr int shift = kConstBits - kPass1Bits;
    for (int r = 0; r < 8; ++r) {
      const int32_t v = (o[r] + (1 << (shift - 1))) >> shift;
      ws[8 * r + c] = v;
      largest |= v < 0 ? -v : v;
    }
  }
  // Rows. With workspace values below 2^14 the 32-bit sums cannot overflow; larger ones
  // (corrupt data only) take 64-bit arithmetic.
  if (largest < 16384)
    IdctRows<int32_t>(ws, out, stride);
  else
    IdctRows<int64_t>(ws, out, stride);
}

void InverseDcOnly(int16_t dc, uint16_t q, uint8_t* out, ptrdiff_t stride) {
  int32_t v = static_cast<int32_t>(dc) * q;
  v = v > 16383 ? 16383 : v < -16384 ? -16384 : v;
  const uint8_t sample = kRangeLimit[(((v + 4) >> 3) + 128) & 1023];
  for (int r = 0; r < 8; ++r, out += stride) std::memset(out, sample, 8);
}

void YccRowScalar(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int width, int chromaShift,
                  uint8_t* rgb) {
  for (int x = 0; x < width; ++x, rgb += 3) {
    const int Y = 256 * y[x];
    const int b = cb[x >> chromaShift] - 128, r = cr[x >> chromaShift] - 128;
    rgb[0] = kRangeLimit[((Y + 359 * r + 128) >> 8) & 1023];
    rgb[1] = kRangeLimit[((Y - 88 * b - 183 * r + 128) >> 8) & 1023];
    rgb[2] = kRangeLimit[((Y + 454 * b + 128) >> 8) & 1023];
  }
}

// Vector versions (jpeg_kernels_x86.cpp): the table of the best level the processor offers,
// null where the build has none or the portable versions are forced.
extern const KernelTable* VectorKernels();
extern const char* VectorKernelsName();

namespace {

const KernelTable kPortable{&LumaRowScalar, &ChromaRowScalar, &ForwardFastQuantizeScalar, &InverseScalar,
                            &YccRowScalar};
std::atomic<const KernelTable*> chosen{nullptr};

}  // namespace

const KernelTable& Kernels() {
  const KernelTable* detected = VectorKernels();
  if (detected == nullptr) return kPortable;
  if (const KernelTable* table = chosen.load(std::memory_order_relaxed)) return *table;
  return *detected;
}

void UseVectorKernels(const KernelTable* table) { chosen.store(table, std::memory_order_relaxed); }

const char* VectorLevel() { return VectorKernelsName(); }

}  // namespace tessera::jpeg
