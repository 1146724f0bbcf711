// Baseline encoder. The arithmetic is fixed so that the same image always gives the same
// bytes: 8-bit fixed-point colour conversion, point-sampled chroma, the scaled AAN transform
// with 8 fraction bits (levels 1-4) or the accurate integer transform (level 5), symmetric
// rounding, and the typical Huffman tables.
#include "formats/jpeg/jpeg_encoder.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "formats/jpeg/jpeg_dct.h"
#include "formats/jpeg/jpeg_simd.h"

namespace tessera::jpeg {

namespace {

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

const ZigZagBytes kZigZagBytes;

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

const ValueBits kValueBits;

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

}  // namespace

// ---------------------------------------------------------------------------------------
// Forward transforms

void FastDct(int32_t* block) {
  // Products keep 8 fraction bits and are shifted back without a rounding term; each is
  // taken as a signed 16-bit value.
  auto mul = [](int32_t v, int32_t c) { return static_cast<int32_t>(static_cast<int16_t>((v * c) >> 8)); };
  constexpr int32_t k0_382683433 = 98, k0_541196100 = 139, k0_707106781 = 181, k1_306562965 = 334;
  for (int pass = 0; pass < 2; ++pass) {
    const int step = pass == 0 ? 1 : 8;    // distance between the 8 values of one line
    const int next = pass == 0 ? 8 : 1;    // distance between lines
    for (int line = 0; line < 8; ++line) {
      int32_t* d = block + line * next;
      const int32_t tmp0 = d[0] + d[7 * step], tmp7 = d[0] - d[7 * step];
      const int32_t tmp1 = d[step] + d[6 * step], tmp6 = d[step] - d[6 * step];
      const int32_t tmp2 = d[2 * step] + d[5 * step], tmp5 = d[2 * step] - d[5 * step];
      const int32_t tmp3 = d[3 * step] + d[4 * step], tmp4 = d[3 * step] - d[4 * step];

      int32_t tmp10 = tmp0 + tmp3, tmp13 = tmp0 - tmp3;
      int32_t tmp11 = tmp1 + tmp2, tmp12 = tmp1 - tmp2;
      d[0] = tmp10 + tmp11;
      d[4 * step] = tmp10 - tmp11;
      const int32_t z1 = mul(tmp12 + tmp13, k0_707106781);
      d[2 * step] = tmp13 + z1;
      d[6 * step] = tmp13 - z1;

      tmp10 = tmp4 + tmp5;
      tmp11 = tmp5 + tmp6;
      tmp12 = tmp6 + tmp7;
      const int32_t z5 = mul(tmp10 - tmp12, k0_382683433);
      const int32_t z2 = mul(tmp10, k0_541196100) + z5;
      const int32_t z4 = mul(tmp12, k1_306562965) + z5;
      const int32_t z3 = mul(tmp11, k0_707106781);
      const int32_t z11 = tmp7 + z3, z13 = tmp7 - z3;
      d[5 * step] = z13 + z2;
      d[3 * step] = z13 - z2;
      d[1 * step] = z11 + z4;
      d[7 * step] = z11 - z4;
    }
  }
}

void AccurateDct(int32_t* block) {
  using namespace dct;
  for (int pass = 0; pass < 2; ++pass) {
    const int step = pass == 0 ? 1 : 8;
    const int next = pass == 0 ? 8 : 1;
    const int shift = pass == 0 ? 11 : 15;  // products: 13 fraction bits less/more the 2 extra bits
    for (int line = 0; line < 8; ++line) {
      int32_t* d = block + line * next;
      const int32_t tmp0 = d[0] + d[7 * step], tmp7 = d[0] - d[7 * step];
      const int32_t tmp1 = d[step] + d[6 * step], tmp6 = d[step] - d[6 * step];
      const int32_t tmp2 = d[2 * step] + d[5 * step], tmp5 = d[2 * step] - d[5 * step];
      const int32_t tmp3 = d[3 * step] + d[4 * step], tmp4 = d[3 * step] - d[4 * step];

      const int32_t tmp10 = tmp0 + tmp3, tmp13 = tmp0 - tmp3;
      const int32_t tmp11 = tmp1 + tmp2, tmp12 = tmp1 - tmp2;
      if (pass == 0) {
        d[0] = (tmp10 + tmp11) * 4;
        d[4 * step] = (tmp10 - tmp11) * 4;
      } else {
        d[0] = (tmp10 + tmp11) >> 2;
        d[4 * step] = (tmp10 - tmp11) >> 2;
      }
      const int32_t z1 = (tmp12 + tmp13) * kF0_541196100;
      d[2 * step] = (z1 + tmp13 * kF0_765366865) >> shift;
      d[6 * step] = (z1 - tmp12 * kF1_847759065) >> shift;

      int32_t o1 = tmp4 + tmp7, o2 = tmp5 + tmp6, o3 = tmp4 + tmp6, o4 = tmp5 + tmp7;
      const int32_t z5 = (o3 + o4) * kF1_175875602;
      const int32_t t4 = tmp4 * kF0_298631336, t5 = tmp5 * kF2_053119869;
      const int32_t t6 = tmp6 * kF3_072711026, t7 = tmp7 * kF1_501321110;
      o1 *= -kF0_899976223;
      o2 *= -kF2_562915447;
      o3 = o3 * -kF1_961570560 + z5;
      o4 = o4 * -kF0_390180644 + z5;
      d[7 * step] = (t4 + o1 + o3) >> shift;
      d[5 * step] = (t5 + o2 + o4) >> shift;
      d[3 * step] = (t6 + o2 + o3) >> shift;
      d[1 * step] = (t7 + o1 + o4) >> shift;
    }
  }
}

void FastReciprocals(const uint8_t* table, uint16_t* reciprocals) {
  for (int k = 0; k < 64; ++k) {
    const int32_t divisor = (static_cast<int32_t>(table[k]) * kAanScale[k]) / 2048;
    // A divisor of 0 (possible only for a quantisation value of 1 at the highest
    // frequencies) is treated as 1 so that no value divides by zero. For |c| <= 32768,
    // (|c| * 65535 + 32768) >> 16 is |c|, as with 65536.
    reciprocals[k] = static_cast<uint16_t>(std::min(65535u, 65536u / static_cast<uint32_t>(divisor < 1 ? 1 : divisor)));
  }
}

void ForwardFastQuantizeScalar(const int32_t* samples, ptrdiff_t stride, const uint16_t* reciprocals, int16_t* out) {
  int32_t block[64];
  for (int r = 0; r < 8; ++r) std::memcpy(block + 8 * r, samples + r * stride, 8 * sizeof(int32_t));
  FastDct(block);
  for (int k = 0; k < 64; ++k) {
    const int64_t c = block[k];
    const int64_t r = reciprocals[k];
    out[k] = static_cast<int16_t>(c >= 0 ? (c * r + 32768) >> 16 : -((32768 - c * r) >> 16));
  }
}

void ForwardFastQuantize(const int32_t* samples, const uint16_t* reciprocals, int16_t* out) {
  Kernels().forwardFast(samples, 8, reciprocals, out);
}

void ForwardAccurateQuantize(const int32_t* samples, int16_t* out) {
  int32_t block[64];
  std::memcpy(block, samples, sizeof block);
  AccurateDct(block);
  for (int k = 0; k < 64; ++k) {
    const int32_t c = block[k];
    out[k] = static_cast<int16_t>(c >= 0 ? (c + 4) >> 3 : -((4 - c) >> 3));
  }
}

// ---------------------------------------------------------------------------------------
// Colour conversion of one row into the level-shifted planes.

void LumaRowScalar(const uint8_t* rgb, int width, int32_t* y) {
  for (int x = 0; x < width; ++x, rgb += 3)
    y[x] = ((77 * rgb[0] + 150 * rgb[1] + 29 * rgb[2] + 128) >> 8) - 128;
}

void ChromaRowScalar(const uint8_t* rgb, int count, int step, int32_t* cb, int32_t* cr) {
  for (int i = 0; i < count; ++i, rgb += 3 * step) {
    cb[i] = (128 * rgb[2] - 43 * rgb[0] - 85 * rgb[1] + 128) >> 8;
    cr[i] = (128 * rgb[0] - 107 * rgb[1] - 21 * rgb[2] + 128) >> 8;
  }
}

// ---------------------------------------------------------------------------------------
// ScanEncoder

ScanEncoder::ScanEncoder(const EncoderConfig& config) : config_(config) {
  components_ = config.grey ? 1 : 3;
  hs_ = config.grey ? 1 : config.sampling.h;
  vs_ = config.grey ? 1 : config.sampling.v;
  mcuW_ = 8 * hs_;
  mcuH_ = 8 * vs_;
  mcusPerRow_ = (config.width + mcuW_ - 1) / mcuW_;
  paddedWidth_ = mcusPerRow_ * mcuW_;
  for (int c = 0; c < 2; ++c) {
    tables_[c] = QualityTable(config.level, c);
    FastReciprocals(tables_[c], reciprocals_[c]);
  }
  BuildCodes(kLumaDc, dc_[0]);
  BuildCodes(kChromaDc, dc_[1]);
  BuildCodes(kLumaAc, ac_[0]);
  BuildCodes(kChromaAc, ac_[1]);
  planeY_.resize(static_cast<size_t>(paddedWidth_) * mcuH_);
  if (!config.grey) {
    planeCb_.resize(static_cast<size_t>(paddedWidth_ / hs_) * 8);
    planeCr_.resize(planeCb_.size());
  }
}

void ScanEncoder::BuildCodes(const HuffmanSpec& spec, HuffCodes& codes) {
  std::memset(&codes, 0, sizeof codes);
  uint32_t code = 0;
  int k = 0;
  for (int length = 1; length <= 16; ++length) {
    for (int i = 0; i < spec.counts[length - 1]; ++i, ++k) {
      codes.code[spec.symbols[k]] = code;
      codes.size[spec.symbols[k]] = static_cast<uint8_t>(length);
      codes.packed[spec.symbols[k]] = code << 8 | static_cast<uint32_t>(length);
      ++code;
    }
    code <<= 1;
  }
  for (int s = 0; s < 256; ++s) {
    codes.withBits[s] = codes.code[s] << (s & 15);
    codes.sizeWithBits[s] = static_cast<uint8_t>(codes.size[s] + (s & 15));
  }
}

static void AppendMarker(std::vector<uint8_t>& out, uint8_t marker, int length) {
  out.push_back(0xFF);
  out.push_back(marker);
  out.push_back(static_cast<uint8_t>(length >> 8));
  out.push_back(static_cast<uint8_t>(length));
}

static void AppendHuffman(std::vector<uint8_t>& out, int classId, const HuffmanSpec& spec) {
  out.push_back(static_cast<uint8_t>(classId));
  out.insert(out.end(), spec.counts, spec.counts + 16);
  out.insert(out.end(), spec.symbols, spec.symbols + spec.symbolCount);
}

void ScanEncoder::AppendTables(std::vector<uint8_t>& out) const {
  const bool grey = config_.grey;
  AppendMarker(out, 0xDB, grey ? 67 : 132);
  for (int t = 0; t < (grey ? 1 : 2); ++t) {
    out.push_back(static_cast<uint8_t>(t));
    for (int i = 0; i < 64; ++i) out.push_back(tables_[t][kZigZag[i]]);
  }
  AppendMarker(out, 0xC4, grey ? 210 : 418);
  AppendHuffman(out, 0x00, kLumaDc);
  if (!grey) AppendHuffman(out, 0x01, kChromaDc);
  AppendHuffman(out, 0x10, kLumaAc);
  if (!grey) AppendHuffman(out, 0x11, kChromaAc);
  AppendMarker(out, 0xDD, 4);
  out.push_back(0);
  out.push_back(0);
  AppendMarker(out, 0xC0, 8 + 3 * components_);
  out.push_back(8);
  out.push_back(static_cast<uint8_t>(config_.height >> 8));
  out.push_back(static_cast<uint8_t>(config_.height));
  out.push_back(static_cast<uint8_t>(config_.width >> 8));
  out.push_back(static_cast<uint8_t>(config_.width));
  out.push_back(static_cast<uint8_t>(components_));
  for (int c = 0; c < components_; ++c) {
    out.push_back(static_cast<uint8_t>(c + 1));
    out.push_back(static_cast<uint8_t>(c == 0 ? (hs_ << 4 | vs_) : 0x11));
    out.push_back(static_cast<uint8_t>(c == 0 ? 0 : 1));
  }
  AppendMarker(out, 0xDA, 6 + 2 * components_);
  out.push_back(static_cast<uint8_t>(components_));
  for (int c = 0; c < components_; ++c) {
    out.push_back(static_cast<uint8_t>(c + 1));
    out.push_back(static_cast<uint8_t>(c == 0 ? 0x00 : 0x11));
  }
  out.push_back(0);
  out.push_back(63);
  out.push_back(0);
}

void ScanEncoder::EncodeRows(const uint8_t* pixels, ptrdiff_t rowBytes, int rows) {
  const uint8_t* rowPtr[16];
  for (int first = 0; first < rows && rowsDone_ < config_.height; first += mcuH_) {
    for (int r = 0; r < mcuH_; ++r) {
      // Rows past the image's end repeat its last row.
      const int inBand = std::min(first + r, rows - 1);
      rowPtr[r] = pixels + inBand * rowBytes;
    }
    EncodeMcuRow(rowPtr);
    rowsDone_ += mcuH_;
  }
}

void ScanEncoder::EncodeMcuRow(const uint8_t* const* rows) {
  const int width = config_.width;
  const KernelTable& k = Kernels();
  // Luminance (or grey) plane, right edge repeating the row's last sample.
  for (int r = 0; r < mcuH_; ++r) {
    int32_t* y = planeY_.data() + static_cast<size_t>(r) * paddedWidth_;
    if (config_.grey) {
      for (int x = 0; x < width; ++x) y[x] = rows[r][x] - 128;
    } else {
      k.lumaRow(rows[r], width, y);
    }
    for (int x = width; x < paddedWidth_; ++x) y[x] = y[width - 1];
  }
  // Chroma: the top-left pixel of each sampling group.
  if (!config_.grey) {
    const int chromaWidth = paddedWidth_ / hs_;
    for (int r = 0; r < 8; ++r) {
      const uint8_t* src = rows[r * vs_];
      int32_t* cb = planeCb_.data() + static_cast<size_t>(r) * chromaWidth;
      int32_t* cr = planeCr_.data() + static_cast<size_t>(r) * chromaWidth;
      const int inside = std::min(chromaWidth, (width + hs_ - 1) / hs_);
      k.chromaRow(src, inside, hs_, cb, cr);
      for (int i = inside; i < chromaWidth; ++i) {
        const uint8_t* p = src + 3 * (width - 1);
        cb[i] = (128 * p[2] - 43 * p[0] - 85 * p[1] + 128) >> 8;
        cr[i] = (128 * p[0] - 107 * p[1] - 21 * p[2] + 128) >> 8;
      }
    }
  }

  // Worst case per MCU: its blocks of 64 codes of up to 28 bits, every byte stuffed.
  const size_t room = static_cast<size_t>(components_ + hs_ * vs_) * 64 * 4 * 2 + 16;
  const size_t need = room * static_cast<size_t>(mcusPerRow_);
  if (scratchSize_ < need) {
    scratch_.reset(new uint8_t[need]);
    scratchSize_ = need;
  }
  put_ = scratch_.get();
  kernels_ = &k;
  for (int m = 0; m < mcusPerRow_; ++m) {
    for (int v = 0; v < vs_; ++v)
      for (int h = 0; h < hs_; ++h)
        EncodeBlock(planeY_.data() + static_cast<size_t>(v * 8) * paddedWidth_ + m * mcuW_ + h * 8, paddedWidth_, 0);
    if (!config_.grey) {
      const int chromaWidth = paddedWidth_ / hs_;
      EncodeBlock(planeCb_.data() + m * 8, chromaWidth, 1);
      EncodeBlock(planeCr_.data() + m * 8, chromaWidth, 2);
    }
  }
  out_.insert(out_.end(), scratch_.get(), put_);
  put_ = nullptr;
}

void ScanEncoder::EncodeBlock(const int32_t* samples, ptrdiff_t stride, int component) {
  const int t = component == 0 ? 0 : 1;
  alignas(32) int16_t q[64];
  if (config_.level == 5) {
    int32_t block[64];
    for (int r = 0; r < 8; ++r) std::memcpy(block + 8 * r, samples + r * stride, 8 * sizeof(int32_t));
    ForwardAccurateQuantize(block, q);
  } else {
    kernels_->forwardFast(samples, stride, reciprocals_[t], q);
  }

  const HuffCodes& dc = dc_[t];
  const HuffCodes& ac = ac_[t];
  // The bit writer's state lives in registers for the block.
  BitSink sink{bitBuffer_, 64 - bitCount_, put_};
  const int diff = q[0] - prediction_[component];
  prediction_[component] = q[0];
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
  bitBuffer_ = sink.buffer;
  bitCount_ = 64 - sink.free;
  put_ = sink.put;
}

void ScanEncoder::FlushBits() {
  while (bitCount_ >= 8) {
    const uint8_t b = static_cast<uint8_t>(bitBuffer_ >> (bitCount_ - 8));
    out_.push_back(b);
    if (b == 0xFF) out_.push_back(0);
    bitCount_ -= 8;
  }
  bitBuffer_ &= (uint64_t{1} << bitCount_) - 1;
}

void ScanEncoder::Finish() {
  const int pad = (8 - bitCount_ % 8) % 8;
  bitBuffer_ = bitBuffer_ << pad | ((1u << pad) - 1);
  bitCount_ += pad;
  FlushBits();
  out_.push_back(0xFF);
  out_.push_back(0xD9);
}

void AppendJfif(std::vector<uint8_t>& out, int dpi) {
  const int d = std::clamp(dpi, 1, 65535);
  const uint8_t segment[18] = {0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 2, 1,
                               static_cast<uint8_t>(d >> 8), static_cast<uint8_t>(d),
                               static_cast<uint8_t>(d >> 8), static_cast<uint8_t>(d), 0, 0};
  out.insert(out.end(), segment, segment + 18);
}

std::vector<uint8_t> EncodeImage(const uint8_t* pixels, ptrdiff_t rowBytes, const EncoderConfig& config,
                                 int jfifDpi) {
  ScanEncoder encoder(config);
  std::vector<uint8_t> out{0xFF, 0xD8};
  if (jfifDpi > 0) AppendJfif(out, jfifDpi);
  encoder.AppendTables(out);
  encoder.EncodeRows(pixels, rowBytes, config.height);
  encoder.Finish();
  out.insert(out.end(), encoder.Output().begin(), encoder.Output().end());
  return out;
}

}  // namespace tessera::jpeg
