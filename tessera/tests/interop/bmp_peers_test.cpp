// BMP files exchanged with other programs: Pillow (under Debian's /usr/bin/python3) and
// ImageMagick write files that open here with the same pixels, and files written here open
// in Pillow with the same pixels. The test makes every file itself.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "fixtures.h"

using namespace fixtures;

namespace {

const char* Python() { return "/usr/bin/python3"; }
std::string Convert() { return ::access("/usr/bin/convert", X_OK) == 0 ? "/usr/bin/convert" : "convert"; }

int Shell(const std::string& command) {
  const int status = std::system((command + " 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The colour space of the pattern with that many channels: 8-bit grey or RGB.
int16_t SpaceOf(int channels) { return channels == 1 ? TES_CS_GRAY8 : TES_CS_RGB24; }

// The pattern as a binary PGM or PPM, the form both peers read.
void WritePnm(const std::string& path, int width, int height, int channels) {
  const std::string head =
      std::string(channels == 1 ? "P5" : "P6") + "\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  Bytes bytes(head.begin(), head.end());
  const Bytes pixels = PatternPixels(width, height, SpaceOf(channels));
  bytes.insert(bytes.end(), pixels.begin(), pixels.end());
  WriteBytes(path, bytes);
}

struct Case {
  int width, height, channels;
};

std::string Name(const Case& c) {
  return (c.channels == 1 ? "grey_" : "colour_") + std::to_string(c.width) + "x" + std::to_string(c.height);
}

class BmpPeers : public ::testing::TestWithParam<Case> {
 protected:
  // Opens a peer's file and compares it with the pattern. A peer may store grey as 24-bit
  // colour with equal samples; the samples must still be the pattern's.
  void ExpectPattern(const std::string& path, double dpi) {
    const Case c = GetParam();
    TesseraClass image(0, TES_CS_RGB24);
    std::string p = path;
    ASSERT_EQ(image.OpenImage(p.data(), TesseraClass::m_s_EmptyTransform, nullptr, nullptr), 0);
    tagTes_Image_Desc desc{};
    image.GetImageDesc(&desc);
    ASSERT_EQ(desc.width, c.width);
    ASSERT_EQ(desc.height, c.height);
    EXPECT_EQ(desc.resolution, dpi);
    const Bytes expected = PatternPixels(c.width, c.height, SpaceOf(c.channels));
    const Bytes got = Pixels(image);
    if (c.channels == 3 || desc.colorSpace == TES_CS_GRAY8) {
      EXPECT_EQ(desc.colorSpace, SpaceOf(c.channels));
      EXPECT_EQ(got, expected);
      return;
    }
    ASSERT_EQ(desc.colorSpace, TES_CS_RGB24);
    ASSERT_EQ(got.size(), expected.size() * 3);
    for (size_t i = 0; i < expected.size(); ++i)
      for (int k = 0; k < 3; ++k) ASSERT_EQ(got[3 * i + k], expected[i]) << "pixel " << i;
  }

  ScratchDir dir_;
};

TEST_P(BmpPeers, PillowFilesOpenHere) {
  const Case c = GetParam();
  const std::string pnm = dir_.Path("in.pnm"), bmp = dir_.Path("pillow.bmp");
  WritePnm(pnm, c.width, c.height, c.channels);
  ASSERT_EQ(Shell(std::string(Python()) + " -c \"import sys; from PIL import Image; Image.open(sys.argv[1]).save(sys.argv[2], dpi=(300, 300))\" " +
                pnm + " " + bmp),
            0);
  ExpectPattern(bmp, 300.0);
}

TEST_P(BmpPeers, ImageMagickFilesOpenHere) {
  const Case c = GetParam();
  const std::string pnm = dir_.Path("in.pnm");
  WritePnm(pnm, c.width, c.height, c.channels);
  // BMP3: the 40-byte header; the default output has the version 4 or 5 header.
  for (const std::string& out : {"BMP3:" + dir_.Path("im3.bmp"), dir_.Path("im.bmp")}) {
    SCOPED_TRACE(out);
    ASSERT_EQ(Shell(Convert() + " " + pnm + " " + out), 0);
    ExpectPattern(out.rfind("BMP3:", 0) == 0 ? out.substr(5) : out, 72.0);
  }
}

TEST_P(BmpPeers, FilesWrittenHereOpenInPillow) {
  const Case c = GetParam();
  const std::string bmp = dir_.Path("here.bmp"), raw = dir_.Path("pillow.raw");
  TesseraClass image(0, SpaceOf(c.channels));
  ASSERT_EQ(FillPattern(image, c.width, c.height, SpaceOf(c.channels), 300.0), 0);
  ASSERT_EQ(image.Save({bmp.c_str(), TES_FILE_BMP, 0}, nullptr, nullptr, 0), 0);
  // Pillow reports the mode, size and rounded resolution, and leaves the pixels in a raw file.
  const std::string script =
      "import sys; from PIL import Image; im = Image.open(sys.argv[1]); im.load(); "
      "open(sys.argv[2], 'wb').write(im.tobytes()); "
      "dpi = im.info.get('dpi', (0, 0)); "
      "print(im.mode, im.size[0], im.size[1], round(dpi[0]))";
  const std::string report = dir_.Path("report.txt");
  ASSERT_EQ(Shell(std::string(Python()) + " -c \"" + script + "\" " + bmp + " " + raw + " > " + report), 0);
  const Bytes text = ReadBytes(report);
  const std::string expected = std::string(c.channels == 1 ? "L" : "RGB") + " " + std::to_string(c.width) + " " +
                               std::to_string(c.height) + " 300\n";
  EXPECT_EQ(std::string(text.begin(), text.end()), expected);
  EXPECT_EQ(ReadBytes(raw), PatternPixels(c.width, c.height, SpaceOf(c.channels)));
}

INSTANTIATE_TEST_SUITE_P(OddWidths, BmpPeers,
                         ::testing::Values(Case{1, 5, 1}, Case{3, 5, 1}, Case{127, 9, 1}, Case{129, 130, 1},
                                           Case{1, 5, 3}, Case{3, 5, 3}, Case{127, 9, 3}, Case{129, 130, 3}),
                         [](const auto& info) { return Name(info.param); });

// The other BMP variants people have, as ImageMagick and Pillow write them: palettes of 1,
// 4 and 8 bits (colour and grey), RLE8 and RLE4, 16 bits at 5-5-5 and 5-6-5, 32 bits with
// alpha (dropped), the OS/2 1.x header (BMP2:). Each opens with the pixels ImageMagick
// itself reads back from the file.
TEST(BmpVariants, OpenWithThePeersPixels) {
  ScratchDir dir;
  const int width = 37, height = 19;
  const std::string pnm = dir.Path("in.ppm"), bmp = dir.Path("variant.bmp"), raw = dir.Path("variant.raw");
  WritePnm(pnm, width, height, 3);
  struct Variant {
    const char* name;
    std::string make;  // the peer's command: %i input, %o output
    bool grey;
  };
  const std::string im = Convert();
  const Variant variants[] = {
      {"1-bit palette", im + " %i -colors 2 -type palette -depth 1 BMP3:%o", false},
      {"4-bit palette", im + " %i -colors 12 -type palette -depth 4 BMP3:%o", false},
      {"8-bit palette", im + " %i -colors 200 -type palette BMP3:%o", false},
      {"8-bit grey palette", im + " %i -colorspace gray -type grayscale -colors 100 BMP3:%o", true},
      {"RLE8", im + " %i -colors 60 -type palette -compress RLE BMP3:%o", false},
      {"RLE4", im + " %i -colors 9 -type palette -depth 4 -compress RLE BMP3:%o", false},
      {"16 bits 5-5-5", im + " %i -define bmp:subtype=RGB555 %o", false},
      {"16 bits 5-6-5", im + " %i -define bmp:subtype=RGB565 %o", false},
      {"32 bits with alpha", im + " %i -alpha set -channel A -evaluate set 50% -define bmp:subtype=ARGB8888 %o", false},
      {"OS/2 1.x header", im + " %i BMP2:%o", false},
      {"OS/2 1.x palette", im + " %i -colors 16 -type palette BMP2:%o", false},
      {"Pillow 1-bit", std::string(Python()) + " -c \"import sys; from PIL import Image; Image.open(sys.argv[1]).convert('1').save(sys.argv[2])\" %i %o", true},
      {"Pillow palette", std::string(Python()) + " -c \"import sys; from PIL import Image; Image.open(sys.argv[1]).quantize(17).save(sys.argv[2])\" %i %o", false},
  };
  for (const Variant& v : variants) {
    SCOPED_TRACE(v.name);
    std::string command = v.make;
    command.replace(command.find("%i"), 2, pnm);
    command.replace(command.find("%o"), 2, bmp);
    ASSERT_EQ(Shell(command), 0) << command;
    ASSERT_EQ(Shell(im + " " + bmp + " -alpha off -depth 8 rgb:" + raw), 0);
    const Bytes rgb = ReadBytes(raw);
    ASSERT_EQ(rgb.size(), static_cast<size_t>(width) * height * 3);
    TesseraClass image(0, TES_CS_RGB24);
    std::string p = bmp;
    ASSERT_EQ(image.OpenImage(p.data(), TesseraClass::m_s_EmptyTransform, nullptr, nullptr), 0);
    tagTes_Image_Desc desc{};
    image.GetImageDesc(&desc);
    ASSERT_EQ(desc.width, width);
    ASSERT_EQ(desc.height, height);
    // A palette whose entries are all grey gives a grey image (the peer may pick one).
    if (v.grey) {
      EXPECT_EQ(desc.colorSpace, TES_CS_GRAY8);
    }
    const Bytes got = Pixels(image);
    // Grey images against the peer's equal samples; bit fields under 8 bits within 1.
    int worst = 0;
    for (size_t i = 0; i < rgb.size(); ++i) {
      const int ours = desc.colorSpace == TES_CS_GRAY8 ? got[i / 3] : got[i];
      worst = std::max(worst, std::abs(ours - rgb[i]));
    }
    EXPECT_LE(worst, 1);
  }
}

}  // namespace
