// The FlashPix adapter's inner rules: the thumbnail level, the quality table, the status
// table, the sRGB mark, and a colour space it refuses.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/object_state.h"
#include "formats/fpx/fpx.h"
#include "fixtures.h"

namespace {

using tessera::ChooseFpxThumbnailLevel;
using tessera::FpxStatusToCode;

TEST(FpxThumbnailLevel, HalvesFromTheFullSizeWhileASideExceeds256) {
  const struct {
    unsigned levels;
    uint32_t width, height;
    unsigned level;
    uint32_t thumbWidth, thumbHeight;
  } cases[] = {
      {6, 3000, 2000, 1, 188, 125},  // four halvings, rounding up
      {7, 3000, 2000, 2, 188, 125},
      {3, 3000, 2000, 0, 750, 500},  // no smaller level left
      {1, 100, 50, 0, 100, 50},
      {3, 256, 256, 2, 256, 256},
      {4, 257, 10, 2, 129, 5},
  };
  for (const auto& c : cases) {
    const tessera::FpxLevelChoice choice = ChooseFpxThumbnailLevel(c.levels, c.width, c.height);
    EXPECT_EQ(choice.level, c.level) << c.width << "x" << c.height << " " << c.levels;
    EXPECT_EQ(choice.width, c.thumbWidth);
    EXPECT_EQ(choice.height, c.thumbHeight);
  }
}

TEST(FpxQuality, LevelsOneToFiveOnly) {
  EXPECT_EQ(tessera::FpxQualityFactor(1), 0);
  EXPECT_EQ(tessera::FpxQualityFactor(2), 25);
  EXPECT_EQ(tessera::FpxQualityFactor(3), 50);
  EXPECT_EQ(tessera::FpxQualityFactor(4), 75);
  EXPECT_EQ(tessera::FpxQualityFactor(5), 100);
  EXPECT_EQ(tessera::FpxQualityFactor(0), -1);
  EXPECT_EQ(tessera::FpxQualityFactor(6), -1);
}

TEST(FpxStatus, MapsTheLibrarysStatuses) {
  const struct {
    long status;
    int error;
    long code;
  } cases[] = {
      {FPX_OK, 0, 0},
      {FPX_INVALID_FORMAT_ERROR, 0, 1606},
      {FPX_FILE_WRITE_ERROR, ENOSPC, 1204},
      {FPX_FILE_WRITE_ERROR, EIO, 1607},
      {FPX_FILE_READ_ERROR, 0, 1603},
      {FPX_FILE_NOT_FOUND, 0, 1604},
      {FPX_LOW_MEMORY_ERROR, 0, 1002},
      {FPX_MEMORY_ALLOCATION_FAILED, 0, 1002},
      {FPX_IMAGE_TOO_BIG_ERROR, 0, 1608},
      {FPX_FILE_SYSTEM_FULL, 0, 1605},
      {FPX_INVALID_JPEG_TABLE, 0, 1609},
      {FPX_ILLEGAL_JPEG_ID, 0, 1610},
      {FPX_BAD_COORDINATES, 0, 1601},
      {FPX_USER_ABORT, 0, 1601},
      {FPX_W_COORDINATES_OUT_OF_RANGE, 0, 1601},
      {1001, 0, 1601},
      {FPX_FILE_CREATE_ERROR, 0, 1602},
      {4711, 0, 1602},
  };
  for (const auto& c : cases) EXPECT_EQ(FpxStatusToCode(c.status, c.error), c.code) << c.status;
}

class FpxAdapter : public ::testing::Test {
 protected:
  fixtures::LibraryGuard library;
  std::string dir = [] {
    char name[] = "/tmp/fpx-adapter-XXXXXX";
    return std::string(mkdtemp(name));
  }();
  ~FpxAdapter() override { std::filesystem::remove_all(dir); }
};

// An opened FlashPix image is marked as sRGB, also in an object that is not colour-managed.
TEST_F(FpxAdapter, OpenedImageIsMarkedSrgb) {
  const std::string path = dir + "/grey.fpx";
  TesseraClass source(0, TES_CS_GRAY8);
  ASSERT_EQ(fixtures::Fill(source, 40, 30, TES_CS_GRAY8, fixtures::PatternPixels(40, 30, TES_CS_GRAY8),
                                  TesseraClass::m_s_EmptyTransform),
            0);
  const tagTes_File_Spec spec{path.c_str(), TES_FILE_FPX, 0};
  ASSERT_EQ(source.Save(spec, nullptr, nullptr, 0), 0);
  TesseraClass opened(0, 0);
  ASSERT_FALSE(opened.State().store.srgb());
  ASSERT_EQ(opened.OpenImage(const_cast<char*>(path.c_str()), TesseraClass::m_s_EmptyTransform, nullptr, nullptr), 0);
  EXPECT_TRUE(opened.State().store.srgb());
}

// A file of red, green, blue and alpha is a FlashPix file whose colour space is refused,
// and the target is left untouched.
TEST_F(FpxAdapter, FourChannelFileIsRefused) {
  const std::string path = dir + "/alpha.fpx";
  FPXImageHandle* h = nullptr;
  FPXColorspace space{};
  space.numberOfComponents = 4;
  for (int c = 0; c < 3; ++c)
    space.theComponents[c] = {static_cast<FPXComponentColor>(NIFRGB_R + c), DATA_TYPE_UNSIGNED_BYTE};
  space.theComponents[3] = {ALPHA, DATA_TYPE_UNSIGNED_BYTE};
  ASSERT_EQ(FPX_CreateImageByFilename(const_cast<char*>(path.c_str()), 10, 10, 64, 64, space, FPXBackground{}, NONE,
                                      &h),
            FPX_OK);
  ASSERT_EQ(FPX_CloseImage(h), FPX_OK);

  char* name = const_cast<char*>(path.c_str());
  tagTes_Image_Desc desc{};
  short type = 77, thumbnail = 0;
  EXPECT_EQ(TesseraClass::TestFile(name, &desc, &type, &thumbnail), TES_ERR_FPX_COLOR_SPACE);
  EXPECT_EQ(type, 77);
  TesseraClass image(0, TES_CS_RGB24);
  EXPECT_EQ(image.OpenImage(name, TesseraClass::m_s_EmptyTransform, nullptr, nullptr), TES_ERR_FPX_COLOR_SPACE);
  EXPECT_EQ(image.OpenThumbnail(name, TesseraClass::m_s_EmptyTransform, nullptr, nullptr, 1), TES_ERR_FPX_COLOR_SPACE);
  tagTes_Image_Desc after{};
  image.GetImageDesc(&after);
  EXPECT_EQ(after.width, 0);
}

}  // namespace
