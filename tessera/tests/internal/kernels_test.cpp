// The kernels with vector versions: each must give, byte for byte, what its portable version
// gives, and the switch that forces the portable versions must reach every one of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "core/cpu_features.h"
#include "formats/bmp/swap_rgb.h"

namespace {

std::vector<uint8_t> Noise(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

// Runs `body` with the portable versions forced, then with the detected ones.
template <typename Body>
void BothPaths(Body body) {
  tessera::ForcePortableKernels(true);
  body(false);
  tessera::ForcePortableKernels(false);
  body(true);
}

TEST(KernelSwitch, ForcingThePortablePathsTurnsEveryCanOff) {
  tessera::ForcePortableKernels(true);
  EXPECT_FALSE(tessera::CpuCan(tessera::kCpuSse2));
  EXPECT_FALSE(tessera::CanSwapRedBlueShuffle());
  tessera::ForcePortableKernels(false);
  EXPECT_TRUE(tessera::CpuCan(0));
#if defined(__x86_64__)
  EXPECT_EQ(tessera::CanSwapRedBlueShuffle(), (tessera::DetectedCpuFeatures() & tessera::kCpuSsse3) != 0);
#endif
}

// Rows of every length up to several shuffle steps, so that the vector loop's end and the
// portable tail meet at each possible place; the bytes after the row must stay untouched.
TEST(KernelAgreement, SwapRedBlue) {
  for (int32_t pixels = 0; pixels <= 40; ++pixels) {
    const std::vector<uint8_t> in = Noise(3 * static_cast<size_t>(pixels) + 16, pixels);
    std::vector<uint8_t> out[2];
    BothPaths([&](bool vector) {
      out[vector] = in;
      tessera::SwapRedBlue(out[vector].data(), pixels);
    });
    ASSERT_EQ(out[0], out[1]) << pixels << " pixels";
    for (int32_t x = 0; x < pixels; ++x) {
      ASSERT_EQ(out[0][3 * x], in[3 * x + 2]);
      ASSERT_EQ(out[0][3 * x + 1], in[3 * x + 1]);
      ASSERT_EQ(out[0][3 * x + 2], in[3 * x]);
    }
    ASSERT_TRUE(std::equal(in.begin() + 3 * pixels, in.end(), out[0].begin() + 3 * pixels));
  }
}

}  // namespace
