// Portable decoder kernels (accurate inverse transform, colour conversion) and the choice
// of kernel table.
#include <atomic>
#include <cstring>

#include "core/cpu_features.h"
#include "formats/jpeg/jpeg_dct.h"
#include "formats/jpeg/jpeg_huffman_coder.h"
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

using namespace dct;

template <typename T>
void IdctRows(const int32_t* ws, uint8_t* out, ptrdiff_t stride) {
  constexpr int shift = kConstBits + kPass1Bits + 3;
  for (int r = 0; r < 8; ++r, ws += 8, out += stride) {
    const T in[8] = {ws[0], ws[1], ws[2], ws[3], ws[4], ws[5], ws[6], ws[7]};
    T o[8];
    Idct8(in, o);
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
    Idct8(in, o);
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
                            &YccRowScalar, &CodeBlockPortable};
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
