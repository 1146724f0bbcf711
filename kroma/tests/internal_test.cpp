// White-box checks of the curve tables, resampling, index tables and the grid builder.
#include <random>

#include "build/builder.h"
#include "engine/cpu.h"
#include "engine/engine_state.h"
#include "fixture.h"
#include "kroma.h"
#include "profile/icc_profile.h"

using namespace kt;

namespace {

TEST(CurveTest, ForwardAndInverseTables) {
  using kroma::ForwardCurve;
  using kroma::InverseCurve;
  EXPECT_EQ(ForwardCurve({}), (std::vector<uint16_t>{0, 65535}));
  const auto fwd = ForwardCurve({256});
  std::vector<uint16_t> inv;
  ASSERT_TRUE(InverseCurve({256}, inv));
  ASSERT_EQ(fwd.size(), 1024u);
  for (int k = 0; k < 1024; ++k) {
    const uint16_t ramp = uint16_t(65535.0 * k / 1023 + 0.5);
    EXPECT_NEAR(fwd[k], ramp, 1) << k;  // x grows by adding 1/1023
    EXPECT_EQ(inv[k], ramp) << k;
  }
  // Gamma 0: all white as a source curve, refused as a destination curve.
  for (uint16_t v : ForwardCurve({0})) EXPECT_EQ(v, 65535);
  EXPECT_FALSE(InverseCurve({0}, inv));
  // A falling sampled curve inverts to a falling table.
  ASSERT_TRUE(InverseCurve({65535, 40000, 20000, 0}, inv));
  EXPECT_EQ(inv.front(), 65535);
  EXPECT_EQ(inv.back(), 0);
  EXPECT_TRUE(std::is_sorted(inv.rbegin(), inv.rend()));
  // A falling curve with a flat start (found by the fuzzer) interpolates past its entries:
  // the table holds at the top instead of wrapping round to the bottom.
  ASSERT_TRUE(InverseCurve({65535, 65535, 60000, 30000}, inv));
  EXPECT_TRUE(std::is_sorted(inv.rbegin(), inv.rend()));
  // A rising sampled curve with a flat start inverts without dividing by zero.
  ASSERT_TRUE(InverseCurve({0, 0, 30000, 65535}, inv));
  EXPECT_EQ(inv.back(), 65535);
  EXPECT_TRUE(std::is_sorted(inv.begin(), inv.end()));
  double m[9] = {1, 2, 3, 2, 4, 6, 0, 0, 1}, out[9];
  EXPECT_FALSE(kroma::InvertMatrix(m, out));
  double d[9] = {2, 0, 0, 0, 4, 0, 0, 0, 0.5};
  ASSERT_TRUE(kroma::InvertMatrix(d, out));
  EXPECT_DOUBLE_EQ(out[0], 0.5);
  EXPECT_DOUBLE_EQ(out[4], 0.25);
  EXPECT_DOUBLE_EQ(out[8], 2.0);
}

TEST(ResampleTest, RampsStayRamps) {
  const uint16_t two[2] = {0, 65535};
  const auto r = kroma::Resample(two, 2, 4096);
  EXPECT_EQ(r.front(), 0);
  EXPECT_EQ(r.back(), 65535);
  EXPECT_EQ(r[2048], (4096 / 2 + 2048 * 65535) / 4095);  // m div 2 as the rounding term
  const auto r8 = kroma::Resample8(two, 2);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(r8[i], i);
}

struct Built {
  MatchingSelector sel{};
  ~Built() { TermMatchingSelector(&sel); }
  const KromaEngineState& st() const { return *sel.state; }
};

int32_t Build(Built& b, const std::string& src, const std::string& dst, uint16_t engine, uint16_t intent = 1) {
  b.sel.engine = engine;
  b.sel.intent = intent;
  return Initialize(&b.sel, src.c_str(), dst.c_str());
}

TEST(BuilderTest, GridShapesPerModel) {
  TempDir dir;
  const std::string cmyk = dir.Write("cmyk.icc", CmykProfile());
  const std::string gray = dir.Write("gray.icc", GrayProfile());
  const std::string rgb = OwnProfile("OXsRGB.icm");
  struct Case {
    std::string src, dst;
    uint16_t engine;
    int in, out, points;
  } cases[] = {{cmyk, rgb, 1, 4, 3, 16}, {cmyk, rgb, 0, 4, 3, 21}, {rgb, cmyk, 1, 3, 4, 32},
               {rgb, cmyk, 0, 3, 4, 33}, {gray, rgb, 1, 1, 3, 256}, {gray, rgb, 0, 1, 3, 256}};
  for (const Case& c : cases) {
    Built b;
    ASSERT_EQ(Build(b, c.src, c.dst, c.engine), 0);
    EXPECT_EQ(b.st().inCh, c.in);
    EXPECT_EQ(b.st().outCh, c.out);
    EXPECT_EQ(b.st().gridPoints, c.points);
    size_t entries = c.out;
    for (int i = 0; i < c.in; ++i) entries *= c.points;
    EXPECT_EQ(b.st().grid.size(), entries);
    if (c.engine == 0) {
      EXPECT_EQ(b.st().tetGrid.size(), entries + kroma::kGridSlack);
    }
  }
}

TEST(BuilderTest, IdenticalMatrixProfilesReproduceTheNodes) {
  const std::string rgb = OwnProfile("OXsRGB.icm");
  for (uint16_t engine : {1, 0}) {
    Built b;
    ASSERT_EQ(Build(b, rgb, rgb, engine), 0);
    const auto& st = b.st();
    const unsigned g = st.gridPoints;
    ASSERT_EQ(g, engine == 1 ? 32u : 33u);
    // Nodes are even in the sRGB encoding: node k is the sRGB curve at k / (g - 1).
    for (unsigned k = 0; k < g; ++k) {
      const double x = double(k) / (g - 1);
      const double lin = x <= 0.04045 ? x / 12.92 : std::pow((x + 0.055) / 1.055, 2.4);
      EXPECT_NEAR(st.nodes[k], lin, 1e-4) << k;
    }
    for (unsigned r = 0; r < g; ++r)
      for (unsigned gg = 0; gg < g; gg += 5)
        for (unsigned bb = 0; bb < g; bb += 7) {
          const int32_t* v = &st.grid[(size_t(r) * g * g + gg * g + bb) * 3];
          EXPECT_NEAR(v[0], st.nodes[r] * 65535.0, 1.0);
          EXPECT_NEAR(v[1], st.nodes[g + gg] * 65535.0, 1.0);
          EXPECT_NEAR(v[2], st.nodes[2 * g + bb] * 65535.0, 1.0);
        }
  }
}

TEST(BuilderTest, AbsoluteIntentScalesByMediaWhiteAndMatrixOutputClamps) {
  TempDir dir;
  const std::string src = dir.Write("src.icc", LinearRgb());
  static constexpr double r[3] = {1, 0, 0}, g[3] = {0, 1, 0}, b[3] = {0, 0, 1};
  static constexpr double wide[3] = {2 * iccw::kD50[0], iccw::kD50[1], iccw::kD50[2]};
  const std::string dst = dir.Write("dst.icc", iccw::MatrixRgb(r, g, b, {256}, wide));
  static constexpr double half[3] = {0.5, 0, 0};
  const std::string narrow = dir.Write("narrow.icc", iccw::MatrixRgb(half, g, b, {256}));
  Built absolute, relative, clamped, clamped8;
  ASSERT_EQ(Build(absolute, src, dst, 1, 2), 0);
  ASSERT_EQ(Build(relative, src, dst, 1, 1), 0);
  const size_t node = (size_t(20) * 1024 + 20 * 32 + 20) * 3;
  EXPECT_NEAR(absolute.st().grid[node], 20 * 65535.0 / 31 / 2, 1.0);  // X halved
  EXPECT_NEAR(absolute.st().grid[node + 1], 20 * 65535.0 / 31, 1.0);
  EXPECT_NEAR(relative.st().grid[node], 20 * 65535.0 / 31, 1.0);
  // r = X / 0.5 is 2.0 at the last node: the grid keeps it, pixels are clipped to full scale.
  ASSERT_EQ(Build(clamped, src, narrow, 1), 0);
  ASSERT_EQ(Build(clamped8, src, narrow, 0), 0);
  EXPECT_EQ(clamped.st().grid[(size_t(31) * 1024) * 3], 2 * 65535);
  EXPECT_EQ(clamped8.st().grid[(size_t(32) * 33 * 33) * 3], 2 * 65535);
  for (MatchingSelector* sel : {&clamped.sel, &clamped8.sel}) {
    // Linear input 0.65 gives r = 1.3 and full scale at both depths, in both engines.
    uint8_t in8[3] = {166, 0, 0}, out8[3] = {};
    CMBuffer b8{in8, 1};
    void* d8 = out8;
    ASSERT_EQ(CMatching2(sel, &b8, &d8, 1, 3, 3, 8, 8, 0), 0);
    EXPECT_EQ(out8[0], 255);
    uint16_t in16[3] = {42598, 0, 0}, out16[3] = {};
    CMBuffer b16{in16, 1};
    void* d16 = out16;
    ASSERT_EQ(CMatching2(sel, &b16, &d16, 1, 6, 6, 16, 16, 0), 0);
    EXPECT_EQ(out16[0], 65535);
  }
}

TEST(IndexTest, FullScaleLandsOnTheLastNode) {
  TempDir dir;
  const std::string cmyk = dir.Write("cmyk.icc", CmykProfile());
  const std::string rgb = OwnProfile("OXsRGB.icm");
  Built tri, tet3, tet4;
  ASSERT_EQ(Build(tri, rgb, rgb, 1), 0);
  EXPECT_EQ(tri.st().In(0)[4095], 65535);
  EXPECT_EQ(tri.st().axis[4095].offset, 30 * tri.st().stride[0]);
  EXPECT_EQ(tri.st().axis[4095].weight, 65536u);
  EXPECT_EQ(tri.st().axis[0].offset, 0u);
  EXPECT_EQ(tri.st().axis[0].weight, 0u);
  ASSERT_EQ(Build(tet3, rgb, rgb, 0), 0);
  const auto& s3 = tet3.st();
  for (const auto* axis : {s3.axis8.data(), s3.axisWide.data()}) {
    const size_t last = axis == s3.axis8.data() ? 255 : 4095, n = axis == s3.axis8.data() ? 256 : 4096;
    for (int c = 0; c < 3; ++c) {
      EXPECT_EQ(axis[c * n + last].offset, 31 * s3.stride[c]);
      EXPECT_EQ(axis[c * n + last].weight, uint32_t(kroma::kTetSteps3));  // the whole last cell
      EXPECT_EQ(axis[c * n].offset + axis[c * n].weight, 0u);
    }
  }
  // Cells are even in the sRGB encoding: code 64 (8.03 of 32 intervals) is in cell 8. A
  // matrix destination interpolates linear light, so the fraction is the linear position
  // inside that cell, in 256ths.
  const auto srgbLinear = [](double x) { return x <= 0.04045 ? x / 12.92 : std::pow((x + 0.055) / 1.055, 2.4); };
  ASSERT_TRUE(s3.tetLinear);
  EXPECT_EQ(s3.axis8[64].offset, 8 * s3.stride[0]);
  const double t = (srgbLinear(64 / 255.0) - srgbLinear(8 / 32.0)) / (srgbLinear(9 / 32.0) - srgbLinear(8 / 32.0));
  EXPECT_NEAR(double(s3.axis8[64].weight), 256 * t, 1.0);
  ASSERT_EQ(Build(tet4, cmyk, rgb, 0), 0);
  const auto& s4 = tet4.st();
  uint32_t w = 0;
  for (int c = 0; c < 4; ++c) w += s4.axis8[c * 256 + 255].weight;
  for (int k = 0; k < 4; ++k) EXPECT_EQ(s4.weights[w].step[k], 5);
  EXPECT_EQ(s4.farOffset, 3u * 9724u);
}

// The same pixels through a handle made with the plain loops forced and through one with the
// vector loops: the samples must be identical. And the affine path (a matrix pair)
// must give what interpolating the grid gives, which the line-planar loops still do.
TEST(LoopTest, VectorLoopsMatchPlainOnesAndTheAffinePathFollowsTheGrid) {
  TempDir dir;
  static constexpr double r[3] = {0.6097, 0.3111, 0.0195}, g[3] = {0.2053, 0.6257, 0.0609},
                          b[3] = {0.1492, 0.0632, 0.7446};
  const std::string wide = dir.Write("wide.icc", iccw::MatrixRgb(r, g, b, {563}));  // gamma 2.2
  const std::string cmyk = dir.Write("cmyk.icc", CmykProfile());
  const std::string rgb = OwnProfile("OXsRGB.icm");
  std::mt19937 rng(3);
  const uint16_t W = 4096;
  std::vector<uint8_t> in(size_t(W) * 4 * 2);
  for (auto& v : in) v = uint8_t(rng());
  struct Pair {
    std::string src, path;
    int inCh, channels;
    bool affine;
  } dsts[] = {{rgb, wide, 3, 3, true}, {rgb, cmyk, 3, 4, false}, {cmyk, rgb, 4, 3, false}};
  for (uint16_t engine : {0, 1})
    for (const Pair& d : dsts) {
      Built built;
      ASSERT_EQ(Build(built, d.src, d.path, engine), 0);
      EXPECT_EQ(built.st().affine, d.affine);
      for (uint16_t inBits : {8, 10, 12, 16})
        for (uint16_t outBits : {8, 16}) {
          SCOPED_TRACE(testing::Message() << "engine " << engine << " " << d.inCh << "->" << d.channels << " " << inBits << "->" << outBits);
          const size_t inBytes = size_t(W) * d.inCh * (inBits == 8 ? 1 : 2), outBytes = size_t(W) * d.channels * (outBits / 8);
          const std::vector<uint8_t> src(in.begin(), in.begin() + inBytes);
          // One handle made and run with the plain loops forced, one with the detected ones.
          std::vector<uint8_t> out[2];
          for (int vector = 0; vector < 2; ++vector) {
            kroma::ForcePortableKernels(vector == 0);
            Handle h;
            ASSERT_EQ(Open(h, Param(W, 1, d.inCh, d.channels, inBits, outBits), d.src, d.path, engine), 0);
            out[vector] = Convert(h, src, 1, outBytes);
          }
          kroma::ForcePortableKernels(false);
          EXPECT_EQ(out[0], out[1]);
        }
      if (!d.affine) continue;
      // 8-bit samples, interleaved (affine path) beside line-planar (grid interpolation).
      Handle a, p;
      ASSERT_EQ(Open(a, Param(W, 1, 3, 3), rgb, d.path, engine), 0);
      ASSERT_EQ(Open(p, Param(W, 1, 3, 3, 8, 8, 1), rgb, d.path, engine), 0);
      const std::vector<uint8_t> src(in.begin(), in.begin() + size_t(W) * 3);
      std::vector<uint8_t> planar(src.size());
      for (size_t x = 0; x < W; ++x)
        for (int c = 0; c < 3; ++c) planar[c * W + x] = src[x * 3 + c];
      const auto viaSum = Convert(a, src, 1, src.size()), viaGrid = Convert(p, planar, 1, src.size());
      int worst = 0;
      for (size_t x = 0; x < W; ++x)
        for (int c = 0; c < 3; ++c) {
          // Under the pure power curve, codes up to 3 are the first 1/8192 of linear light,
          // below the precision either path keeps; there both stay in that toe.
          const int s = viaSum[x * 3 + c], gr = viaGrid[c * W + x];
          if (s <= 3 && gr <= 3) continue;
          worst = std::max(worst, std::abs(s - gr));
        }
      EXPECT_LE(worst, 1) << "engine " << engine;
    }
}

}  // namespace
