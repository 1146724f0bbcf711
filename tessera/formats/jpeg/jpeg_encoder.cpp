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
#include "formats/jpeg/jpeg_huffman_coder.h"
#include "formats/jpeg/jpeg_simd.h"

namespace tessera::jpeg {


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

void BuildCodes(const HuffmanSpec& spec, HuffCodes& codes) {
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

  kernels_->codeBlock(q, prediction_[component], dc_[t], ac_[t], bitBuffer_, bitCount_, put_);
}

void CodeBlockPortable(const int16_t* q, int& prediction, const HuffCodes& dc, const HuffCodes& ac,
                       uint64_t& bitBuffer, int& bitCount, uint8_t*& put) {
  CodeBlock(q, prediction, dc, ac, bitBuffer, bitCount, put);
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
