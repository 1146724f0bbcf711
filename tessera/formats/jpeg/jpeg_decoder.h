// The JPEG decoder: the marker loop, the JFIF, JFXX, Exif and Adobe segments, Huffman
// decoding with restart intervals, the accurate inverse transform and the colour
// conversion. A baseline image in one interleaved YCbCr or grey scan is decoded as it
// streams in; every other layout (components in separate scans, progressive coding, other
// sampling factors, RGB and four-component images) is gathered as coefficients first and
// turned into pixels at the end. It reads through the input stream with a buffer of its
// own and hands rows to a sink band by band.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/streams.h"
#include "tessera/tessera.h"

namespace tessera::jpeg {

// Decoder codes.
enum : long {
  kEndOfImage = 1300,        // internal: the image is complete (never returned)
  kMarkerExpected = 1301,
  kUnsupportedMarker = 1302,
  kBadAppSegment = 1303,
  kBadComment = 1304,
  kRestartOutsideScan = 1305,
  kEoiBeforeImage = 1306,
  kBadRestartInterval = 1307,
  kBadQuantTable = 1308,
  kTooManyQuantTables = 1309,
  kQuantPrecision = 1310,
  kBadHuffmanTable = 1311,
  kTooManyHuffmanTables = 1312,
  kBadFrame = 1313,
  kBadPrecision = 1314,
  kTooManyComponents = 1315,
  kBadScanHeader = 1316,
  kScanTooEarly = 1317,
  kUnsupportedScan = 1318,
  kUnknownScanComponent = 1319,
  kMissingQuantTable = 1320,
  kMissingHuffmanTable = 1321,
  kMissingRestart = 1322,
  kNoAppSegment = 1323,
};

enum class ThumbnailKind { kNone, kJpeg, kPalette, kRgb };

struct Thumbnail {
  ThumbnailKind kind = ThumbnailKind::kNone;
  long position = 0;  // file offset of the JPEG stream or of the pixels (palette first)
  int width = 0, height = 0;
};

// Where decoded rows go. Begin is called once, before the first rows, with the samples per
// pixel (1 grey, 3 RGB, 4 CMYK with 0 meaning no ink); Rows after each band. A non-zero
// result stops decoding.
class RowSink {
 public:
  virtual ~RowSink() = default;
  virtual long Begin(int width, int height, int channels) = 0;
  virtual long Rows(const uint8_t* pixels, ptrdiff_t rowBytes, int firstRow, int rows) = 0;
  // A sink that keeps the rows as they come may hand out where rows firstRow.. go (setting
  // rowBytes), for every row or for none: the decoder then converts them there, without a
  // band, and calls Rows with that address. Null (the default) takes them in bands.
  virtual uint8_t* RowsAt(int /*firstRow*/, int /*rows*/, ptrdiff_t& /*rowBytes*/) { return nullptr; }
};

class Decoder {
 public:
  // info: the metadata record that the segments fill (null when only testing).
  Decoder(InputStream& in, tagTes_Image_Info* info);
  ~Decoder();
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  // The header pass: SOI, then segments up to the frame header.
  long ReadHeader();
  // The segments directly after SOI while they are APP0 or APP1 (for thumbnails).
  long ReadAppSegments();
  // The whole image: every segment, then the scan.
  long Decode(RowSink& sink);
  // An abbreviated stream of tables only (SOI, DQT/DHT/DRI, EOI), as TIFF's JPEGTables
  // holds them for the streams of its strips and tiles, which Decode reads next.
  long ReadTables();
  // How three components are coded when the stream does not say (TIFF's photometric
  // interpretation does): 0 R, G, B as they stand; 1 YCbCr. An Adobe segment still wins.
  void AssumeTransform(int transform) {
    adobe_ = true;
    adobeTransform_ = transform;
  }
  // Four components hold ink amounts as they stand, as in TIFF's separated JPEG strips and
  // tiles, never in Adobe's inverted form; YCCK still becomes CMYK.
  void InkAsStored() { inkAsStored_ = true; }
  // Moves to another stream of the same file (a strip after the tables).
  long MoveTo(long position) { return SeekTo(position); }

  int width() const { return width_; }
  int height() const { return height_; }
  int components() const { return frameComponents_; }
  // Samples per pixel of the decoded image: 1, 3 or 4.
  int channels() const { return frameComponents_ == 1 ? 1 : frameComponents_ == 4 ? 4 : 3; }
  double resolution() const { return resolution_; }
  int orientation() const { return orientation_; }
  const Thumbnail& thumbnail() const { return thumbnail_; }
  // The stream offset just after the last byte the decoder used.
  long Position() const;

 private:
  struct Component {
    int id = 0, h = 1, v = 1, tq = 0;
    int td = 0, ta = 0;  // Huffman tables of the scan
    // Gathered coefficients (natural order, 64 per block), blocksWide x blocksHigh blocks
    // padded to whole MCUs; the blocks the component really covers.
    std::vector<int16_t> coef;
    int blocksWide = 0, blocksHigh = 0, usedWide = 0, usedHigh = 0;
  };
  struct Scan {
    int count = 0;
    int order[4] = {0, 1, 2, 3};
    int ss = 0, se = 63, ah = 0, al = 0;
  };
  struct HuffTable {
    bool defined = false;
    // Lookahead of kLookBits bits: code length (0: longer code) and symbol.
    uint8_t lookLength[1 << 10];
    uint8_t lookSymbol[1 << 10];
    // DC tables: a code and its extra bits that fit the lookahead together, decoded at once:
    // value << 8 | bits used; 0 when the prefix needs the slower path.
    int32_t fastDc[1 << 10];
    // AC tables: up to two terms whose codes and extra bits fit kPairBits bits, decoded by
    // one lookup (see BuildFastAc); 0 when the prefix needs the slower path.
    std::vector<uint64_t> fastAc;
    int32_t maxCode[18];       // largest code of each length, -1 when none
    int32_t valOffset[18];     // symbol index less the first code of each length
    uint8_t symbols[256];
  };

  // Byte input.
  long Fill();
  long GetByte(int& b);
  long ReadBytes(uint8_t* out, size_t count);
  long Skip(long count);
  long ReadLength(int& length);
  long NextMarker(int& marker);
  long SeekTo(long position);

  // Segments.
  long ReadSoi();
  long ReadFrame();
  long ReadQuantTables();
  long ReadHuffmanTables();
  long ReadRestartInterval();
  long ReadAppBody(std::vector<uint8_t>& body, long& start);
  long ReadApp0();
  long ReadApp1();
  long ReadApp14();
  long SkipSegment(long malformedCode);
  long ReadScan(RowSink& sink);
  long ReadScanHeader(Scan& scan);
  bool Streamable(const Scan& scan) const;
  bool RgbComponents() const;
  long StreamScan(RowSink& sink, const Scan& scan);
  long PrepareCoefficients();
  long GatherScan(const Scan& scan);
  void DecodeProgressiveBlock(const Scan& scan, int c, int16_t* block);
  long EmitCoefficients(RowSink& sink);

  // Entropy-coded data.
  static void BuildFastAc(HuffTable& table);
  void FillBits();
  int DecodeSymbol(const HuffTable& table);
  int ReceiveExtend(int size);
  int GetBits(int count);
  // Decodes one block (natural order, cleared first); returns the zig-zag index of the last
  // coefficient written (0: the DC term alone). The block has a spare 65th term, which the
  // paired lookup may write.
  int DecodeBlock(int component, int16_t* block);
  long ProcessRestart();

  InputStream& in_;
  tagTes_Image_Info* info_;
  std::vector<uint8_t> buffer_;
  size_t pos_ = 0, end_ = 0;
  long base_ = 0;  // stream offset of buffer_[0]
  long long length_ = -1;
  bool atEnd_ = false;

  bool soiSeen_ = false, frameSeen_ = false, scanDone_ = false;
  bool progressive_ = false;
  bool gathering_ = false;  // coefficients are being gathered scan by scan
  bool jfif_ = false, adobe_ = false;
  bool inkAsStored_ = false;
  int adobeTransform_ = -1;
  int width_ = 0, height_ = 0, frameComponents_ = 0;
  int hmax_ = 1, vmax_ = 1, mcusX_ = 0, mcusY_ = 0;
  Component comp_[4];
  uint16_t quant_[4][64];
  bool quantDefined_[4] = {false, false, false, false};
  int quantCount_ = 0;
  HuffTable dc_[4], ac_[4];
  int huffCount_ = 0;
  int restartInterval_ = 0;
  double resolution_ = 72.0;
  int orientation_ = 1;
  Thumbnail thumbnail_;

  // Bit reader state.
  uint64_t bits_ = 0;
  int bitCount_ = 0;
  int pendingMarker_ = -1;  // a marker met inside the entropy-coded data
  int nextMarker_ = -1;     // the marker that ended a gathered scan, read next
  int prediction_[4] = {0, 0, 0, 0};
  int eobRun_ = 0;          // progressive AC scans: blocks left in an end-of-band run
};

}  // namespace tessera::jpeg
