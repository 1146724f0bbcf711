// JPEG tiles through libjpeg: an encoder that writes the shared tables once and each tile
// as an abbreviated stream, and a decoder that takes a tile with the tables it refers to.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace fpx {

class JpegTileEncoder {
 public:
  // channels: 1 (grey, stored as is) or 3 (red, green, blue; stored as YCbCr, the chroma
  // sub-sampled 2 x 2 below quality kFullChromaQuality). quality: 0..100.
  static constexpr int kFullChromaQuality = 90;
  JpegTileEncoder(int channels, int quality);
  ~JpegTileEncoder();
  JpegTileEncoder(const JpegTileEncoder&) = delete;
  JpegTileEncoder& operator=(const JpegTileEncoder&) = delete;

  // False when libjpeg failed (then the encoder is unusable).
  bool ok() const;
  // The last failure was a lack of memory.
  bool outOfMemory() const;
  // The tables-only stream (start of image, quantisation and Huffman tables, end of image).
  const std::vector<uint8_t>& Tables() const;
  // The chroma sub-sampling as a tile's compression subtype has it: 0x22 (2 x 2) or 0x11.
  uint32_t ChromaSubsampling() const;
  // Compresses the 64 x 64 tiles that lie side by side in a band of 64 rows of interleaved
  // pixels, rows `stride` bytes apart, with one set-up of the compressor for the band: out
  // gets each tile's stream in turn, ends the offset in out where each one ends. False on
  // failure (then the encoder is unusable).
  bool EncodeBand(const uint8_t* pixels, size_t stride, uint32_t tiles, std::vector<uint8_t>& out,
                  std::vector<size_t>& ends);

 private:
  struct State;
  static bool CompressStack(State& s, uint32_t tiles);
  std::unique_ptr<State> state_;
};

class JpegTileDecoder {
 public:
  JpegTileDecoder();
  ~JpegTileDecoder();
  JpegTileDecoder(const JpegTileDecoder&) = delete;
  JpegTileDecoder& operator=(const JpegTileDecoder&) = delete;

  enum class Result { kOk, kBadTables, kBadData, kNoMemory };
  // Decodes one tile into `out` (tileWidth x tileHeight x channels, interleaved). tables
  // may be null (the tile carries its own). colorConversion: the tile holds YCbCr for
  // red-green-blue data. The decoded tile must have `channels` components and cover at
  // least validWidth x validHeight pixels; what lies beyond is left as it was.
  Result Decode(const uint8_t* tables, size_t tablesSize, const uint8_t* data, size_t size, int channels,
                bool colorConversion, int tileWidth, int tileHeight, int validWidth, int validHeight, uint8_t* out);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace fpx
