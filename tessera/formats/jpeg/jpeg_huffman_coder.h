// The encoder's Huffman coding of one block: the bit writer, the tables it codes through, and
// the block coder itself. The block coder is built twice from this one text, for any
// processor and with the bit-manipulation instructions (jpeg_kernels_x86.cpp), and chosen
// with the other kernels (jpeg_simd.h); both write the same bytes.
#pragma once

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "formats/jpeg/jpeg_tables.h"

namespace tessera::jpeg {

// The codes of one Huffman table by symbol.
struct HuffCodes {
  uint32_t code[256];
  uint8_t size[256];
  uint32_t packed[256];  // code << 8 | size
  // The code moved up by the extra bits its symbol's low four bits ask for, and their size
  // together: an AC term is this or'ed with its value bits.
  uint32_t withBits[256];
  uint8_t sizeWithBits[256];
};

void BuildCodes(const HuffmanSpec& spec, HuffCodes& codes);


// Number of bits needed for |v| (the size category of T.81).
inline int BitLength(int v) {
  unsigned a = static_cast<unsigned>(v < 0 ? -v : v);
  return a == 0 ? 0 : 32 - __builtin_clz(a);
}

// The bit writer. `buffer` holds 64 - `free` pending bits in its low end, most significant
// first (bits above them are left-overs that later shifts push out). A code goes in with a
// shift and an or; only when the 64 bits are full are 8 bytes written, a 0 byte after every
// 0xFF.
struct BitSink {
  uint64_t buffer;
  int free;
  uint8_t* put;

  inline void Put(uint32_t code, int size) {  // size 1..32
    free -= size;
    if (free >= 0) {
      buffer = buffer << size | code;
      return;
    }
    // The code's leading bits complete the 64; its other -free bits stay in the buffer.
    buffer = buffer << (size + free) | code >> -free;
    Flush64();
    free += 64;
    buffer = code;
  }

  inline void Flush64() {
    const uint64_t inverted = ~buffer;  // a 0xFF byte becomes a zero byte
    if (((inverted - 0x0101010101010101ull) & ~inverted & 0x8080808080808080ull) == 0) {
      const uint64_t be = __builtin_bswap64(buffer);
      std::memcpy(put, &be, 8);
      put += 8;
      return;
    }
    for (int shift = 56; shift >= 0; shift -= 8) {
      const uint8_t b = static_cast<uint8_t>(buffer >> shift);
      *put++ = b;
      if (b == 0xFF) *put++ = 0;
    }
  }
};

// Bit i set when the i-th coefficient in zig-zag order is non-zero. The natural-order mask
// is built 16 positions at a time and moved to zig-zag order a byte at a time through
// tables.
struct ZigZagBytes {
  uint64_t bits[8][256];
  ZigZagBytes() {
    int zigzagOf[64];
    for (int i = 0; i < 64; ++i) zigzagOf[kZigZag[i]] = i;
    for (int n = 0; n < 8; ++n)
      for (int value = 0; value < 256; ++value) {
        uint64_t m = 0;
        for (int t = 0; t < 8; ++t)
          if (value >> t & 1) m |= uint64_t{1} << zigzagOf[8 * n + t];
        bits[n][value] = m;
      }
  }
};

inline const ZigZagBytes kZigZagBytes;

// For a term v of -2048..2047: its size category << 16 | its value bits (v, or v - 1 for a
// negative v, in that many bits).
constexpr int kValueRange = 2048;
struct ValueBits {
  uint32_t of[2 * kValueRange];
  ValueBits() : of{} {
    for (int v = -kValueRange; v < kValueRange; ++v) {
      const int bits = BitLength(v);
      of[v + kValueRange] = static_cast<uint32_t>(bits) << 16 |
                            (static_cast<uint32_t>(v < 0 ? v - 1 : v) & ((1u << bits) - 1));
    }
  }
};

inline const ValueBits kValueBits;

inline uint64_t ZigZagMask(const int16_t* q) {
  uint64_t natural = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (int k = 0; k < 64; k += 16) {
    const __m128i a = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q + k)), zero);
    const __m128i b = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q + k + 8)), zero);
    natural |= static_cast<uint64_t>(~_mm_movemask_epi8(_mm_packs_epi16(a, b)) & 0xFFFF) << k;
  }
#else
  for (int k = 0; k < 64; ++k) natural |= static_cast<uint64_t>(q[k] != 0) << k;
#endif
  uint64_t m = 0;
  for (int n = 0; n < 8; ++n) m |= kZigZagBytes.bits[n][natural >> (8 * n) & 255];
  return m;
}


// Codes one block of quantised terms (natural order) after the bits pending in `bitBuffer`
// (the low `bitCount` of them), whole 64-bit groups going out through `put` with a 0 after
// every 0xFF byte; `prediction` is the component's DC prediction.
inline __attribute__((always_inline)) void CodeBlock(const int16_t* q, int& prediction, const HuffCodes& dc,
                                                     const HuffCodes& ac, uint64_t& bitBuffer, int& bitCount,
                                                     uint8_t*& put) {
  // The bit writer's state lives in registers for the block.
  BitSink sink{bitBuffer, 64 - bitCount, put};
  const int diff = q[0] - prediction;
  prediction = q[0];
  int bits = BitLength(diff);
  // Each code goes out together with its appended bits (at most 16 + 12 bits).
  sink.Put(dc.code[bits] << bits | (static_cast<uint32_t>(diff < 0 ? diff - 1 : diff) & ((1u << bits) - 1)),
           dc.size[bits] + bits);
  const uint32_t* acCode = ac.packed;

  // Walk the non-zero AC terms in zig-zag order.
  uint64_t nonzero = ZigZagMask(q) & ~uint64_t{1};
  int last = 0;
  while (nonzero != 0) {
    const int i = __builtin_ctzll(nonzero);
    nonzero &= nonzero - 1;
    int run = i - last - 1;
    while (run > 15) {
      sink.Put(acCode[0xF0] >> 8, acCode[0xF0] & 255);
      run -= 16;
    }
    const int v = q[kZigZag[i]];
    if (static_cast<unsigned>(v + kValueRange) < 2 * kValueRange) {
      const uint32_t value = kValueBits.of[v + kValueRange];
      const int symbol = run << 4 | static_cast<int>(value >> 16);
      sink.Put(ac.withBits[symbol] | (value & 0xFFFF), ac.sizeWithBits[symbol]);
    } else {
      bits = 32 - __builtin_clz(static_cast<unsigned>(v < 0 ? -v : v));  // v is not 0
      const uint32_t code = acCode[run << 4 | bits];
      sink.Put((code >> 8) << bits | (static_cast<uint32_t>(v + (v >> 31)) & ((1u << bits) - 1)),
               static_cast<int>(code & 255) + bits);
    }
    last = i;
  }
  if (last != 63) sink.Put(ac.code[0x00], ac.size[0x00]);
  bitBuffer = sink.buffer;
  bitCount = 64 - sink.free;
  put = sink.put;
}

// The portable build of CodeBlock (jpeg_encoder.cpp).
void CodeBlockPortable(const int16_t* q, int& prediction, const HuffCodes& dc, const HuffCodes& ac,
                       uint64_t& bitBuffer, int& bitCount, uint8_t*& put);

}  // namespace tessera::jpeg
