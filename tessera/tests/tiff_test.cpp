// TIFF files through the public operations: files built field by field open with the
// pattern's pixels in every colour space, byte order and strip layout; every check answers
// its code; files written here have the fixed layout and read back unchanged.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "fixtures.h"
#include "tiff_fixtures.h"

using namespace fixtures;
using namespace tiff_fixtures;

namespace {

const tagTes_Transform_Struct kNone = TesseraClass::m_s_EmptyTransform;

int BitsOf(int cs) { return (cs == 0 || cs == 2 || cs == 4) ? 8 : 16; }

// Starts the library with the profiles the build makes, so colour-managed objects (which
// hold CMYK and Lab) can be filled and carry an ICC profile.
class TiffFiles : public fixtures::ManagedLibraryTest {
 protected:
  void SetUp() override {
    StartLibrary({}, "/usr/share/color/icc/ghostscript/default_cmyk.icc");
  }

  bool HaveProfiles() const { return !color_.empty(); }

  std::string Put(const Bytes& bytes, const std::string& name = "in.tif") {
    const std::string path = dir_.Path(name);
    WriteBytes(path, bytes);
    return path;
  }

  static long Open(TesseraClass& image, std::string path, const tagTes_Transform_Struct& t = kNone,
                   long (*progress)(long, long, void*) = nullptr, void* param = nullptr) {
    return image.OpenImage(path.data(), t, progress, param);
  }

  static long Test(std::string path, tagTes_Image_Desc* desc = nullptr, short* type = nullptr,
                   short* thumbnail = nullptr) {
    tagTes_Image_Desc d{};
    short t = 0, h = 0;
    return TesseraClass::TestFile(path.data(), desc ? desc : &d, type ? type : &t, thumbnail ? thumbnail : &h);
  }

  static Bytes All(const TesseraClass& image) {
    tagTes_Image_Desc desc{};
    image.GetImageDesc(&desc);
    const int bpp = ChannelsOf(desc.colorSpace) * BitsOf(desc.colorSpace) / 8;
    Bytes pixels(static_cast<size_t>(desc.width) * desc.height * bpp);
    const tagTes_Tile_Desc tile{{0, 0, desc.width, desc.height}, desc.width * bpp, 0};
    if (pixels.empty() || image.GetData(tile, pixels.data()) != 0) return {};
    return pixels;
  }

  // An object of the kind that holds the colour space, filled with the pattern.
  static long FillWith(TesseraClass& image, int cs, int width, int height, double dpi) {
    tagTes_Image_Desc desc{width, height, static_cast<int16_t>(cs), {0, 0, 0, 0}, dpi};
    if (const long s = image.SetImageDesc(desc, kNone)) return s;
    Bytes pixels = StorePixels(width, height, ChannelsOf(cs), BitsOf(cs));
    const tagTes_Tile_Desc tile{{0, 0, width, height}, width * ChannelsOf(cs) * BitsOf(cs) / 8, 0};
    return image.SetData(tile, kNone, pixels.data());
  }

  ScratchDir dir_;
};

// --- Reading -------------------------------------------------------------------------

struct ReadCase {
  const char* name;
  int cs, samples, bits, photometric;
  bool big;
  int width, height, rowsPerStrip, planar;
  bool bigTiff = false;
};

class TiffReadLayouts : public TiffFiles, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(TiffReadLayouts, OpensWithThePatternsPixels) {
  const ReadCase c = GetParam();
  const bool managed = c.cs == TES_CS_CMYK32 || c.cs == TES_CS_LAB48;
  if (managed && !HaveProfiles()) GTEST_SKIP() << "no profile folder";
  Spec spec;
  spec.big = c.big;
  spec.bigTiff = c.bigTiff;
  spec.width = c.width;
  spec.height = c.height;
  spec.samples = c.samples;
  spec.bits = c.bits;
  spec.photometric = c.photometric;
  spec.rowsPerStrip = c.rowsPerStrip;
  spec.planar = c.planar;
  const std::string path = Put(MakeTiff(spec));

  tagTes_Image_Desc tested{};
  short type = 0;
  ASSERT_EQ(Test(path, &tested, &type), 0);
  EXPECT_EQ(type, TES_FILE_TIFF);
  EXPECT_EQ(tested.colorSpace, c.cs);
  EXPECT_EQ(tested.width, c.width);
  EXPECT_EQ(tested.height, c.height);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(tested.bitsPerChannel[i], i < c.samples ? c.bits : 0) << i;
  EXPECT_EQ(tested.resolution, 300.0);

  TesseraClass image(managed ? TES_FLAG_COLOR_MANAGED : 0, TES_CS_RGB24);
  ASSERT_EQ(Open(image, path), 0);
  tagTes_Image_Desc desc{};
  image.GetImageDesc(&desc);
  EXPECT_EQ(desc.colorSpace, c.cs);
  EXPECT_EQ(desc.resolution, 300.0);
  // The pattern's a and b samples, written as they stand, are signed in the file.
  const Bytes pattern = StorePixels(c.width, c.height, c.samples, c.bits);
  EXPECT_EQ(All(image), c.cs == TES_CS_LAB48 ? SignedLabAsStored(pattern) : pattern);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, TiffReadLayouts,
    ::testing::Values(ReadCase{"grey8_le_one_strip", 0, 1, 8, 1, false, 5, 4, 0, 1},
                      ReadCase{"grey16_be_strips_of_3", 1, 1, 16, 1, true, 7, 10, 3, 1},
                      ReadCase{"grey16_le_planar2", 1, 1, 16, 1, false, 7, 10, 4, 2},
                      ReadCase{"rgb8_le_strips_of_1", 2, 3, 8, 2, false, 5, 4, 1, 1},
                      ReadCase{"rgb8_be_planar2", 2, 3, 8, 2, true, 6, 5, 2, 2},
                      ReadCase{"rgb16_be_one_strip", 3, 3, 16, 2, true, 5, 4, 0, 1},
                      ReadCase{"rgb16_le_planar2", 3, 3, 16, 2, false, 5, 4, 0, 2},
                      ReadCase{"rgb16_be_batches", 3, 3, 16, 2, true, 130, 300, 7, 1},
                      ReadCase{"rgb16_le_batches", 3, 3, 16, 2, false, 130, 300, 7, 1},
                      ReadCase{"grey8_le_batches", 0, 1, 8, 1, false, 257, 300, 9, 1},
                      ReadCase{"rgb8_le_planar2_batches", 2, 3, 8, 2, false, 129, 260, 50, 2},
                      ReadCase{"cmyk8_le_strips_of_3", 4, 4, 8, 5, false, 5, 7, 3, 1},
                      ReadCase{"cmyk8_be_planar2", 4, 4, 8, 5, true, 5, 7, 0, 2},
                      ReadCase{"lab16_le_one_strip", 5, 3, 16, 8, false, 5, 4, 0, 1},
                      ReadCase{"lab16_be_strips_of_2", 5, 3, 16, 8, true, 5, 4, 2, 1},
                      ReadCase{"bigtiff_rgb16_le_batches", 3, 3, 16, 2, false, 130, 300, 7, 1, true},
                      ReadCase{"bigtiff_grey8_be_one_strip", 0, 1, 8, 1, true, 5, 4, 0, 1, true},
                      ReadCase{"bigtiff_rgb8_be_planar2", 2, 3, 8, 2, true, 6, 5, 2, 2, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TiffFiles, BigEndian16BitRgbOpensLikeItsLittleEndianTwin) {
  Spec spec;
  spec.bits = 16;
  spec.width = 9;
  spec.height = 6;
  spec.rowsPerStrip = 4;
  const std::string le = Put(MakeTiff(spec), "le.tif");
  spec.big = true;
  const std::string be = Put(MakeTiff(spec), "be.tif");
  EXPECT_NE(ReadBytes(le), ReadBytes(be));
  TesseraClass a(0, TES_CS_RGB24), b(0, TES_CS_RGB24);
  ASSERT_EQ(Open(a, le), 0);
  ASSERT_EQ(Open(b, be), 0);
  EXPECT_EQ(All(a), All(b));
  EXPECT_FALSE(All(a).empty());
}

// MinIsWhite grey is inverted into the image's grey (0 black); FillOrder 2 files, whose
// bytes hold their bits lowest first, read like their FillOrder 1 twins.
TEST_F(TiffFiles, MinIsWhiteAndReversedFillOrder) {
  for (const int bits : {8, 16}) {
    SCOPED_TRACE(bits);
    Spec spec;
    spec.samples = 1;
    spec.bits = bits;
    spec.photometric = 0;
    TesseraClass white(0, TES_CS_RGB24);
    ASSERT_EQ(Open(white, Put(MakeTiff(spec))), 0);
    Bytes inverted = StorePixels(spec.width, spec.height, 1, bits);
    for (uint8_t& b : inverted) b = static_cast<uint8_t>(255 - b);
    EXPECT_EQ(All(white), inverted);

    spec.photometric = 1;
    spec.big = bits == 16;
    spec.replace[266] = Short(266, {2});
    Bytes file = MakeTiff(spec);
    // The one strip ends the file.
    const size_t stripBytes = static_cast<size_t>(spec.width) * spec.height * bits / 8;
    for (size_t i = file.size() - stripBytes; i < file.size(); ++i) {
      uint8_t r = 0;
      for (int k = 0; k < 8; ++k) r = static_cast<uint8_t>(r | ((file[i] >> k) & 1) << (7 - k));
      file[i] = r;
    }
    TesseraClass reversed(0, TES_CS_RGB24);
    ASSERT_EQ(Open(reversed, Put(file)), 0);
    EXPECT_EQ(All(reversed), StorePixels(spec.width, spec.height, 1, bits));
  }
}

TEST_F(TiffFiles, StripBytesPastTheImageAreIgnored) {
  Spec spec;
  spec.rowsPerStrip = 3;
  spec.stripPad = 7;
  TesseraClass image(0, TES_CS_RGB24);
  ASSERT_EQ(Open(image, Put(MakeTiff(spec))), 0);
  // The strips are one stream of bytes: the pad of the first strip becomes pixel data of
  // the next rows, as the strips say; the pad after the image is never read.
  Bytes expected = StorePixels(5, 3, 3, 8);
  for (int i = 0; i < 7; ++i) expected.push_back(0xEE);
  const Bytes second = StorePixels(5, 4, 3, 8);
  expected.insert(expected.end(), second.begin() + 45, second.begin() + 45 + 8);
  EXPECT_EQ(All(image), expected);
}

// Resolutions and their units.
TEST_F(TiffFiles, ResolutionFollowsItsUnit) {
  struct Case {
    uint32_t num, den, unit;
    double dpi;
  } cases[] = {
      {300, 1, 2, 300.0},
      {6000, 20, 2, 300.0},
      {0, 0, 2, 72.0},
      {300, 0, 2, 72.0},
      {118, 1, 3, (118.0 * 100000.0 + 19680.0) / 39361.0},
      {300, 1, 1, 72.0},  // no absolute unit
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.num) + "/" + std::to_string(c.den) + " unit " + std::to_string(c.unit));
    Spec spec;
    spec.replace[282] = Rational(282, c.num, c.den);
    spec.replace[296] = Short(296, {c.unit});
    tagTes_Image_Desc desc{};
    ASSERT_EQ(Test(Put(MakeTiff(spec)), &desc), 0);
    EXPECT_DOUBLE_EQ(desc.resolution, c.dpi);
  }
  EXPECT_NEAR((118.0 * 100000.0 + 19680.0) / 39361.0, 300.29, 0.005);
}

// Each check answers its code from all three operations.
struct CheckCase {
  const char* name;
  long code;
  void (*edit)(Spec&);
};

class TiffChecks : public TiffFiles, public ::testing::WithParamInterface<CheckCase> {};

TEST_P(TiffChecks, EveryOperationAnswersTheCode) {
  const CheckCase c = GetParam();
  Spec spec;
  c.edit(spec);
  const std::string path = Put(MakeTiff(spec));
  EXPECT_EQ(Test(path), c.code);
  TesseraClass image(0, TES_CS_RGB24);
  EXPECT_EQ(Open(image, path), c.code);
  std::string p = path;
  EXPECT_EQ(image.OpenThumbnail(p.data(), kNone, nullptr, nullptr, 1), c.code);
  EXPECT_EQ(image.OpenThumbnail(p.data(), kNone, nullptr, nullptr, 0), c.code);
}

Bytes Maker(const std::vector<MakerEntry>& entries, const Bytes& tail = {}, uint16_t version = 256) {
  return MakerBlock(false, entries, tail, version);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, TiffChecks,
    ::testing::Values(
        CheckCase{"empty_ifd", 1403, [](Spec& s) { s.remove = {256, 257, 258, 259, 262, 273, 277, 278, 279, 282, 283, 284, 296}; }},
        CheckCase{"zero_width", 1405, [](Spec& s) { s.replace[256] = Long(256, {0}); }},
        CheckCase{"zero_height", 1405, [](Spec& s) { s.replace[257] = Short(257, {0}); }},
        CheckCase{"zero_strip_byte_count", 1405, [](Spec& s) { s.rowsPerStrip = 2; s.replace[279] = Long(279, {60, 0}); }},
        CheckCase{"palette_without_colour_map", 1407, [](Spec& s) { s.samples = 1; s.replace[262] = Short(262, {3}); }},
        CheckCase{"grey_12_bits", 1406, [](Spec& s) { s.samples = 1; s.photometric = 1; s.replace[258] = Short(258, {12}); }},
        CheckCase{"jpeg_16_bits", 1406, [](Spec& s) { s.bits = 16; s.replace[259] = Short(259, {7}); }},
        CheckCase{"jpeg_cmyk_separate_planes", 1406, [](Spec& s) { s.samples = 4; s.photometric = 5; s.planar = 2; s.replace[259] = Short(259, {7}); }},
        CheckCase{"ccitt_g4", 1406, [](Spec& s) { s.replace[259] = Short(259, {4}); }},
        CheckCase{"predictor_at_4_bits", 1406, [](Spec& s) { s.samples = 1; s.photometric = 1; s.replace[258] = Short(258, {4}); s.replace[317] = Short(317, {2}); }},
        CheckCase{"five_samples", 1407, [](Spec& s) { s.replace[277] = Short(277, {5}); }},
        CheckCase{"tile_width_0", 1409, [](Spec& s) { s.replace[322] = Long(322, {0}); s.replace[323] = Long(323, {16}); s.replace[324] = Long(324, {8}); s.replace[325] = Long(325, {60}); }},
        CheckCase{"no_photometric", 1406, [](Spec& s) { s.remove = {262}; }},
        CheckCase{"mixed_bits", 1406, [](Spec& s) { s.replace[258] = Short(258, {8, 16, 8}); }},
        // Found by the fuzzer: a reference black of 4160749567 overflowed the conversion.
        CheckCase{"ycbcr_reference_out_of_range", 1409, [](Spec& s) { s.photometric = 6; s.replace[532] = Field{532, 5, 6, {0, 1, 255, 1, 128, 1, 255, 1, 4160749567u, 1, 255, 1}, {}, false}; }},
        CheckCase{"ycbcr_subsampling_3", 1409, [](Spec& s) { s.photometric = 6; s.replace[530] = Short(530, {3, 1}); }},
        CheckCase{"ycbcr_green_coefficient_0", 1409, [](Spec& s) { s.photometric = 6; s.replace[529] = Field{529, 5, 3, {299, 1000, 0, 1, 114, 1000}, {}, false}; }},
        CheckCase{"lab_4_bits", 1406, [](Spec& s) { s.photometric = 8; s.replace[258] = Short(258, {4, 4, 4}); }},
        CheckCase{"too_many_strips", 1407, [](Spec& s) { s.replace[273] = Long(273, {8, 8}); s.replace[279] = Long(279, {60, 60}); }},
        CheckCase{"planar2_with_one_plane_of_strips", 1407, [](Spec& s) { s.replace[284] = Short(284, {2}); }},
        CheckCase{"strips_shorter_than_image", 1407, [](Spec& s) { s.replace[279] = Long(279, {59}); }},
        CheckCase{"no_strip_offsets", 1408, [](Spec& s) { s.remove = {273}; }},
        CheckCase{"no_strip_byte_counts", 1408, [](Spec& s) { s.remove = {279}; }},
        CheckCase{"rows_per_strip_0", 1409, [](Spec& s) { s.replace[278] = Long(278, {0}); }},
        CheckCase{"planar_3", 1409, [](Spec& s) { s.replace[284] = Short(284, {3}); }},
        CheckCase{"resolution_unit_4", 1409, [](Spec& s) { s.replace[296] = Short(296, {4}); }},
        CheckCase{"resolution_unit_0", 1409, [](Spec& s) { s.replace[296] = Short(296, {0}); }},
        CheckCase{"predictor_3", 1409, [](Spec& s) { s.replace[317] = Short(317, {3}); }},
        CheckCase{"width_count_2", 1410, [](Spec& s) { s.replace[256] = Long(256, {5, 5}); }},
        CheckCase{"bits_count_5", 1410, [](Spec& s) { s.replace[258] = Short(258, {8, 8, 8, 8, 8}); }},
        CheckCase{"strip_offsets_count_0", 1410, [](Spec& s) { s.replace[273] = Field{273, 4, 0, {8}, {}, true}; }},
        CheckCase{"maker_count_0", 1410, [](Spec& s) { s.replace[32768] = Field{32768, 7, 0, {8}, {}, true}; }},
        CheckCase{"orientation_count_2", 1410, [](Spec& s) { s.replace[274] = Short(274, {1, 1}); }},
        CheckCase{"width_rational", 1411, [](Spec& s) { s.replace[256] = Rational(256, 5, 1); }},
        CheckCase{"compression_long", 1411, [](Spec& s) { s.replace[259] = Long(259, {1}); }},
        CheckCase{"bits_long", 1411, [](Spec& s) { s.replace[258] = Long(258, {8, 8, 8}); }},
        CheckCase{"x_resolution_short", 1411, [](Spec& s) { s.replace[282] = Short(282, {300}); }},
        CheckCase{"strip_offsets_rational", 1411, [](Spec& s) { s.replace[273] = Rational(273, 8, 1); }},
        CheckCase{"maker_block_long", 1411, [](Spec& s) { s.replace[32768] = Long(32768, {1, 2, 3}); }},
        CheckCase{"old_jpeg", 1412, [](Spec& s) { s.replace[513] = Long(513, {0}); }},
        CheckCase{"maker_wrong_id", 1415, [](Spec& s) { Bytes b = Maker({}); b[0] = 'X'; s.replace[32768] = Undefined(32768, b); }},
        CheckCase{"maker_wrong_version", 1415, [](Spec& s) { s.replace[32768] = Undefined(32768, Maker({}, {}, 255)); }},
        CheckCase{"maker_too_short", 1415, [](Spec& s) { s.replace[32768] = Undefined(32768, Bytes{'O', 'r', 'v', 'a', 'x', 0, 0, 1}); }},
        CheckCase{"maker_entries_past_block", 1415, [](Spec& s) { Bytes b = Maker({}); b[8] = 3; s.replace[32768] = Undefined(32768, b); }},
        CheckCase{"maker_text_not_ascii", 1415, [](Spec& s) { s.replace[32768] = Undefined(32768, Maker({{1, 7, 2, 0x41}})); }},
        CheckCase{"maker_text_empty", 1415, [](Spec& s) { s.replace[32768] = Undefined(32768, Maker({{1, 2, 0, 0}})); }},
        CheckCase{"maker_text_past_block", 1415, [](Spec& s) { s.replace[32768] = Undefined(32768, Maker({{1, 2, 40, 22}})); }},
        CheckCase{"maker_thumbnail_not_undefined", 1415, [](Spec& s) { s.replace[32768] = Undefined(32768, Maker({{256, 4, 4, 22}}, Bytes(4))); }},
        CheckCase{"maker_thumbnail_empty", 1415, [](Spec& s) { s.replace[32768] = Undefined(32768, Maker({{256, 7, 0, 22}})); }},
        CheckCase{"maker_thumbnail_past_block", 1415, [](Spec& s) { s.replace[32768] = Undefined(32768, Maker({{256, 7, 100, 22}}, Bytes(4))); }},
        CheckCase{"maker_thumbnail_offset_huge", 1415, [](Spec& s) { s.replace[32768] = Undefined(32768, Maker({{256, 7, 2, 0xFFFFFFFF}}, Bytes(4))); }},
        // Signed and floating-point samples cannot be held as the image's unsigned ones.
        CheckCase{"signed_8_bits", 1406, [](Spec& s) { s.samples = 1; s.photometric = 1; s.replace[339] = Short(339, {2}); }},
        CheckCase{"signed_16_bits_rgb", 1406, [](Spec& s) { s.bits = 16; s.replace[339] = Short(339, {2, 2, 2}); }},
        CheckCase{"float_16_bits", 1406, [](Spec& s) { s.samples = 1; s.bits = 16; s.photometric = 1; s.replace[339] = Short(339, {3}); }},
        CheckCase{"fill_order_3", 1409, [](Spec& s) { s.replace[266] = Short(266, {3}); }},
        // Arrays and values that lie past the end of the file: the end of the file, with
        // nothing allocated for them.
        CheckCase{"strip_offsets_past_end", 1103, [](Spec& s) { s.replace[273] = Field{273, 4, 0x40000000, {4096}, {}, true}; s.replace[279] = Field{279, 4, 0x40000000, {8}, {}, true}; }},
        CheckCase{"strip_counts_huge", 1103, [](Spec& s) { s.replace[279] = Field{279, 4, 0xFFFFFFFF, {8}, {}, true}; }},
        CheckCase{"rational_past_end", 1103, [](Spec& s) { s.replace[283] = Field{283, 5, 1, {0xFFFFFFF0}, {}, true}; }},
        CheckCase{"bits_past_end", 1103, [](Spec& s) { s.replace[258] = Field{258, 3, 3, {100000}, {}, true}; }},
        CheckCase{"maker_past_end", 1103, [](Spec& s) { s.replace[32768] = Field{32768, 7, 200, {100000}, {}, true}; }},
        // BigTIFF's 64-bit counts are held against the file in the same way.
        CheckCase{"bigtiff_strip_counts_huge", 1103, [](Spec& s) { s.bigTiff = true; s.replace[279] = Field{279, 16, uint64_t{1} << 40, {8}, {}, true}; }},
        CheckCase{"bigtiff_strip_offsets_count_wraps", 1103, [](Spec& s) { s.bigTiff = true; s.replace[273] = Field{273, 16, uint64_t{1} << 61, {8}, {}, true}; }},
        CheckCase{"bigtiff_width_past_32_bits", 1405, [](Spec& s) { s.bigTiff = true; s.replace[256] = Field{256, 16, 1, {5}, {}, false}; s.replace[256].raw = {5, 0, 0, 0, 1, 0, 0, 0}; }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TiffFiles, NotATiffIsNotThisFormat) {
  const Bytes good = MakeTiff(Spec{});
  struct Case {
    const char* name;
    Bytes bytes;
  };
  Spec bigSpec;
  bigSpec.bigTiff = true;
  const Bytes big = MakeTiff(bigSpec);
  Bytes wrongOrder = good, wrongMagic = good, noIfd = good, bigOffsets4 = big, bigNoIfd = big;
  wrongOrder[1] = 'M';
  wrongMagic[2] = 44;
  noIfd[4] = 0;
  bigOffsets4[4] = 4;  // BigTIFF's offsets are 8 bytes
  bigNoIfd[8] = 0;
  for (const Case& c : {Case{"byte order", wrongOrder}, Case{"magic", wrongMagic}, Case{"IFD offset 0", noIfd},
                        Case{"BigTIFF with 4-byte offsets", bigOffsets4}, Case{"BigTIFF IFD offset 0", bigNoIfd},
                        Case{"BigTIFF header cut", Bytes(big.begin(), big.begin() + 12)},
                        Case{"three bytes", Bytes{'I', 'I', 42}}, Case{"empty", Bytes{}}}) {
    SCOPED_TRACE(c.name);
    const std::string path = Put(c.bytes);
    short type = 99;
    tagTes_Image_Desc desc{};
    short thumbnail = 0;
    EXPECT_EQ(Test(path, &desc, &type, &thumbnail), TES_ERR_UNKNOWN_FORMAT);
    EXPECT_EQ(type, 99);
    TesseraClass image(0, TES_CS_RGB24);
    EXPECT_EQ(Open(image, path), TES_ERR_UNKNOWN_FORMAT);
  }
}

// A BigTIFF directory's 64-bit entry count is held against the file before its table is
// read; a cut directory link ends the page count, not the image.
TEST_F(TiffFiles, BigTiffDirectoryCounts) {
  Spec spec;
  spec.bigTiff = true;
  const Bytes good = MakeTiff(spec);
  Bytes huge = good, wraps = good;
  huge[16 + 5] = 1;      // 2^40 entries
  wraps[16 + 7] = 0x20;  // 2^61 entries: their bytes overflow 64 bits
  for (const Bytes& b : {huge, wraps}) {
    const std::string path = Put(b);
    EXPECT_EQ(Test(path), TES_ERR_IN_EOF);
    TesseraClass image(0, TES_CS_RGB24);
    EXPECT_EQ(Open(image, path), TES_ERR_IN_EOF);
  }
  Spec twoPages = spec;
  twoPages.nextIfd = 0xFFFFFFF0;  // a second page past the end of the file
  TesseraClass image(0, TES_CS_RGB24);
  ASSERT_EQ(Open(image, Put(MakeTiff(twoPages))), 0);
  EXPECT_EQ(All(image), StorePixels(spec.width, spec.height, 3, 8));
}

// Every prefix of a BigTIFF of several strips, in each byte order, ends in a status: not a
// TIFF while the header is cut, then a code (the strips come last, so the last one is
// always cut short).
TEST_F(TiffFiles, EveryPrefixOfABigTiffEndsInAStatus) {
  for (const bool big : {false, true}) {
    Spec spec;
    spec.bigTiff = true;
    spec.big = big;
    spec.rowsPerStrip = 1;
    spec.bits = 16;
    const Bytes whole = MakeTiff(spec);
    for (size_t n = 0; n < whole.size(); ++n) {
      const std::string path = Put(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n)));
      const long tested = Test(path);
      TesseraClass image(0, TES_CS_RGB24);
      const long opened = Open(image, path);
      if (n < 16) {
        EXPECT_EQ(tested, TES_ERR_UNKNOWN_FORMAT) << n;
      }
      EXPECT_NE(opened, 0) << n;
    }
  }
}

TEST_F(TiffFiles, StripsPastTheEndOfTheFileStopOpenNotTest) {
  Spec spec;
  spec.rowsPerStrip = 2;
  Bytes bytes = MakeTiff(spec);
  bytes.resize(bytes.size() - 1);  // the last strip loses a byte
  const std::string path = Put(bytes);
  EXPECT_EQ(Test(path), 0);
  TesseraClass image(0, TES_CS_RGB24);
  EXPECT_EQ(Open(image, path), TES_ERR_IN_EOF);
  // A strip that starts far past the end is refused before it is sought.
  spec.replace[273] = Long(273, {8, 0x7FFFFFF0});
  TesseraClass other(0, TES_CS_RGB24);
  EXPECT_EQ(Open(other, Put(MakeTiff(spec), "far.tif")), TES_ERR_IN_EOF);
}

TEST_F(TiffFiles, CmykNeedsAColourManagedObject) {
  Spec spec;
  spec.samples = 4;
  spec.photometric = 5;
  TesseraClass image(0, TES_CS_RGB24);
  EXPECT_EQ(Open(image, Put(MakeTiff(spec))), TES_ERR_NOT_PERMITTED);
}

// The Orientation tag is composed into the caller's transform: a file stored turned opens
// as the upright file opened with the matching transform.
TEST_F(TiffFiles, OrientationIsComposedIntoTheTransform) {
  Spec spec;
  spec.width = 6;
  spec.height = 4;
  const std::string upright = Put(MakeTiff(spec), "upright.tif");
  const struct {
    uint32_t orientation;
    tagTes_Transform_Struct same;
  } cases[] = {{1, {0, 0.0}}, {2, {1, 0.0}}, {3, {0, 180.0}}, {4, {1, 180.0}},
               {5, {1, 270.0}}, {6, {0, 90.0}}, {7, {1, 90.0}}, {8, {0, 270.0}}, {9, {0, 0.0}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.orientation);
    spec.replace[274] = Short(274, {c.orientation});
    TesseraClass turned(0, TES_CS_RGB24), expected(0, TES_CS_RGB24);
    ASSERT_EQ(Open(turned, Put(MakeTiff(spec), "turned.tif")), 0);
    ASSERT_EQ(Open(expected, upright, c.same), 0);
    tagTes_Image_Desc a{}, b{};
    turned.GetImageDesc(&a);
    expected.GetImageDesc(&b);
    EXPECT_EQ(a.width, b.width);
    EXPECT_EQ(All(turned), All(expected));
  }
}

struct Calls {
  std::vector<std::pair<long, long>> seen;
  long stopAt = -1;
  long answer = 0;
};
long Record(long total, long done, void* param) {
  auto* calls = static_cast<Calls*>(param);
  calls->seen.emplace_back(total, done);
  return static_cast<long>(calls->seen.size()) == calls->stopAt ? calls->answer : 0;
}

TEST_F(TiffFiles, ProgressAfterEachBatchAndTheCallbackStops) {
  Spec spec;
  spec.samples = 1;
  spec.photometric = 1;
  spec.width = 3;
  spec.height = 300;
  spec.rowsPerStrip = 100;
  const std::string path = Put(MakeTiff(spec));
  Calls calls;
  TesseraClass image(0, TES_CS_RGB24);
  ASSERT_EQ(Open(image, path, kNone, &Record, &calls), 0);
  EXPECT_EQ(calls.seen, (std::vector<std::pair<long, long>>{{300, 128}, {300, 256}, {300, 300}}));

  Calls stop{{}, 2, 7};
  EXPECT_EQ(Open(image, path, kNone, &Record, &stop), 7);
  EXPECT_EQ(stop.seen.size(), 2u);

  // Separate planes: one pass per plane, counted over all of them.
  spec.samples = 3;
  spec.photometric = 2;
  spec.planar = 2;
  Calls planes;
  ASSERT_EQ(Open(image, Put(MakeTiff(spec), "planes.tif"), kNone, &Record, &planes), 0);
  ASSERT_EQ(planes.seen.size(), 9u);
  EXPECT_EQ(planes.seen[2], std::make_pair(900L, 300L));
  EXPECT_EQ(planes.seen[8], std::make_pair(900L, 900L));
}

// --- The maker block ------------------------------------------------------------------

TEST_F(TiffFiles, MakerBlockTextGoesToTheRecord) {
  const struct {
    const char* name;
    Bytes block;
    const char* text;
  } cases[] = {
      {"inline", Maker({{1, 2, 3, 'A' | 'B' << 8}}), "AB"},
      {"at its offset", Maker({{1, 2, 6, 22}}, Bytes{'H', 'e', 'l', 'l', 'o', 0}), "Hello"},
      {"cut to the field", Maker({{1, 2, 31, 22}}, Bytes(31, 'x')), "xxxxxxxxxxxxxxxxxxx"},
      {"unknown entries skipped", Maker({{9, 4, 1, 5}, {1, 2, 4, 'O' | 'K' << 8}}), "OK"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Spec spec;
    spec.replace[32768] = Undefined(32768, c.block);
    TesseraClass image(0, TES_CS_RGB24);
    ASSERT_EQ(Open(image, Put(MakeTiff(spec))), 0);
    tagTes_Image_Info info{};
    ASSERT_EQ(image.GetImageInfo(&info, sizeof info), 0);
    EXPECT_STREQ(info.makerNoteText, c.text);
  }
  // Big-endian files carry the block in their own order.
  Spec spec;
  spec.big = true;
  spec.replace[32768] = Undefined(32768, MakerBlock(true, {{1, 2, 3, uint32_t{'B'} << 24 | uint32_t{'E'} << 16}}));
  TesseraClass image(0, TES_CS_RGB24);
  ASSERT_EQ(Open(image, Put(MakeTiff(spec))), 0);
  tagTes_Image_Info info{};
  ASSERT_EQ(image.GetImageInfo(&info, sizeof info), 0);
  EXPECT_STREQ(info.makerNoteText, "BE");
}

TEST_F(TiffFiles, WithoutAThumbnailOpenThumbnailNeedsTheFullImage) {
  std::string path = Put(MakeTiff(Spec{}));
  short thumbnail = 9;
  ASSERT_EQ(Test(path, nullptr, nullptr, &thumbnail), 0);
  EXPECT_EQ(thumbnail, 0);
  TesseraClass image(0, TES_CS_RGB24);
  EXPECT_EQ(image.OpenThumbnail(path.data(), kNone, nullptr, nullptr, 0), TES_ERR_NO_THUMBNAIL);
  ASSERT_EQ(image.OpenThumbnail(path.data(), kNone, nullptr, nullptr, 1), 0);
  EXPECT_EQ(All(image), StorePixels(5, 4, 3, 8));
}

// --- Writing --------------------------------------------------------------------------

uint16_t Le16(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }

TEST_F(TiffFiles, WrittenLayoutIsFixed) {
  TesseraClass image(0, TES_CS_RGB24);
  ASSERT_EQ(FillWith(image, TES_CS_RGB24, 5, 4, 299.9996), 0);
  const std::string path = dir_.Path("out.tif");
  ASSERT_EQ(image.Save({path.c_str(), TES_FILE_TIFF, 0}, nullptr, nullptr, 0), 0);
  const Bytes b = ReadBytes(path);
  // Header, 15 entries, BitsPerSample (6), two rationals (16), maker block (10), strip (60).
  ASSERT_EQ(b.size(), 8u + 2 + 15 * 12 + 4 + 6 + 16 + 10 + 60);
  EXPECT_EQ(Bytes(b.begin(), b.begin() + 8), (Bytes{'I', 'I', 42, 0, 8, 0, 0, 0}));
  EXPECT_EQ(Le16(b, 8), 15);
  const struct {
    uint16_t tag, type;
    uint32_t count, value;
  } entries[] = {{256, 4, 1, 5},   {257, 4, 1, 4},     {258, 3, 3, 194},   {259, 3, 1, 1},  {262, 3, 1, 2},
                 {273, 4, 1, 226}, {274, 3, 1, 1},     {277, 3, 1, 3},     {278, 4, 1, 4},  {279, 4, 1, 60},
                 {282, 5, 1, 200}, {283, 5, 1, 208},   {284, 3, 1, 1},     {296, 3, 1, 2},  {32768, 7, 10, 216}};
  for (size_t i = 0; i < 15; ++i) {
    SCOPED_TRACE(i);
    const size_t e = 10 + 12 * i;
    EXPECT_EQ(Le16(b, e), entries[i].tag);
    EXPECT_EQ(Le16(b, e + 2), entries[i].type);
    EXPECT_EQ(Get32(b, e + 4), entries[i].count);
    EXPECT_EQ(Get32(b, e + 8), entries[i].value);
  }
  EXPECT_EQ(Get32(b, 126), 60u);
  EXPECT_EQ(Get32(b, 190), 0u);  // no next IFD
  EXPECT_EQ(Bytes(b.begin() + 194, b.begin() + 200), (Bytes{8, 0, 8, 0, 8, 0}));
  EXPECT_EQ(Get32(b, 200), 299999u);  // dots per inch × 1000, truncated
  EXPECT_EQ(Get32(b, 204), 1000u);
  EXPECT_EQ(Get32(b, 208), 299999u);
  EXPECT_EQ(Bytes(b.begin() + 216, b.begin() + 226), (Bytes{'O', 'r', 'v', 'a', 'x', 0, 0, 1, 0, 0}));
  EXPECT_EQ(Bytes(b.begin() + 226, b.end()), StorePixels(5, 4, 3, 8));
}

TEST_F(TiffFiles, GreyHasItsBitsInline) {
  TesseraClass image(0, TES_CS_GRAY16);
  ASSERT_EQ(FillWith(image, TES_CS_GRAY16, 3, 2, 72.0), 0);
  const std::string path = dir_.Path("grey.tif");
  ASSERT_EQ(image.Save({path.c_str(), TES_FILE_TIFF, 0}, nullptr, nullptr, 0), 0);
  const Bytes b = ReadBytes(path);
  ASSERT_EQ(b.size(), 194u + 16 + 10 + 12);
  EXPECT_EQ(Get32(b, 10 + 2 * 12 + 4), 1u);
  EXPECT_EQ(Le16(b, 10 + 2 * 12 + 8), 16);
  EXPECT_EQ(Le16(b, 10 + 4 * 12 + 8), 1);  // BlackIsZero
  EXPECT_EQ(Get32(b, 10 + 5 * 12 + 8), 194u + 16 + 10);
  EXPECT_EQ(Get32(b, 126), 12u);
}

TEST_F(TiffFiles, OrientationOfTheRecordIsWrittenAndNotSetIsOne) {
  for (const uint16_t orientation : {0, 1, 6, 8, 9}) {
    SCOPED_TRACE(orientation);
    TesseraClass image(0, TES_CS_GRAY8);
    ASSERT_EQ(FillWith(image, TES_CS_GRAY8, 3, 2, 72.0), 0);
    tagTes_Image_Info info{};
    ASSERT_EQ(image.GetImageInfo(&info, sizeof info), 0);
    info.orientation = orientation;
    ASSERT_EQ(image.SetImageInfo(info), 0);
    const std::string path = dir_.Path("o.tif");
    ASSERT_EQ(image.Save({path.c_str(), TES_FILE_TIFF, 0}, nullptr, nullptr, 0), 0);
    const Bytes b = ReadBytes(path);
    EXPECT_EQ(Le16(b, 10 + 6 * 12), 274);
    EXPECT_EQ(Le16(b, 10 + 6 * 12 + 8), orientation >= 1 && orientation <= 8 ? orientation : 1);
  }
}

TEST_F(TiffFiles, ColourManagedImagesCarryTheirProfile) {
  if (!HaveProfiles()) GTEST_SKIP() << "no profile folder";
  for (const int cs : {TES_CS_RGB24, TES_CS_CMYK32, TES_CS_LAB48}) {
    SCOPED_TRACE(cs);
    TesseraClass image(TES_FLAG_COLOR_MANAGED, TES_CS_RGB24);
    ASSERT_EQ(FillWith(image, cs, 4, 3, 300.0), 0);
    unsigned char* profile = nullptr;
    unsigned long size = 0;
    ASSERT_EQ(image.GetCurIccProfileData(&profile, &size), 0);
    ASSERT_GT(size, 128u);
    const std::string path = dir_.Path("cm.tif");
    ASSERT_EQ(image.Save({path.c_str(), TES_FILE_TIFF, 0}, nullptr, nullptr, 0), 0);
    const Bytes b = ReadBytes(path);
    EXPECT_EQ(Le16(b, 8), 16);
    const size_t icc = 10 + 15 * 12;
    EXPECT_EQ(Le16(b, icc), 34675);
    EXPECT_EQ(Le16(b, icc + 2), 7);
    ASSERT_EQ(Get32(b, icc + 4), size);
    const uint32_t at = Get32(b, icc + 8);
    ASSERT_LE(at + size, b.size());
    EXPECT_EQ(Bytes(b.begin() + at, b.begin() + at + size), Bytes(profile, profile + size));
    EXPECT_EQ(Get32(b, 10 + 5 * 12 + 8), at + size);  // the strip follows the profile
  }
}

// The thumbnail: a JPEG stream in the maker block, at most 256 pixels a side, read back by
// OpenThumbnail through the JPEG decoder.
TEST_F(TiffFiles, ThumbnailInTheMakerBlock) {
  const struct {
    int cs, width, height, thumbWidth, thumbHeight;
    int16_t thumbSpace;
  } cases[] = {{TES_CS_RGB24, 600, 300, 150, 75, TES_CS_RGB24},  // halved until both sides fit
               {TES_CS_GRAY16, 100, 90, 100, 90, TES_CS_GRAY8},
               {TES_CS_RGB48, 130, 520, 32, 130, TES_CS_RGB24}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cs);
    TesseraClass image(0, TES_CS_RGB24);
    ASSERT_EQ(FillWith(image, c.cs, c.width, c.height, 300.0), 0);
    std::string path = dir_.Path("thumb.tif");
    ASSERT_EQ(image.Save({path.c_str(), TES_FILE_TIFF, 0}, nullptr, nullptr, 1), 0);
    const Bytes b = ReadBytes(path);
    const size_t maker = 10 + 14 * 12;
    ASSERT_EQ(Le16(b, maker), 32768);
    const uint32_t length = Get32(b, maker + 4), at = Get32(b, maker + 8);
    ASSERT_GT(length, 22u);
    ASSERT_LE(at + length, b.size());
    // One entry: tag 256, UNDEFINED, the stream's length, offset 22; then the stream.
    EXPECT_EQ(Le16(b, at + 8), 1);
    EXPECT_EQ(Le16(b, at + 10), 256);
    EXPECT_EQ(Le16(b, at + 12), 7);
    EXPECT_EQ(Get32(b, at + 14), length - 22);
    EXPECT_EQ(Get32(b, at + 18), 22u);
    EXPECT_EQ(b[at + 22], 0xFF);
    EXPECT_EQ(b[at + 23], 0xD8);
    EXPECT_EQ(b[at + 24], 0xFF);
    EXPECT_EQ(b[at + 25], 0xE0);  // its own JFIF segment
    EXPECT_EQ(Get32(b, 10 + 5 * 12 + 8), at + length);  // the strip follows

    short thumbnail = 0;
    ASSERT_EQ(Test(path, nullptr, nullptr, &thumbnail), 0);
    EXPECT_EQ(thumbnail, 1);
    TesseraClass small(0, TES_CS_RGB24);
    ASSERT_EQ(small.OpenThumbnail(path.data(), kNone, nullptr, nullptr, 0), 0);
    tagTes_Image_Desc desc{};
    small.GetImageDesc(&desc);
    EXPECT_EQ(desc.width, c.thumbWidth);
    EXPECT_EQ(desc.height, c.thumbHeight);
    EXPECT_EQ(desc.colorSpace, c.thumbSpace);
    // The full image is still there, unchanged.
    TesseraClass full(0, TES_CS_RGB24);
    ASSERT_EQ(Open(full, path), 0);
    EXPECT_EQ(All(full), StorePixels(c.width, c.height, ChannelsOf(c.cs), BitsOf(c.cs)));
  }
}

TEST_F(TiffFiles, ThumbnailOfAnOrientedFileIsTurnedToo) {
  TesseraClass image(0, TES_CS_RGB24);
  ASSERT_EQ(FillWith(image, TES_CS_RGB24, 200, 100, 300.0), 0);
  tagTes_Image_Info info{};
  ASSERT_EQ(image.GetImageInfo(&info, sizeof info), 0);
  info.orientation = 6;
  ASSERT_EQ(image.SetImageInfo(info), 0);
  std::string path = dir_.Path("turned.tif");
  ASSERT_EQ(image.Save({path.c_str(), TES_FILE_TIFF, 0}, nullptr, nullptr, 1), 0);
  TesseraClass small(0, TES_CS_RGB24);
  ASSERT_EQ(small.OpenThumbnail(path.data(), kNone, nullptr, nullptr, 0), 0);
  tagTes_Image_Desc desc{};
  small.GetImageDesc(&desc);
  EXPECT_EQ(desc.width, 100);
  EXPECT_EQ(desc.height, 200);
}

class TiffRoundTrip : public TiffFiles, public ::testing::WithParamInterface<int> {};

TEST_P(TiffRoundTrip, WrittenFilesReadBackUnchanged) {
  const int cs = GetParam();
  const bool managed = cs == TES_CS_CMYK32 || cs == TES_CS_LAB48;
  if (managed && !HaveProfiles()) GTEST_SKIP() << "no profile folder";
  TesseraClass image(managed ? TES_FLAG_COLOR_MANAGED : 0, TES_CS_RGB24);
  ASSERT_EQ(FillWith(image, cs, 131, 259, 1200.0), 0);
  const std::string path = dir_.Path("rt.tif");
  Calls calls;
  ASSERT_EQ(image.Save({path.c_str(), TES_FILE_TIFF, 0}, &Record, &calls, 0), 0);
  EXPECT_EQ(calls.seen, (std::vector<std::pair<long, long>>{{259, 128}, {259, 256}, {259, 259}}));
  EXPECT_EQ(Get32(ReadBytes(path), 126), 131u * 259 * ChannelsOf(cs) * BitsOf(cs) / 8);
  TesseraClass back(managed ? TES_FLAG_COLOR_MANAGED : 0, TES_CS_RGB24);
  ASSERT_EQ(Open(back, path), 0);
  tagTes_Image_Desc desc{};
  back.GetImageDesc(&desc);
  EXPECT_EQ(desc.colorSpace, cs);
  EXPECT_EQ(desc.resolution, 1200.0);
  EXPECT_EQ(All(back), StorePixels(131, 259, ChannelsOf(cs), BitsOf(cs)));
}

INSTANTIATE_TEST_SUITE_P(ColourSpaces, TiffRoundTrip, ::testing::Values(0, 1, 2, 3, 4, 5));

// A turned and mirrored image is written as it now stands: rows come from tiles whose grid
// the turn has moved.
TEST_F(TiffFiles, TurnedImagesAreWrittenAsTheyStand) {
  TesseraClass image(0, TES_CS_RGB24);
  ASSERT_EQ(FillWith(image, TES_CS_RGB48, 131, 259, 300.0), 0);
  ASSERT_EQ(image.Rotate(90.0), 0);
  ASSERT_EQ(image.FlipV(), 0);
  const std::string path = dir_.Path("turned.tif");
  ASSERT_EQ(image.Save({path.c_str(), TES_FILE_TIFF, 0}, nullptr, nullptr, 0), 0);
  TesseraClass back(0, TES_CS_RGB24);
  ASSERT_EQ(Open(back, path), 0);
  tagTes_Image_Desc desc{};
  back.GetImageDesc(&desc);
  EXPECT_EQ(desc.width, 259);
  EXPECT_EQ(desc.height, 131);
  const Bytes shown = All(image);
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(All(back), shown);
}

TEST_F(TiffFiles, WriterRefusals) {
  TesseraClass image(0, TES_CS_RGB24);
  ASSERT_EQ(FillWith(image, TES_CS_RGB24, 4, 3, 300.0), 0);
  // Compression asked: refused, and the file stays empty.
  const std::string path = dir_.Path("c.tif");
  EXPECT_EQ(image.Save({path.c_str(), TES_FILE_TIFF_COMPRESSED, 0}, nullptr, nullptr, 0), 1416);
  EXPECT_TRUE(ReadBytes(path).empty());
  // The callback's answer stops writing.
  Calls stop{{}, 1, 5};
  EXPECT_EQ(image.Save({path.c_str(), TES_FILE_TIFF, 0}, &Record, &stop, 0), 5);
  // An object without an image.
  TesseraClass empty(0, TES_CS_RGB24);
  EXPECT_EQ(empty.Save({path.c_str(), TES_FILE_TIFF, 0}, nullptr, nullptr, 0), TES_ERR_NO_IMAGE);
  // LCh has no TIFF form.
  TesseraClass lch(TES_FLAG_COLOR_MANAGED, TES_CS_LCH48);
  EXPECT_EQ(lch.Save({path.c_str(), TES_FILE_TIFF, 0}, nullptr, nullptr, 0), TES_ERR_CANNOT_STORE);
}

}  // namespace
