// The JPEG codec's own pieces: constant tables, the encoder's fixed layout, the Exif
// segment, the vector kernels against the portable ones, and every decoder code on small
// streams made here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "fixtures.h"
#include "formats/jpeg/jpeg_encoder.h"
#include "formats/jpeg/jpeg_segments.h"
#include "formats/jpeg/jpeg_simd.h"
#include "formats/jpeg/jpeg_tables.h"

namespace {

using fixtures::Bytes;
using namespace tessera::jpeg;

Bytes Picture(int width, int height, int channels) {
  Bytes p(static_cast<size_t>(width) * height * channels);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < channels; ++c)
        p[(static_cast<size_t>(y) * width + x) * channels + c] =
            static_cast<uint8_t>(x * (3 + c) + y * (5 - c) + ((x * y) % 7) * 9);
  return p;
}

Bytes Encode(int width, int height, bool grey, int level) {
  EncoderConfig config;
  config.width = width;
  config.height = height;
  config.grey = grey;
  config.level = level;
  config.sampling = QualitySampling(level);
  const Bytes pixels = Picture(width, height, grey ? 1 : 3);
  return EncodeImage(pixels.data(), width * (grey ? 1 : 3), config, 0);
}

// The segments of a stream up to and including SOS, and the rest.
struct Parts {
  std::vector<Bytes> segments;  // each from its marker on
  Bytes rest;                   // entropy-coded data and EOI
};

Parts Split(const Bytes& b) {
  Parts p;
  size_t at = 2;
  while (at + 4 <= b.size()) {
    const int marker = b[at + 1];
    const size_t length = static_cast<size_t>(b[at + 2] << 8 | b[at + 3]);
    p.segments.emplace_back(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + 2 + length));
    at += 2 + length;
    if (marker == 0xDA) break;
  }
  p.rest.assign(b.begin() + static_cast<long>(at), b.end());
  return p;
}

Bytes Join(const std::vector<Bytes>& segments, const Bytes& rest, bool soi = true) {
  Bytes out;
  if (soi) out = {0xFF, 0xD8};
  for (const Bytes& s : segments) out.insert(out.end(), s.begin(), s.end());
  out.insert(out.end(), rest.begin(), rest.end());
  return out;
}

int Find(const Parts& p, int marker) {
  for (size_t i = 0; i < p.segments.size(); ++i)
    if (p.segments[i][1] == marker) return static_cast<int>(i);
  return -1;
}

Bytes Segment(int marker, const Bytes& payload) {
  const size_t length = payload.size() + 2;
  Bytes s{0xFF, static_cast<uint8_t>(marker), static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
  s.insert(s.end(), payload.begin(), payload.end());
  return s;
}

class JpegFiles : public ::testing::Test {
 protected:
  long Open(const Bytes& bytes, TesseraClass& image) {
    const std::string path = dir_.Path("t.jpg");
    fixtures::WriteBytes(path, bytes);
    char* p = const_cast<char*>(path.c_str());
    return image.OpenImage(p, TesseraClass::m_s_EmptyTransform, nullptr, nullptr);
  }
  long Open(const Bytes& bytes) {
    TesseraClass image(0, TES_CS_RGB24);
    return Open(bytes, image);
  }
  long Thumbnail(const Bytes& bytes, short allowFull) {
    const std::string path = dir_.Path("t.jpg");
    fixtures::WriteBytes(path, bytes);
    char* p = const_cast<char*>(path.c_str());
    TesseraClass image(0, TES_CS_RGB24);
    return image.OpenThumbnail(p, TesseraClass::m_s_EmptyTransform, nullptr, nullptr, allowFull);
  }
  fixtures::ScratchDir dir_;
};

TEST(JpegTables, AanScaleFollowsItsFormula) {
  for (int u = 0; u < 8; ++u)
    for (int v = 0; v < 8; ++v) {
      auto a = [](int i) { return i == 0 ? 1.0 : std::sqrt(2.0) * std::cos(i * M_PI / 16); };
      EXPECT_EQ(kAanScale[8 * u + v], std::lround(16384 * a(u) * a(v)));
    }
  uint16_t r[64];
  FastReciprocals(QualityTable(3, 0), r);
  EXPECT_EQ(r[0], 65536u / (3 * 16384 / 2048));  // 2730
  EXPECT_EQ(r[63], 65536u / (15 * 1247 / 2048));
}

// The fixed layout of the table segments, for grey and colour.
TEST(JpegEncoder, TableSegmentsHaveTheirFixedLayout) {
  for (const bool grey : {true, false}) {
    const Parts p = Split(Encode(20, 10, grey, 1));
    const int lengths[][2] = {{0xDB, grey ? 67 : 132}, {0xC4, grey ? 210 : 418}, {0xDD, 4},
                              {0xC0, grey ? 11 : 17},  {0xDA, grey ? 8 : 12}};
    ASSERT_EQ(p.segments.size(), 5u);
    for (size_t i = 0; i < 5; ++i) {
      EXPECT_EQ(p.segments[i][1], lengths[i][0]);
      EXPECT_EQ(p.segments[i][2] << 8 | p.segments[i][3], lengths[i][1]);
    }
    // DQT in zig-zag order: level 1 luminance 18 14 14 14 16 ...
    EXPECT_EQ(p.segments[0][5], 18);
    EXPECT_EQ(p.segments[0][6], 14);
    EXPECT_EQ(p.segments[0][8], 14);
    // SOF0: luminance sampling 2x2 at level 1 for colour, 1x1 for grey.
    EXPECT_EQ(p.segments[3][11], grey ? 0x11 : 0x22);
    EXPECT_EQ(p.rest[p.rest.size() - 2], 0xFF);
    EXPECT_EQ(p.rest.back(), 0xD9);
  }
}

// The transforms on a flat block: only the DC term, its value fixed by the arithmetic.
TEST(JpegEncoder, TransformsOfAFlatBlock) {
  int32_t samples[64];
  for (int32_t& s : samples) s = 100;
  int16_t q[64];
  ForwardAccurateQuantize(samples, q);
  EXPECT_EQ(q[0], 800);  // 8 x 100, scaled by 8 and divided back with rounding
  for (int k = 1; k < 64; ++k) EXPECT_EQ(q[k], 0);
  uint16_t r[64];
  FastReciprocals(QualityTable(4, 0), r);
  ForwardFastQuantize(samples, r, q);
  // DC: 6400 x 2730 / 65536 rounded = 267 (quantisation value 2: 800 / 2 = 400, less the
  // truncations of the 8-bit reciprocal).
  EXPECT_EQ(q[0], static_cast<int16_t>((6400LL * r[0] + 32768) >> 16));
  for (int k = 1; k < 64; ++k) EXPECT_EQ(q[k], 0);
  for (int32_t& s : samples) s = -100;
  ForwardFastQuantize(samples, r, q);
  EXPECT_EQ(q[0], static_cast<int16_t>(-((32768 + 6400LL * r[0]) >> 16)));  // symmetric
}

// The vector kernels give the portable kernels' bytes at every level: the detected ones,
// and every level this processor can run.
TEST(JpegEncoder, VectorAndPortablePathsGiveTheSameBytes) {
  for (const bool grey : {false, true})
    for (int level = 1; level <= 5; ++level) {
      ForcePortableKernels(true);
      const Bytes portable = Encode(203, 77, grey, level);
      ForcePortableKernels(false);
      const Bytes vector = Encode(203, 77, grey, level);
      EXPECT_EQ(portable, vector) << "level " << level << " on " << VectorLevel();
      for (const char* name : {"sse2", "avx2"}) {
        const KernelTable* table = VectorKernelsOf(name);
        if (table == nullptr) continue;
        UseVectorKernels(table);
        EXPECT_EQ(portable, Encode(203, 77, grey, level)) << "level " << level << " on " << name;
        UseVectorKernels(nullptr);
      }
    }
}

// Every vector kernel against its portable version on random and extreme inputs: the
// encoder's must give the same values, and the decoder's are held to the same standard so
// that a file decodes to the same pixels on every processor.
TEST(JpegKernels, VectorKernelsMatchPortableOnes) {
  uint32_t seed = 2024;
  auto next = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  for (const char* level : {"sse2", "avx2"}) {
    const KernelTable* vec = VectorKernelsOf(level);
    if (vec == nullptr) continue;
    SCOPED_TRACE(level);

    // Colour conversion rows, every width up to 70, random pixels and the extremes (pure
    // blue gives Cb = 128, the widest value).
    for (int width = 1; width <= 70; ++width)
      for (int pattern = 0; pattern < 3; ++pattern) {
        // Exactly one row: a kernel that reads past it shows under the address sanitizer.
        Bytes rgb(static_cast<size_t>(width) * 3);
        for (size_t i = 0; i < rgb.size(); ++i)
          rgb[i] = pattern == 0 ? static_cast<uint8_t>(next()) : pattern == 1 ? (i % 3 == 2 ? 255 : 0)
                                                                               : (i % 3 == 0 ? 255 : 0);
        std::vector<int32_t> a(width), b(width), a2(width), b2(width), c(width), c2(width);
        LumaRowScalar(rgb.data(), width, a.data());
        vec->lumaRow(rgb.data(), width, a2.data());
        EXPECT_EQ(a, a2) << "luma, width " << width;
        for (const int step : {1, 2}) {
          const int groups = (width + step - 1) / step;  // as the encoder calls it
          std::fill(b.begin(), b.end(), 0);
          std::fill(c.begin(), c.end(), 0);
          std::fill(b2.begin(), b2.end(), 0);
          std::fill(c2.begin(), c2.end(), 0);
          ChromaRowScalar(rgb.data(), groups, step, b.data(), c.data());
          vec->chromaRow(rgb.data(), groups, step, b2.data(), c2.data());
          EXPECT_EQ(b, b2) << "Cb, width " << width << " step " << step;
          EXPECT_EQ(c, c2) << "Cr, width " << width << " step " << step;
        }
        for (const int shift : {0, 1}) {
          Bytes y(width), cb(width), cr(width), out(static_cast<size_t>(width) * 3), out2(out.size());
          for (int x = 0; x < width; ++x) {
            y[x] = rgb[3 * x];
            cb[x] = rgb[3 * x + 1];
            cr[x] = rgb[3 * x + 2];
          }
          YccRowScalar(y.data(), cb.data(), cr.data(), width, shift, out.data());
          vec->yccRow(y.data(), cb.data(), cr.data(), width, shift, out2.data());
          EXPECT_EQ(out, out2) << "YCbCr, width " << width << " shift " << shift;
        }
      }

    // Forward transform and quantisation with the reciprocals of levels 1 to 4 and of a
    // table of ones (divisors of 1): random samples, flat extremes, a checkerboard, and for
    // each of the 64 terms the extremes signed as its cosines (each term at its largest,
    // which the 16-bit lanes must hold), with luminance's -128..127 and chroma's -127..128.
    const uint8_t ones[64] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                              1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                              1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    for (int level = 1; level <= 5; ++level)
      for (int component = 0; component < 2; ++component) {
        uint16_t r[64];
        FastReciprocals(level == 5 ? ones : QualityTable(level, component), r);
        for (int trial = 0; trial < 300; ++trial) {
          int32_t samples[64];
          for (int k = 0; k < 64; ++k) {
            const int u = k >> 3, v = k & 7;
            // Term (fu, fv) of the basis, for trials 4 to 131.
            const int fu = ((trial - 4) & 63) >> 3, fv = (trial - 4) & 7;
            const double basis = std::cos((2 * u + 1) * fu * M_PI / 16) * std::cos((2 * v + 1) * fv * M_PI / 16);
            samples[k] = trial == 0   ? -128
                         : trial == 1 ? 127
                         : trial == 2 ? ((u + v) & 1 ? 127 : -128)
                         : trial == 3 ? (u < 4 ? 127 : -128)
                         : trial < 68 ? (basis >= 0 ? 127 : -128)
                         : trial < 132 ? (basis >= 0 ? 128 : -127)
                                       : static_cast<int32_t>(next() % 256) - 128;
          }
          int16_t q[64], q2[64];
          ForwardFastQuantizeScalar(samples, 8, r, q);
          vec->forwardFast(samples, 8, r, q2);
          ASSERT_EQ(0, std::memcmp(q, q2, sizeof q)) << "level " << level << " trial " << trial;
        }
      }

    // Inverse transform: sparse and dense blocks, small and large quantisation values (16-bit
    // tables reach 65535), and coefficients far beyond what valid data hold (the overflow guard).
    for (int trial = 0; trial < 2000; ++trial) {
      int16_t coef[64] = {};
      uint16_t quant[64];
      const int density = 1 + trial % 64;
      const int magnitude = trial % 5 == 4 ? 32767 : trial % 5 == 3 ? 2047 : 255;
      for (int k = 0; k < 64; ++k) {
        quant[k] = static_cast<uint16_t>(1 + next() % (trial % 7 == 6 ? 65535 : trial % 3 == 0 ? 255 : 16));
        if (static_cast<int>(next() % 64) < density)
          coef[k] = static_cast<int16_t>(static_cast<int>(next() % (2 * magnitude + 1)) - magnitude);
      }
      uint8_t out[8 * 11], out2[8 * 11];
      std::memset(out, 0xAA, sizeof out);
      std::memset(out2, 0xAA, sizeof out2);
      InverseScalar(coef, quant, out, 11);
      vec->inverse(coef, quant, out2, 11);
      ASSERT_EQ(0, std::memcmp(out, out2, sizeof out)) << "trial " << trial;
    }
    // Quantisation values of 2^15 and more, which a 16-bit table holds, times small
    // coefficients: products that a signed 16-bit multiply would take as small negative ones.
    for (const uint16_t q : {32768, 40000, 65535}) {
      int16_t coef[64] = {};
      coef[0] = 1;
      coef[1] = -1;
      coef[9] = 2;
      uint16_t quant[64];
      for (uint16_t& v : quant) v = q;
      uint8_t out[64], out2[64];
      InverseScalar(coef, quant, out, 8);
      vec->inverse(coef, quant, out2, 8);
      ASSERT_EQ(0, std::memcmp(out, out2, sizeof out)) << "q " << q;
    }
  }
}

// The decoder's shortcut for blocks with the DC term alone gives the full transform's
// samples for every DC value a baseline file can hold, clamped ones included.
TEST(JpegKernels, FlatBlockShortcutMatchesTheFullTransform) {
  for (const uint16_t q : {1, 2, 3, 7, 16, 99, 255})
    for (int dc = -2048; dc <= 2047; ++dc) {
      int16_t coef[64] = {};
      coef[0] = static_cast<int16_t>(dc);
      uint16_t quant[64];
      for (uint16_t& v : quant) v = q;
      uint8_t full[64], flat[64];
      InverseScalar(coef, quant, full, 8);
      InverseDcOnly(coef[0], q, flat, 8);
      ASSERT_EQ(0, std::memcmp(full, flat, 64)) << "dc " << dc << " q " << q;
    }
}

TEST(JpegEncoder, ExifSegmentSizeAndTextPlacement) {
  tagTes_Image_Info info{};
  info.size = sizeof info;
  std::strcpy(info.maker, "Abc");   // 4 bytes with its zero: inside the entry
  std::strcpy(info.model, "Abcd");  // 5 bytes: in the data area
  const Bytes thumb(100, 0x55);
  EXPECT_EQ(ExifSegmentSize(info, 0, false), 536u + 5u);
  EXPECT_EQ(ExifSegmentSize(info, thumb.size(), true), 536u + 5u + 100u + 94u);

  ExifInput in;
  in.info = &info;
  in.dpi = 300;
  in.dateTime = "2024:01:02 03:04:05";
  in.dateTimeDigitized = "2024:01:02 03:04:06";
  in.width = 640;
  in.height = 480;
  in.thumbnail = &thumb;
  const ExifSegment seg = BuildExifSegment(in);
  ASSERT_EQ(seg.bytes.size(), 536u + 5u + 194u);
  EXPECT_EQ(seg.bytes[2] << 8 | seg.bytes[3], static_cast<int>(seg.bytes.size() - 2));
  const uint8_t* tiff = seg.bytes.data() + 10;
  auto u16 = [&](size_t at) { return tiff[at] | tiff[at + 1] << 8; };
  auto u32 = [&](size_t at) { return static_cast<uint32_t>(u16(at) | u16(at + 2) << 16); };
  EXPECT_EQ(u16(8), 10);
  // Make (entry 2): count 4, text in the value field.
  EXPECT_EQ(u16(10 + 12), 271);
  EXPECT_EQ(u32(10 + 12 + 4), 4u);
  EXPECT_EQ(std::memcmp(tiff + 10 + 12 + 8, "Abc", 4), 0);
  // Model (entry 3): count 5, offset into the data area right after IFD0.
  EXPECT_EQ(u32(10 + 24 + 4), 5u);
  EXPECT_EQ(u32(10 + 24 + 8), 134u);
  EXPECT_EQ(std::memcmp(tiff + 134, "Abcd", 5), 0);
  // Orientation 0 is written as 1.
  EXPECT_EQ(u16(10 + 36), 274);
  EXPECT_EQ(u16(10 + 36 + 8), 1);
  // The CompressedBitsPerPixel denominator is in place, the numerator waits for its patch.
  EXPECT_EQ(seg.bytes[seg.cbppNumeratorAt], 0);
  EXPECT_EQ(seg.bytes[seg.cbppNumeratorAt + 4] | seg.bytes[seg.cbppNumeratorAt + 5] << 8, 1000);
  // The thumbnail ends the segment.
  EXPECT_EQ(seg.bytes.back(), 0x55);
}

// Every decoder code, from a valid stream changed in one place.
TEST_F(JpegFiles, DecoderCodes) {
  const Parts colour = Split(Encode(24, 16, false, 3));
  const int dqt = Find(colour, 0xDB), dht = Find(colour, 0xC4), dri = Find(colour, 0xDD), sof = Find(colour, 0xC0),
            sos = Find(colour, 0xDA);
  ASSERT_EQ(Open(Join(colour.segments, colour.rest)), 0);

  struct Case {
    const char* name;
    long code;
    std::function<Bytes()> make;
  };
  auto with = [&](int index, std::function<void(Bytes&)> change) {
    std::vector<Bytes> s = colour.segments;
    change(s[static_cast<size_t>(index)]);
    return Join(s, colour.rest);
  };
  auto inserted = [&](int before, const Bytes& segment) {
    std::vector<Bytes> s = colour.segments;
    s.insert(s.begin() + before, segment);
    return Join(s, colour.rest);
  };
  Bytes dht16(0x11 + 5, 0);  // a DHT table whose 2 codes of length 1 and 1 of length 1 overflow
  const std::vector<Case> cases = {
      {"no SOI", TES_ERR_UNKNOWN_FORMAT, [&] { return Join(colour.segments, colour.rest, false); }},
      {"lossless", TES_ERR_UNKNOWN_FORMAT, [&] { return with(sof, [](Bytes& b) { b[1] = 0xC3; }); }},
      {"progressive with a sequential scan", 1318, [&] { return with(sof, [](Bytes& b) { b[1] = 0xC2; }); }},
      {"arithmetic", 1302, [&] { return with(sof, [](Bytes& b) { b[1] = 0xC9; }); }},
      {"DNL", 1302, [&] { return inserted(0, Segment(0xDC, {0, 16})); }},
      {"APP3 unskippable", 1303, [&] { return inserted(0, Bytes{0xFF, 0xE3, 0, 1}); }},
      {"COM", 1304, [&] { return inserted(0, Bytes{0xFF, 0xFE, 0, 1}); }},
      {"RST outside scan", 1305, [&] { return inserted(0, Bytes{0xFF, 0xD0}); }},
      {"EOI first", 1306, [&] { return inserted(0, Bytes{0xFF, 0xD9}); }},
      {"DRI short", 1307, [&] { return with(dri, [](Bytes& b) { b[3] = 3; b.pop_back(); }); }},
      {"DQT short", 1308, [&] { return inserted(0, Segment(0xDB, Bytes(64, 1))); }},
      {"DQT number 4", 1309, [&] { return with(dqt, [](Bytes& b) { b[4] = 0x04; }); }},
      {"DQT 16-bit too short", 1308, [&] { return with(dqt, [](Bytes& b) { b[4] = 0x10; }); }},
      {"DQT precision 2", 1310, [&] { return with(dqt, [](Bytes& b) { b[4] = 0x20; }); }},
      {"DHT overflow", 1311, [&] {
         Bytes t(17 + 3, 0);
         t[0] = 0x02;
         t[1] = 3;  // three codes of length 1
         return inserted(dht + 1, Segment(0xC4, t));
       }},
      {"DHT short", 1311, [&] { return inserted(0, Segment(0xC4, Bytes(10, 0))); }},
      {"frame short", 1313, [&] { return with(sof, [](Bytes& b) { b[3] = 7; }); }},
      {"frame 0 wide", 1313, [&] { return with(sof, [](Bytes& b) { b[7] = b[8] = 0; }); }},
      {"12-bit", 1314, [&] { return with(sof, [](Bytes& b) { b[4] = 12; }); }},
      {"5 components", 1315, [&] { return with(sof, [](Bytes& b) { b[9] = 5; }); }},
      {"SOS short", 1316, [&] { return with(sos, [](Bytes& b) { b[3] = 2; }); }},
      {"scan before DHT", 1317, [&] {
         std::vector<Bytes> s = colour.segments;
         s.erase(s.begin() + dht);
         return Join(s, colour.rest);
       }},
      {"spectral selection", 1318, [&] { return with(sos, [](Bytes& b) { b[b.size() - 2] = 5; }); }},
      // Chroma at 2x1 beside luminance at 3x1: not whole groups of pixels.
      {"factors that do not divide", 1318, [&] { return with(sof, [](Bytes& b) { b[11] = 0x31; b[14] = 0x21; }); }},
      {"unknown component", 1319, [&] { return with(sos, [](Bytes& b) { b[5] = 9; }); }},
      {"quant table missing", 1320, [&] { return with(sof, [](Bytes& b) { b[12] = 3; }); }},
      {"Huffman table missing", 1321, [&] { return with(sos, [](Bytes& b) { b[6] = 0x22; }); }},
  };
  for (const Case& c : cases) EXPECT_EQ(Open(c.make()), c.code) << c.name;

  // Damage and oddities that cost metadata at most: the image opens with its pixels.
  TesseraClass intact(0, TES_CS_RGB24);
  ASSERT_EQ(Open(Join(colour.segments, colour.rest), intact), 0);
  const Bytes pixels = fixtures::Pixels(intact);
  // Tables 2 and 3 of both classes (one code of length 2 each), which the scan does not use.
  Bytes moreTables;
  for (const uint8_t id : {0x02, 0x03, 0x12, 0x13, 0x02}) {
    Bytes t(17 + 1, 0);
    t[0] = id;
    t[2] = 1;
    moreTables.insert(moreTables.end(), t.begin(), t.end());
  }
  const std::vector<std::pair<const char*, Bytes>> tolerated = {
      {"stray bytes before a marker", inserted(0, Bytes{0x12, 0x34})},
      {"stray bytes before the frame", inserted(sof, Bytes{0x00, 0xFF, 0x00, 0x7F})},
      {"JFIF too short", inserted(0, Segment(0xE0, {'J', 'F', 'I', 'F', 0, 1, 2}))},
      {"APP0 of another kind", inserted(0, Segment(0xE0, {'A', 'V', 'I', '1', 0, 0, 0}))},
      {"JFXX with stray bytes", inserted(0, Segment(0xE0, {'J', 'F', 'X', 'X', 0, 0x13, 1, 1, 9, 9, 9, 9}))},
      {"JFIF thumbnail of the wrong size", inserted(0, Segment(0xE0, {'J', 'F', 'I', 'F', 0, 1, 2, 0, 0, 1, 0, 1, 2,
                                                                      2, 7}))},
      {"more than six Huffman tables", inserted(dht + 1, Segment(0xC4, moreTables))},
  };
  for (const auto& [name, file] : tolerated) {
    TesseraClass image(0, TES_CS_RGB24);
    EXPECT_EQ(Open(file, image), 0) << name;
    EXPECT_EQ(fixtures::Pixels(image), pixels) << name;
  }

  // 1322: restart interval of 1 MCU but no markers in the data.
  {
    std::vector<Bytes> s = colour.segments;
    s[static_cast<size_t>(dri)][5] = 1;
    EXPECT_EQ(Open(Join(s, colour.rest)), 1322);
  }
  // 1323: OpenThumbnail on a stream without APP0/APP1, whatever allowFullImage says.
  EXPECT_EQ(Thumbnail(Join(colour.segments, colour.rest), 0), 1323);
  EXPECT_EQ(Thumbnail(Join(colour.segments, colour.rest), 1), 1323);
}

// Decoding gives the same pixels with the vector kernels as with the portable ones, for
// every sampling layout and grey, at a size with partial MCUs on both edges.
TEST_F(JpegFiles, VectorAndPortableDecodesAreIdentical) {
  for (const bool grey : {false, true})
    for (const int level : {1, 3, 5}) {
      const Bytes file = Encode(203, 77, grey, level);
      ForcePortableKernels(true);
      TesseraClass portable(0, TES_CS_RGB24);
      const long s1 = Open(file, portable);
      ForcePortableKernels(false);
      ASSERT_EQ(s1, 0);
      for (const char* name : {"sse2", "avx2"}) {
        const KernelTable* table = VectorKernelsOf(name);
        if (table == nullptr) continue;
        UseVectorKernels(table);
        TesseraClass vector(0, TES_CS_RGB24);
        const long s2 = Open(file, vector);
        UseVectorKernels(nullptr);
        ASSERT_EQ(s2, 0);
        EXPECT_EQ(fixtures::Pixels(portable), fixtures::Pixels(vector))
            << "level " << level << " grey " << grey << " on " << name;
      }
    }
}

// Entropy-coded data that run out: the image is finished from zero bits.
TEST_F(JpegFiles, TruncatedDataFinishTheImage) {
  const Bytes full = Encode(64, 48, false, 3);
  for (const size_t cut : {full.size() - 2, full.size() / 2, size_t{700}}) {
    Bytes part(full.begin(), full.begin() + static_cast<long>(cut));
    TesseraClass image(0, TES_CS_RGB24);
    EXPECT_EQ(Open(part, image), 0) << cut;
    EXPECT_EQ(fixtures::Pixels(image).size(), 64u * 48u * 3u);
  }
}

Bytes ExifPayload(bool little, const std::function<void(Bytes&, std::function<void(size_t, uint32_t, int)>)>& fill) {
  Bytes p{'E', 'x', 'i', 'f', 0, 0};
  Bytes t(512, 0);
  auto put = [&](size_t at, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) t[at + i] = static_cast<uint8_t>(little ? v >> (8 * i) : v >> (8 * (bytes - 1 - i)));
  };
  t[0] = t[1] = little ? 'I' : 'M';
  put(2, 42, 2);
  put(4, 8, 4);
  fill(t, put);
  p.insert(p.end(), t.begin(), t.end());
  return p;
}

// IFD entry at index i of the IFD at `ifd`.
void PutEntry(const std::function<void(size_t, uint32_t, int)>& put, size_t ifd, int i, uint16_t tag, uint16_t type,
              uint32_t count, uint32_t value, bool little) {
  const size_t at = ifd + 2 + 12 * i;
  put(at, tag, 2);
  put(at + 2, type, 2);
  put(at + 4, count, 4);
  if (type == 3 && count == 1 && !little)
    put(at + 8, value << 16, 4);
  else
    put(at + 8, value, 4);
}

TEST_F(JpegFiles, ExifSegmentsOfOtherWriters) {
  const Parts colour = Split(Encode(24, 16, false, 3));
  auto open = [&](const Bytes& payload, TesseraClass& image) {
    std::vector<Bytes> s = colour.segments;
    s.insert(s.begin(), Segment(0xE1, payload));
    return Open(Join(s, colour.rest), image);
  };
  for (const bool little : {true, false}) {
    SCOPED_TRACE(little ? "II" : "MM");
    // IFD0 alone with Orientation 6: opens turned.
    {
      TesseraClass image(0, TES_CS_RGB24);
      const Bytes p = ExifPayload(little, [&](Bytes&, auto put) {
        put(8, 1, 2);
        PutEntry(put, 8, 0, 274, 3, 1, 6, little);
      });
      ASSERT_EQ(open(p, image), 0);
      tagTes_Image_Desc desc{};
      image.GetImageDesc(&desc);
      EXPECT_EQ(desc.width, 16);
      EXPECT_EQ(desc.height, 24);
    }
    // Another maker's maker note is skipped; our own gives its entry 1 text.
    for (const bool ours : {false, true}) {
      TesseraClass image(0, TES_CS_RGB24);
      const Bytes p = ExifPayload(little, [&](Bytes& t, auto put) {
        put(8, 1, 2);
        PutEntry(put, 8, 0, 34665, 4, 1, 40, little);
        put(40, 1, 2);
        PutEntry(put, 40, 0, 37500, 7, 40, 100, little);
        std::memcpy(&t[100], ours ? "Orvax\0" : "Nikon\0", 6);
        put(106, 256, 2);
        put(108, 1, 2);
        const size_t e = 110;
        put(e, 1, 2);
        put(e + 2, 2, 2);
        put(e + 4, 6, 4);
        put(e + 8, 200, 4);
        std::memcpy(&t[200], "note!", 6);
      });
      ASSERT_EQ(open(p, image), 0) << ours;
      tagTes_Image_Info info{};
      image.GetImageInfo(&info, sizeof info);
      EXPECT_STREQ(info.makerNoteText, ours ? "note!" : "");
    }
    // Pointers outside the segment lose what they point to, and only that: the model text
    // before them and the image stay.
    for (const uint32_t where : {40u, 5000u}) {
      TesseraClass image(0, TES_CS_RGB24);
      const Bytes p = ExifPayload(little, [&](Bytes& t, auto put) {
        put(8, 2, 2);
        PutEntry(put, 8, 0, 272, 2, 4, 0, little);
        std::memcpy(&t[8 + 2 + 8], "QV7", 4);
        PutEntry(put, 8, 1, 34665, 4, 1, where, little);
        put(40, 1, 2);
        PutEntry(put, 40, 0, 36867, 2, 20, 90000, little);
      });
      EXPECT_EQ(open(p, image), 0) << where;
      tagTes_Image_Info info{};
      image.GetImageInfo(&info, sizeof info);
      EXPECT_STREQ(info.model, "QV7") << where;
      EXPECT_STREQ(info.date, "") << where;
    }
    // A second Exif segment, damaged, keeps what the first gave.
    {
      TesseraClass image(0, TES_CS_RGB24);
      const Bytes good = ExifPayload(little, [&](Bytes& t, auto put) {
        put(8, 1, 2);
        PutEntry(put, 8, 0, 272, 2, 4, 0, little);
        std::memcpy(&t[8 + 2 + 8], "QV7", 4);
      });
      Bytes damaged = good;
      damaged[6 + 4] = 0x7F;  // IFD0 offset far outside
      std::vector<Bytes> s = colour.segments;
      s.insert(s.begin(), Segment(0xE1, damaged));
      s.insert(s.begin(), Segment(0xE1, good));
      EXPECT_EQ(Open(Join(s, colour.rest), image), 0);
      tagTes_Image_Info info{};
      image.GetImageInfo(&info, sizeof info);
      EXPECT_STREQ(info.model, "QV7");
    }
  }
}

// JFIF density in dots per centimetre, and a JFXX palette thumbnail.
TEST_F(JpegFiles, JfifResolutionAndPaletteThumbnail) {
  const Parts colour = Split(Encode(24, 16, false, 3));
  Bytes jfif{'J', 'F', 'I', 'F', 0, 1, 2, 2, 0, 118, 0, 118, 0, 0};
  Bytes jfxx{'J', 'F', 'X', 'X', 0, 0x11, 2, 1};
  Bytes palette(768, 0);
  palette[3 * 7] = 10, palette[3 * 7 + 1] = 20, palette[3 * 7 + 2] = 30;
  jfxx.insert(jfxx.end(), palette.begin(), palette.end());
  jfxx.push_back(7);
  jfxx.push_back(0);
  std::vector<Bytes> s = colour.segments;
  s.insert(s.begin(), Segment(0xE0, jfxx));
  s.insert(s.begin(), Segment(0xE0, jfif));
  const Bytes file = Join(s, colour.rest);
  const std::string path = dir_.Path("p.jpg");
  fixtures::WriteBytes(path, file);
  char* p = const_cast<char*>(path.c_str());
  tagTes_Image_Desc desc{};
  short type = 0, thumb = 0;
  ASSERT_EQ(TesseraClass::TestFile(p, &desc, &type, &thumb), 0);
  EXPECT_EQ(desc.resolution, 300.0);
  EXPECT_EQ(type, TES_FILE_JPEG);
  EXPECT_EQ(thumb, 1);
  TesseraClass image(0, TES_CS_RGB24);
  ASSERT_EQ(image.OpenThumbnail(p, TesseraClass::m_s_EmptyTransform, nullptr, nullptr, 0), 0);
  EXPECT_EQ(fixtures::Pixels(image), (Bytes{10, 20, 30, 0, 0, 0}));
}

TEST_F(JpegFiles, SaveRefusesOtherLevelsAndColourSpaces) {
  TesseraClass image(0, TES_CS_RGB24);
  ASSERT_EQ(fixtures::FillPattern(image, 10, 10, TES_CS_RGB24), 0);
  const std::string path = dir_.Path("s.jpg");
  for (const int level : {0, 6}) {
    const tagTes_File_Spec spec{path.c_str(), TES_FILE_JPEG, level};
    EXPECT_EQ(image.Save(spec, nullptr, nullptr, 0), TES_ERR_CANNOT_STORE);
  }
  TesseraClass deep(0, TES_CS_RGB48);
  const tagTes_Image_Desc deepDesc{4, 4, TES_CS_RGB48, {}, 72.0};
  ASSERT_EQ(deep.SetImageDesc(deepDesc, TesseraClass::m_s_EmptyTransform), 0);
  const tagTes_File_Spec spec{path.c_str(), TES_FILE_JPEG, 3};
  EXPECT_EQ(deep.Save(spec, nullptr, nullptr, 0), TES_ERR_CANNOT_STORE);
  // A call-back's non-zero answer stops writing and reading alike.
  auto stop = [](long, long, void*) -> long { return 7; };
  EXPECT_EQ(image.Save(spec, stop, nullptr, 0), 7);
  ASSERT_EQ(image.Save(spec, nullptr, nullptr, 0), 0);
  char* p = const_cast<char*>(path.c_str());
  EXPECT_EQ(image.OpenImage(p, TesseraClass::m_s_EmptyTransform, stop, nullptr), 7);
}

}  // namespace
