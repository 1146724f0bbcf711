// The baseline JPEG encoder core: colour conversion, forward transforms, quantisation and
// Huffman coding of a whole scan, plus the table segments (DQT, DHT, DRI, SOF0, SOS) that
// precede it. It writes into memory; the file writer and the thumbnail encoder drain it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "formats/jpeg/jpeg_huffman_coder.h"
#include "formats/jpeg/jpeg_tables.h"

namespace tessera::jpeg {

struct KernelTable;

struct EncoderConfig {
  int width = 0;
  int height = 0;
  bool grey = false;
  int level = 3;             // quality level 1..5: tables, transform, chroma sampling
  Sampling sampling{1, 1};   // luminance sampling for colour images (grey is always 1x1)
};

// Forward transforms and quantisation of one block, exposed for tests and the SIMD paths.
// Input: 64 level-shifted samples in natural order. Output: quantised coefficients in
// natural order.
void ForwardFastQuantize(const int32_t* samples, const uint16_t* reciprocals, int16_t* out);
void ForwardAccurateQuantize(const int32_t* samples, int16_t* out);
// The in-place transforms themselves (before quantisation).
void FastDct(int32_t* block);
void AccurateDct(int32_t* block);
// r[k] = floor(65536 / floor(q[k] * s[k] / 2048)) for a natural-order table q; 65536 (a
// divisor of 1) is held as 65535, which rounds every term of 8-bit samples (below 2^15) to
// the same quotient.
void FastReciprocals(const uint8_t* table, uint16_t* reciprocals);

class ScanEncoder {
 public:
  explicit ScanEncoder(const EncoderConfig& config);

  // DQT, DHT, DRI, SOF0 and SOS, in that order.
  void AppendTables(std::vector<uint8_t>& out) const;

  // Encodes the next rows (grey: 1 byte per pixel; colour: R, G, B). Every call but the last
  // must hold a whole number of MCU rows; the last call pads the final MCU row by repeating
  // the image's last row. The coded bytes accumulate in Output().
  void EncodeRows(const uint8_t* pixels, ptrdiff_t rowBytes, int rows);
  // Pads the last byte with 1 bits and appends EOI.
  void Finish();

  std::vector<uint8_t>& Output() { return out_; }
  int mcuHeight() const { return mcuH_; }

 private:

  void EncodeMcuRow(const uint8_t* const* rows);
  void EncodeBlock(const int32_t* samples, ptrdiff_t stride, int component);
  void FlushBits();

  EncoderConfig config_;
  int components_;
  int hs_, vs_;         // luminance sampling
  int mcuW_, mcuH_;     // MCU size in pixels
  int mcusPerRow_;
  int paddedWidth_;
  uint16_t reciprocals_[2][64];
  const uint8_t* tables_[2];
  HuffCodes dc_[2], ac_[2];
  int prediction_[3] = {0, 0, 0};
  int rowsDone_ = 0;

  // Work planes for one MCU row: luminance paddedWidth x mcuH, chroma (paddedWidth / hs) x 8.
  std::vector<int32_t> planeY_, planeCb_, planeCr_;

  uint64_t bitBuffer_ = 0;  // pending bits in the low bitCount_ (0..64) bits, most significant first
  int bitCount_ = 0;
  std::vector<uint8_t> out_;
  // The coded bytes of one MCU row go to this scratch buffer (sized for the worst case, never
  // cleared) through put_, then to out_ in one copy.
  std::unique_ptr<uint8_t[]> scratch_;
  size_t scratchSize_ = 0;
  uint8_t* put_ = nullptr;
  const KernelTable* kernels_ = nullptr;  // the kernels of the MCU row being coded
};

// Encodes a whole image held in memory as one JPEG stream: SOI, a JFIF segment when
// jfifDpi > 0, the tables, the scan and EOI. Used for thumbnails.
std::vector<uint8_t> EncodeImage(const uint8_t* pixels, ptrdiff_t rowBytes, const EncoderConfig& config,
                                 int jfifDpi);

// The JFIF segment as written for grey images and thumbnails (18 bytes).
void AppendJfif(std::vector<uint8_t>& out, int dpi);

}  // namespace tessera::jpeg
