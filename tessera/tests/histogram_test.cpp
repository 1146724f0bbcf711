// Single-pixel queries and 256-level histograms, stored and through the tables.
#include <gtest/gtest.h>

#include <numeric>

#include "fixtures.h"

namespace {

using namespace fixtures;

const tagTes_Transform_Struct kNone = TesseraClass::m_s_EmptyTransform;

std::vector<std::pair<int, uint32_t>> NonZero(const _HistTable& t) {
  std::vector<std::pair<int, uint32_t>> out;
  for (int i = 0; i < 256; ++i)
    if (t.counts[i]) out.push_back({i, t.counts[i]});
  return out;
}

using Levels = std::vector<std::pair<int, uint32_t>>;

TEST(Histogram, SinglePixelsCountAtTheirLevels) {
  struct Case {
    int cs;
    std::vector<uint8_t> pixel;
    std::vector<Levels> arrays;  // index 0 (mean), 1.. channels
  } cases[] = {
      {0, {200}, {{{200, 1}}, {{200, 1}}}},
      {1, {0x34, 0x12}, {{{0x12, 1}}, {{0x12, 1}}}},
      {2, {30, 60, 90}, {{{60, 1}}, {{30, 1}}, {{60, 1}}, {{90, 1}}}},
      {3, {0, 0x10, 0, 0x20, 0, 0x60}, {{{0x30, 1}}, {{0x10, 1}}, {{0x20, 1}}, {{0x60, 1}}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cs);
    TesseraClass image(0, 0);
    ASSERT_EQ(Fill(image, 1, 1, c.cs, c.pixel, kNone), 0);
    for (size_t i = 0; i < c.arrays.size(); ++i) {
      for (short through : {0, 1}) {  // identity tables: both sets agree
        _HistTable t{};
        t.head[0] = 0xDEADBEEF;
        ASSERT_EQ(image.GetHistTable(&t, static_cast<unsigned short>(i), through), 0);
        EXPECT_EQ(NonZero(t), c.arrays[i]) << "array " << i << " through " << through;
        EXPECT_EQ(t.head[0], 0xDEADBEEFu);
      }
    }
  }
}

TEST(Histogram, EdgeTilePixelsBeyondTheImageAreNotCounted) {
  const int w = 130, h = 129;
  TesseraClass image(0, 0);
  std::vector<uint8_t> px(w * h, 5);
  ASSERT_EQ(Fill(image, w, h, 0, px, kNone), 0);
  ASSERT_EQ(image.Rotate(90.0), 0);  // the margins move with the tiles
  ASSERT_EQ(image.FlipH(), 0);
  _HistTable t{};
  ASSERT_EQ(image.GetHistTable(&t, 1, 0), 0);
  EXPECT_EQ(NonZero(t), (Levels{{5, w * h}}));
}

TEST(Histogram, ThroughTableSetFollowsSetLutAndRawSetDoesNot) {
  TesseraClass image(0, 2);
  std::vector<uint8_t> px = PatternPixels(40, 30, 2);
  ASSERT_EQ(Fill(image, 40, 30, 2, px, kNone), 0);
  _HistTable before{};
  ASSERT_EQ(image.GetHistTable(&before, 1, 0), 0);
  uint8_t zero[256] = {};
  ASSERT_EQ(image.SetLUT(zero, 0, 1), 0);
  _HistTable raw{}, through{};
  ASSERT_EQ(image.GetHistTable(&raw, 1, 0), 0);
  ASSERT_EQ(image.GetHistTable(&through, 1, 1), 0);
  EXPECT_EQ(NonZero(raw), NonZero(before));
  EXPECT_EQ(NonZero(through), (Levels{{0, 40 * 30}}));

  // New pixels invalidate both sets.
  std::vector<uint8_t> white(40 * 30 * 3, 255);
  tagTes_Tile_Desc all{{0, 0, 40, 30}, 120, 0};
  ASSERT_EQ(image.SetData(all, kNone, white.data()), 0);
  ASSERT_EQ(image.GetHistTable(&raw, 2, 0), 0);
  EXPECT_EQ(NonZero(raw), (Levels{{255, 40 * 30}}));
}

TEST(Histogram, SixteenBitThroughTableValuesInterpolate) {
  TesseraClass image(0, 1);
  std::vector<uint8_t> px = {0x34, 0x12};
  ASSERT_EQ(Fill(image, 1, 1, 1, px, kNone), 0);
  tagTes_Pixel_Value v{};
  ASSERT_EQ(image.GetPixel({0, 0}, &v, 1), 0);
  EXPECT_EQ(v.values[0], 0x1234);
  EXPECT_EQ(v.colorSpace, 1);
  uint8_t half[256];
  for (int i = 0; i < 256; ++i) half[i] = static_cast<uint8_t>(i / 2);
  ASSERT_EQ(image.SetLUT(half, 0, 1), 0);
  ASSERT_EQ(image.GetPixel({0, 0}, &v, 1), 0);
  // I[0x12] * (256 - 0x34) + I[0x13] * 0x34 = 9 * 204 + 9 * 52
  EXPECT_EQ(v.values[0], 9 * 256);
  ASSERT_EQ(image.GetPixel({0, 0}, &v, 0), 0);
  EXPECT_EQ(v.values[0], 0x1234);
}

TEST(Histogram, QueriesOnEmptyObjectsOrOutsideTheImageWriteNothing) {
  TesseraClass empty(0, 2);
  _HistTable t{};
  t.counts[0] = 77;
  EXPECT_EQ(empty.GetHistTable(&t, 0, 0), TES_ERR_NO_IMAGE);
  EXPECT_EQ(t.counts[0], 77u);
  tagTes_Pixel_Value v{9, {1, 2, 3, 4}};
  EXPECT_EQ(empty.GetPixel({0, 0}, &v, 0), TES_ERR_NO_IMAGE);

  TesseraClass image(0, 2);
  std::vector<uint8_t> px(6 * 4 * 3, 1);
  ASSERT_EQ(Fill(image, 6, 4, 2, px, kNone), 0);
  for (tagTes_Point p : {tagTes_Point{6, 0}, tagTes_Point{0, 4}, tagTes_Point{-1, 0}}) {
    EXPECT_EQ(image.GetPixel(p, &v, 0), TES_ERR_POINT_OUTSIDE);
    EXPECT_EQ(v.values[0], 1);
    EXPECT_EQ(v.colorSpace, 9);
  }
  // An array index past the channel count names nothing.
  EXPECT_EQ(image.GetHistTable(&t, 4, 0), TES_ERR_LUT_CHANNEL);
  EXPECT_EQ(t.counts[0], 77u);
}

}  // namespace
