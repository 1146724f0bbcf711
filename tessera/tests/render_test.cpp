// Drawing into device contexts, the output rectangles and the display tables.
#include <gtest/gtest.h>

#include "fixtures.h"
#include "win/gdi.h"

namespace {

using namespace fixtures;
using orvax::win::FailingDC;
using orvax::win::MemoryDC;

const tagTes_Transform_Struct kNone = TesseraClass::m_s_EmptyTransform;

tagTes_Output_Info Whole(HDC dc, int w, int h) { return {dc, 0, 0, w, h, 0, 0, w, h}; }

TEST(OutputRect, ImageRectanglesMapToAdjacentDeviceRectangles) {
  TesseraClass image(0, 0);
  std::vector<uint8_t> px(200 * 200, 0);
  ASSERT_EQ(Fill(image, 200, 200, 0, px, kNone), 0);
  tagTes_Rect out{};
  ASSERT_EQ(image.CreateOutputRect({0, 0, 100, 100}, {10, 20, 100, 100}, &out), 0);
  EXPECT_EQ(out.x, 10);
  EXPECT_EQ(out.y, 20);
  EXPECT_EQ(out.width, 50);
  EXPECT_EQ(out.height, 50);
  // Neighbours at an awkward scale neither overlap nor leave gaps.
  int next = 7;
  for (int x = 0; x < 200; x += 3) {
    image.CreateOutputRect({x, 0, std::min(3, 200 - x), 1}, {7, 0, 333, 333}, &out);
    EXPECT_EQ(out.x, next);
    next = out.x + out.width;
  }
  EXPECT_EQ(next, 7 + 333);
}

TEST(Display, EveryPixelBecomesATwoByTwoBlockAtDoubleSize) {
  const int w = 150, h = 140;  // two tiles each way, partial edge tiles
  TesseraClass image(0, 2);
  const std::vector<uint8_t> px = PatternPixels(w, h, 2);
  ASSERT_EQ(Fill(image, w, h, 2, px, kNone), 0);
  MemoryDC dc(2 * w + 10, 2 * h + 10, 0x11);
  // Clip to an odd device rectangle: snapping widens it to whole pixel blocks.
  tagTes_Output_Info info{&dc, 3, 5, 101, 77, 0, 0, 2 * w, 2 * h};
  ASSERT_EQ(image.Display(info), 0);
  for (int y = 4; y < 82; ++y)
    for (int x = 2; x < 104; ++x) {
      const uint8_t* d = dc.pixel(x, y);
      const uint8_t* s = &px[(static_cast<size_t>(y / 2) * w + x / 2) * 3];
      ASSERT_EQ(d[0], s[0]) << x << "," << y;
      ASSERT_EQ(d[1], s[1]);
      ASSERT_EQ(d[2], s[2]);
    }
  // Nothing outside the snapped clip is painted.
  EXPECT_EQ(dc.pixel(104, 40)[0], 0x11);
  EXPECT_EQ(dc.pixel(50, 82)[0], 0x11);
  EXPECT_EQ(dc.pixel(1, 40)[0], 0x11);
  EXPECT_EQ(dc.stretchMode(), orvax::win::COLORONCOLOR);
}

TEST(Display, GreyTilesDrawThroughTheGreyPalette) {
  TesseraClass image(0, 1);
  std::vector<uint8_t> px(4 * 2 * 2);
  const uint16_t values[] = {0x0000, 0x1234, 0x8000, 0xFFFF, 0x00FF, 0x7F00, 0x4000, 0xC000};
  std::memcpy(px.data(), values, sizeof values);
  ASSERT_EQ(Fill(image, 4, 2, 1, px, kNone), 0);
  MemoryDC dc(4, 2);
  ASSERT_EQ(image.Display(Whole(&dc, 4, 2)), 0);
  for (int i = 0; i < 8; ++i) {
    const uint8_t expected = static_cast<uint8_t>(255.0 * ((values[i] >> 4) / 4095.0));
    EXPECT_EQ(dc.pixel(i % 4, i / 4)[0], expected) << i;
    EXPECT_EQ(dc.pixel(i % 4, i / 4)[2], expected);
  }
}

TEST(Display, EmptyObjectDrawsNothingAndDeviceRefusalsAreReported) {
  TesseraClass empty(0, 2);
  MemoryDC dc(10, 10, 0x22);
  EXPECT_EQ(empty.Display(Whole(&dc, 10, 10)), 0);
  EXPECT_EQ(dc.blitCount(), 0);
  EXPECT_EQ(empty.Print(Whole(&dc, 10, 10)), TES_ERR_NO_IMAGE);

  TesseraClass image(0, 2);
  std::vector<uint8_t> px(10 * 10 * 3, 200);
  ASSERT_EQ(Fill(image, 10, 10, 2, px, kNone), 0);
  FailingDC badMode(10, 10, true, false), badBlit(10, 10, false, true);
  EXPECT_EQ(image.Display(Whole(&badMode, 10, 10)), TES_ERR_DEVICE);
  EXPECT_EQ(image.Display(Whole(&badBlit, 10, 10)), TES_ERR_DEVICE);
  EXPECT_EQ(image.Print(Whole(&badMode, 10, 10)), TES_ERR_DEVICE);
  EXPECT_EQ(image.Print(Whole(&badBlit, 10, 10)), TES_ERR_DEVICE);
}

TEST(Display, LookupTablesChangeWhatIsShownAndPrinted) {
  TesseraClass image(0, 2);
  std::vector<uint8_t> px = {10, 100, 200};
  ASSERT_EQ(Fill(image, 1, 1, 2, px, kNone), 0);
  MemoryDC dc(1, 1);
  ASSERT_EQ(image.Display(Whole(&dc, 1, 1)), 0);
  EXPECT_EQ(dc.pixel(0, 0)[0], 10);

  uint8_t invert[256];
  for (int i = 0; i < 256; ++i) invert[i] = static_cast<uint8_t>(255 - i);
  ASSERT_EQ(image.SetLUT(invert, 0, 3), 0);  // the curve alone
  ASSERT_EQ(image.Display(Whole(&dc, 1, 1)), 0);
  EXPECT_EQ(dc.pixel(0, 0)[0], 245);
  EXPECT_EQ(dc.pixel(0, 0)[1], 100);
  ASSERT_EQ(image.Print(Whole(&dc, 1, 1)), 0);  // print uses the input tables
  EXPECT_EQ(dc.pixel(0, 0)[0], 245);

  EXPECT_EQ(image.SetLUT(invert, 3, 0), TES_ERR_LUT_CHANNEL);
  EXPECT_EQ(image.SetLUT(invert, -1, 1), TES_ERR_LUT_CHANNEL);
  TesseraClass empty(0, 2);
  EXPECT_EQ(empty.SetLUT(invert, 0, 0), TES_ERR_NO_IMAGE);
}

TEST(Display, GammaAppliesInModeTwoButNotModeThree) {
  char none[] = "";
  char* n = none;
  tagTes_Image_Info info{};
  info.size = sizeof info;
  ASSERT_EQ(TesseraClass::InitMosaic(info, n, n, n, n, 2.0), 0);
  TesseraClass image(0, 0);
  std::vector<uint8_t> px = {128};
  ASSERT_EQ(Fill(image, 1, 1, 0, px, kNone), 0);
  uint8_t identity[256];
  for (int i = 0; i < 256; ++i) identity[i] = static_cast<uint8_t>(i);
  MemoryDC dc(1, 1);
  const uint8_t gamma = static_cast<uint8_t>(255.0 * (128 / 255.0) * (128 / 255.0));
  ASSERT_EQ(image.Display(Whole(&dc, 1, 1)), 0);
  EXPECT_EQ(dc.pixel(0, 0)[0], gamma);
  ASSERT_EQ(image.SetLUT(identity, 0, 3), 0);
  ASSERT_EQ(image.Display(Whole(&dc, 1, 1)), 0);
  EXPECT_EQ(dc.pixel(0, 0)[0], 128);
  ASSERT_EQ(image.SetLUT(identity, 0, 2), 0);
  ASSERT_EQ(image.Display(Whole(&dc, 1, 1)), 0);
  EXPECT_EQ(dc.pixel(0, 0)[0], gamma);
  TesseraClass::CloseMosaic();
}

TEST(ColourSpace, PlainConversionsFollowTheTable) {
  struct Case {
    int from, to;
    std::vector<uint8_t> in, out;
  } cases[] = {
      {2, 0, {255, 255, 255}, {255}},
      {2, 0, {0, 0, 0}, {0}},
      {2, 0, {10, 100, 200}, {(77 * 10 + 150 * 100 + 29 * 200 + 128) >> 8}},
      {0, 1, {0x12}, {0x00, 0x12}},
      {0, 3, {7}, {0, 7, 0, 7, 0, 7}},
      {1, 0, {0x34, 0x12}, {0x12}},
      {1, 3, {0x34, 0x12}, {0x34, 0x12, 0x34, 0x12, 0x34, 0x12}},
      {3, 2, {0x01, 0x10, 0x02, 0x20, 0x03, 0x30}, {0x10, 0x20, 0x30}},
      {2, 3, {1, 2, 3}, {0, 1, 0, 2, 0, 3}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.from << " -> " << c.to);
    TesseraClass image(0, 0);
    ASSERT_EQ(Fill(image, 1, 1, c.from, c.in, kNone), 0);
    ASSERT_EQ(image.SetColorSpace(static_cast<short>(c.to), nullptr), 0);
    short cs = -1;
    image.GetColorSpace(&cs);
    EXPECT_EQ(cs, c.to);
    std::vector<uint8_t> out;
    ASSERT_EQ(ReadAll(image, out), 0);
    EXPECT_EQ(out, c.out);
  }
}

TEST(ColourSpace, RefusedCodesChangeNothingAndEmptyObjectsOnlyChangeTheirCode) {
  TesseraClass image(0, 2);
  std::vector<uint8_t> px = {1, 2, 3};
  ASSERT_EQ(Fill(image, 1, 1, 2, px, kNone), 0);
  EXPECT_EQ(image.SetColorSpace(7, nullptr), TES_ERR_COLOR_SPACE);
  EXPECT_EQ(image.SetColorSpace(4, nullptr), TES_ERR_NOT_PERMITTED);
  std::vector<uint8_t> out;
  ASSERT_EQ(ReadAll(image, out), 0);
  EXPECT_EQ(out, px);

  TesseraClass empty(0, 2);
  EXPECT_EQ(empty.SetColorSpace(1, nullptr), 0);
  short cs = -1;
  empty.GetColorSpace(&cs);
  EXPECT_EQ(cs, 1);
}

TEST(ColourSpace, PlainObjectsHaveNoProfileData) {
  TesseraClass image(0, 2);
  std::vector<uint8_t> px = {1, 2, 3};
  ASSERT_EQ(Fill(image, 1, 1, 2, px, kNone), 0);
  unsigned char* data = reinterpret_cast<unsigned char*>(&image);
  unsigned long size = 99;
  EXPECT_EQ(image.GetCurIccProfileData(&data, &size), 0);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(size, 0u);
}

}  // namespace
