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

// One 8-point inverse transform of in[0], in[step], ... in[7 * step], results before
// descaling in out[0], out[step], ... out[7 * step]. It is always inlined, also into vector
// functions of a wider target than this header's, so the calling convention of wide vector
// values that -Wpsabi notes never applies.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
template <typename T, typename A = PlainArithmetic>
__attribute__((always_inline)) inline void Idct8(const T* in, T* out, ptrdiff_t step = 1) {
  T z1 = A::Mul(in[2 * step] + in[6 * step], kF0_541196100);
  const T tmp2 = z1 - A::Mul(in[6 * step], kF1_847759065);
  const T tmp3 = z1 + A::Mul(in[2 * step], kF0_765366865);
  const T tmp0e = A::Scale(in[0] + in[4 * step]);
  const T tmp1e = A::Scale(in[0] - in[4 * step]);
  const T tmp10 = tmp0e + tmp3, tmp13 = tmp0e - tmp3, tmp11 = tmp1e + tmp2, tmp12 = tmp1e - tmp2;

  T t0 = in[7 * step], t1 = in[5 * step], t2 = in[3 * step], t3 = in[step];
  z1 = t0 + t3;
  T z2 = t1 + t2, z3 = t0 + t2, z4 = t1 + t3;
  const T z5 = A::MulSum(z3, z4, kF1_175875602);
  t0 = A::Mul(t0, kF0_298631336);
  t1 = A::Mul(t1, kF2_053119869);
  t2 = A::Mul(t2, kF3_072711026);
  t3 = A::Mul(t3, kF1_501321110);
  z1 = A::Mul(z1, -kF0_899976223);
  z2 = A::Mul(z2, -kF2_562915447);
  z3 = A::Mul(z3, -kF1_961570560) + z5;
  z4 = A::Mul(z4, -kF0_390180644) + z5;
  t0 += z1 + z3;
  t1 += z2 + z4;
  t2 += z2 + z3;
  t3 += z1 + z4;
  out[0 * step] = tmp10 + t3;
  out[7 * step] = tmp10 - t3;
  out[1 * step] = tmp11 + t2;
  out[6 * step] = tmp11 - t2;
  out[2 * step] = tmp12 + t1;
  out[5 * step] = tmp12 - t1;
  out[3 * step] = tmp13 + t0;
  out[4 * step] = tmp13 - t0;
}
#pragma GCC diagnostic pop

}  // namespace tessera::jpeg::dct
