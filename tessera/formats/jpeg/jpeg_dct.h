// The accurate integer transform of 8 x 8 blocks (after Loeffler, Ligtenberg and Moschytz):
// its constants, shared by the forward transform of the encoder and the inverse one of the
// decoder, and the 8-point inverse butterfly, written once for every number type it runs on.
// The portable decoder runs it on int32_t (int64_t for corrupt data), the vector versions on
// eight or four 32-bit lanes; so they compute the same values by construction, and the tests
// hold each vector version to the portable one.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessera::jpeg::dct {

constexpr int kConstBits = 13, kPass1Bits = 2;
constexpr int32_t kF0_298631336 = 2446, kF0_390180644 = 3196, kF0_541196100 = 4433, kF0_765366865 = 6270,
                  kF0_899976223 = 7373, kF1_175875602 = 9633, kF1_501321110 = 12299, kF1_847759065 = 15137,
                  kF1_961570560 = 16069, kF2_053119869 = 16819, kF2_562915447 = 20995, kF3_072711026 = 25172;

// The arithmetic the butterfly needs beyond + and -: a product with a constant, the product
// of a sum of two such values with a constant (MulSum), and the scaling of the even part by
// 2^kConstBits. Plain operators suit scalars; a vector version gives its own (a multiply-add
// where it is exact). Every factor Mul sees is a sum of at most two inputs.
struct PlainArithmetic {
  template <typename T>
  static T Mul(T x, int32_t c) {
    return x * c;
  }
  template <typename T>
  static T MulSum(T a, T b, int32_t c) {
    return (a + b) * c;
  }
  template <typename T>
  static T Scale(T x) {
    return x * int32_t{1 << kConstBits};
  }
};

// The 8-point inverse butterfly, compiled for the baseline target (the AVX2 kernels include
// it once more for theirs).
#define TESSERA_IDCT8_TARGET
#include "formats/jpeg/jpeg_idct8.inc"
#undef TESSERA_IDCT8_TARGET

}  // namespace tessera::jpeg::dct
