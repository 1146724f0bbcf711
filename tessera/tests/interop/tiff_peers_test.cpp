// TIFF files exchanged with libtiff's tools (tiffcp, tiffinfo, tiffdump), tifffile, Pillow
// (both under Debian's /usr/bin/python3) and ImageMagick: their uncompressed files open here
// with the pattern's pixels, files written here pass libtiff's tools and read back in
// libtiff and tifffile with the same pixels and resolution, and the files this reader
// refuses answer their codes. The test makes every file itself.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>

#include "fixtures.h"
#include "tiff_fixtures.h"

using namespace fixtures;
using namespace tiff_fixtures;

namespace {

const tagTes_Transform_Struct kNone = TesseraClass::m_s_EmptyTransform;

int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Text(const std::string& path) {
  const Bytes b = ReadBytes(path);
  return std::string(b.begin(), b.end());
}

// The tifffile side: "make" writes TIFFs from raw little-endian interleaved samples, one per
// line of a job file (one interpreter for many files keeps the test fast),
// "read" writes a TIFF's samples back as raw little-endian interleaved samples and prints
// width, height, samples, bits, photometric and the horizontal resolution in dots per inch.
const char* kPeerScript = R"(import sys
import numpy as np, tifffile
mode = sys.argv[1]
def make(raw, w, h, c, bits, photometric, order, rps, planar, out, bigtiff='0'):
    w, h, c, rps = int(w), int(h), int(c), int(rps)
    a = np.fromfile(raw, dtype='<u2' if bits == '16' else 'u1')
    a = a.reshape((h, w, c) if c > 1 else (h, w))
    kw = {}
    if c > 1:
        kw['planarconfig'] = 'separate' if planar == '2' else 'contig'
        if planar == '2':
            a = np.ascontiguousarray(np.moveaxis(a, -1, 0))
    if rps > 0:
        kw['rowsperstrip'] = rps
    tifffile.imwrite(out, a, photometric=photometric, byteorder=order, resolution=(300, 300),
                     resolutionunit='INCH', metadata=None, bigtiff=bigtiff == '1', **kw)
if mode == 'make':
    for line in open(sys.argv[2]):
        make(*line.split())
elif mode == 'read':
    tif, raw = sys.argv[2:]
    with tifffile.TiffFile(tif) as t:
        p = t.pages[0]
        a = p.asarray()
        if p.planarconfig == 2 and p.samplesperpixel > 1:
            a = np.moveaxis(a, 0, -1)
        np.ascontiguousarray(a).astype(a.dtype.newbyteorder('<')).tofile(raw)
        x = p.tags['XResolution'].value
        unit = int(p.tags['ResolutionUnit'].value)
        dpi = x[0] / x[1] * (2.54 if unit == 3 else 1)
        print(p.imagewidth, p.imagelength, p.samplesperpixel, p.bitspersample, int(p.photometric), '%g' % dpi)
)";

const char* kPillowScript = R"(import sys
from PIL import Image
raw, mode, w, h, out = sys.argv[1:]
Image.frombytes(mode, (int(w), int(h)), open(raw, 'rb').read()).save(out, dpi=(300, 300))
)";

struct Kind {
  const char* name;
  int cs, samples, bits;
  const char* photometric;  // tifffile's name
  int photometricCode;
};

const Kind kKinds[] = {
    {"grey8", 0, 1, 8, "minisblack", 1}, {"grey16", 1, 1, 16, "minisblack", 1}, {"rgb8", 2, 3, 8, "rgb", 2},
    {"rgb16", 3, 3, 16, "rgb", 2},       {"cmyk8", 4, 4, 8, "separated", 5},    {"lab16", 5, 3, 16, "cielab", 8},
};

class TiffPeers : public fixtures::ManagedLibraryTest {
 protected:
  void SetUp() override {
    StartLibrary({}, "/usr/share/color/icc/ghostscript/default_cmyk.icc");
    WriteBytes(dir_.Path("peer.py"), Bytes(kPeerScript, kPeerScript + std::strlen(kPeerScript)));
    WriteBytes(dir_.Path("pillow.py"), Bytes(kPillowScript, kPillowScript + std::strlen(kPillowScript)));
  }

  static bool Managed(int cs) { return cs == TES_CS_CMYK32 || cs == TES_CS_LAB48; }

  std::string Raw(const Kind& k, int w, int h) {
    const std::string raw = dir_.Path(std::string(k.name) + ".raw");
    WriteBytes(raw, StorePixels(w, h, k.samples, k.bits));
    return raw;
  }

  // A line of tifffile's job file for a file of the pattern; the file's path.
  std::string Job(std::string& jobs, const Kind& k, int w, int h, const char* order, int rps, int planar,
                  const std::string& out, bool bigTiff = false) {
    jobs += Raw(k, w, h) + " " + std::to_string(w) + " " + std::to_string(h) + " " + std::to_string(k.samples) +
            " " + std::to_string(k.bits) + " " + k.photometric + " " + order + " " + std::to_string(rps) + " " +
            std::to_string(planar) + " " + dir_.Path(out) + (bigTiff ? " 1" : "") + "\n";
    return dir_.Path(out);
  }
  void RunJobs(const std::string& jobs) {
    WriteBytes(dir_.Path("jobs.txt"), Bytes(jobs.begin(), jobs.end()));
    ASSERT_EQ(Shell("/usr/bin/python3 " + dir_.Path("peer.py") + " make " + dir_.Path("jobs.txt")), 0);
  }
  std::string Tifffile(const Kind& k, int w, int h, const char* order, int rps, int planar, const std::string& out) {
    std::string jobs;
    const std::string path = Job(jobs, k, w, h, order, rps, planar, out);
    RunJobs(jobs);
    return path;
  }

  // Opens a peer's file here and compares it with the pattern.
  void ExpectPattern(const std::string& file, const Kind& k, int w, int h, double dpi = 300.0) {
    SCOPED_TRACE(file);
    TesseraClass image(Managed(k.cs) ? TES_FLAG_COLOR_MANAGED : 0, TES_CS_RGB24);
    std::string path = file;
    ASSERT_EQ(image.OpenImage(path.data(), kNone, nullptr, nullptr), 0);
    tagTes_Image_Desc desc{};
    image.GetImageDesc(&desc);
    EXPECT_EQ(desc.colorSpace, k.cs);
    ASSERT_EQ(desc.width, w);
    ASSERT_EQ(desc.height, h);
    EXPECT_DOUBLE_EQ(desc.resolution, dpi);
    const int bpp = k.samples * k.bits / 8;
    Bytes pixels(static_cast<size_t>(w) * h * bpp);
    ASSERT_EQ(image.GetData({{0, 0, w, h}, w * bpp, 0}, pixels.data()), 0);
    // A peer's 16-bit CIELab holds a and b signed.
    const Bytes pattern = StorePixels(w, h, k.samples, k.bits);
    EXPECT_TRUE(pixels == (k.cs == TES_CS_LAB48 ? SignedLabAsStored(pattern) : pattern)) << "pixels differ";
  }

  // A file opened here: its pixels (bpp bytes each), after checking the colour space it
  // opens as. Empty when it does not open.
  static Bytes Opened(const std::string& file, int cs, int w, int h, int bpp) {
    TesseraClass image(Managed(cs) ? TES_FLAG_COLOR_MANAGED : 0, TES_CS_RGB24);
    std::string path = file;
    EXPECT_EQ(image.OpenImage(path.data(), kNone, nullptr, nullptr), 0) << file;
    tagTes_Image_Desc desc{};
    image.GetImageDesc(&desc);
    EXPECT_EQ(desc.colorSpace, cs) << file;
    Bytes pixels(static_cast<size_t>(w) * h * bpp);
    if (image.GetData({{0, 0, w, h}, w * bpp, 0}, pixels.data()) != 0) return {};
    return pixels;
  }

  // tifffile's reading of a file: its report line, and the pixels in raw.
  std::string TifffileRead(const std::string& file, const std::string& raw) {
    const std::string report = dir_.Path("report.txt");
    EXPECT_EQ(Shell("/usr/bin/python3 " + dir_.Path("peer.py") + " read " + file + " " + raw + " > " + report), 0);
    return Text(report);
  }

  ScratchDir dir_;
};

TEST_F(TiffPeers, TifffileFilesOpenHereInEveryLayout) {
  const int w = 37, h = 150;
  std::string jobs;
  std::vector<std::pair<const Kind*, std::string>> files;
  for (const Kind& k : kKinds) {
    if (Managed(k.cs) && color_.empty()) continue;
    for (const char* order : {"<", ">"})
      for (const int rps : {0, 11})
        for (const int planar : {1, 2}) {
          if (planar == 2 && k.samples == 1) continue;
          const std::string out = std::string(k.name) + (order[0] == '<' ? "_le" : "_be") + "_rps" +
                                  std::to_string(rps) + "_p" + std::to_string(planar) + ".tif";
          files.emplace_back(&k, Job(jobs, k, w, h, order, rps, planar, out));
        }
  }
  RunJobs(jobs);
  for (const auto& [k, file] : files) ExpectPattern(file, *k, w, h);
}

TEST_F(TiffPeers, LibtiffRewritesOpenHere) {
  const int w = 29, h = 140;
  std::string jobs;
  std::vector<std::string> sources;
  for (const Kind& k : kKinds) sources.push_back(Job(jobs, k, w, h, "<", 0, 1, std::string(k.name) + ".tif"));
  RunJobs(jobs);
  for (const Kind& k : kKinds) {
    if (Managed(k.cs) && color_.empty()) continue;
    SCOPED_TRACE(k.name);
    const std::string source = sources[&k - kKinds];
    // Many strips, big-endian, separate planes, and all together.
    for (const std::string options : {"-r 3", "-B", "-p separate", "-B -p separate -r 7", "-L -r 1"}) {
      // libtiff's tiffcp changes the planar configuration of 8-bit samples only.
      if ((k.samples == 1 || k.bits != 8) && options.find("separate") != std::string::npos) continue;
      SCOPED_TRACE(options);
      const std::string out = dir_.Path("tiffcp.tif");
      ASSERT_EQ(Shell("tiffcp -c none " + options + " " + source + " " + out), 0);
      ExpectPattern(out, k, w, h);
    }
  }
}

TEST_F(TiffPeers, PillowAndImageMagickFilesOpenHere) {
  const int w = 31, h = 133;
  const struct {
    const Kind& kind;
    const char* pillowMode;  // null: Pillow does not write it uncompressed
    const char* magick;      // ImageMagick's raw format
  } cases[] = {{kKinds[0], "L", "gray"}, {kKinds[1], "I;16", "gray"}, {kKinds[2], "RGB", "rgb"},
               {kKinds[3], nullptr, "rgb"}, {kKinds[4], "CMYK", "cmyk"}};
  for (const auto& c : cases) {
    const Kind& k = c.kind;
    if (Managed(k.cs) && color_.empty()) continue;
    SCOPED_TRACE(k.name);
    const std::string raw = Raw(k, w, h);
    const std::string size = std::to_string(w) + " " + std::to_string(h);
    if (c.pillowMode != nullptr) {
      const std::string out = dir_.Path("pillow.tif");
      ASSERT_EQ(Shell("/usr/bin/python3 " + dir_.Path("pillow.py") + " " + raw + " '" + c.pillowMode + "' " + size +
                      " " + out),
                0);
      ExpectPattern(out, k, w, h);
    }
    for (const char* endian : {"LSB", "MSB"}) {
      const std::string out = dir_.Path(std::string("magick_") + endian + ".tif");
      const std::string command = "/usr/bin/convert -size " + std::to_string(w) + "x" + std::to_string(h) +
                                  " -depth " + std::to_string(k.bits) + " -endian LSB " + c.magick + ":" + raw +
                                  " -endian " + endian + " -compress none -density 300 -units PixelsPerInch " + out;
      ASSERT_EQ(Shell(command + " 2>&1"), 0) << command;
      ExpectPattern(out, k, w, h);
    }
  }
}

// tiffcp's compressions (LZW, Deflate, PackBits, with the horizontal predictor at 8 and 16
// bits), tiles, separate planes and several pages: each file opens with the pattern the
// uncompressed source holds.
TEST_F(TiffPeers, CompressedTiledAndMultiPageFilesOpen) {
  for (const int kind : {0, 1, 2, 3, 4}) {
    const Kind& k = kKinds[kind];
    if (Managed(k.cs) && color_.empty()) continue;
    const int w = 45, h = 37;
    const std::string source = Tifffile(k, w, h, kind % 2 ? ">" : "<", 0, 1, std::string(k.name) + "-plain.tif");
    const std::string options[] = {"-c lzw",       "-c lzw:2",  "-c zip",      "-c zip:2",
                                   "-c packbits",  "-c none -t -w 16 -l 16", "-c lzw:2 -t -w 32 -l 16",
                                   "-c zip:2 -p separate -r 7", "-c none -r 5"};
    for (const std::string& o : options) {
      SCOPED_TRACE(std::string(k.name) + " " + o);
      if (k.bits == 16 && o.find("separate") != std::string::npos) continue;  // tiffcp splits 8-bit samples only
      const std::string out = dir_.Path("variant.tif");
      ASSERT_EQ(Shell("tiffcp " + o + " " + source + " " + out), 0);
      ExpectPattern(out, k, w, h);
    }
    // Two pages: the first is read.
    const std::string two = dir_.Path("two.tif");
    ASSERT_EQ(Shell("tiffcp -c lzw " + source + " " + source + " " + two), 0);
    ExpectPattern(two, k, w, h);
  }
}

// BigTIFF (64-bit offsets and counts) from tifffile and from tiffcp -8, uncompressed,
// compressed, tiled and in separate planes: each opens with the pattern's pixels, which
// tifffile reads from tiffcp's files too.
TEST_F(TiffPeers, BigTiffFilesOpen) {
  const int w = 41, h = 23;
  std::string jobs;
  std::vector<std::pair<const Kind*, std::string>> files;
  for (const Kind& k : kKinds)
    for (const char* order : {"<", ">"})
      files.emplace_back(&k, Job(jobs, k, w, h, order, 5, k.samples > 1 && order[0] == '>' ? 2 : 1,
                                 std::string(k.name) + (order[0] == '<' ? "_le" : "_be") + "_big.tif", true));
  RunJobs(jobs);
  for (const auto& [k, file] : files) {
    if (Managed(k->cs) && color_.empty()) continue;
    const Bytes head = ReadBytes(file);
    ASSERT_GE(head.size(), 4u);
    EXPECT_EQ(head[2] + head[3], 43) << file << ": not BigTIFF";
    ExpectPattern(file, *k, w, h);
  }
  for (const int kind : {0, 3, 4}) {
    const Kind& k = kKinds[kind];
    if (Managed(k.cs) && color_.empty()) continue;
    const std::string source = Tifffile(k, w, h, "<", 0, 1, std::string(k.name) + "-classic.tif");
    for (const std::string o : {"-8 -c none -B", "-8 -c lzw:2 -r 4", "-8 -c zip:2 -t -w 16 -l 16", "-8 -c packbits -p separate"}) {
      if (k.bits == 16 && o.find("separate") != std::string::npos) continue;  // tiffcp splits 8-bit samples only
      SCOPED_TRACE(std::string(k.name) + " " + o);
      const std::string out = dir_.Path("big.tif"), raw = dir_.Path("big.raw");
      ASSERT_EQ(Shell("tiffcp " + o + " " + source + " " + out), 0);
      ExpectPattern(out, k, w, h);
      if (o.find("lzw") != std::string::npos) continue;  // tifffile decodes LZW only with imagecodecs
      TifffileRead(out, raw);
      EXPECT_TRUE(ReadBytes(raw) == StorePixels(w, h, k.samples, k.bits)) << "tifffile's pixels differ";
    }
  }
}

// JPEG-compressed strips and tiles (RGB and YCbCr, with shared tables) decode here within
// 2 of what libtiff and libjpeg give through Pillow, for grey and colour.
TEST_F(TiffPeers, JpegCompressedFilesDecodeLikeLibtiff) {
  const int w = 61, h = 43;
  for (const int kind : {0, 2}) {
    const Kind& k = kKinds[kind];
    // A smooth picture, as photographs are: chroma subsampling costs it little.
    const std::string source = dir_.Path(std::string(k.name) + "-smooth.tif");
    ASSERT_EQ(Shell("/usr/bin/python3 -c \"import sys; import numpy as np; from PIL import Image; "
                    "y, x = np.mgrid[0:43, 0:61]; "
                    "a = np.dstack([x * 4, y * 5, (x + y) * 2]).astype(np.uint8); "
                    "im = Image.fromarray(a); (im.convert('L') if sys.argv[2] == '0' else im).save(sys.argv[1])\" " +
                    source + " " + std::to_string(kind)),
              0);
    for (const std::string o : {"-c jpeg:90", "-c jpeg:90 -r 16", "-c jpeg:90 -t -w 32 -l 16", "-c jpeg:r:90"}) {
      if (kind == 0 && o.find(":r") != std::string::npos) continue;  // YCbCr is for colour
      SCOPED_TRACE(std::string(k.name) + " " + o);
      const std::string out = dir_.Path("jpeg.tif"), raw = dir_.Path("jpeg.raw");
      ASSERT_EQ(Shell("tiffcp " + o + " " + source + " " + out), 0);
      ASSERT_EQ(Shell("/usr/bin/python3 -c \"import sys; from PIL import Image; "
                      "open(sys.argv[2], 'wb').write(Image.open(sys.argv[1]).convert('" +
                      std::string(kind == 0 ? "L" : "RGB") + "').tobytes())\" " + out + " " + raw),
                0);
      const Bytes expected = ReadBytes(raw);
      TesseraClass image(0, TES_CS_RGB24);
      std::string path = out;
      ASSERT_EQ(image.OpenImage(path.data(), kNone, nullptr, nullptr), 0);
      tagTes_Image_Desc desc{};
      image.GetImageDesc(&desc);
      EXPECT_EQ(desc.colorSpace, k.cs);
      Bytes pixels(static_cast<size_t>(w) * h * k.samples);
      ASSERT_EQ(image.GetData({{0, 0, w, h}, w * k.samples, 0}, pixels.data()), 0);
      ASSERT_EQ(pixels.size(), expected.size());
      int worst = 0;
      long total = 0;
      for (size_t i = 0; i < pixels.size(); ++i) {
        worst = std::max(worst, std::abs(pixels[i] - expected[i]));
        total += std::abs(pixels[i] - expected[i]);
      }
      // Grey and RGB (":r") within 2; YCbCr at tiffcp's 2x2 sampling on average, since
      // libjpeg smooths the chroma where we replicate it.
      if (kind == 0 || o.find(":r") != std::string::npos)
        EXPECT_LE(worst, 2);
      else
        EXPECT_LE(static_cast<double>(total) / static_cast<double>(pixels.size()), 6.0);
    }
  }
}

// JPEG-compressed CMYK (strips and tiles from tiffcp, a file from ImageMagick): the ink
// amounts as libtiff decodes them (its uncompressed copy, read with tifffile), within 2.
TEST_F(TiffPeers, JpegCompressedCmykDecodesLikeLibtiff) {
  if (color_.empty()) GTEST_SKIP() << "no profile folder";
  const int w = 61, h = 43;
  const std::string source = dir_.Path("cmyk-smooth.tif");
  ASSERT_EQ(Shell("/usr/bin/python3 -c \"import sys; import numpy as np, tifffile; "
                  "y, x = np.mgrid[0:43, 0:61]; "
                  "a = np.dstack([x * 4, y * 5, (x + y) * 2, 255 - x * 3]).astype(np.uint8); "
                  "tifffile.imwrite(sys.argv[1], a, photometric='separated')\" " + source),
            0);
  // A strip that Pillow codes with an Adobe segment (inverted, as Adobe stores CMYK): in a
  // TIFF its bytes are the ink amounts as they stand, as libtiff reads them.
  const std::string adobe = dir_.Path("adobe.py");
  const std::string script = R"(import io, struct, sys
import tifffile
from PIL import Image
a = tifffile.imread(sys.argv[1])
buf = io.BytesIO()
Image.fromarray(a, 'CMYK').save(buf, 'JPEG', quality=90)
jpg = buf.getvalue()
assert b'Adobe' in jpg
h, w = a.shape[:2]
entries = [(256, 3, 1, w), (257, 3, 1, h), (258, 3, 4, 134), (259, 3, 1, 7), (262, 3, 1, 5),
           (273, 4, 1, 142), (277, 3, 1, 4), (278, 3, 1, h), (279, 4, 1, len(jpg)), (284, 3, 1, 1)]
out = b'II' + struct.pack('<HIH', 42, 8, len(entries))
for tag, typ, count, value in entries:
    out += struct.pack('<HHI', tag, typ, count) + struct.pack('<HH' if typ == 3 and count == 1 else '<I', *([value, 0] if typ == 3 and count == 1 else [value]))
open(sys.argv[2], 'wb').write(out + struct.pack('<I4H', 0, 8, 8, 8, 8) + jpg)
)";
  WriteBytes(adobe, Bytes(script.begin(), script.end()));
  const std::string out = dir_.Path("cmyk-jpeg.tif"), plain = dir_.Path("cmyk-libtiff.tif"), raw = dir_.Path("cmyk.raw");
  for (const std::string& make : {"/usr/bin/python3 " + adobe + " " + source + " " + out,"tiffcp -c jpeg:90 -r 16 " + source + " " + out,
                                 "tiffcp -c jpeg:75 -t -w 32 -l 16 " + source + " " + out,
                                 "tiffcp -c jpeg:90 -r 8 " + source + " " + out,
                                 "/usr/bin/convert " + source + " -compress JPEG -quality 85 " + out}) {
    SCOPED_TRACE(make);
    ASSERT_EQ(Shell(make), 0);
    ASSERT_EQ(Shell("tiffcp -c none " + out + " " + plain), 0);
    ASSERT_EQ(Shell("/usr/bin/python3 -c \"import sys, tifffile; tifffile.imread(sys.argv[1]).tofile(sys.argv[2])\" " +
                    plain + " " + raw),
              0);
    const Bytes expected = ReadBytes(raw);
    const Bytes pixels = Opened(out, TES_CS_CMYK32, w, h, 4);
    ASSERT_EQ(pixels.size(), expected.size());
    int worst = 0;
    for (size_t i = 0; i < pixels.size(); ++i) worst = std::max(worst, std::abs(pixels[i] - expected[i]));
    EXPECT_LE(worst, 2);
  }
}

// Palettes, bilevel and 2- and 4-bit grey (MinIsWhite too), RGB with alpha, 16-bit CMYK:
// each opens as the peer's converted pixels (palette to RGB, grey widened to 8 bits, alpha
// dropped, 16-bit CMYK reduced to 8 bits, 8-bit CIELab widened to the 16-bit layout).
TEST_F(TiffPeers, ConvertedLayoutsOpenWithThePeersPixels) {
  const int w = 29, h = 17;
  const std::string script = dir_.Path("make.py");
  const std::string text = R"(import sys
import numpy as np
import tifffile
from PIL import Image
kind, out, raw = sys.argv[1], sys.argv[2], sys.argv[3]
w, h = 29, 17
y, x = np.mgrid[0:h, 0:w]
grad = ((x * 9 + y * 5) % 256).astype(np.uint8)
rgb = np.dstack([grad, (grad * 3) % 256, 255 - grad]).astype(np.uint8)
if kind == 'palette':
    im = Image.fromarray(rgb).quantize(23)
    im.save(out, compression='tiff_lzw')
    want = np.asarray(im.convert('RGB'))
elif kind == 'bilevel':
    im = Image.fromarray(grad).convert('1')
    im.save(out, compression='packbits')
    want = np.asarray(im.convert('L'))
elif kind in ('grey2', 'grey4', 'white4'):
    bits = int(kind[-1])
    v = grad >> (8 - bits)
    photometric = 'miniswhite' if kind == 'white4' else 'minisblack'
    packed = np.packbits(np.unpackbits(v[:, :, None], axis=2)[:, :, 8 - bits:].reshape(h, -1), axis=1).tobytes()
    # A plain little-endian file: header, 9 entries, then the strip.
    import struct
    entries = [(256, 3, 1, w), (257, 3, 1, h), (258, 3, 1, bits), (259, 3, 1, 1),
               (262, 3, 1, 0 if photometric == 'miniswhite' else 1), (273, 4, 1, 8 + 2 + 9 * 12 + 4),
               (277, 3, 1, 1), (278, 3, 1, h), (279, 4, 1, len(packed))]
    head = b'II' + struct.pack('<HI', 42, 8) + struct.pack('<H', len(entries))
    for tag, typ, count, value in entries:
        head += struct.pack('<HHI', tag, typ, count) + (struct.pack('<HH', value, 0) if typ == 3 else struct.pack('<I', value))
    open(out, 'wb').write(head + struct.pack('<I', 0) + packed)
    scaled = (v.astype(np.int64) * 255 + ((1 << bits) - 1) // 2) // ((1 << bits) - 1)
    want = (255 - scaled if kind == 'white4' else scaled).astype(np.uint8)
elif kind == 'rgba':
    a = np.dstack([rgb, grad]).astype(np.uint8)
    tifffile.imwrite(out, a, photometric='rgb', extrasamples=[2], compression='deflate', predictor=True)
    want = rgb
elif kind == 'cmyk16':
    c = np.dstack([grad, 255 - grad, (grad * 7) % 256, (grad * 2) % 256]).astype(np.uint16) * 257 + 3
    tifffile.imwrite(out, c, photometric='separated')
    want = (c >> 8).astype(np.uint8)
elif kind == 'lab8':
    # Signed a and b, as TIFF stores 8-bit CIELab; Pillow's pixels carry them offset by 128.
    signed = np.dstack([grad, (grad.astype(np.int16) - 128), (grad * 3 % 256).astype(np.int16) - 100])
    tifffile.imwrite(out, signed.astype(np.int8).view(np.uint8), photometric='cielab', compression='deflate')
    lab = np.array(list(Image.open(out).getdata()), np.uint16).reshape(h, w, 3)
    want = (lab * np.array([257, 256, 256], np.uint16)).astype('<u2')
open(raw, 'wb').write(np.ascontiguousarray(want).tobytes())
)";
  WriteBytes(script, Bytes(text.begin(), text.end()));
  const struct {
    const char* kind;
    int cs;
  } cases[] = {{"palette", TES_CS_RGB24}, {"bilevel", TES_CS_GRAY8}, {"grey2", TES_CS_GRAY8}, {"grey4", TES_CS_GRAY8},
               {"white4", TES_CS_GRAY8},  {"rgba", TES_CS_RGB24},    {"cmyk16", TES_CS_CMYK32},
               {"lab8", TES_CS_LAB48}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    if (Managed(c.cs) && color_.empty()) continue;
    const std::string out = dir_.Path(std::string(c.kind) + ".tif"), raw = dir_.Path(std::string(c.kind) + ".raw");
    ASSERT_EQ(Shell("/usr/bin/python3 " + script + " " + c.kind + " " + out + " " + raw), 0);
    TesseraClass image(Managed(c.cs) ? TES_FLAG_COLOR_MANAGED : 0, TES_CS_RGB24);
    std::string path = out;
    ASSERT_EQ(image.OpenImage(path.data(), kNone, nullptr, nullptr), 0);
    tagTes_Image_Desc desc{};
    image.GetImageDesc(&desc);
    EXPECT_EQ(desc.colorSpace, c.cs);
    const int bpp = c.cs == TES_CS_GRAY8 ? 1 : c.cs == TES_CS_CMYK32 ? 4 : c.cs == TES_CS_LAB48 ? 6 : 3;
    Bytes pixels(static_cast<size_t>(w) * h * bpp);
    ASSERT_EQ(image.GetData({{0, 0, w, h}, w * bpp, 0}, pixels.data()), 0);
    EXPECT_TRUE(pixels == ReadBytes(raw)) << "pixels differ";
  }
}

// 16-bit CIELab from a peer holds a and b signed, as 8-bit CIELab does: the same colours
// at 8 and 16 bits open as the same samples here, and libtiff's RGB of the two files agree
// (which shows that libtiff reads them so too).
TEST_F(TiffPeers, SixteenBitCielabIsSignedLikeEightBit) {
  if (color_.empty()) GTEST_SKIP() << "no profile folder";
  const int w = 21, h = 13;
  const std::string script = dir_.Path("lab.py");
  const std::string text = R"(import sys
import numpy as np, tifffile
y, x = np.mgrid[0:13, 0:21]
L = (x * 12 + y) % 256
a = x * 12 - 120
b = 100 - y * 16
tifffile.imwrite(sys.argv[1], np.dstack([L, a & 255, b & 255]).astype(np.uint8), photometric='cielab')
tifffile.imwrite(sys.argv[2], np.dstack([L * 257, (a * 256) & 65535, (b * 256) & 65535]).astype(np.uint16),
                 photometric='cielab')
)";
  WriteBytes(script, Bytes(text.begin(), text.end()));
  const std::string lab8 = dir_.Path("lab8.tif"), lab16 = dir_.Path("lab16.tif");
  ASSERT_EQ(Shell("/usr/bin/python3 " + script + " " + lab8 + " " + lab16), 0);
  Bytes samples[2], rgba[2];
  int i = 0;
  for (const std::string& file : {lab8, lab16}) {
    SCOPED_TRACE(file);
    samples[i] = Opened(file, TES_CS_LAB48, w, h, 6);
    const std::string out = dir_.Path("rgba.tif"), raw = dir_.Path("rgba.raw");
    ASSERT_EQ(Shell("tiff2rgba -c none " + file + " " + out), 0);
    ASSERT_EQ(Shell("/usr/bin/python3 -c \"import tifffile; tifffile.imread('" + out + "').tofile('" + raw + "')\""), 0);
    rgba[i++] = ReadBytes(raw);
  }
  EXPECT_TRUE(samples[0] == samples[1]) << "8- and 16-bit CIELab open differently";
  ASSERT_EQ(rgba[0].size(), rgba[1].size());
  int worst = 0;
  for (size_t k = 0; k < rgba[0].size(); ++k) worst = std::max(worst, std::abs(rgba[0][k] - rgba[1][k]));
  EXPECT_LE(worst, 2) << "libtiff reads the two files as different colours";
}

// Uncompressed YCbCr in TIFF's data units, subsampled 1, 2 or 4 each way (the width not a
// multiple of the units), both byte orders, and studio-range reference black and white:
// each opens as the RGB that libtiff's RGBA interface (tiff2rgba) gives.
TEST_F(TiffPeers, SubsampledYcbcrOpensAsLibtiffsRgb) {
  const std::string script = dir_.Path("ycbcr.py");
  const std::string text = R"(import struct, sys
import numpy as np
def ycbcr_tiff(out, w, h, sub, rps, refbw=None, big=False):
    """Uncompressed, interleaved YCbCr in TIFF's data units, one strip per rps rows."""
    sh, sv = sub
    y, x = np.mgrid[0:h, 0:w]
    Y = ((x * 9 + y * 5) % 220 + 20).astype(np.uint8)
    Cb = (128 + (x * 3 - y * 4) % 90 - 45).astype(np.uint8)
    Cr = (128 + (y * 7 + x) % 100 - 50).astype(np.uint8)
    strips = []
    for top in range(0, h, rps):
        data = bytearray()
        for r0 in range(top, min(top + rps, h), sv):
            for c0 in range(0, w, sh):
                ys = [Y[min(r0 + j, h - 1), min(c0 + i, w - 1)] for j in range(sv) for i in range(sh)]
                data += bytes(ys) + bytes([Cb[r0, c0], Cr[r0, c0]])
        strips.append(bytes(data))
    e = '>' if big else '<'
    entries = []
    def add(tag, typ, count, value):
        entries.append((tag, typ, count, value))
    n = 12 + (1 if refbw else 0)
    head_len = 8 + 2 + 12 * n + 4
    area = bytearray()
    def out_of_line(blob):
        at = head_len + len(area)
        area.extend(blob)
        if len(area) % 2: area.append(0)
        return at
    bps_at = out_of_line(struct.pack(e + '3H', 8, 8, 8))
    rbw_at = out_of_line(b''.join(struct.pack(e + 'II', int(v * 1000), 1000) for v in refbw)) if refbw else 0
    offs_at = out_of_line(b'\0' * 4 * len(strips))
    counts_at = out_of_line(struct.pack(e + '%dI' % len(strips), *[len(s) for s in strips]))
    data_at = head_len + len(area)
    offsets = []
    at = data_at
    for s_ in strips:
        offsets.append(at); at += len(s_)
    area[offs_at - head_len:offs_at - head_len + 4 * len(strips)] = struct.pack(e + '%dI' % len(strips), *offsets)
    add(256, 3, 1, w); add(257, 3, 1, h); add(258, 3, 3, bps_at); add(259, 3, 1, 1); add(262, 3, 1, 6)
    add(273, 4, len(strips), offs_at if len(strips) > 1 else offsets[0]); add(277, 3, 1, 3); add(278, 3, 1, rps)
    add(279, 4, len(strips), counts_at if len(strips) > 1 else len(strips[0])); add(284, 3, 1, 1)
    add(530, 3, 2, None)
    if refbw: add(532, 5, 6, rbw_at)
    add(531, 3, 1, 1)
    entries.sort()
    f = (b'MM' if big else b'II') + struct.pack(e + 'HI', 42, 8) + struct.pack(e + 'H', len(entries))
    for tag, typ, count, value in entries:
        if tag == 530:
            f += struct.pack(e + 'HHIHH', tag, typ, count, sh, sv)
        elif typ == 3 and count == 1:
            f += struct.pack(e + 'HHIHH', tag, typ, count, value, 0)
        else:
            f += struct.pack(e + 'HHII', tag, typ, count, value)
    f += struct.pack(e + 'I', 0)
    assert len(f) == head_len, (len(f), head_len)
    open(out, 'wb').write(f + bytes(area) + b''.join(strips))
out, sh, sv, rps, big = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), sys.argv[5] == 'big'
refbw = [float(v) for v in sys.argv[6].split(',')] if len(sys.argv) > 6 else None
ycbcr_tiff(out, 29, 17, (sh, sv), rps, refbw, big)
)";
  WriteBytes(script, Bytes(text.begin(), text.end()));
  const int w = 29, h = 17;
  const char* cases[] = {"2 2 8 little", "2 1 5 big", "4 2 8 little", "1 1 17 little", "4 4 8 little", "1 2 4 little",
                         "2 2 6 little 16,235,128,240,128,240"};
  for (const char* c : cases) {
    SCOPED_TRACE(c);
    const std::string out = dir_.Path("ycbcr.tif"), rgba = dir_.Path("ycbcr-rgba.tif"), raw = dir_.Path("ycbcr.raw");
    ASSERT_EQ(Shell("/usr/bin/python3 " + script + " " + out + " " + c), 0);
    ASSERT_EQ(Shell("tiff2rgba -c none " + out + " " + rgba), 0);
    ASSERT_EQ(Shell("/usr/bin/python3 -c \"import tifffile; tifffile.imread('" + rgba + "').tofile('" + raw + "')\""), 0);
    const Bytes peer = ReadBytes(raw);
    ASSERT_EQ(peer.size(), static_cast<size_t>(w) * h * 4);
    const Bytes pixels = Opened(out, TES_CS_RGB24, w, h, 3);
    ASSERT_EQ(pixels.size(), static_cast<size_t>(w) * h * 3);
    int differing = 0;
    for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i)
      for (int k = 0; k < 3; ++k) differing += pixels[i * 3 + k] != peer[i * 4 + k];
    EXPECT_EQ(differing, 0);
  }
}

// Files written here, one per colour space: libtiff's tools accept them with at most the
// note that the maker block's tag is private, and libtiff and tifffile read the same
// pixels and resolution.
TEST_F(TiffPeers, FilesWrittenHereReadBackInLibtiffAndTifffile) {
  const int w = 45, h = 131;
  for (const Kind& k : kKinds) {
    if (Managed(k.cs) && color_.empty()) continue;
    for (const bool managed : {false, true}) {
      if (managed != Managed(k.cs) && !(managed && k.cs == TES_CS_RGB24)) continue;  // RGB also with a profile
      SCOPED_TRACE(std::string(k.name) + (managed ? " managed" : ""));
      if (managed && color_.empty()) continue;
      TesseraClass image(managed ? TES_FLAG_COLOR_MANAGED : 0, TES_CS_RGB24);
      ASSERT_EQ(image.SetImageDesc({w, h, static_cast<int16_t>(k.cs), {0, 0, 0, 0}, 300.0}, kNone), 0);
      Bytes pixels = StorePixels(w, h, k.samples, k.bits);
      ASSERT_EQ(image.SetData({{0, 0, w, h}, w * k.samples * k.bits / 8, 0}, kNone, pixels.data()), 0);
      const std::string file = dir_.Path("here.tif");
      ASSERT_EQ(image.Save({file.c_str(), TES_FILE_TIFF, 0}, nullptr, nullptr, 0), 0);

      const std::string err = dir_.Path("err.txt"), out = dir_.Path("out.txt");
      ASSERT_EQ(Shell("tiffinfo " + file + " > " + out + " 2> " + err), 0);
      std::istringstream warnings(Text(err));
      for (std::string line; std::getline(warnings, line);)
        EXPECT_NE(line.find("32768"), std::string::npos) << "tiffinfo: " << line;
      EXPECT_NE(Text(out).find("Resolution: 300, 300 pixels/inch"), std::string::npos) << Text(out);
      ASSERT_EQ(Shell("tiffdump " + file + " > " + out + " 2> " + err), 0);
      EXPECT_EQ(Text(err), "");
      EXPECT_NE(Text(out).find(managed ? "34675" : "Directory 0"), std::string::npos);

      const std::string expected = std::to_string(w) + " " + std::to_string(h) + " " + std::to_string(k.samples) +
                                   " " + std::to_string(k.bits) + " " + std::to_string(k.photometricCode) + " 300\n";
      const std::string raw = dir_.Path("back.raw");
      EXPECT_EQ(TifffileRead(file, raw), expected);
      EXPECT_TRUE(ReadBytes(raw) == pixels) << "tifffile's pixels differ";

      // libtiff reads the file and writes it again; its copy holds the same samples.
      const std::string copy = dir_.Path("copy.tif");
      ASSERT_EQ(Shell("tiffcp -c none " + file + " " + copy + " 2> " + err), 0);
      EXPECT_EQ(TifffileRead(copy, raw), expected);
      EXPECT_TRUE(ReadBytes(raw) == pixels) << "libtiff's pixels differ";
    }
  }
}

}  // namespace
