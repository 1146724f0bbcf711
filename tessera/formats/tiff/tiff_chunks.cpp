#include "formats/tiff/tiff_chunks.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "formats/byte_order.h"
#include "formats/jpeg/jpeg_decoder.h"

namespace tessera::tiff {

// ---------------------------------------------------------------------------------------
// Decoders

// TIFF's LZW: codes of 9 to 12 bits, most significant bit first, 256 clears the table, 257
// ends the data, and the code width grows one code early.
size_t DecodeLzw(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize) {
  constexpr int kClear = 256, kEnd = 257;
  // Every string of the table lies in the output already: the string of the code before,
  // where it was written, and the first byte written after it. A code is copied from there.
  uint32_t start[4096];
  uint16_t length[4096];
  size_t pos = 0, o = 0, prevStart = 0, prevLength = 0;
  uint64_t buffer = 0;
  int bits = 0, width = 9, next = 258, prev = -1;
  // Adds the string of the code before and the first byte of the one now written.
  const auto add = [&] {
    if (next < 4096) {
      start[next] = static_cast<uint32_t>(prevStart);
      length[next] = static_cast<uint16_t>(prevLength + 1);
      ++next;
    }
  };
  while (o < outSize) {
    if (bits < width) {
      if (inSize - pos >= 8) {
        // As many whole bytes as the buffer takes, in one load.
        const int take = (63 - bits) >> 3;
        buffer = buffer << (8 * take) | bytes::LoadBE64(in + pos) >> (64 - 8 * take);
        pos += static_cast<size_t>(take);
        bits += 8 * take;
      } else {
        while (bits <= 56 && pos < inSize) {
          buffer = buffer << 8 | in[pos++];
          bits += 8;
        }
        if (bits < width) break;
      }
    }
    const int code = static_cast<int>((buffer >> (bits - width)) & ((1u << width) - 1));
    bits -= width;
    if (code > kEnd && code < next) {
      // The common case: a string already in the table (and so a code before it, since a
      // clear leaves none). A short string goes in one 16-byte copy where the output has
      // room; the bytes past it are written again by what follows.
      add();
      const size_t n = length[code];
      const uint8_t* from = out + start[code];
      prevStart = o;
      if (n <= 16 && outSize - o >= 16) {
        uint8_t chunk[16];
        std::memcpy(chunk, from, 16);
        std::memcpy(out + o, chunk, 16);
        o += n;
      } else {
        const size_t take = std::min(n, outSize - o);
        std::memcpy(out + o, from, take);
        o += take;
      }
      prevLength = n;
    } else if (code < 256 && prev >= 0) {
      add();
      prevStart = o;
      out[o++] = static_cast<uint8_t>(code);
      prevLength = 1;
    } else if (code == kEnd) {
      break;
    } else if (code == kClear) {
      width = 9;
      next = 258;
      prev = -1;
      continue;
    } else if (prev < 0) {
      if (code > 255) break;  // damaged: the first code after a clear is a byte
      prevStart = o;
      out[o++] = static_cast<uint8_t>(code);
      prevLength = 1;
    } else {
      // The code about to be made: the string before and its own first byte, which the
      // copy writes before it reads it. Any other code is damage.
      if (code != next || next >= 4096) break;
      add();
      const size_t n = std::min<size_t>(length[code], outSize - o);
      const uint8_t* from = out + start[code];
      prevStart = o;
      for (size_t i = 0; i < n; ++i) out[o + i] = from[i];
      o += n;
      prevLength = length[code];
    }
    prev = code;
    if (next >= (1 << width) - 1 && width < 12) ++width;
  }
  return o;
}

size_t DecodePackBits(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize) {
  size_t pos = 0, o = 0;
  while (pos < inSize && o < outSize) {
    const int n = static_cast<int8_t>(in[pos++]);
    if (n >= 0) {
      const size_t count = std::min<size_t>({static_cast<size_t>(n) + 1, inSize - pos, outSize - o});
      std::memcpy(out + o, in + pos, count);
      pos += static_cast<size_t>(n) + 1;
      o += count;
    } else if (n != -128) {
      if (pos >= inSize) break;
      const size_t count = std::min<size_t>(static_cast<size_t>(1 - n), outSize - o);
      std::memset(out + o, in[pos++], count);
      o += count;
    }
  }
  return o;
}

size_t DecodeDeflate(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize) {
  // A whole, sound stream in one call of libdeflate; a damaged or cut one through zlib,
  // which keeps what came before the damage.
  if (libdeflate_decompressor* d = libdeflate_alloc_decompressor()) {
    size_t got = 0;
    const libdeflate_result r = libdeflate_zlib_decompress(d, in, inSize, out, outSize, &got);
    libdeflate_free_decompressor(d);
    if (r == LIBDEFLATE_SUCCESS) return got;
  }
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return 0;
  size_t done = 0;
  // zlib counts in 32-bit units: large chunks go in pieces.
  while (done < outSize) {
    z.next_in = const_cast<Bytef*>(in) + (inSize - (inSize - z.total_in));
    z.next_out = out + done;
    const size_t inLeft = inSize - static_cast<size_t>(z.total_in);
    z.avail_in = static_cast<uInt>(std::min<size_t>(inLeft, UINT_MAX));
    z.avail_out = static_cast<uInt>(std::min<size_t>(outSize - done, UINT_MAX));
    const int status = inflate(&z, Z_SYNC_FLUSH);
    done = static_cast<size_t>(z.total_out);
    if (status != Z_OK) break;  // the end of the stream, or damage: what came is kept
  }
  inflateEnd(&z);
  return done;
}

void ReverseBits(uint8_t* p, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i) {
    uint8_t b = p[i];
    b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
    p[i] = static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
  }
}

namespace {

constexpr int kSwapRows = 128;

// A sample of `bits` bits at index i of a row, most significant bits first.
inline uint32_t SampleAt(const uint8_t* row, int bits, size_t i) {
  switch (bits) {
    case 8: return row[i];
    case 16: return bytes::LoadLE16(row + 2 * i);
    default: {
      const size_t bit = i * static_cast<size_t>(bits);
      return static_cast<uint32_t>(row[bit >> 3] >> (8 - bits - static_cast<int>(bit & 7))) & ((1u << bits) - 1);
    }
  }
}

// Stored YCbCr into RGB with the file's reference black and white and luma coefficients,
// in the integer steps libtiff's conversion takes (each sample scaled to a whole value,
// then 16-bit fixed-point coefficients), so that both readers give the same pixels.
class YcbcrToRgb {
 public:
  explicit YcbcrToRgb(const FileInfo& info) {
    const double* rbw = info.referenceBlackWhite;
    const float lr = static_cast<float>(info.ycbcrCoefficients[0]), lg = static_cast<float>(info.ycbcrCoefficients[1]),
                lb = static_cast<float>(info.ycbcrCoefficients[2]);
    const auto fix = [](float x) { return static_cast<int32_t>(x * 65536.0f + 0.5f); };
    const int32_t d1 = fix(std::clamp(2.0f - 2.0f * lr, 0.0f, 2.0f)), d3 = fix(std::clamp(2.0f - 2.0f * lb, 0.0f, 2.0f));
    const int32_t d2 = -fix(lr * (2.0f - 2.0f * lr) / lg), d4 = -fix(lb * (2.0f - 2.0f * lb) / lg);
    // A code c scaled to `range` over the reference black and white, as a whole number.
    const auto scaled = [](int c, double black, double white, float range) {
      const float span = static_cast<float>(white - black) != 0 ? static_cast<float>(white - black) : 1.0f;
      const float v = static_cast<float>(c - static_cast<int32_t>(black)) * range / span;
      return static_cast<int32_t>(std::clamp(v, -128.0f * 32, 128.0f * 32));
    };
    for (int i = 0; i < 256; ++i) {
      const int32_t cr = scaled(i - 128, rbw[4] - 128.0, rbw[5] - 128.0, 127);
      const int32_t cb = scaled(i - 128, rbw[2] - 128.0, rbw[3] - 128.0, 127);
      crR_[i] = (d1 * cr + 32768) >> 16;
      cbB_[i] = (d3 * cb + 32768) >> 16;
      crG_[i] = d2 * cr;
      cbG_[i] = d4 * cb + 32768;
      y_[i] = scaled(i, rbw[0], rbw[1], 255);
    }
  }
  void operator()(uint8_t y, uint8_t cb, uint8_t cr, uint16_t* rgb) const {
    const int32_t v[3] = {y_[y] + crR_[cr], y_[y] + ((cbG_[cb] + crG_[cr]) >> 16), y_[y] + cbB_[cb]};
    for (int c = 0; c < 3; ++c) rgb[c] = static_cast<uint16_t>(std::clamp(v[c], 0, 255));
  }

 private:
  int32_t y_[256], crR_[256], cbB_[256], crG_[256], cbG_[256];
};

// Horizontal differencing undone in one row of `pixels` pixels of kSamples interleaved 8-
// or 16-bit (little-endian) samples; the running sums stay in registers.
template <int kSamples>
void UndoPredictorOf(uint8_t* row, uint32_t pixels, int bits) {
  uint32_t sum[kSamples] = {};
  if (bits == 8) {
    for (uint32_t x = 0; x < pixels; ++x, row += kSamples)
      for (int k = 0; k < kSamples; ++k) row[k] = static_cast<uint8_t>(sum[k] += row[k]);
  } else {
    for (uint32_t x = 0; x < pixels; ++x, row += 2 * kSamples)
      for (int k = 0; k < kSamples; ++k) {
        sum[k] += bytes::LoadLE16(row + 2 * k);
        bytes::StoreLE16(row + 2 * k, sum[k]);
      }
  }
}

void UndoPredictor(uint8_t* row, uint32_t pixels, int samples, int bits) {
  switch (samples) {
    case 1: UndoPredictorOf<1>(row, pixels, bits); break;
    case 2: UndoPredictorOf<2>(row, pixels, bits); break;
    case 3: UndoPredictorOf<3>(row, pixels, bits); break;
    default: UndoPredictorOf<4>(row, pixels, bits); break;
  }
}


// Rows of a strip's or tile's JPEG stream into the chunk's buffer of interleaved 8-bit
// samples; a stream larger than the chunk is cut to it, a smaller one leaves zeros.
class ChunkSink final : public jpeg::RowSink {
 public:
  ChunkSink(uint8_t* chunk, size_t rowBytes, int channels, uint32_t rows)
      : chunk_(chunk), rowBytes_(rowBytes), channels_(channels), rows_(rows) {}
  long Begin(int width, int, int channels) override {
    if (channels != channels_) return kUnsupported;
    width_ = static_cast<size_t>(width);
    return 0;
  }
  long Rows(const uint8_t* pixels, ptrdiff_t rowBytes, int first, int rows) override {
    for (int r = 0; r < rows; ++r) {
      const uint32_t y = static_cast<uint32_t>(first + r);
      if (y >= rows_) break;
      std::memcpy(chunk_ + y * rowBytes_, pixels + r * rowBytes, std::min(rowBytes_, width_ * channels_));
    }
    return 0;
  }

 private:
  uint8_t* chunk_;
  size_t rowBytes_;
  int channels_;
  uint32_t rows_;
  size_t width_ = 0;
};

}  // namespace

long ReadChunks(TesseraClass& target, InputStream& in, const FileInfo& info, const tagTes_Image_Desc& desc,
                const tagTes_Transform_Struct& store, ProgressProc progress, void* param) {
  const uint32_t width = info.width, height = info.height;
  const int samples = info.samples, bits = info.bits[0];
  const bool separate = info.planar == 2 && samples > 1;
  const int planes = separate ? samples : 1;
  const int chunkSamples = separate ? 1 : samples;
  const uint32_t chunkWide = info.tiled ? info.tileWidth : width;
  const uint32_t chunkHigh = info.tiled ? info.tileLength : std::min(info.rowsPerStrip, height);
  const uint64_t across = info.tiled ? (uint64_t{width} + chunkWide - 1) / chunkWide : 1;
  const uint64_t down = (uint64_t{height} + chunkHigh - 1) / chunkHigh;
  const uint64_t chunkRowBytes = (uint64_t{chunkWide} * chunkSamples * bits + 7) / 8;
  // Stored YCbCr comes in data units: each block of subH x subV pixels' Y samples, then
  // the block's Cb and Cr.
  const bool ycc = info.StoredYcbcr();
  const uint32_t subH = ycc ? info.ycbcrSubsampling[0] : 1, subV = ycc ? info.ycbcrSubsampling[1] : 1;
  const uint64_t unitsAcross = (uint64_t{chunkWide} + subH - 1) / subH, unitBytes = uint64_t{subH} * subV + 2;
  // The bytes of a chunk's first `rows` rows, as stored.
  const auto dataBytes = [&](uint32_t rows) -> uint64_t {
    return ycc ? (uint64_t{rows} + subV - 1) / subV * unitsAcross * unitBytes : chunkRowBytes * rows;
  };
  const uint64_t chunkBytes = dataBytes(chunkHigh);
  const int outSampleBytes = info.imageBits / 8;
  const uint64_t outPixelBytes = static_cast<uint64_t>(info.channels) * outSampleBytes;
  const uint64_t outRowBytes = uint64_t{width} * outPixelBytes;

  // Before anything is allocated: the decoded data cannot outgrow what the compressed
  // bytes could give (a bomb's declared size is refused), and no row is larger than the
  // store takes.
  const long long length = in.Length();
  // The most one byte of each coding can give: uncompressed data must be all there,
  // PackBits repeats a byte at most 128 times, Deflate about 1032, an LZW code at most
  // 4096 bytes, a JPEG block of 64 samples (times 3) needs at least 2 bits.
  // A strip image's last strip holds only the rows left.
  const uint64_t lastChunkBytes = info.tiled ? chunkBytes : dataBytes(height - static_cast<uint32_t>((down - 1) * chunkHigh));
  const uint64_t decodedTotal = (chunkBytes * (down - 1) + lastChunkBytes) * across * static_cast<uint64_t>(planes);
  uint64_t ratio = 1;
  switch (info.compression) {
    case kPackBits: ratio = 128; break;
    case kDeflate:
    case kAdobeDeflate: ratio = 1100; break;
    case kLzw: ratio = 4096; break;
    case kJpeg: ratio = 1024; break;
    default: break;
  }
  if (length >= 0 && decodedTotal / ratio > static_cast<uint64_t>(length)) return TES_ERR_IN_EOF;
  if (outRowBytes > INT32_MAX || chunkBytes > (uint64_t{1} << 31)) return TES_ERR_NO_MEMORY;
  uint64_t largest = 0;
  for (const uint64_t count : info.stripByteCounts) largest = std::max(largest, count);
  if (length >= 0) largest = std::min<uint64_t>(largest, static_cast<uint64_t>(length));
  if (largest > (uint64_t{1} << 31)) return TES_ERR_NO_MEMORY;

  if (const long s = DescribeTarget(target, desc, store)) return s;

  // Chunks whose samples are the image's own (8 or 16 bits, interleaved, nothing to
  // convert) go to the image as decoded: a strip straight from its buffer, a tile copied
  // into its place in the band.
  const bool plain = !ycc && !separate && !info.signedLab && (bits == 8 || bits == 16) && bits == info.imageBits &&
                     samples == info.channels &&
                     (info.photometric == 1 || info.photometric == 2 || info.photometric == 5 || info.photometric == 8 ||
                      (info.photometric == 6 && info.compression == kJpeg));
  const bool inPlace = plain && !info.tiled;
  std::vector<uint8_t> raw, decoded, out;
  std::vector<uint16_t> band;
  try {
    raw.resize(static_cast<size_t>(largest));
    decoded.resize(static_cast<size_t>(chunkBytes));
    // The band of converted samples, and the rows gathered from tiles, only where they are
    // used.
    if (!plain) band.resize(static_cast<size_t>(width) * chunkHigh * samples);
    if (!inPlace) out.resize(static_cast<size_t>(outRowBytes) * chunkHigh);
  } catch (const std::bad_alloc&) {
    return TES_ERR_NO_MEMORY;
  }
  const uint32_t paletteSize = 1u << (bits < 16 ? bits : 0);
  const std::unique_ptr<const YcbcrToRgb> toRgbTables(ycc ? new (std::nothrow) YcbcrToRgb(info) : nullptr);
  if (ycc && !toRgbTables) return TES_ERR_NO_MEMORY;
  const uint32_t fullScale = (1u << bits) - 1;

  for (uint64_t b = 0; b < down; ++b) {
    const uint32_t firstRow = static_cast<uint32_t>(b * chunkHigh);
    const uint32_t rows = std::min(chunkHigh, height - firstRow);
    // Rows the chunk's data hold: a strip only its own, a tile always its whole height.
    const uint32_t dataRows = info.tiled ? chunkHigh : rows;
    if (!plain) std::fill(band.begin(), band.end(), 0);
    for (int p = 0; p < planes; ++p)
      for (uint64_t t = 0; t < across; ++t) {
        const size_t index = static_cast<size_t>(static_cast<uint64_t>(p) * across * down + b * across + t);
        const uint64_t offset = info.stripOffsets[index];
        uint64_t count = info.stripByteCounts[index];
        // A chunk cut short by the end of the file gives what is there.
        if (length >= 0) count = offset >= static_cast<uint64_t>(length) ? 0 : std::min<uint64_t>(count, length - offset);
        if (info.compression == kNone) count = std::min<uint64_t>(count, dataBytes(dataRows));
        if (info.compression == kJpeg) {
          // The library's own JPEG decoder reads the stream in place, after the shared
          // tables when the file has them.
          std::memset(decoded.data(), 0, decoded.size());
          if (count > 0) {
            if (in.Seek(static_cast<long>(info.jpegTablesCount ? info.jpegTablesOffset : offset)) != 0) return in.Error();
            jpeg::Decoder decoder(in, nullptr);
            if (samples == 3) decoder.AssumeTransform(info.photometric == 2 ? 0 : 1);
            if (samples == 4) decoder.InkAsStored();
            if (info.jpegTablesCount != 0)
              if (const long s = decoder.ReadTables()) return s;
            if (const long s = decoder.MoveTo(static_cast<long>(offset))) return s;
            ChunkSink sink(decoded.data(), static_cast<size_t>(chunkRowBytes), samples, dataRows);
            if (const long s = decoder.Decode(sink)) return s;
          }
        } else if (count > 0) {
          if (in.Seek(static_cast<long>(offset)) != 0) return in.Error();
          if (in.Read(raw.data(), static_cast<long>(count)) != static_cast<long>(count)) return in.Error();
        }
        if (info.fillOrder == 2 && info.compression != kJpeg) ReverseBits(raw.data(), static_cast<size_t>(count));
        const size_t want = static_cast<size_t>(dataBytes(dataRows));
        size_t got = want;
        switch (info.compression) {
          case kJpeg: break;
          case kLzw: got = DecodeLzw(raw.data(), static_cast<size_t>(count), decoded.data(), want); break;
          case kDeflate:
          case kAdobeDeflate: got = DecodeDeflate(raw.data(), static_cast<size_t>(count), decoded.data(), want); break;
          case kPackBits: got = DecodePackBits(raw.data(), static_cast<size_t>(count), decoded.data(), want); break;
          default:
            got = static_cast<size_t>(count);
            std::memcpy(decoded.data(), raw.data(), got);
            break;
        }
        std::memset(decoded.data() + got, 0, want - got);
        if (bits == 16 && info.bigEndian)
          for (size_t i = 0; i + 1 < want; i += 2) std::swap(decoded[i], decoded[i + 1]);
        if (info.predictor == 2)
          for (uint32_t r = 0; r < dataRows; ++r)
            UndoPredictor(decoded.data() + r * chunkRowBytes, chunkWide, chunkSamples, bits);
        // Into the band of samples, at the chunk's place.
        const uint32_t x0 = static_cast<uint32_t>(t * chunkWide);
        const uint32_t cols = std::min(chunkWide, width - x0);
        if (plain) {
          if (!inPlace)
            for (uint32_t r = 0; r < rows; ++r)
              std::memcpy(out.data() + r * outRowBytes + x0 * outPixelBytes, decoded.data() + r * chunkRowBytes,
                          static_cast<size_t>(cols * outPixelBytes));
          continue;
        }
        if (ycc) {
          // Each data unit's chroma is replicated over its pixels.
          for (uint32_t r0 = 0; r0 < rows; r0 += subV)
            for (uint32_t c0 = 0; c0 < cols; c0 += subH) {
              const uint8_t* unit = decoded.data() + ((r0 / subV) * unitsAcross + c0 / subH) * unitBytes;
              const uint8_t cb = unit[subH * subV], cr = unit[subH * subV + 1];
              for (uint32_t j = 0; j < subV && r0 + j < rows; ++j)
                for (uint32_t i = 0; i < subH && c0 + i < cols; ++i) {
                  uint16_t* dst = band.data() + ((static_cast<size_t>(r0) + j) * width + x0 + c0 + i) * samples;
                  (*toRgbTables)(unit[j * subH + i], cb, cr, dst);
                }
            }
          continue;
        }
        for (uint32_t r = 0; r < rows; ++r) {
          const uint8_t* row = decoded.data() + r * chunkRowBytes;
          uint16_t* dst = band.data() + (static_cast<size_t>(r) * width + x0) * samples;
          for (uint32_t x = 0; x < cols; ++x)
            for (int k = 0; k < chunkSamples; ++k)
              dst[static_cast<size_t>(x) * samples + (separate ? p : k)] =
                  static_cast<uint16_t>(SampleAt(row, bits, static_cast<size_t>(x) * chunkSamples + k));
        }
      }

    // The band's samples into the image's pixels.
    for (uint32_t r = 0; r < (plain ? 0 : rows); ++r)
      for (uint32_t x = 0; x < width; ++x) {
        const uint16_t* s = band.data() + (static_cast<size_t>(r) * width + x) * samples;
        uint8_t* o = out.data() + r * outRowBytes + x * outPixelBytes;
        auto put16 = [&](int c, uint32_t v) { bytes::StoreLE16(o + 2 * c, v); };
        switch (info.photometric) {
          case 0:
          case 1: {
            uint32_t v = s[0];
            if (info.photometric == 0) v = fullScale - v;
            if (bits == 16)
              put16(0, v);
            else
              o[0] = static_cast<uint8_t>(bits == 8 ? v : (v * 255 + fullScale / 2) / fullScale);
            break;
          }
          case 3: {
            const uint32_t i = s[0];
            for (int c = 0; c < 3; ++c) o[c] = static_cast<uint8_t>(info.colorMap[c * paletteSize + i] >> 8);
            break;
          }
          case 8:
            if (bits == 16) {
              // Signed a and b into the offset layout: the sign bit flipped.
              const uint32_t flip = info.signedLab ? 0x8000u : 0u;
              put16(0, s[0]);
              put16(1, s[1] ^ flip);
              put16(2, s[2] ^ flip);
            } else {
              // 8-bit CIELab: L 0..255 for 0..100, a and b signed. Widened to the 16-bit
              // layout the image holds (L 0..65535; a and b offset by 128, times 256).
              put16(0, s[0] * 257u);
              put16(1, (s[1] ^ 0x80u) << 8);
              put16(2, (s[2] ^ 0x80u) << 8);
            }
            break;
          default:
            for (int c = 0; c < info.channels; ++c) {
              if (info.imageBits == 16)
                put16(c, s[c]);
              else
                o[c] = static_cast<uint8_t>(bits == 16 ? s[c] >> 8 : s[c]);
            }
            break;
        }
      }
    const tagTes_Tile_Desc tile{{0, static_cast<int32_t>(firstRow), static_cast<int32_t>(width), static_cast<int32_t>(rows)},
                                static_cast<int32_t>(outRowBytes), 0};
    if (const long s = target.SetData(tile, store, inPlace ? decoded.data() : out.data())) return s;
    if (progress != nullptr)
      if (const long stop = progress(static_cast<long>(height), static_cast<long>(firstRow + rows), param)) return stop;
  }
  return 0;
}

}  // namespace tessera::tiff
