// Quarter turns, mirrors and the point mappings.
#include <gtest/gtest.h>

#include "fixtures.h"

namespace {

using namespace fixtures;

const tagTes_Transform_Struct kNone = TesseraClass::m_s_EmptyTransform;

TEST(PointMapping, KnownPoints) {
  struct Case {
    bool mirror;
    double angle;
    tagTes_Point expected;
  } cases[] = {{false, 90, {99, 0}}, {false, 270, {0, 199}}, {true, 0, {199, 0}}, {false, 180, {199, 99}},
               {false, -90, {0, 199}}, {false, 44.9, {0, 0}}, {false, 315, {0, 0}}, {false, 720, {0, 0}},
               {false, 450, {99, 0}}, {false, 134.9, {99, 0}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "mirror " << c.mirror << " angle " << c.angle);
    tagTes_Point p{0, 0};
    const tagTes_Transform_Struct t{static_cast<uint16_t>(c.mirror), c.angle};
    EXPECT_EQ(TesseraClass::ConvertAndTransformPoint(&p, {200, 100}, t, 1), 0);
    EXPECT_EQ(p.x, c.expected.x);
    EXPECT_EQ(p.y, c.expected.y);
  }
}

TEST(PointMapping, ReverseUndoesForwardForEveryTransform) {
  const int w = 7, h = 4;
  for (int mirror = 0; mirror < 2; ++mirror)
    for (double angle : {0.0, 90.0, 180.0, 270.0}) {
      const tagTes_Transform_Struct t{static_cast<uint16_t>(mirror), angle};
      const bool quarter = angle == 90.0 || angle == 270.0;
      std::vector<tagTes_Point> points;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) points.push_back({x, y});
      std::vector<tagTes_Point> mapped = points;
      TesseraClass::ConvertAndTransformPoint(mapped.data(), {w, h}, t, mapped.size());
      for (const auto& p : mapped) {  // every point lands inside the transformed image
        EXPECT_GE(p.x, 0);
        EXPECT_LT(p.x, quarter ? h : w);
        EXPECT_GE(p.y, 0);
        EXPECT_LT(p.y, quarter ? w : h);
      }
      TesseraClass::ReverseTransformPoint(mapped.data(), {quarter ? h : w, quarter ? w : h}, t, mapped.size());
      for (size_t i = 0; i < points.size(); ++i) {
        EXPECT_EQ(mapped[i].x, points[i].x) << "mirror " << mirror << " angle " << angle;
        EXPECT_EQ(mapped[i].y, points[i].y);
      }
    }
}

TEST(PointMapping, ACountOfZeroOrLessMapsNothing) {
  tagTes_Point p{3, 4};
  const tagTes_Transform_Struct t{1, 90};
  EXPECT_EQ(TesseraClass::ConvertAndTransformPoint(&p, {10, 10}, t, 0), 0);
  EXPECT_EQ(TesseraClass::ConvertAndTransformPoint(&p, {10, 10}, t, static_cast<unsigned long>(-1L)), 0);
  EXPECT_EQ(p.x, 3);
  EXPECT_EQ(p.y, 4);
}

// Reference: the image a transform would have stored, read through the point mapping.
std::vector<uint8_t> Expected(const std::vector<uint8_t>& src, int w, int h, int bpp, bool mirror, int angle) {
  const bool quarter = angle == 90 || angle == 270;
  const int W = quarter ? h : w;
  std::vector<uint8_t> out(src.size());
  const tagTes_Transform_Struct t{static_cast<uint16_t>(mirror), static_cast<double>(angle)};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      tagTes_Point p{x, y};
      TesseraClass::ConvertAndTransformPoint(&p, {w, h}, t, 1);
      std::memcpy(&out[(static_cast<size_t>(p.y) * W + p.x) * bpp], &src[(static_cast<size_t>(y) * w + x) * bpp], bpp);
    }
  return out;
}

TEST(InPlace, RotationsAndFlipsMatchTheReferenceForEveryPixelSize) {
  const int w = 200, h = 131;  // neither a multiple of 128
  for (int cs : {0, 1, 2, 3}) {
    const int bpp = BppOf(cs);
    const std::vector<uint8_t> src = PatternPixels(w, h, cs);
    struct Op {
      const char* name;
      long (*run)(TesseraClass&);
      bool mirror;
      int angle;
      bool flipV;
    } ops[] = {
        {"rotate 90", [](TesseraClass& i) { return i.Rotate(90.0); }, false, 90, false},
        {"rotate 180", [](TesseraClass& i) { return i.Rotate(180.0); }, false, 180, false},
        {"rotate 270", [](TesseraClass& i) { return i.Rotate(270.0); }, false, 270, false},
        {"rotate 450", [](TesseraClass& i) { return i.Rotate(450.0); }, false, 90, false},
        {"flip h", [](TesseraClass& i) { return i.FlipH(); }, true, 0, false},
        {"flip v", [](TesseraClass& i) { return i.FlipV(); }, true, 180, false},  // mirror then 180
    };
    for (const auto& op : ops) {
      SCOPED_TRACE(testing::Message() << "cs " << cs << " " << op.name);
      TesseraClass image(0, 0);
      ASSERT_EQ(Fill(image, w, h, cs, src, kNone), 0);
      ASSERT_EQ(op.run(image), 0);
      std::vector<uint8_t> out;
      ASSERT_EQ(ReadAll(image, out), 0);
      EXPECT_TRUE(out == Expected(src, w, h, bpp, op.mirror, op.angle));
    }
  }
}

TEST(InPlace, TopLeftBecomesTopRightAfterAQuarterTurn) {
  TesseraClass image(0, 0);
  std::vector<uint8_t> px(200 * 100, 0);
  px[0] = 200;
  ASSERT_EQ(Fill(image, 200, 100, 0, px, kNone), 0);
  ASSERT_EQ(image.Rotate(90.0), 0);
  tagTes_Image_Desc d{};
  image.GetImageDesc(&d);
  EXPECT_EQ(d.width, 100);
  EXPECT_EQ(d.height, 200);
  tagTes_Pixel_Value v{};
  ASSERT_EQ(image.GetPixel({99, 0}, &v, 0), 0);
  EXPECT_EQ(v.values[0], 200);
}

TEST(InPlace, FourTurnsOrTwoFlipsRestoreTheImage) {
  const int w = 300, h = 141;
  const std::vector<uint8_t> src = PatternPixels(w, h, 3);
  for (int which = 0; which < 3; ++which) {
    TesseraClass image(0, 3);
    ASSERT_EQ(Fill(image, w, h, 3, src, kNone), 0);
    for (int i = 0; i < (which == 0 ? 4 : 2); ++i) {
      const long s = which == 0 ? image.Rotate(90.0) : which == 1 ? image.FlipH() : image.FlipV();
      ASSERT_EQ(s, 0);
    }
    std::vector<uint8_t> out;
    ASSERT_EQ(ReadAll(image, out), 0);
    EXPECT_TRUE(out == src) << "case " << which;
  }
}

TEST(InPlace, FlipKeepsEveryVisiblePixelOfANarrowImage) {
  TesseraClass image(0, 0);
  std::vector<uint8_t> px(130 * 2);
  for (int x = 0; x < 130; ++x) px[x] = px[130 + x] = static_cast<uint8_t>(x);
  ASSERT_EQ(Fill(image, 130, 2, 0, px, kNone), 0);
  ASSERT_EQ(image.FlipH(), 0);
  tagTes_Pixel_Value v{};
  ASSERT_EQ(image.GetPixel({129, 1}, &v, 0), 0);
  EXPECT_EQ(v.values[0], 0);
  ASSERT_EQ(image.GetPixel({0, 0}, &v, 0), 0);
  EXPECT_EQ(v.values[0], 129);
}

TEST(InPlace, EmptyObjectsAndZeroAngles) {
  TesseraClass empty(0, 2);
  EXPECT_EQ(empty.FlipH(), TES_ERR_NO_IMAGE);
  EXPECT_EQ(empty.FlipV(), TES_ERR_NO_IMAGE);
  EXPECT_EQ(empty.Rotate(0.0), TES_ERR_NO_IMAGE);
  EXPECT_EQ(empty.Rotate(90.0), TES_ERR_NO_IMAGE);

  TesseraClass image(0, 0);
  std::vector<uint8_t> px = PatternPixels(20, 10, 0);
  ASSERT_EQ(Fill(image, 20, 10, 0, px, kNone), 0);
  ASSERT_EQ(image.Rotate(-45.0), 0);  // normalised to 315, which snaps to no turn
  std::vector<uint8_t> out;
  ASSERT_EQ(ReadAll(image, out), 0);
  EXPECT_EQ(out, px);
}

}  // namespace
