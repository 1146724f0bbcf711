// BMP reading and writing through the public file operations.
#include <gtest/gtest.h>

#include <vector>

#include "fixtures.h"

using namespace fixtures;

namespace {

long Open(TesseraClass& image, const std::string& path, const tagTes_Transform_Struct& t = TesseraClass::m_s_EmptyTransform) {
  char* p = const_cast<char*>(path.c_str());
  return image.OpenImage(p, t, nullptr, nullptr);
}

long SaveBmp(const TesseraClass& image, const std::string& path, long (*progress)(long, long, void*) = nullptr,
             void* user = nullptr) {
  const tagTes_File_Spec spec{path.c_str(), TES_FILE_BMP, 0};
  return image.Save(spec, progress, user, 0);
}

struct Shape {
  int width, height;
  int16_t colorSpace;
};

class BmpRoundTrip : public ::testing::TestWithParam<Shape> {};

// Images written here have the documented layout, and read back pixel for pixel.
TEST_P(BmpRoundTrip, WritesTheLayoutAndReadsItBack) {
  const Shape s = GetParam();
  ScratchDir dir;
  const std::string path = dir.Path("out.bmp");
  TesseraClass source(0, s.colorSpace);
  ASSERT_EQ(FillPattern(source, s.width, s.height, s.colorSpace, 300.0), 0);
  ASSERT_EQ(SaveBmp(source, path), 0);

  const bool grey = s.colorSpace == TES_CS_GRAY8;
  const int channels = grey ? 1 : 3;
  const size_t stride = (static_cast<size_t>(s.width) * channels + 3) / 4 * 4;
  const size_t offset = grey ? 1078 : 54;
  const Bytes file = ReadBytes(path);
  ASSERT_EQ(file.size(), offset + stride * s.height);
  EXPECT_EQ(file[0], 'B');
  EXPECT_EQ(file[1], 'M');
  EXPECT_EQ(Get32(file, 2), file.size());
  EXPECT_EQ(Get32(file, 10), offset);
  EXPECT_EQ(Get32(file, 14), 40u);
  EXPECT_EQ(Get32(file, 18), static_cast<uint32_t>(s.width));
  EXPECT_EQ(Get32(file, 22), static_cast<uint32_t>(s.height));  // positive: bottom-up
  EXPECT_EQ(file[28], grey ? 8 : 24);
  EXPECT_EQ(Get32(file, 38), 11809u);  // 300 dpi
  EXPECT_EQ(Get32(file, 42), 11809u);
  EXPECT_EQ(Get32(file, 46), 0u);
  if (grey) {
    for (int i = 0; i < 256; ++i) EXPECT_EQ(Get32(file, 54 + 4 * i), static_cast<uint32_t>(i * 0x010101)) << i;
  }
  // The first file row is the image's bottom row, blue first; pads are zero.
  const uint8_t* bottom = file.data() + offset;
  EXPECT_EQ(bottom[0], Sample(0, s.height - 1, grey ? 0 : 2));
  for (size_t row = 0; row < static_cast<size_t>(s.height); ++row)
    for (size_t pad = static_cast<size_t>(s.width) * channels; pad < stride; ++pad)
      ASSERT_EQ(file[offset + row * stride + pad], 0) << "row " << row;

  TesseraClass back(0, TES_CS_RGB24);
  ASSERT_EQ(Open(back, path), 0);
  tagTes_Image_Desc desc{};
  back.GetImageDesc(&desc);
  EXPECT_EQ(desc.width, s.width);
  EXPECT_EQ(desc.height, s.height);
  EXPECT_EQ(desc.colorSpace, s.colorSpace);
  EXPECT_EQ(desc.resolution, 300.0);
  EXPECT_EQ(Pixels(back), PatternPixels(s.width, s.height, s.colorSpace));
}

INSTANTIATE_TEST_SUITE_P(Shapes, BmpRoundTrip,
                         ::testing::Values(Shape{1, 1, TES_CS_RGB24}, Shape{1, 3, TES_CS_RGB24},
                                           Shape{3, 2, TES_CS_GRAY8}, Shape{127, 129, TES_CS_RGB24},
                                           Shape{129, 300, TES_CS_GRAY8}, Shape{257, 260, TES_CS_RGB24}));

// Files made field by field: the layouts the reader takes and what it makes of them.
struct Accepted {
  const char* name;
  BmpSpec spec;
  double dpi;
};

class BmpAccepted : public ::testing::TestWithParam<Accepted> {};

TEST_P(BmpAccepted, OpensWithThePatternPixels) {
  const Accepted a = GetParam();
  ScratchDir dir;
  const std::string path = dir.Path("in.bmp");
  WriteBytes(path, MakeBmp(a.spec));
  const int rows = a.spec.height < 0 ? -a.spec.height : a.spec.height;
  const int channels = a.spec.bits == 8 ? 1 : 3;
  const int16_t space = channels == 1 ? TES_CS_GRAY8 : TES_CS_RGB24;

  tagTes_Image_Desc tested{};
  short type = 0, thumb = 5;
  char* p = const_cast<char*>(path.c_str());
  ASSERT_EQ(TesseraClass::TestFile(p, &tested, &type, &thumb), 0);
  EXPECT_EQ(type, TES_FILE_BMP);
  EXPECT_EQ(thumb, 0);
  EXPECT_EQ(tested.width, a.spec.width);
  EXPECT_EQ(tested.height, rows);
  EXPECT_EQ(tested.colorSpace, space);
  const uint16_t bits[4] = {8, static_cast<uint16_t>(channels == 3 ? 8 : 0), static_cast<uint16_t>(channels == 3 ? 8 : 0), 0};
  EXPECT_TRUE(std::equal(bits, bits + 4, tested.bitsPerChannel));
  EXPECT_EQ(tested.resolution, a.dpi);

  TesseraClass image(0, TES_CS_RGB24);
  ASSERT_EQ(Open(image, path), 0);
  EXPECT_EQ(Pixels(image), PatternPixels(a.spec.width, rows, space));
}

BmpSpec With(BmpSpec s, void (*change)(BmpSpec&)) {
  change(s);
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, BmpAccepted,
    ::testing::Values(
        Accepted{"colour", BmpSpec{}, 300.0},
        Accepted{"grey", With({}, [](BmpSpec& s) { s.bits = 8; }), 300.0},
        Accepted{"grey_colors_used_256", With({}, [](BmpSpec& s) { s.bits = 8, s.colorsUsed = 256; }), 300.0},
        Accepted{"one_pixel_wide", With({}, [](BmpSpec& s) { s.width = 1, s.height = 3; }), 300.0},
        Accepted{"top_down", With({}, [](BmpSpec& s) { s.height = -4; }), 300.0},
        Accepted{"top_down_grey_tall", With({}, [](BmpSpec& s) { s.height = -200, s.bits = 8; }), 300.0},
        Accepted{"v4_header", With({}, [](BmpSpec& s) { s.headerSize = 108; }), 300.0},
        Accepted{"v5_header_grey", With({}, [](BmpSpec& s) { s.headerSize = 124, s.bits = 8; }), 300.0},
        Accepted{"rows_after_a_gap", With({}, [](BmpSpec& s) { s.gap = 70; }), 300.0},
        Accepted{"grey_rows_after_a_gap", With({}, [](BmpSpec& s) { s.gap = 2, s.bits = 8; }), 300.0},
        Accepted{"no_resolution", With({}, [](BmpSpec& s) { s.pixelsPerMetre = 0; }), 72.0},
        Accepted{"72_dpi", With({}, [](BmpSpec& s) { s.pixelsPerMetre = 2835; }), 72.0},
        Accepted{"3780_per_metre", With({}, [](BmpSpec& s) { s.pixelsPerMetre = 3780; }), 96.0}),
    [](const auto& info) { return std::string(info.param.name); });

// The pixel-data offset is used only when it lies after the headers and inside the file.
TEST(BmpReader, IgnoresAnOffsetInsideTheHeadersOrPastTheEnd) {
  ScratchDir dir;
  for (const uint32_t offset : {0u, 20u, 53u, 1u << 30}) {
    Bytes b = MakeBmp({});
    Put32(b, 10, offset);
    WriteBytes(dir.Path("in.bmp"), b);
    TesseraClass image(0, TES_CS_RGB24);
    ASSERT_EQ(Open(image, dir.Path("in.bmp")), 0) << offset;
    EXPECT_EQ(Pixels(image), PatternPixels(5, 4, TES_CS_RGB24)) << offset;
  }
}

// Every refusal, in the order the checks run: when two fields are wrong, the first check wins.
struct Refused {
  const char* name;
  long status;
  Bytes bytes;
};

Bytes Changed(BmpSpec s, void (*change)(BmpSpec&)) { return MakeBmp(With(s, change)); }
Bytes Cut(Bytes b, size_t size) {
  b.resize(size);
  return b;
}

class BmpRefused : public ::testing::TestWithParam<Refused> {};

TEST_P(BmpRefused, OpenImageAnswersTheCode) {
  const Refused& r = GetParam();
  ScratchDir dir;
  const std::string path = dir.Path("in.bmp");
  WriteBytes(path, r.bytes);
  TesseraClass image(0, TES_CS_RGB24);
  EXPECT_EQ(Open(image, path), r.status);
  // Allowed to fall back to the full image, the thumbnail reader refuses the same way.
  char* p = const_cast<char*>(path.c_str());
  EXPECT_EQ(image.OpenThumbnail(p, TesseraClass::m_s_EmptyTransform, nullptr, nullptr, 1), r.status);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, BmpRefused,
    ::testing::Values(
        Refused{"not_bm", TES_ERR_UNKNOWN_FORMAT, [] { Bytes b = MakeBmp({}); b[1] = 'A'; return b; }()},
        Refused{"header_size_100", TES_ERR_BMP_HEADER, Changed({}, [](BmpSpec& s) { s.headerSize = 100; })},
        Refused{"header_size_8", TES_ERR_BMP_HEADER, Changed({}, [](BmpSpec& s) { s.headerSize = 8; })},
        Refused{"width_0", TES_ERR_BMP_HEADER, Changed({}, [](BmpSpec& s) { s.width = 0; })},
        Refused{"width_negative", TES_ERR_BMP_HEADER, Changed({}, [](BmpSpec& s) { s.width = -5; })},
        Refused{"height_0", TES_ERR_BMP_HEADER, Changed({}, [](BmpSpec& s) { s.height = 0; })},
        Refused{"planes_2", TES_ERR_BMP_HEADER, Changed({}, [](BmpSpec& s) { s.planes = 2; })},
        Refused{"planes_before_depth", TES_ERR_BMP_HEADER, Changed({}, [](BmpSpec& s) { s.planes = 0, s.bits = 2; })},
        Refused{"depth_2", TES_ERR_BMP_DEPTH, Changed({}, [](BmpSpec& s) { s.bits = 2; })},
        Refused{"depth_before_colors", TES_ERR_BMP_DEPTH, Changed({}, [](BmpSpec& s) { s.bits = 12, s.colorsUsed = 300; })},
        Refused{"grey_with_300_colors", TES_ERR_BMP_COLORS_USED, Changed({}, [](BmpSpec& s) { s.bits = 8, s.colorsUsed = 300; })},
        Refused{"colors_before_compression", TES_ERR_BMP_COLORS_USED,
                Changed({}, [](BmpSpec& s) { s.bits = 8, s.colorsUsed = 257, s.compression = 9; })},
        Refused{"rle8_of_24_bits", TES_ERR_BMP_COMPRESSED, Changed({}, [](BmpSpec& s) { s.compression = 1; })},
        Refused{"rle4_of_8_bits", TES_ERR_BMP_COMPRESSED, Changed({}, [](BmpSpec& s) { s.bits = 8, s.compression = 2; })},
        Refused{"bitfields_of_24_bits", TES_ERR_BMP_COMPRESSED, Changed({}, [](BmpSpec& s) { s.headerSize = 124, s.compression = 3; })},
        Refused{"huffman", TES_ERR_BMP_COMPRESSED, Changed({}, [](BmpSpec& s) { s.compression = 4; })},
        Refused{"os2_coding_3", TES_ERR_BMP_COMPRESSED, Changed({}, [](BmpSpec& s) { s.headerSize = 64, s.bits = 32, s.compression = 3; })},
        // Run-length data far too short for the size the header claims (a bomb).
        Refused{"rle_claiming_too_much", TES_ERR_BMP_HEADER, [] {
                  Bytes b = MakeBmp({8, 1, 8});
                  Put32(b, 30, 1);  // RLE8
                  Put32(b, 18, 1 << 20);
                  Put32(b, 22, 1 << 20);
                  return b;
                }()},
        // Sizes that cannot fit in the file are refused before anything is allocated.
        Refused{"rows_past_the_end", TES_ERR_BMP_HEADER, Cut(MakeBmp({}), 54 + 16 * 3)},
        Refused{"huge_width", TES_ERR_BMP_HEADER, [] { Bytes b = MakeBmp({}); Put32(b, 18, 0x7FFFFFFF); return b; }()},
        Refused{"huge_height", TES_ERR_BMP_HEADER, [] { Bytes b = MakeBmp({}); Put32(b, 22, 0x7FFFFFFF); return b; }()},
        Refused{"most_negative_height", TES_ERR_BMP_HEADER, [] { Bytes b = MakeBmp({}); Put32(b, 22, 0x80000000u); return b; }()},
        Refused{"file_header_cut", TES_ERR_IN_EOF, Cut(MakeBmp({}), 9)},
        Refused{"info_header_cut", TES_ERR_IN_EOF, Cut(MakeBmp({}), 30)},
        Refused{"v5_header_cut", TES_ERR_IN_EOF, Cut(Changed({}, [](BmpSpec& s) { s.headerSize = 124; }), 100)},
        Refused{"palette_cut", TES_ERR_IN_EOF, Cut(Changed({}, [](BmpSpec& s) { s.bits = 8, s.width = 600, s.height = 1; }), 54 + 500)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BmpReader, TestFileChecksTheHeadersButNotThePalette) {
  ScratchDir dir;
  const std::string path = dir.Path("in.bmp");
  char* p = const_cast<char*>(path.c_str());
  tagTes_Image_Desc desc{};
  short type = 0, thumb = 0;
  WriteBytes(path, Changed({}, [](BmpSpec& s) { s.bits = 2; }));
  EXPECT_EQ(TesseraClass::TestFile(p, &desc, &type, &thumb), TES_ERR_BMP_DEPTH);
  EXPECT_EQ(type, 0);
  WriteBytes(path, Changed({}, [](BmpSpec& s) { s.bits = 8, s.greyRamp = false; }));
  EXPECT_EQ(TesseraClass::TestFile(p, &desc, &type, &thumb), 0);
  EXPECT_EQ(type, TES_FILE_BMP);
}

// The read transform is applied as the image is stored, bottom-up and top-down alike.
TEST(BmpReader, StoresThePixelsTurnedByTheTransform) {
  ScratchDir dir;
  const int W = 5, H = 3;
  for (const int height : {H, -H}) {
    WriteBytes(dir.Path("in.bmp"), Changed({}, height > 0 ? +[](BmpSpec& s) { s.height = 3; } : +[](BmpSpec& s) { s.height = -3; }));
    for (const uint16_t mirror : {0, 1})
      for (const double angle : {0.0, 90.0, 180.0, -90.0}) {
        const tagTes_Transform_Struct t{mirror, angle};
        TesseraClass image(0, TES_CS_RGB24);
        ASSERT_EQ(Open(image, dir.Path("in.bmp"), t), 0);
        const Bytes stored = Pixels(image);
        tagTes_Image_Desc desc{};
        image.GetImageDesc(&desc);
        for (int y = 0; y < H; ++y)
          for (int x = 0; x < W; ++x) {
            tagTes_Point at{x, y};
            TesseraClass::ConvertAndTransformPoint(&at, {W, H}, t, 1);
            for (int c = 0; c < 3; ++c)
              ASSERT_EQ(stored[(static_cast<size_t>(at.y) * desc.width + at.x) * 3 + c], Sample(x, y, c))
                  << "height " << height << " mirror " << mirror << " angle " << angle;
          }
      }
  }
}

// A second file opened into the same object replaces the first, whatever their sizes.
TEST(BmpReader, ReplacesTheImageOfAnObjectThatHoldsOne) {
  ScratchDir dir;
  WriteBytes(dir.Path("big.bmp"), Changed({}, [](BmpSpec& s) { s.width = 300, s.height = 200; }));
  WriteBytes(dir.Path("small.bmp"), Changed({}, [](BmpSpec& s) { s.width = 3, s.height = 2, s.bits = 8; }));
  TesseraClass image(0, TES_CS_RGB24);
  ASSERT_EQ(Open(image, dir.Path("big.bmp")), 0);
  ASSERT_EQ(Open(image, dir.Path("small.bmp")), 0);
  EXPECT_EQ(Pixels(image), PatternPixels(3, 2, TES_CS_GRAY8));
  ASSERT_EQ(Open(image, dir.Path("big.bmp"), {0, 90.0}), 0);
  tagTes_Image_Desc desc{};
  image.GetImageDesc(&desc);
  EXPECT_EQ(desc.width, 200);
  EXPECT_EQ(desc.height, 300);
}

TEST(BmpReader, OpenThumbnailAnswers1014OrLoadsTheFullImage) {
  ScratchDir dir;
  const std::string path = dir.Path("in.bmp");
  char* p = const_cast<char*>(path.c_str());
  WriteBytes(path, MakeBmp({}));
  TesseraClass image(0, TES_CS_GRAY8);
  ASSERT_EQ(FillPattern(image, 2, 2, TES_CS_GRAY8), 0);
  EXPECT_EQ(image.OpenThumbnail(p, TesseraClass::m_s_EmptyTransform, nullptr, nullptr, 0), TES_ERR_NO_THUMBNAIL);
  EXPECT_EQ(Pixels(image), PatternPixels(2, 2, TES_CS_GRAY8)) << "the object keeps its image";
  // Without a full image allowed, only the type is looked at: a malformed BMP still has none.
  WriteBytes(path, Changed({}, [](BmpSpec& s) { s.bits = 2; }));
  EXPECT_EQ(image.OpenThumbnail(p, TesseraClass::m_s_EmptyTransform, nullptr, nullptr, 0), TES_ERR_NO_THUMBNAIL);
  WriteBytes(path, MakeBmp({}));
  ASSERT_EQ(image.OpenThumbnail(p, TesseraClass::m_s_EmptyTransform, nullptr, nullptr, 1), 0);
  EXPECT_EQ(Pixels(image), PatternPixels(5, 4, TES_CS_RGB24));
}

// Progress: after every row whose index is a multiple of 128, with (rows, that index).
struct Calls {
  std::vector<std::pair<long, long>> seen;
  long answer = 0;
};
long Record(long total, long done, void* user) {
  auto* calls = static_cast<Calls*>(user);
  calls->seen.emplace_back(total, done);
  return calls->answer;
}

TEST(BmpProgress, IsReportedEvery128RowsWhenReadingAndWriting) {
  ScratchDir dir;
  TesseraClass source(0, TES_CS_RGB24);
  ASSERT_EQ(FillPattern(source, 3, 300, TES_CS_RGB24), 0);
  Calls written;
  ASSERT_EQ(SaveBmp(source, dir.Path("out.bmp"), &Record, &written), 0);
  const std::vector<std::pair<long, long>> expected{{300, 0}, {300, 128}, {300, 256}};
  EXPECT_EQ(written.seen, expected);
  Calls read;
  TesseraClass back(0, TES_CS_RGB24);
  std::string path = dir.Path("out.bmp");
  ASSERT_EQ(back.OpenImage(path.data(), TesseraClass::m_s_EmptyTransform, &Record, &read), 0);
  EXPECT_EQ(read.seen, expected);
}

TEST(BmpProgress, ACallbackAnswering7StopsWithResult7) {
  ScratchDir dir;
  std::string path = dir.Path("out.bmp");
  TesseraClass source(0, TES_CS_RGB24);
  ASSERT_EQ(FillPattern(source, 3, 300, TES_CS_RGB24), 0);
  Calls stop;
  stop.answer = 7;
  EXPECT_EQ(SaveBmp(source, path, &Record, &stop), 7);
  EXPECT_EQ(stop.seen.size(), 1u);
  // What was written stays: the headers and the first row.
  EXPECT_EQ(ReadBytes(path).size(), 54u + 12u);

  ASSERT_EQ(SaveBmp(source, path), 0);
  Calls stopRead;
  stopRead.answer = 7;
  TesseraClass back(0, TES_CS_RGB24);
  EXPECT_EQ(back.OpenImage(path.data(), TesseraClass::m_s_EmptyTransform, &Record, &stopRead), 7);
  EXPECT_EQ(stopRead.seen.size(), 1u);
  // The bottom row was stored before the stop.
  uint8_t pixel[3];
  tagTes_Tile_Desc one{{0, 299, 1, 1}, 3, 0};
  ASSERT_EQ(back.GetData(one, pixel), 0);
  EXPECT_EQ(pixel[0], Sample(0, 299, 0));
}

TEST(BmpWriter, RefusesImagesItCannotHold) {
  ScratchDir dir;
  for (const int16_t cs : {TES_CS_GRAY16, TES_CS_RGB48}) {
    TesseraClass image(0, cs);
    tagTes_Image_Desc desc{4, 4, cs, {}, 72.0};
    ASSERT_EQ(image.SetImageDesc(desc, TesseraClass::m_s_EmptyTransform), 0);
    std::vector<uint8_t> pixels(4 * 4 * 6);
    ASSERT_EQ(image.SetData({{0, 0, 4, 4}, 24, 0}, TesseraClass::m_s_EmptyTransform, pixels.data()), 0);
    EXPECT_EQ(SaveBmp(image, dir.Path("out.bmp")), TES_ERR_CANNOT_STORE) << cs;
  }
  // An object without an image is not written as a file no reader would take.
  TesseraClass empty(0, TES_CS_RGB24);
  EXPECT_EQ(SaveBmp(empty, dir.Path("empty.bmp")), TES_ERR_NO_IMAGE);
}

// Pixels per metre and dots per inch, both ways, as the formulas give them.
TEST(BmpResolution, WholeDotsPerInchSurviveTheRoundTrip) {
  ScratchDir dir;
  const struct {
    double dpi;
    uint32_t perMetre;
    double readBack;
  } cases[] = {{300.0, 11809, 300.0}, {72.0, 2834, 72.0}, {4000.0, 157444, 4000.0}, {1.0, 40, 1.0},
               {0.0, 0, 72.0},        {299.5, 11789, 300.0}};
  for (const auto& c : cases) {
    TesseraClass image(0, TES_CS_RGB24);
    ASSERT_EQ(FillPattern(image, 2, 2, TES_CS_RGB24, c.dpi), 0);
    ASSERT_EQ(SaveBmp(image, dir.Path("r.bmp")), 0);
    const Bytes file = ReadBytes(dir.Path("r.bmp"));
    EXPECT_EQ(Get32(file, 38), c.perMetre) << c.dpi;
    EXPECT_EQ(Get32(file, 42), c.perMetre) << c.dpi;
    TesseraClass back(0, TES_CS_RGB24);
    ASSERT_EQ(Open(back, dir.Path("r.bmp")), 0);
    tagTes_Image_Desc desc{};
    back.GetImageDesc(&desc);
    EXPECT_EQ(desc.resolution, c.readBack) << c.dpi;
  }
}

}  // namespace
