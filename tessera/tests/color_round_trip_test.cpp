// Colour-managed conversions through the library's own profiles, end to end.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "fixtures.h"

namespace {

using namespace fixtures;

const tagTes_Transform_Struct kNone = TesseraClass::m_s_EmptyTransform;

class ManagedRoundTrip : public ManagedLibraryTest {
 protected:
  void SetUp() override { StartLibrary(); }
};

// A 48-bit RGB sweep of the colour cube from lo to hi (fractions of full scale).
std::vector<uint8_t> Sweep(int n, double lo = 0.0, double hi = 1.0) {
  std::vector<uint8_t> px(static_cast<size_t>(n) * n * n * 6);
  size_t i = 0;
  for (int r = 0; r < n; ++r)
    for (int g = 0; g < n; ++g)
      for (int b = 0; b < n; ++b) {
        auto level = [&](int k) { return static_cast<uint16_t>(65535.0 * (lo + (hi - lo) * k / (n - 1)) + 0.5); };
        const uint16_t v[3] = {level(r), level(g), level(b)};
        std::memcpy(&px[i], v, 6);
        i += 6;
      }
  return px;
}

int MaxDifference16(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  int worst = 0;
  for (size_t i = 0; i + 1 < a.size(); i += 2) {
    uint16_t x, y;
    std::memcpy(&x, &a[i], 2);
    std::memcpy(&y, &b[i], 2);
    if (std::abs(int(x) - int(y)) > worst && std::getenv("ROUND_TRIP_DEBUG"))
      std::printf("pixel %zu channel %zu: %u -> %u\n", i / 6, (i % 6) / 2, x, y);
    worst = std::max(worst, std::abs(int(x) - int(y)));
  }
  return worst;
}

TEST_F(ManagedRoundTrip, RgbThroughLabAndLchComesBack) {
  const int n = 9;
  const std::vector<uint8_t> px = Sweep(n, 0.1, 0.9);
  for (short through : {5, 6}) {
    SCOPED_TRACE(through);
    TesseraClass image(15, 3);
    ASSERT_EQ(Fill(image, n * n, n, 3, px, kNone), 0);
    ASSERT_EQ(image.SetColorSpace(through, nullptr), 0);
    short cs = -1;
    image.GetColorSpace(&cs);
    EXPECT_EQ(cs, through);
    ASSERT_EQ(image.SetColorSpace(3, nullptr), 0);
    std::vector<uint8_t> back;
    ASSERT_EQ(ReadAll(image, back), 0);
    // Two grid transforms, each interpolating: within 2 % of full scale through Lab and
    // 4 % through LCh, whose hue angle bends the grid between nodes.
    EXPECT_LE(MaxDifference16(px, back), through == 5 ? 1311 : 2621);
  }
}

TEST_F(ManagedRoundTrip, SixteenToEightBitRgbKeepsTheHighBytesAndIdentityTables) {
  const int n = 9;
  const std::vector<uint8_t> px = Sweep(n);
  TesseraClass image(15, 3);
  ASSERT_EQ(Fill(image, n * n, n, 3, px, kNone), 0);
  ASSERT_EQ(image.SetColorSpace(2, nullptr), 0);
  std::vector<uint8_t> out;
  ASSERT_EQ(ReadAll(image, out), 0);
  int worst = 0;
  for (size_t i = 0; i < out.size(); ++i) worst = std::max(worst, std::abs(int(out[i]) - int(px[2 * i + 1])));
  EXPECT_LE(worst, 1);
  // The display tables are back at the identity: the pixel through the tables is as stored.
  tagTes_Pixel_Value stored{}, through{};
  ASSERT_EQ(image.GetPixel({40, 4}, &stored, 0), 0);
  ASSERT_EQ(image.GetPixel({40, 4}, &through, 1), 0);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(stored.values[c], through.values[c]);
}

TEST_F(ManagedRoundTrip, GreyArrivesAsRgbAndIsShownAsGrey) {
  TesseraClass image(15, 0);
  tagTes_Image_Desc desc{3, 1, 0, {}, 72.0};
  ASSERT_EQ(image.SetImageDesc(desc, kNone), 0);
  std::vector<uint8_t> grey = {0, 128, 255};
  tagTes_Tile_Desc t{{0, 0, 3, 1}, 3, 0};
  ASSERT_EQ(image.SetData(t, kNone, grey.data()), 0);
  tagTes_Image_Desc d{};
  image.GetImageDesc(&d);
  EXPECT_EQ(d.colorSpace, 2);
  std::vector<uint8_t> out;
  ASSERT_EQ(ReadAll(image, out), 0);
  EXPECT_EQ(out, (std::vector<uint8_t>{0, 0, 0, 128, 128, 128, 255, 255, 255}));
  unsigned long mask = 0;
  image.GetFormats(&mask);
  EXPECT_EQ(mask, 0xCDu);
  _HistTable h{};
  ASSERT_EQ(image.GetHistTable(&h, 0, 0), 0);
  EXPECT_EQ(h.counts[128], 1u);
}

}  // namespace
