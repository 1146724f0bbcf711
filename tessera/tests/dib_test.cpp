// Device-independent bitmaps in memory (tessera/dib.h): a rectangle written as a 24-bit
// bitmap reads back pixel for pixel, and the bitmaps that cannot be read whole are refused.
#include <gtest/gtest.h>

#include <tessera/dib.h>

#include <climits>
#include <functional>
#include <memory>
#include <vector>

#include "fixtures.h"

using namespace fixtures;

namespace {

// A rectangle across tile edges, with rows whose width is not a multiple of 4 bytes.
TEST(Dib, WrittenRectangleHasTheLayoutAndReadsBack) {
  TesseraClass source(0, TES_CS_RGB24);
  ASSERT_EQ(FillPattern(source, 200, 150, TES_CS_RGB24), 0);
  const tagTes_Rect rect{60, 70, 131, 75};
  const size_t stride = (131 * 3 + 3) / 4 * 4;
  const size_t size = tessera::DibBytes24(rect.width, rect.height);
  ASSERT_EQ(size, 40 + stride * 75 + 4);
  Bytes dib(size, 0xAA);
  ASSERT_EQ(tessera::WriteDib24(source, rect, dib.data(), dib.size()), 0);
  EXPECT_EQ(Get32(dib, 0), 40u);
  EXPECT_EQ(Get32(dib, 4), 131u);
  EXPECT_EQ(Get32(dib, 8), 75u);  // positive: bottom-up
  EXPECT_EQ(Get32(dib, 12), 1u | 24u << 16);
  EXPECT_EQ(Get32(dib, 16), 0u);
  EXPECT_EQ(Get32(dib, 20), stride * 75);
  for (size_t at = 24; at < 40; at += 4) EXPECT_EQ(Get32(dib, at), 0u) << at;
  // The first row is the rectangle's bottom one, blue first; pads and the spare bytes are 0.
  EXPECT_EQ(dib[40], Sample(60, 70 + 74, 2));
  EXPECT_EQ(dib[42], Sample(60, 70 + 74, 0));
  for (size_t row = 0; row < 75; ++row)
    for (size_t pad = 131 * 3; pad < stride; ++pad) ASSERT_EQ(dib[40 + row * stride + pad], 0) << row;
  EXPECT_EQ(Get32(dib, size - 4), 0u);

  std::unique_ptr<TesseraClass> back;
  ASSERT_EQ(tessera::ReadDib(dib.data(), dib.size(), 0, &back), 0);
  ASSERT_NE(back, nullptr);
  tagTes_Image_Desc desc{};
  back->GetImageDesc(&desc);
  EXPECT_EQ(desc.width, 131);
  EXPECT_EQ(desc.height, 75);
  EXPECT_EQ(desc.colorSpace, TES_CS_RGB24);
  EXPECT_EQ(desc.resolution, 72.0);  // no pixels per metre given
  const Bytes pixels = Pixels(*back);
  ASSERT_EQ(pixels.size(), size_t{131} * 75 * 3);
  for (int y = 0; y < 75; ++y)
    for (int x = 0; x < 131; ++x)
      for (int c = 0; c < 3; ++c)
        ASSERT_EQ(pixels[(static_cast<size_t>(y) * 131 + x) * 3 + c], Sample(60 + x, 70 + y, c)) << x << "," << y;

  // A bitmap that gives its pixels per metre (a scanner's native transfer) keeps its resolution.
  Put32(dib, 24, 11811);
  ASSERT_EQ(tessera::ReadDib(dib.data(), dib.size(), 0, &back), 0);
  back->GetImageDesc(&desc);
  EXPECT_EQ(desc.resolution, 300.0);
}

TEST(Dib, WriterRefusesWhatItCannotWrite) {
  TesseraClass grey(0, TES_CS_GRAY8);
  ASSERT_EQ(FillPattern(grey, 8, 8, TES_CS_GRAY8), 0);
  Bytes dib(tessera::DibBytes24(8, 8));
  EXPECT_EQ(tessera::WriteDib24(grey, {0, 0, 8, 8}, dib.data(), dib.size()), TES_ERR_CANNOT_STORE);
  TesseraClass rgb(0, TES_CS_RGB24);
  ASSERT_EQ(FillPattern(rgb, 8, 8, TES_CS_RGB24), 0);
  EXPECT_EQ(tessera::WriteDib24(rgb, {0, 0, 8, 8}, dib.data(), dib.size() - 1), TES_ERR_NO_MEMORY);
  EXPECT_EQ(tessera::WriteDib24(rgb, {0, 0, 0, 8}, dib.data(), dib.size()), TES_ERR_NO_IMAGE);
  EXPECT_EQ(tessera::DibBytes24(0, 8), 0u);
  EXPECT_EQ(tessera::DibBytes24(INT32_MAX, 2), 0u);
}

// A 4 x 2 24-bit bitmap (rows of 12 bytes), changed field by field.
Bytes Bitmap(const std::function<void(Bytes&)>& change = nullptr) {
  Bytes b(40 + 12 * 2, 0);
  Put32(b, 0, 40);
  Put32(b, 4, 4);
  Put32(b, 8, 2);
  Put16(b, 12, 1);
  Put16(b, 14, 24);
  if (change) change(b);
  return b;
}

TEST(Dib, ReaderRefusesWhatCannotBeReadWhole) {
  std::unique_ptr<TesseraClass> image;
  ASSERT_EQ(tessera::ReadDib(Bitmap().data(), Bitmap().size(), 0, &image), 0);
  struct Case {
    const char* name;
    Bytes dib;
    long status;
  };
  const Case cases[] = {
      {"header shorter than 40 bytes", Bitmap([](Bytes& b) { Put32(b, 0, 39); }), TES_ERR_BMP_HEADER},
      {"header longer than the bitmap", Bitmap([](Bytes& b) { Put32(b, 0, 100); }), TES_ERR_BMP_HEADER},
      {"no width", Bitmap([](Bytes& b) { Put32(b, 4, 0); }), TES_ERR_BMP_HEADER},
      {"width past 65535", Bitmap([](Bytes& b) { Put32(b, 4, 65536); }), TES_ERR_BMP_HEADER},
      {"no height", Bitmap([](Bytes& b) { Put32(b, 8, 0); }), TES_ERR_BMP_HEADER},
      {"top-down height past 65535", Bitmap([](Bytes& b) { Put32(b, 8, static_cast<uint32_t>(-65536)); }),
       TES_ERR_BMP_HEADER},
      {"the most negative height", Bitmap([](Bytes& b) { Put32(b, 8, 0x80000000u); }), TES_ERR_BMP_HEADER},
      {"two planes", Bitmap([](Bytes& b) { Put16(b, 12, 2); }), TES_ERR_BMP_HEADER},
      {"2-bit depth", Bitmap([](Bytes& b) { Put16(b, 14, 2); }), TES_ERR_BMP_DEPTH},
      {"run-length coded", Bitmap([](Bytes& b) { Put16(b, 14, 8), Put32(b, 16, 1); }), TES_ERR_BMP_COMPRESSED},
      {"bit fields at 24 bits", Bitmap([](Bytes& b) { Put32(b, 16, 3); }), TES_ERR_BMP_COMPRESSED},
      {"palette past the end", Bitmap([](Bytes& b) { Put16(b, 14, 8); }), TES_ERR_BMP_HEADER},
      {"one row byte short", Bitmap([](Bytes& b) { b.pop_back(); }), TES_ERR_BMP_HEADER},
  };
  for (const Case& c : cases) {
    image.reset();
    EXPECT_EQ(tessera::ReadDib(c.dib.data(), c.dib.size(), 0, &image), c.status) << c.name;
    EXPECT_EQ(image, nullptr) << c.name;
  }
  EXPECT_EQ(tessera::ReadDib(Bitmap().data(), 39, 0, &image), TES_ERR_BMP_HEADER);
  EXPECT_EQ(tessera::ReadDib(nullptr, 72, 0, &image), TES_ERR_BMP_HEADER);
}

}  // namespace
