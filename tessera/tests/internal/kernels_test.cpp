// The kernels with vector versions: each must give, byte for byte, what its portable version
// gives, and the switch that forces the portable versions must reach every one of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "core/cpu_features.h"
#include "core/image_store.h"
#include "core/tile_kernels.h"
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
  EXPECT_FALSE(tessera::CanMirrorTileVector());
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

// Every pixel size: the chosen mirror kernel against the portable one, both against where
// the pixel must land (row r, column c takes column 127 - c), on a block of noise.
TEST(KernelAgreement, MirrorTile) {
  constexpr int T = 128;
  for (const int n : {1, 2, 3, 4, 6}) {
    SCOPED_TRACE(testing::Message() << n << "-byte pixels");
    const std::vector<uint8_t> in = Noise(static_cast<size_t>(T) * T * n, n);
    std::vector<uint8_t> out[2];
    BothPaths([&](bool vector) {
      out[vector] = in;
      tessera::TileKernelFor(tessera::TileTurn::kMirror, n)(out[vector].data(), nullptr);
    });
    ASSERT_EQ(out[0], out[1]);
    for (int r = 0; r < T; ++r)
      for (int c = 0; c < T; ++c)
        ASSERT_TRUE(std::equal(out[0].begin() + (r * T + c) * n, out[0].begin() + (r * T + c + 1) * n,
                               in.begin() + (r * T + T - 1 - c) * n))
            << "row " << r << " column " << c;
  }
}

// Stores of 2 MiB and more stream whole rows into existing tiles. Every case, with streaming
// and with the portable copy, must leave the same pixels, and the source's: 48- and 24-bit
// pixels, rows whose tile part ends off a 16-byte boundary (1000 = 7 x 128 + 104 pixels), and
// a rectangle starting at x = 5 (so that no destination row starts on a boundary).
TEST(KernelAgreement, LargeStoresIntoExistingTiles) {
  struct Case {
    int16_t colorSpace;
    int bytes, x, width, height;
  } cases[] = {{TES_CS_RGB48, 6, 0, 1000, 400}, {TES_CS_RGB24, 3, 0, 1000, 800}, {TES_CS_RGB48, 6, 5, 1000, 400}};
  const tagTes_Transform_Struct none{};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bytes << "-byte pixels at x " << c.x);
    const int W = c.x + c.width, H = c.height;
    const int rowBytes = c.width * c.bytes;
    ASSERT_GE(int64_t{rowBytes} * H, int64_t{2} << 20);
    const std::vector<uint8_t> before = Noise(static_cast<size_t>(W) * H * c.bytes, 1);
    const std::vector<uint8_t> data = Noise(static_cast<size_t>(rowBytes) * H, 2);
    std::vector<uint8_t> out[2];
    BothPaths([&](bool vector) {
      tessera::ImageStore store(false);
      ASSERT_EQ(store.Describe({W, H, c.colorSpace, {}, 300.0}, none), TES_OK);
      ASSERT_TRUE(store.CreateTable());
      ASSERT_EQ(store.Store({{0, 0, W, H}, W * c.bytes, 0}, none, before.data()), TES_OK);
      ASSERT_EQ(store.Store({{c.x, 0, c.width, H}, rowBytes, 0}, none, data.data()), TES_OK);
      out[vector].assign(before.size(), 0);
      ASSERT_EQ(store.Load({{0, 0, W, H}, W * c.bytes, 0}, out[vector].data()), TES_OK);
    });
    ASSERT_EQ(out[0], out[1]);
    for (int y = 0; y < H; ++y) {
      const uint8_t* row = out[0].data() + static_cast<size_t>(y) * W * c.bytes;
      ASSERT_TRUE(std::equal(row, row + c.x * c.bytes, before.begin() + static_cast<size_t>(y) * W * c.bytes)) << y;
      ASSERT_TRUE(std::equal(row + c.x * c.bytes, row + W * c.bytes, data.begin() + static_cast<size_t>(y) * rowBytes)) << y;
    }
  }
}

}  // namespace
