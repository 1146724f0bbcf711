// The format table: slots without a format answer as the dispatch promises, without
// touching a file of the user's.
#include <gtest/gtest.h>

#include "fixtures.h"
#include "formats/format.h"

using namespace fixtures;

namespace {

TEST(FormatSlots, SavingToAFormatNotBuiltAnswers1015AndKeepsTheFile) {
  const tessera::FormatTable& formats = tessera::Formats();
  const struct {
    uint32_t code;
    bool built;
  } codes[] = {{TES_FILE_TIFF, formats.tiff.writer != nullptr},
               {TES_FILE_TIFF_COMPRESSED, formats.tiff.writer != nullptr},
               {TES_FILE_JPEG, formats.jpeg.writer != nullptr},
               {TES_FILE_BMP, formats.bmp.writer != nullptr},
               {TES_FILE_FPX, formats.fpx.writer != nullptr},
               {TES_FILE_FPX_JPEG, formats.fpx.writer != nullptr}};
  EXPECT_NE(formats.bmp.reader, nullptr);
  EXPECT_NE(formats.bmp.writer, nullptr);
  ScratchDir dir;
  const std::string path = dir.Path("keep");
  TesseraClass image(0, TES_CS_RGB24);
  ASSERT_EQ(FillPattern(image, 4, 3, TES_CS_RGB24), 0);
  for (const auto& c : codes) {
    if (c.built) continue;
    WriteBytes(path, Bytes{9, 8, 7});
    EXPECT_EQ(image.Save({path.c_str(), c.code, 3}, nullptr, nullptr, 0), TES_ERR_CANNOT_STORE) << c.code;
    EXPECT_EQ(ReadBytes(path), (Bytes{9, 8, 7})) << c.code;
  }
}

TEST(FormatSlots, DescribeTargetEmptiesTheObjectFirst) {
  TesseraClass image(0, TES_CS_RGB24);
  ASSERT_EQ(FillPattern(image, 300, 20, TES_CS_RGB24), 0);
  const tagTes_Image_Desc desc{2, 2, TES_CS_GRAY8, {}, 150.0};
  ASSERT_EQ(tessera::DescribeTarget(image, desc, TesseraClass::m_s_EmptyTransform), 0);
  tagTes_Tile_Desc all{{0, 0, 2, 2}, 2, 0};
  uint8_t out[4];
  EXPECT_EQ(image.GetData(all, out), TES_ERR_NO_IMAGE) << "no tile of the old image remains";
  const uint8_t in[4] = {1, 2, 3, 4};
  ASSERT_EQ(image.SetData(all, TesseraClass::m_s_EmptyTransform, const_cast<uint8_t*>(in)), 0);
  ASSERT_EQ(image.GetData(all, out), 0);
  EXPECT_EQ(Bytes(out, out + 4), Bytes(in, in + 4));
}

}  // namespace
