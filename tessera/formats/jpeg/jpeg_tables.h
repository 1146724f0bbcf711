// Constant tables of the JPEG codec: the zig-zag order, the quantisation tables of the five
// quality levels, the scale factors of the fast (AAN) transform, and the typical Huffman
// tables of ITU-T T.81 Annex K that the encoder always writes.
#pragma once

#include <cstdint>

namespace tessera::jpeg {

// kZigZag[i]: natural (row-major) position of the i-th coefficient in zig-zag order.
extern const uint8_t kZigZag[64];
// The AAN scale factors in 14-bit fixed point, natural order:
// s[8u + v] = round(16384 * a(u) * a(v)), a(0) = 1, a(i) = sqrt(2) * cos(i * pi / 16).
extern const int16_t kAanScale[64];

// Quantisation tables of a quality level (1..5), natural order. Component 0 is luminance,
// 1 chrominance.
const uint8_t* QualityTable(int level, int component);

// Luminance sampling of a quality level for colour images: horizontal and vertical factor.
struct Sampling {
  int h, v;
};
Sampling QualitySampling(int level);

// A Huffman table as DHT carries it: 16 counts of codes per length, then the symbols.
struct HuffmanSpec {
  uint8_t counts[16];
  const uint8_t* symbols;
  int symbolCount;
};
extern const HuffmanSpec kLumaDc, kChromaDc, kLumaAc, kChromaAc;

}  // namespace tessera::jpeg
