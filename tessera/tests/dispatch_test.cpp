// TestFile, OpenImage, OpenThumbnail and Save: how files reach the readers and writers and
// how their codes come back.
#include <gtest/gtest.h>

#include "fixtures.h"

using namespace fixtures;

namespace {

struct Outcome {
  long test, open, thumbnail, thumbnailOrFull;
};

Outcome AllThree(const std::string& path) {
  std::string p = path;
  char* name = p.data();
  tagTes_Image_Desc desc{};
  short type = 0, thumb = 0;
  TesseraClass image(0, TES_CS_RGB24);
  const tagTes_Transform_Struct none = TesseraClass::m_s_EmptyTransform;
  return {TesseraClass::TestFile(name, &desc, &type, &thumb), image.OpenImage(name, none, nullptr, nullptr),
          image.OpenThumbnail(name, none, nullptr, nullptr, 0), image.OpenThumbnail(name, none, nullptr, nullptr, 1)};
}

void ExpectAll(const Outcome& o, long code) {
  EXPECT_EQ(o.test, code);
  EXPECT_EQ(o.open, code);
  EXPECT_EQ(o.thumbnail, code);
  EXPECT_EQ(o.thumbnailOrFull, code);
}

TEST(Dispatch, AFileOfNoKnownFormatIs1013FromAllThreeOperations) {
  ScratchDir dir;
  const struct {
    const char* name;
    Bytes bytes;
  } files[] = {{"text", Bytes{'h', 'e', 'l', 'l', 'o', ',', ' ', 'w', 'o', 'r', 'l', 'd', '!', '\n', 'x', 'y', 'z'}},
               {"empty", Bytes{}},
               {"one_byte", Bytes{'B'}},
               {"zeros", Bytes(4096, 0)}};
  for (const auto& f : files) {
    SCOPED_TRACE(f.name);
    WriteBytes(dir.Path(f.name), f.bytes);
    ExpectAll(AllThree(dir.Path(f.name)), TES_ERR_UNKNOWN_FORMAT);

    // TestFile leaves every out-value as it was.
    std::string p = dir.Path(f.name);
    char* name = p.data();
    tagTes_Image_Desc desc{};
    desc.width = 1234;
    short type = 77, thumb = 55;
    EXPECT_EQ(TesseraClass::TestFile(name, &desc, &type, &thumb), TES_ERR_UNKNOWN_FORMAT);
    EXPECT_EQ(type, 77);
    EXPECT_EQ(thumb, 55);
    EXPECT_EQ(desc.width, 1234);
  }
}

TEST(Dispatch, StreamCodesPassThrough) {
  ScratchDir dir;
  ExpectAll(AllThree(dir.Path("missing.bmp")), TES_ERR_IN_OPEN);
  // A folder opens but cannot be read.
  ExpectAll(AllThree(dir.Path("")), TES_ERR_IN_READ);
}

TEST(Dispatch, AReaderErrorEndsTheSearch) {
  ScratchDir dir;
  Bytes b = MakeBmp({});
  Put16(b, 28, 2);  // 2 bits per pixel
  WriteBytes(dir.Path("odd.bmp"), b);
  const Outcome o = AllThree(dir.Path("odd.bmp"));
  EXPECT_EQ(o.test, TES_ERR_BMP_DEPTH);
  EXPECT_EQ(o.open, TES_ERR_BMP_DEPTH);
  EXPECT_EQ(o.thumbnail, TES_ERR_NO_THUMBNAIL);
  EXPECT_EQ(o.thumbnailOrFull, TES_ERR_BMP_DEPTH);
}

TEST(Dispatch, ARefusedFileLeavesTheObjectsImage) {
  ScratchDir dir;
  WriteBytes(dir.Path("text"), Bytes(100, 'x'));
  TesseraClass image(0, TES_CS_RGB24);
  ASSERT_EQ(FillPattern(image, 4, 3, TES_CS_RGB24), 0);
  std::string p = dir.Path("text");
  EXPECT_EQ(image.OpenImage(p.data(), TesseraClass::m_s_EmptyTransform, nullptr, nullptr), TES_ERR_UNKNOWN_FORMAT);
  EXPECT_EQ(Pixels(image), PatternPixels(4, 3, TES_CS_RGB24));
}

TEST(Dispatch, SaveReportsFilesThatCannotBeCreatedOrFilled) {
  ScratchDir dir;
  TesseraClass image(0, TES_CS_RGB24);
  ASSERT_EQ(FillPattern(image, 40, 30, TES_CS_RGB24), 0);
  const std::string missingFolder = dir.Path("no/such/folder.bmp");
  EXPECT_EQ(image.Save({missingFolder.c_str(), TES_FILE_BMP, 0}, nullptr, nullptr, 0), TES_ERR_OUT_CREATE);
  // A full disk is reported, never success, even when everything fitted in the buffer and
  // only the final write at close fails.
  EXPECT_EQ(image.Save({"/dev/full", TES_FILE_BMP, 0}, nullptr, nullptr, 0), TES_ERR_DISK_FULL);
  ASSERT_EQ(FillPattern(image, 400, 300, TES_CS_RGB24), 0);
  EXPECT_EQ(image.Save({"/dev/full", TES_FILE_BMP, 0}, nullptr, nullptr, 0), TES_ERR_DISK_FULL);
}

TEST(Dispatch, SaveWithAnUnknownFileTypeLeavesAnExistingFileAlone) {
  ScratchDir dir;
  const std::string path = dir.Path("keep.bmp");
  WriteBytes(path, Bytes{1, 2, 3});
  TesseraClass image(0, TES_CS_RGB24);
  ASSERT_EQ(FillPattern(image, 4, 3, TES_CS_RGB24), 0);
  for (const uint32_t code : {0u, 16u, 32u, 256u, 0x10000u | 3u}) {
    EXPECT_EQ(image.Save({path.c_str(), code, 0}, nullptr, nullptr, 0), TES_ERR_CANNOT_STORE) << code;
    EXPECT_EQ(ReadBytes(path), (Bytes{1, 2, 3})) << code;
  }
  // Only the low 16 bits name the file type.
  EXPECT_EQ(image.Save({path.c_str(), 0x10000u | TES_FILE_BMP, 0}, nullptr, nullptr, 0), 0);
  EXPECT_EQ(ReadBytes(path).size(), 54u + 3u * 12u);
}

}  // namespace
