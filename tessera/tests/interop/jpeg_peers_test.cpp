// The JPEG codec beside libjpeg-turbo's cjpeg/djpeg and exiftool: files they write decode
// here, files written here decode there, and exiftool reads our Exif segment.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fixtures.h"

namespace {

using fixtures::Bytes;
using fixtures::ScratchDir;

int Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

std::string Capture(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
  }
  return out;
}

struct Raster {
  int width = 0, height = 0, channels = 0;
  Bytes pixels;
};

// Binary PGM/PPM as djpeg writes them.
Raster ReadPnm(const std::string& path) {
  Raster r;
  const Bytes b = fixtures::ReadBytes(path);
  if (b.size() < 3 || b[0] != 'P') return r;
  r.channels = b[1] == '6' ? 3 : 1;
  size_t at = 2;
  int values[3];
  for (int& v : values) {
    while (at < b.size() && std::isspace(b[at])) ++at;
    v = 0;
    while (at < b.size() && std::isdigit(b[at])) v = v * 10 + (b[at++] - '0');
  }
  ++at;
  r.width = values[0];
  r.height = values[1];
  r.pixels.assign(b.begin() + static_cast<long>(at), b.end());
  return r;
}

void WritePnm(const std::string& path, int width, int height, int channels, const Bytes& pixels) {
  std::string head = (channels == 3 ? "P6\n" : "P5\n") + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  Bytes out(head.begin(), head.end());
  out.insert(out.end(), pixels.begin(), pixels.end());
  fixtures::WriteBytes(path, out);
}

// A smooth, photo-like picture with some detail, so that every coefficient range is used.
Bytes Picture(int width, int height, int channels) {
  Bytes p(static_cast<size_t>(width) * height * channels);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < channels; ++c)
        p[(static_cast<size_t>(y) * width + x) * channels + c] =
            static_cast<uint8_t>((x * (3 + c) + y * (5 - c)) / 4 + ((x / 7 + y / 5 + c) % 3) * 20);
  return p;
}

int MaxDifference(const Bytes& a, const Bytes& b) {
  if (a.size() != b.size()) return 9999;
  int worst = 0;
  for (size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
  return worst;
}

struct Opened {
  long status = -1;
  tagTes_Image_Desc desc{};
  Bytes pixels;
};

Opened Open(const std::string& path, const tagTes_Transform_Struct& transform = TesseraClass::m_s_EmptyTransform) {
  Opened o;
  TesseraClass image(0, TES_CS_RGB24);
  char* p = const_cast<char*>(path.c_str());
  o.status = image.OpenImage(p, transform, nullptr, nullptr);
  if (o.status == 0) {
    image.GetImageDesc(&o.desc);
    o.pixels = fixtures::Pixels(image);
  }
  return o;
}

long Save(TesseraClass& image, const std::string& path, int level, short thumbnail) {
  const tagTes_File_Spec spec{path.c_str(), TES_FILE_JPEG, level};
  return image.Save(spec, nullptr, nullptr, thumbnail);
}

long Fill(TesseraClass& image, int width, int height, bool grey) {
  image.Clear();
  tagTes_Image_Desc desc{width, height, static_cast<int16_t>(grey ? TES_CS_GRAY8 : TES_CS_RGB24), {}, 300.0};
  if (const long s = image.SetImageDesc(desc, TesseraClass::m_s_EmptyTransform)) return s;
  Bytes pixels = Picture(width, height, grey ? 1 : 3);
  tagTes_Tile_Desc tile{{0, 0, width, height}, width * (grey ? 1 : 3), 0};
  return image.SetData(tile, TesseraClass::m_s_EmptyTransform, pixels.data());
}

class JpegPeers : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Shell("command -v cjpeg && command -v djpeg && command -v exiftool") != 0)
      GTEST_SKIP() << "cjpeg, djpeg or exiftool missing (scripts/install-deps.sh)";
  }
  ScratchDir dir_;
};

// cjpeg's baseline files at odd sizes, every sampling layout, grey and restart intervals,
// decode within 1 of djpeg's accurate integer transform (chroma replicated: -nosmooth).
TEST_F(JpegPeers, CjpegFilesDecodeLikeDjpeg) {
  struct Case {
    const char* name;
    bool grey;
    const char* options;
  };
  const Case cases[] = {{"grey", true, "-grayscale"},
                        {"444", false, "-sample 1x1"},
                        {"422", false, "-sample 2x1"},
                        {"420", false, "-sample 2x2"},
                        {"420-restart", false, "-sample 2x2 -restart 1"},
                        {"444-restart-blocks", false, "-sample 1x1 -restart 5B"}};
  const int sizes[][2] = {{1, 1}, {17, 9}, {1001, 667}};
  for (const Case& c : cases)
    for (const auto& size : sizes) {
      SCOPED_TRACE(std::string(c.name) + " " + std::to_string(size[0]) + "x" + std::to_string(size[1]));
      const int channels = c.grey ? 1 : 3;
      const std::string src = dir_.Path("src.pnm"), jpg = dir_.Path("peer.jpg"), ref = dir_.Path("ref.pnm");
      WritePnm(src, size[0], size[1], channels, Picture(size[0], size[1], channels));
      ASSERT_EQ(Shell("cjpeg -quality 85 " + std::string(c.options) + " -outfile " + jpg + " " + src), 0);
      ASSERT_EQ(Shell("djpeg -dct int -nosmooth -outfile " + ref + " " + jpg), 0);
      const Raster expected = ReadPnm(ref);
      const Opened got = Open(jpg);
      ASSERT_EQ(got.status, 0);
      EXPECT_EQ(got.desc.width, size[0]);
      EXPECT_EQ(got.desc.height, size[1]);
      EXPECT_EQ(got.desc.colorSpace, c.grey ? TES_CS_GRAY8 : TES_CS_RGB24);
      EXPECT_LE(MaxDifference(got.pixels, expected.pixels), 1);
    }
}

// Grain at high quality: blocks whose terms run to the last one (what follows it is the next
// block's DC code, not an end of block) and dense runs of short codes, with cjpeg's standard
// and its optimised Huffman tables.
TEST_F(JpegPeers, DenseBlocksDecodeLikeDjpeg) {
  const int width = 203, height = 77;
  Bytes grain(static_cast<size_t>(width) * height * 3);
  uint32_t seed = 99;
  for (uint8_t& v : grain) {
    seed = seed * 1664525u + 1013904223u;
    v = static_cast<uint8_t>(seed >> 24);
  }
  const std::string src = dir_.Path("grain.pnm"), jpg = dir_.Path("peer.jpg"), ref = dir_.Path("ref.pnm");
  WritePnm(src, width, height, 3, grain);
  for (const char* options : {"-quality 100 -sample 1x1", "-quality 100 -sample 1x1 -optimize",
                              "-quality 97 -sample 2x2", "-quality 92 -sample 2x2 -optimize -restart 2"}) {
    SCOPED_TRACE(options);
    ASSERT_EQ(Shell("cjpeg " + std::string(options) + " -outfile " + jpg + " " + src), 0);
    ASSERT_EQ(Shell("djpeg -dct int -nosmooth -outfile " + ref + " " + jpg), 0);
    const Opened got = Open(jpg);
    ASSERT_EQ(got.status, 0);
    EXPECT_LE(MaxDifference(got.pixels, ReadPnm(ref).pixels), 1);
  }
}

// The other Huffman-coded layouts people have: progressive files, baseline files whose
// components come in separate scans, extended sequential files with 16-bit quantisation
// tables, sampling factors beyond the three we write, and RGB coded as it stands (Adobe
// transform 0). Each decodes within 1 of djpeg, and TestFile reports it as JPEG.
TEST_F(JpegPeers, OtherLayoutsDecodeLikeDjpeg) {
  struct Case {
    const char* name;
    bool grey;
    std::string make;  // shell command: %s source, %o output
  };
  // Scan script: Y alone, then Cb and Cr together (all baseline, spectral 0..63).
  const std::string scans = dir_.Path("scans.txt");
  fixtures::WriteBytes(scans, [] {
    const std::string text = "0;\n1 2;\n";
    return Bytes(text.begin(), text.end());
  }());
  const Case cases[] = {
      {"progressive 420", false, "cjpeg -progressive -sample 2x2 -outfile %o %s"},
      {"progressive 444 restart", false, "cjpeg -progressive -sample 1x1 -restart 1 -outfile %o %s"},
      {"progressive grey", true, "cjpeg -progressive -grayscale -outfile %o %s"},
      {"progressive from jpegtran", false, "cjpeg -sample 2x1 %s | jpegtran -progressive -outfile %o"},
      {"separate scans", false, "cjpeg -sample 2x2 %s | jpegtran -scans " + scans + " -outfile %o"},
      {"16-bit tables", false, "cjpeg -quality 2 -sample 2x2 -outfile %o %s"},
      {"sampling 1x2", false, "cjpeg -sample 1x2 -outfile %o %s"},
      {"sampling 4x1", false, "cjpeg -sample 4x1 -outfile %o %s"},
      {"sampling 2x2 1x2 1x2", false, "cjpeg -sample 2x2,1x2,1x2 -outfile %o %s"},
      {"RGB (Adobe transform 0)", false, "cjpeg -rgb -outfile %o %s"},
  };
  for (const Case& c : cases)
    for (const auto& size : {std::pair{1, 1}, std::pair{45, 29}, std::pair{333, 250}}) {
      SCOPED_TRACE(std::string(c.name) + " " + std::to_string(size.first) + "x" + std::to_string(size.second));
      const int channels = c.grey ? 1 : 3;
      const std::string src = dir_.Path("src.pnm"), jpg = dir_.Path("peer.jpg"), ref = dir_.Path("ref.pnm");
      WritePnm(src, size.first, size.second, channels, Picture(size.first, size.second, channels));
      std::string command = c.make;
      command.replace(command.find("%s"), 2, src);
      command.replace(command.find("%o"), 2, jpg);
      ASSERT_EQ(Shell("sh -c '" + command + "'"), 0) << command;
      ASSERT_EQ(Shell("djpeg -dct int -nosmooth -outfile " + ref + " " + jpg), 0);
      const Raster expected = ReadPnm(ref);
      const Opened got = Open(jpg);
      ASSERT_EQ(got.status, 0);
      EXPECT_EQ(got.desc.width, size.first);
      EXPECT_EQ(got.desc.height, size.second);
      EXPECT_EQ(got.desc.colorSpace, c.grey ? TES_CS_GRAY8 : TES_CS_RGB24);
      EXPECT_LE(MaxDifference(got.pixels, expected.pixels), 1);

      tagTes_Image_Desc desc{};
      short type = -1, thumb = -1;
      char* p = const_cast<char*>(jpg.c_str());
      EXPECT_EQ(TesseraClass::TestFile(p, &desc, &type, &thumb), 0);
      EXPECT_EQ(type, TES_FILE_JPEG);
    }
}

// A progressive file cut short gives the image as far as its scans came, not an error.
TEST_F(JpegPeers, CutProgressiveFileGivesWhatArrived) {
  const std::string src = dir_.Path("src.ppm"), jpg = dir_.Path("progressive.jpg");
  WritePnm(src, 120, 80, 3, Picture(120, 80, 3));
  ASSERT_EQ(Shell("cjpeg -progressive -outfile " + jpg + " " + src), 0);
  Bytes file = fixtures::ReadBytes(jpg);
  file.resize(file.size() * 2 / 3);
  fixtures::WriteBytes(jpg, file);
  const Opened got = Open(jpg);
  ASSERT_EQ(got.status, 0);
  EXPECT_EQ(got.pixels.size(), 120u * 80u * 3u);
  // The early scans carry the coarse picture: it is recognisably there.
  Bytes picture = Picture(120, 80, 3);
  long total = 0;
  for (size_t i = 0; i < picture.size(); ++i) total += std::abs(picture[i] - got.pixels[i]);
  EXPECT_LT(total / static_cast<long>(picture.size()), 40);
}

// CMYK JPEG files as ImageMagick writes them (Adobe segment, inverted CMYK) open into
// colour-managed objects as CMYK with the ink values ImageMagick reads back; plain objects
// refuse CMYK (1012).
class JpegCmyk : public fixtures::ManagedLibraryTest {
 protected:
  void SetUp() override {
    if (Shell("command -v convert") != 0) GTEST_SKIP() << "ImageMagick missing";
    StartLibrary({}, "/usr/share/color/icc/ghostscript/default_cmyk.icc");
  }
  ScratchDir dir_;
};

TEST_F(JpegCmyk, FilesOpenAsCmyk) {
  const std::string src = dir_.Path("src.ppm"), jpg = dir_.Path("cmyk.jpg"), raw = dir_.Path("cmyk.raw");
  WritePnm(src, 37, 21, 3, Picture(37, 21, 3));
  ASSERT_EQ(Shell("convert " + src + " -colorspace CMYK -quality 95 " + jpg), 0);
  ASSERT_EQ(Shell("convert " + jpg + " -depth 8 cmyk:" + raw), 0);
  const Bytes expected = fixtures::ReadBytes(raw);
  ASSERT_EQ(expected.size(), 37u * 21u * 4u);

  EXPECT_EQ(Open(jpg).status, TES_ERR_NOT_PERMITTED);
  TesseraClass image(TES_FLAG_COLOR_MANAGED, TES_CS_RGB24);
  char* p = const_cast<char*>(jpg.c_str());
  ASSERT_EQ(image.OpenImage(p, TesseraClass::m_s_EmptyTransform, nullptr, nullptr), 0);
  tagTes_Image_Desc desc{};
  image.GetImageDesc(&desc);
  EXPECT_EQ(desc.colorSpace, TES_CS_CMYK32);
  Bytes got;
  ASSERT_EQ(fixtures::ReadAll(image, got), 0);
  EXPECT_LE(MaxDifference(got, expected), 2);
}

// Our files decode in libjpeg-turbo as they decode here, at every level, colour and grey,
// with and without a thumbnail.
TEST_F(JpegPeers, OurFilesDecodeInDjpeg) {
  for (const bool grey : {false, true})
    for (int level = 1; level <= 5; ++level)
      for (const short thumbnail : {0, 1}) {
        SCOPED_TRACE((grey ? "grey level " : "colour level ") + std::to_string(level) + " thumb " +
                     std::to_string(thumbnail));
        TesseraClass image(0, TES_CS_RGB24);
        ASSERT_EQ(Fill(image, 301, 203, grey), 0);
        const std::string jpg = dir_.Path("ours.jpg"), ref = dir_.Path("ref.pnm");
        ASSERT_EQ(Save(image, jpg, level, thumbnail), 0);
        ASSERT_EQ(Shell("djpeg -dct int -nosmooth -outfile " + ref + " " + jpg), 0);
        const Raster peer = ReadPnm(ref);
        const Opened ours = Open(jpg);
        ASSERT_EQ(ours.status, 0);
        EXPECT_EQ(peer.channels, grey ? 1 : 3);
        EXPECT_LE(MaxDifference(ours.pixels, peer.pixels), 1);
        // At level 5 (quantisation 1, full chroma) the picture itself survives closely, its
        // sharp edges included.
        if (level == 5) {
          EXPECT_LE(MaxDifference(ours.pixels, Picture(301, 203, grey ? 1 : 3)), 8);
        }
        if (thumbnail) {
          const std::string thumb = dir_.Path("thumb.jpg");
          // exiftool finds the Exif IFD1 thumbnail and the JFXX one alike.
          ASSERT_EQ(Shell("sh -c 'exiftool -b -ThumbnailImage " + jpg + " > " + thumb + "'"), 0);
          ASSERT_EQ(Shell("djpeg -outfile " + ref + " " + thumb), 0);
          const Raster t = ReadPnm(ref);
          EXPECT_EQ(t.width, 75);  // 301 / 4
          EXPECT_EQ(t.height, 50);
        }
      }
}

TEST_F(JpegPeers, ExiftoolReadsOurExifSegment) {
  TesseraClass image(0, TES_CS_RGB24);
  ASSERT_EQ(Fill(image, 1200, 900, false), 0);
  tagTes_Image_Info info{};
  image.GetImageInfo(&info, sizeof info);
  info.size = sizeof info;
  std::strcpy(info.maker, "Orvax Corp.");
  std::strcpy(info.model, "QV");  // short: stored inside its entry
  std::strcpy(info.description, "a slide");
  std::strcpy(info.date, "2024:05:06 07:08:09");
  info.orientation = 3;
  info.fNumber = 5.6;
  ASSERT_EQ(image.SetImageInfo(info), 0);
  const std::string jpg = dir_.Path("exif.jpg");
  ASSERT_EQ(Save(image, jpg, 3, 1), 0);

  const std::string out = Capture(
      "exiftool -s -s -s -n -Make -Model -Orientation -XResolution -DateTimeOriginal -ColorSpace "
      "-ExifImageWidth -ExifImageHeight -FNumber -ImageDescription " + jpg);
  EXPECT_EQ(out, "Orvax Corp.\nQV\n3\n300\n2024:05:06 07:08:09\n65535\n1200\n900\n5.6\na slide\n");

  const std::string thumb = dir_.Path("thumb.jpg"), ref = dir_.Path("thumb.ppm");
  ASSERT_EQ(Shell("sh -c 'exiftool -b -ThumbnailImage " + jpg + " > " + thumb + "'"), 0);
  ASSERT_EQ(Shell("djpeg -outfile " + ref + " " + thumb), 0);
  const Raster t = ReadPnm(ref);
  EXPECT_EQ(t.width, 75);  // 1200 / 4 / 4
  EXPECT_EQ(t.height, 56);

  // Validation: no error; only the minor warnings the fixed layout implies.
  const std::string validate = Capture("exiftool -validate -warning -a -s -s -s " + jpg);
  EXPECT_EQ(validate.find("Error"), std::string::npos) << validate;
  std::string rest = validate;
  for (const char* allowed : {"[minor] Unrecognized MakerNotes", "[minor] Odd offset for IFD0"}) {
    for (size_t at; (at = rest.find(allowed)) != std::string::npos;) rest.erase(at, std::strlen(allowed));
  }
  EXPECT_EQ(rest.find('['), std::string::npos) << validate;

  // Orientation 0 ("not set") is written as 1.
  info.orientation = 0;
  ASSERT_EQ(image.SetImageInfo(info), 0);
  ASSERT_EQ(Save(image, jpg, 3, 0), 0);
  EXPECT_EQ(Capture("exiftool -s -s -s -n -Orientation " + jpg), "1\n");
}

// Orientation 6 turns the image a quarter clockwise, in our full segment and in one that
// exiftool made with IFD0 alone.
TEST_F(JpegPeers, Orientation6OpensTurned) {
  const int w = 40, h = 24;
  const std::string src = dir_.Path("src.ppm"), jpg = dir_.Path("plain.jpg");
  WritePnm(src, w, h, 3, Picture(w, h, 3));
  ASSERT_EQ(Shell("cjpeg -quality 95 -sample 1x1 -outfile " + jpg + " " + src), 0);
  const Opened upright = Open(jpg);
  ASSERT_EQ(upright.status, 0);

  const std::string ifd0 = dir_.Path("ifd0.jpg");
  ASSERT_EQ(Shell("cp " + jpg + " " + ifd0 + " && exiftool -q -overwrite_original -Orientation#=6 " + ifd0), 0);

  TesseraClass image(0, TES_CS_RGB24);
  char* path = const_cast<char*>(jpg.c_str());
  ASSERT_EQ(image.OpenImage(path, TesseraClass::m_s_EmptyTransform, nullptr, nullptr), 0);
  tagTes_Image_Info info{};
  image.GetImageInfo(&info, sizeof info);
  info.orientation = 6;
  image.SetImageInfo(info);
  const std::string ours = dir_.Path("ours6.jpg");
  ASSERT_EQ(Save(image, ours, 5, 1), 0);

  for (const std::string& file : {ifd0, ours}) {
    SCOPED_TRACE(file);
    const Opened turned = Open(file);
    ASSERT_EQ(turned.status, 0);
    EXPECT_EQ(turned.desc.width, h);
    EXPECT_EQ(turned.desc.height, w);
    // Pixel (x, y) of the upright image lands at (h - 1 - y, x).
    int worst = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c)
          worst = std::max(worst, std::abs(upright.pixels[(static_cast<size_t>(y) * w + x) * 3 + c] -
                                           turned.pixels[(static_cast<size_t>(x) * h + (h - 1 - y)) * 3 + c]));
    EXPECT_LE(worst, 3);
  }
}

}  // namespace
