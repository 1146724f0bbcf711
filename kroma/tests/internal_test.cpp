// White-box checks of the curve tables, resampling, index tables and the grid builder.
#include "build/builder.h"
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
    EXPECT_EQ(c.engine == 1 ? b.st().grid16.size() : b.st().grid8.size(), entries);
  }
}

TEST(BuilderTest, IdenticalMatrixProfilesReproduceTheNodes) {
  const std::string rgb = OwnProfile("OXsRGB.icm");
  Built tri, tet;
  ASSERT_EQ(Build(tri, rgb, rgb, 1), 0);
  ASSERT_EQ(Build(tet, rgb, rgb, 0), 0);
  for (int r = 0; r < 32; ++r)
    for (int g = 0; g < 32; g += 5)
      for (int b = 0; b < 32; b += 7) {
        const uint16_t* v = &tri.st().grid16[(size_t(r) * 1024 + g * 32 + b) * 3];
        EXPECT_NEAR(v[0], r * 65535.0 / 31, 1.0);
        EXPECT_NEAR(v[1], g * 65535.0 / 31, 1.0);
        EXPECT_NEAR(v[2], b * 65535.0 / 31, 1.0);
      }
  for (int r = 0; r < 33; ++r) EXPECT_NEAR(tet.st().rawGrid8[size_t(r) * 33 * 33 * 3], r * 255.0 / 32, 1.0);
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
  EXPECT_NEAR(absolute.st().grid16[node], 20 * 65535.0 / 31 / 2, 1.0);  // X halved
  EXPECT_NEAR(absolute.st().grid16[node + 1], 20 * 65535.0 / 31, 1.0);
  EXPECT_NEAR(relative.st().grid16[node], 20 * 65535.0 / 31, 1.0);
  // r = X / 0.5 is 1.3 for X = 0.65 and 2.0 at the last node: stored as full scale.
  ASSERT_EQ(Build(clamped, src, narrow, 1), 0);
  ASSERT_EQ(Build(clamped8, src, narrow, 0), 0);
  EXPECT_EQ(clamped.st().grid16[(size_t(31) * 1024) * 3], 65535);
  EXPECT_EQ(clamped.st().grid16[(size_t(20) * 1024) * 3], 65535);
  EXPECT_EQ(clamped8.st().rawGrid8[(size_t(21) * 33 * 33) * 3], 255);
}

TEST(IndexTest, FullScaleLandsOnTheLastNode) {
  TempDir dir;
  const std::string cmyk = dir.Write("cmyk.icc", CmykProfile());
  const std::string rgb = OwnProfile("OXsRGB.icm");
  Built tri, tet3, tet4;
  ASSERT_EQ(Build(tri, rgb, rgb, 1), 0);
  EXPECT_EQ(tri.st().cell[4095], 30);
  EXPECT_EQ(tri.st().frac[4095], 65536u);
  EXPECT_EQ(tri.st().TriIn(0)[4095], 65535);
  ASSERT_EQ(Build(tet3, rgb, rgb, 0), 0);
  const auto& s3 = tet3.st();
  const kroma::AxisEntry e = s3.axis[255];
  EXPECT_EQ(e.offset, 31 * s3.stride[0]);
  EXPECT_EQ(s3.weights[s3.axis[255].weight + s3.axis[256 + 255].weight + s3.axis[512 + 255].weight].step[2], 8);
  ASSERT_EQ(Build(tet4, cmyk, rgb, 0), 0);
  const auto& s4 = tet4.st();
  uint32_t w = 0;
  for (int c = 0; c < 4; ++c) w += s4.axis[c * 256 + 255].weight;
  for (int k = 0; k < 4; ++k) EXPECT_EQ(s4.weights[w].step[k], 5);
  EXPECT_EQ(s4.farOffset, 3u * 9724u);
}

}  // namespace
