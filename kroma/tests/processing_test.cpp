// Converting pixels: both engines at every depth, the layouts, buffer splitting, 1-D tables,
// and the round trip of Lab and LCh data through 48-bit RGB.
#include <algorithm>
#include <random>

#include "fixture.h"

using namespace kt;

namespace {

std::string SRGB() { return OwnProfile("OXsRGB.icm"); }

uint32_t Full(int bits) { return bits == 8 ? 255u : 65535u; }

// Writes one sample of the given depth (significant bits at the top of 16-bit words).
void Put(std::vector<uint8_t>& b, size_t i, int bits, uint32_t v01_65535) {
  if (bits == 8) {
    b[i] = uint8_t(v01_65535 >> 8);
    return;
  }
  const uint32_t top = v01_65535 >> (16 - bits) << (16 - bits);
  b[2 * i] = uint8_t(top), b[2 * i + 1] = uint8_t(top >> 8);
}
uint32_t Get(const std::vector<uint8_t>& b, size_t i, int bits) { return bits == 8 ? b[i] : Word(b, i); }

TEST(EngineTest, IdentityPairKeepsBlackWhiteAndGreysAtEveryDepth) {
  for (uint16_t engine : {0, 1})
    for (uint16_t inBits : {8, 10, 12, 16})
      for (uint16_t outBits : {8, 16}) {
        SCOPED_TRACE(testing::Message() << "engine " << engine << " in " << inBits << " out " << outBits);
        Handle h;
        ASSERT_EQ(Open(h, Param(5, 1, 3, 3, inBits, outBits), SRGB(), SRGB(), engine), 0);
        const uint32_t levels[5] = {0, 0x8080, 0xC0C0, 0xE0E0, 0xFFFF};
        std::vector<uint8_t> in(15 * (inBits == 8 ? 1 : 2));
        for (int p = 0; p < 5; ++p)
          for (int c = 0; c < 3; ++c) Put(in, p * 3 + c, inBits, levels[p]);
        const auto out = Convert(h, in, 1, 15 * (outBits == 8 ? 1 : 2));
        for (int c = 0; c < 3; ++c) {
          EXPECT_EQ(Get(out, c, outBits), 0u);
          EXPECT_EQ(Get(out, 12 + c, outBits), Full(outBits));  // white stays white
        }
        // Mid and light greys within one 8-bit unit in both engines.
        const double tol = outBits == 8 ? 1.0 : 257.0;
        for (int p = 1; p < 4; ++p)
          for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(double(Get(out, p * 3 + c, outBits)), levels[p] * Full(outBits) / 65535.0, tol);
      }
}

// Same pixels through the interleaved, buffer-planar and line-planar routines.
TEST(LayoutTest, PlanarLayoutsMatchInterleavedAndBuffersSplitFreely) {
  TempDir dir;
  const std::string cmyk = dir.Write("cmyk.icc", CmykProfile());
  std::mt19937 rng(7);
  const int W = 7, L = 4;
  std::vector<uint8_t> rgb(W * L * 3);
  for (auto& v : rgb) v = uint8_t(rng());
  for (uint16_t engine : {0, 1}) {
    SCOPED_TRACE(engine);
    Handle h;
    ASSERT_EQ(Open(h, Param(W, L, 3, 4, 8, 16), SRGB(), cmyk, engine), 0);
    const auto interleaved = Convert(h, rgb, L, W * L * 4 * 2);

    for (uint16_t layout : {1, 2}) {
      std::vector<uint8_t> planar(rgb.size());
      auto inIndex = [&](int y, int x, int c, int C) {
        return layout == 1 ? size_t(c) * L * W + y * W + x : size_t(y) * C * W + c * W + x;
      };
      for (int y = 0; y < L; ++y)
        for (int x = 0; x < W; ++x)
          for (int c = 0; c < 3; ++c) planar[inIndex(y, x, c, 3)] = rgb[(y * W + x) * 3 + c];
      CColorMatcher* cm = h;
      MatchingParam mp = cm->param;
      mp.layout = layout;
      ASSERT_EQ(InitCColorMatcher(cm, &mp, &cm->spec), 0);
      std::vector<uint8_t> out(W * L * 8);
      void* dst = out.data();
      CMBuffer src{planar.data(), L};
      ASSERT_EQ(ColorMatchingProc2(cm, &src, &dst), 0);
      for (int y = 0; y < L; ++y)
        for (int x = 0; x < W; ++x)
          for (int c = 0; c < 4; ++c)
            EXPECT_EQ(Word(out, inIndex(y, x, c, 4)), Word(interleaved, (y * W + x) * 4 + c)) << layout;
      TermCColorMatcher(cm);
    }

    // Two buffers of two lines give what one buffer of four gives; zero lines convert nothing.
    Handle split;
    ASSERT_EQ(Open(split, Param(W, L, 3, 4, 8, 16, 0, 2), SRGB(), cmyk, engine), 0);
    std::vector<uint8_t> first(rgb.begin(), rgb.begin() + W * 2 * 3), second(rgb.begin() + W * 2 * 3, rgb.end());
    auto a = Convert(split, first, 2, W * 2 * 8);
    const auto b = Convert(split, second, 2, W * 2 * 8);
    a.insert(a.end(), b.begin(), b.end());
    EXPECT_EQ(a, interleaved);
    const auto none = Convert(split, first, 0, 16);
    EXPECT_EQ(none, std::vector<uint8_t>(16, 0xAB));
  }
}

TEST(LayoutTest, InPlaceMatchesSeparateBuffers) {
  std::vector<uint8_t> rgb(64 * 3);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = uint8_t(i * 37);
  for (uint16_t engine : {0, 1})
    for (uint16_t layout : {0, 1}) {
      Handle h;
      ASSERT_EQ(Open(h, Param(16, 4, 3, 3, 8, 8, layout), SRGB(), OwnProfile("OXLab.icm"), engine), 0);
      const auto separate = Convert(h, rgb, 4, rgb.size());
      std::vector<uint8_t> buf = rgb;
      CMBuffer b{buf.data(), 4};
      ASSERT_EQ(OXCMProc(&b, nullptr, h), 0);
      EXPECT_EQ(buf, separate);
    }
}

// Channel counts without a specialised routine still convert (two-colour source).
TEST(LayoutTest, TwoChannelSourceConvertsInTrilinearAndIsRefusedByTetrahedral) {
  TempDir dir;
  iccw::Profile two;
  two.colorSpace = iccw::Sig("2CLR");
  two.pcs = iccw::Sig("Lab ");
  iccw::Lut a2b;
  a2b.in = 2;
  a2b.grid = 3;
  a2b.inTables = {0, 65535, 0, 65535};
  a2b.outTables = {0, 65535, 0, 65535, 0, 65535};
  iccw::FillClut(a2b, [](const double* in, double* out) {
    out[0] = in[0] * 65280.0 / 65535.0;
    out[1] = out[2] = 0.5 + 0.2 * (in[1] - 0.5);
  });
  two.AddLut(iccw::Sig("A2B0"), a2b);
  const std::string path = dir.Write("two.icc", two);
  Handle tri, tet;
  ASSERT_EQ(Open(tri, Param(2, 1, 2, 3), path, SRGB(), 1), 0);
  const auto out = Convert(tri, {0, 128, 255, 128}, 1, 6);
  EXPECT_LE(out[0], 4);
  EXPECT_GE(out[3], 250);
  EXPECT_EQ(Open(tet, Param(2, 1, 2, 3), path, SRGB(), 0), 5000);
}

TEST(LutTest, OutputIdentityShowsGridValuesAndMergeDoesNotAccumulate) {
  Handle h;
  ASSERT_EQ(Open(h, Param(1, 1, 3, 3), SRGB(), SRGB()), 0);
  CM1DLutSpec identity{3, 8, 0, {}};
  ASSERT_EQ(OXCMChange1DLUT(&identity, 1, h), 0);
  // The grid of an sRGB pair is linear light: mid grey 128 is about 0.216.
  EXPECT_NEAR(Convert(h, {128, 128, 128}, 1, 3)[0], 55, 1);

  Handle m;
  ASSERT_EQ(Open(m, Param(1, 1, 3, 3), SRGB(), SRGB()), 0);
  uint16_t g = 512;  // gamma 2.0
  CM1DLutSpec gamma{3, 8, 1, {&g, &g, &g}};
  ASSERT_EQ(OXCMMerge1DLUT(&gamma, 0, m), 0);
  const auto once = Convert(m, {128, 64, 200}, 1, 3);
  ASSERT_EQ(OXCMMerge1DLUT(&gamma, 0, m), 0);
  EXPECT_EQ(Convert(m, {128, 64, 200}, 1, 3), once);
  EXPECT_NEAR(once[0], 64, 2);  // (128/255)^2 * 255

  // An explicit inverting table on the input side turns black into white, in both engines.
  uint16_t invert[256];
  for (int i = 0; i < 256; ++i) invert[i] = uint16_t(255 - i);
  for (uint16_t engine : {0, 1}) {
    Handle e;
    ASSERT_EQ(Open(e, Param(1, 1, 3, 3), SRGB(), SRGB(), engine), 0);
    CM1DLutSpec inv{3, 8, 256, {invert, invert, invert}};
    ASSERT_EQ(OXCMChange1DLUT(&inv, 0, e), 0);
    EXPECT_EQ(Convert(e, {0, 255, 0}, 1, 3), (std::vector<uint8_t>{255, 0, 255}));
    ASSERT_EQ(OXCMChange1DLUT(&inv, 1, e), 0);  // and again on the way out
    EXPECT_EQ(Convert(e, {0, 255, 0}, 1, 3), (std::vector<uint8_t>{0, 255, 0}));
  }
}

// Merging identity tables on both sides, as a caller resets its curves, leaves every sample
// as it was, in both engines, dark values included.
TEST(LutTest, MergingIdentityTablesChangesNothing) {
  std::vector<uint8_t> in;
  for (int v = 0; v < 256; v += 3) in.insert(in.end(), {uint8_t(v), uint8_t(255 - v), uint8_t(v / 2)});
  const uint16_t pixels = uint16_t(in.size() / 3);
  const std::string adobe = "/usr/share/color/icc/compatibleWithAdobeRGB1998.icc";
  for (uint16_t engine : {0, 1}) {
    SCOPED_TRACE(engine);
    Handle plain, merged;
    ASSERT_EQ(Open(plain, Param(pixels, 1, 3, 3), SRGB(), adobe, engine), 0);
    ASSERT_EQ(Open(merged, Param(pixels, 1, 3, 3), SRGB(), adobe, engine), 0);
    CM1DLutSpec identity{3, 8, 0, {}};
    ASSERT_EQ(OXCMMerge1DLUT(&identity, 0, merged), 0);
    ASSERT_EQ(OXCMMerge1DLUT(&identity, 1, merged), 0);
    EXPECT_EQ(Convert(merged, in, 1, in.size()), Convert(plain, in, 1, in.size()));
  }
}

// Lab (and LCh) data through 48-bit RGB and back.
// Colours come from an RGB grid spanning lo..hi of full scale.
std::pair<double, double> RoundTripError(const char* space, uint16_t engine, double lo, double hi) {
  const int n = 9;
  std::vector<uint16_t> rgb;
  for (int r = 0; r < n; ++r)
    for (int g = 0; g < n; ++g)
      for (int b = 0; b < n; ++b)
        for (int v : {r, g, b}) rgb.push_back(uint16_t(65535 * (lo + (hi - lo) * v / (n - 1))));
  const uint16_t W = uint16_t(n * n * n);
  Handle toLab, toRgb;
  EXPECT_EQ(Open(toLab, Param(W, 1, 3, 3, 16, 16), SRGB(), OwnProfile(space), engine), 0);
  EXPECT_EQ(Open(toRgb, Param(W, 1, 3, 3, 16, 16), OwnProfile(space), SRGB(), engine), 0);
  const auto lab1 = Convert(toLab, Words(rgb), 1, W * 6);
  const auto rgb2 = Convert(toRgb, lab1, 1, W * 6);
  const auto lab2 = Convert(toLab, rgb2, 1, W * 6);
  const bool lch = std::string(space) == "OXLch.icm";
  double worst = 0, sum = 0;
  for (int p = 0; p < W; ++p) {
    double e1[3], e2[3];
    for (int pass = 0; pass < 2; ++pass) {
      const auto& v = pass == 0 ? lab1 : lab2;
      double* e = pass == 0 ? e1 : e2;
      const double L = Word(v, p * 3) * 100.0 / 65535.0;
      double a = Word(v, p * 3 + 1) / 256.0 - 128, b = Word(v, p * 3 + 2) / 256.0 - 128;
      if (lch) {
        const double c = Word(v, p * 3 + 1) / 256.0, hue = Word(v, p * 3 + 2) * 2 * M_PI / 65536.0;
        a = c * std::cos(hue), b = c * std::sin(hue);
      }
      e[0] = L, e[1] = a, e[2] = b;
    }
    const double e = std::hypot(e1[0] - e2[0], e1[1] - e2[1], e1[2] - e2[2]);
    worst = std::max(worst, e);
    sum += e;
  }
  return {worst, sum / W};
}

TEST(RoundTripTest, LabAndLchThroughRgb48) {
  // Held to dE76 0.6 (Lab) and 2.5 (LCh, whose hue axis wraps inside the grid) at most.
  for (const char* space : {"OXLab.icm", "OXLch.icm"}) {
    const bool lch = std::string(space) == "OXLch.icm";
    const auto inside = RoundTripError(space, 1, 0.1, 0.9), cube = RoundTripError(space, 1, 0, 1);
    std::printf("%s round trip through 48-bit RGB, dE76 max/mean: inside %.3f/%.3f, whole cube %.3f/%.3f\n", space,
                inside.first, inside.second, cube.first, cube.second);
    EXPECT_LT(inside.first, lch ? 2.5 : 0.6) << space;
    EXPECT_LT(inside.second, lch ? 0.6 : 0.2) << space;
    EXPECT_LT(cube.first, lch ? 2.5 : 0.6) << space;
    EXPECT_LT(cube.second, lch ? 0.6 : 0.2) << space;
  }
}

}  // namespace
