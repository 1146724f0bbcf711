// FlashPix files through TesseraClass: Save and OpenImage round trips for both file types,
// what TestFile reports, thumbnails, and the codes of the FlashPix reader and writer.
#include <gtest/gtest.h>

#include <filesystem>

#include "fixtures.h"

namespace {

using fixtures::LibraryGuard;

class FlashPixFiles : public ::testing::Test {
 protected:
  LibraryGuard library;
  fixtures::ScratchDir dir;

  static long SaveAs(const TesseraClass& image, const std::string& path, uint32_t type, int32_t option = 0,
                     long (*progress)(long, long, void*) = nullptr) {
    const tagTes_File_Spec spec{path.c_str(), type, option};
    return image.Save(spec, progress, nullptr, 0);
  }
};

struct Case {
  int width, height;
  int16_t colorSpace;
  uint32_t type;
  int maxDifference;  // 0: exact
};

class FlashPixRoundTrip : public FlashPixFiles, public ::testing::WithParamInterface<Case> {};

TEST_P(FlashPixRoundTrip, SavesAndOpens) {
  const Case c = GetParam();
  TesseraClass source(0, c.colorSpace);
  ASSERT_EQ(fixtures::FillPattern(source, c.width, c.height, c.colorSpace, 300.0), 0);
  const std::string path = dir.Path("image.fpx");
  ASSERT_EQ(SaveAs(source, path, c.type, 5), 0);

  tagTes_Image_Desc desc{};
  short type = 0, thumbnail = 0;
  char* name = const_cast<char*>(path.c_str());
  ASSERT_EQ(TesseraClass::TestFile(name, &desc, &type, &thumbnail), 0);
  EXPECT_EQ(type, static_cast<short>(c.type));
  EXPECT_EQ(thumbnail, 1);
  EXPECT_EQ(desc.width, c.width);
  EXPECT_EQ(desc.height, c.height);
  EXPECT_EQ(desc.colorSpace, c.colorSpace);
  EXPECT_EQ(desc.bitsPerChannel[0], 8);
  EXPECT_EQ(desc.bitsPerChannel[2], c.colorSpace == TES_CS_RGB24 ? 8 : 0);
  EXPECT_DOUBLE_EQ(desc.resolution, 300.0);

  TesseraClass opened(0, 0);
  ASSERT_EQ(opened.OpenImage(name, TesseraClass::m_s_EmptyTransform, nullptr, nullptr), 0);
  const fixtures::Bytes expected = fixtures::Pixels(source), got = fixtures::Pixels(opened);
  ASSERT_EQ(got.size(), expected.size());
  int worst = 0;
  for (size_t i = 0; i < got.size(); ++i) worst = std::max(worst, std::abs(int(got[i]) - int(expected[i])));
  EXPECT_LE(worst, c.maxDifference);
}

// Quality level 5 is the library's factor 100: the pattern's hard edges then stay within 8.
INSTANTIATE_TEST_SUITE_P(Files, FlashPixRoundTrip,
                         ::testing::Values(Case{1, 1, TES_CS_GRAY8, TES_FILE_FPX, 0},
                                           Case{65, 65, TES_CS_RGB24, TES_FILE_FPX, 0},
                                           Case{300, 200, TES_CS_GRAY8, TES_FILE_FPX, 0},
                                           Case{257, 130, TES_CS_RGB24, TES_FILE_FPX, 0},
                                           Case{65, 65, TES_CS_GRAY8, TES_FILE_FPX_JPEG, 8},
                                           Case{257, 130, TES_CS_RGB24, TES_FILE_FPX_JPEG, 8}));

// A turn given to OpenImage is applied to the stored image.
TEST_F(FlashPixFiles, OpensTurned) {
  TesseraClass source(0, TES_CS_RGB24);
  ASSERT_EQ(fixtures::FillPattern(source, 70, 40, TES_CS_RGB24), 0);
  const std::string path = dir.Path("turn.fpx");
  ASSERT_EQ(SaveAs(source, path, TES_FILE_FPX), 0);
  TesseraClass turned(0, 0);
  const tagTes_Transform_Struct quarter{0, 90.0};
  ASSERT_EQ(turned.OpenImage(const_cast<char*>(path.c_str()), quarter, nullptr, nullptr), 0);
  tagTes_Image_Desc desc{};
  turned.GetImageDesc(&desc);
  EXPECT_EQ(desc.width, 40);
  EXPECT_EQ(desc.height, 70);
}

// The thumbnail is the first level, from the full size down, with both sides at most 256.
TEST_F(FlashPixFiles, ThumbnailIsAReducedLevel) {
  TesseraClass source(0, TES_CS_RGB24);
  ASSERT_EQ(fixtures::FillPattern(source, 600, 400, TES_CS_RGB24), 0);
  const std::string path = dir.Path("thumb.fpx");
  ASSERT_EQ(SaveAs(source, path, TES_FILE_FPX), 0);
  for (short allowFull : {short{0}, short{1}}) {
    TesseraClass thumb(0, 0);
    ASSERT_EQ(thumb.OpenThumbnail(const_cast<char*>(path.c_str()), TesseraClass::m_s_EmptyTransform, nullptr, nullptr, allowFull),
              0);
    tagTes_Image_Desc desc{};
    thumb.GetImageDesc(&desc);
    EXPECT_EQ(desc.width, 150);
    EXPECT_EQ(desc.height, 100);
  }
}

TEST_F(FlashPixFiles, WriterRefusesWhatItCannotStore) {
  TesseraClass deep(0, TES_CS_RGB48);
  ASSERT_EQ(fixtures::Fill(deep, 20, 20, TES_CS_RGB48, fixtures::PatternPixels(20, 20, TES_CS_RGB48),
                                  TesseraClass::m_s_EmptyTransform),
            0);
  const std::string path = dir.Path("refused.fpx");
  EXPECT_EQ(SaveAs(deep, path, TES_FILE_FPX), TES_ERR_CANNOT_STORE);
  EXPECT_EQ(SaveAs(deep, path, TES_FILE_FPX_JPEG, 3), TES_ERR_CANNOT_STORE);
  EXPECT_FALSE(std::filesystem::exists(path));

  // Quality levels outside 1 to 5 have no quality factor.
  TesseraClass grey(0, TES_CS_GRAY8);
  ASSERT_EQ(fixtures::FillPattern(grey, 20, 20, TES_CS_GRAY8), 0);
  for (int32_t level : {0, 6, -1}) EXPECT_EQ(SaveAs(grey, path, TES_FILE_FPX_JPEG, level), TES_ERR_CANNOT_STORE);
  EXPECT_FALSE(std::filesystem::exists(path));
  // The uncompressed type takes no quality.
  EXPECT_EQ(SaveAs(grey, path, TES_FILE_FPX, 9), 0);
}

TEST_F(FlashPixFiles, OtherFilesAreNotFlashPix) {
  const std::string path = dir.Path("notes.txt");
  fixtures::WriteBytes(path, fixtures::Bytes(3000, 'n'));
  char* name = const_cast<char*>(path.c_str());
  short type = 77;
  EXPECT_EQ(TesseraClass::TestFile(name, nullptr, &type, nullptr), TES_ERR_UNKNOWN_FORMAT);
  EXPECT_EQ(type, 77);
  TesseraClass image(0, 0);
  EXPECT_EQ(image.OpenImage(name, TesseraClass::m_s_EmptyTransform, nullptr, nullptr), TES_ERR_UNKNOWN_FORMAT);
}

// The call-back is called for every band of 128 rows; its non-zero answer stops reading and
// writing and becomes the result.
TEST_F(FlashPixFiles, CallBackRhythmAndAbort) {
  TesseraClass source(0, TES_CS_GRAY8);
  ASSERT_EQ(fixtures::FillPattern(source, 30, 300, TES_CS_GRAY8), 0);
  const std::string path = dir.Path("progress.fpx");
  static std::vector<std::pair<long, long>> calls;
  calls.clear();
  auto record = [](long total, long done, void*) -> long {
    calls.emplace_back(total, done);
    return 0;
  };
  ASSERT_EQ(SaveAs(source, path, TES_FILE_FPX, 0, record), 0);
  EXPECT_EQ(calls, (std::vector<std::pair<long, long>>{{300, 0}, {300, 128}, {300, 256}}));
  calls.clear();
  TesseraClass opened(0, 0);
  ASSERT_EQ(opened.OpenImage(const_cast<char*>(path.c_str()), TesseraClass::m_s_EmptyTransform, record, nullptr), 0);
  EXPECT_EQ(calls, (std::vector<std::pair<long, long>>{{300, 0}, {300, 128}, {300, 256}}));

  // A save the call-back stops leaves no file behind.
  auto stop = [](long, long, void*) -> long { return 7; };
  EXPECT_EQ(SaveAs(source, dir.Path("stopped.fpx"), TES_FILE_FPX, 0, stop), 7);
  EXPECT_FALSE(std::filesystem::exists(dir.Path("stopped.fpx")));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path("")), {}), 1);  // progress.fpx alone
  EXPECT_EQ(opened.OpenImage(const_cast<char*>(path.c_str()), TesseraClass::m_s_EmptyTransform, stop, nullptr), 7);
}

// The library's write failure on a full disk is reported as a full disk.
TEST_F(FlashPixFiles, FullDiskIs1204) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  TesseraClass source(0, TES_CS_RGB24);
  ASSERT_EQ(fixtures::FillPattern(source, 200, 200, TES_CS_RGB24), 0);
  EXPECT_EQ(SaveAs(source, "/dev/full", TES_FILE_FPX), TES_ERR_DISK_FULL);
}

}  // namespace
