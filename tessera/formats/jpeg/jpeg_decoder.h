// The baseline JPEG decoder: the marker loop, the JFIF, JFXX and Exif segments, Huffman
// decoding with restart intervals, the accurate inverse transform and the YCbCr to RGB
// conversion. It reads through the input stream with a buffer of its own and hands rows to
// a sink band by band.
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

// Where decoded rows go. Begin is called once, before the first rows; Rows after each band
// (RGB for colour, one byte per pixel for grey). A non-zero result stops decoding.
class RowSink {
 public:
  virtual ~RowSink() = default;
  virtual long Begin(int width, int height, bool grey) = 0;
  virtual long Rows(const uint8_t* pixels, ptrdiff_t rowBytes, int firstRow, int rows) = 0;
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

  int width() const { return width_; }
  int height() const { return height_; }
  int components() const { return frameComponents_; }
  double resolution() const { return resolution_; }
  int orientation() const { return orientation_; }
  const Thumbnail& thumbnail() const { return thumbnail_; }
  // The stream offset just after the last byte the decoder used.
  long Position() const;

 private:
  struct Component {
    int id = 0, h = 1, v = 1, tq = 0;
    int td = 0, ta = 0;  // Huffman tables of the scan
  };
  struct HuffTable {
    bool defined = false;
    // Lookahead of kLookBits bits: code length (0: longer code) and symbol.
    uint8_t lookLength[1 << 10];
    uint8_t lookSymbol[1 << 10];
    // AC tables: a code and its extra bits that fit the lookahead together, decoded at once:
    // value << 16 | run << 8 | bits used; 0 when the prefix needs the slower path.
    int32_t fastAc[1 << 10];
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
  long ReadApp0();
  long ReadApp1();
  long SkipSegment(long malformedCode);
  long ParseExif(const uint8_t* tiff, size_t length, long tiffPosition);
  long ReadScan(RowSink& sink);

  // Entropy-coded data.
  void FillBits();
  int DecodeSymbol(const HuffTable& table);
  int ReceiveExtend(int size);
  // Decodes one block (natural order, cleared first); returns the zig-zag index of the last
  // coefficient written (0: the DC term alone).
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
  int width_ = 0, height_ = 0, frameComponents_ = 0;
  Component comp_[3];
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
  int scanOrder_[3] = {0, 1, 2};
  int prediction_[3] = {0, 0, 0};
};

}  // namespace tessera::jpeg
