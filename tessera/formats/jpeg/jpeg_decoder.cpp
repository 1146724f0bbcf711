#include "formats/jpeg/jpeg_decoder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "formats/byte_order.h"
#include "formats/jpeg/jpeg_simd.h"
#include "formats/jpeg/jpeg_tables.h"

namespace tessera::jpeg {

namespace {

constexpr size_t kBufferBytes = 65536;
constexpr int kBandRows = 128;
constexpr int kDataEnded = 0x100;  // pendingMarker_ value: the file ran out inside the scan
constexpr int kLookBits = 10;      // Huffman lookahead
constexpr int kPairBits = 11;      // lookahead of the AC terms decoded in pairs
static_assert(kPairBits >= kLookBits && kPairBits <= 16, "a pair is found through the symbol lookahead");

// The value of `size` extra bits `v`.
int Extend(int v, int size) {
  return size != 0 && v < (1 << (size - 1)) ? v + (-1 << size) + 1 : v;
}

// Zig-zag order to natural order, with the terms past the block's end (as the paired lookup
// may name) all sent to a spare 65th term.
const std::array<uint8_t, 128> kZigZagPadded = [] {
  std::array<uint8_t, 128> t{};
  for (int i = 0; i < 128; ++i) t[static_cast<size_t>(i)] = i < 64 ? kZigZag[i] : 64;
  return t;
}();

}  // namespace

// The paired AC lookup: for each kPairBits prefix, the first term (code and extra bits) and,
// where it also fits, the next one. An entry holds, byte by byte from the lowest: the bits
// both use, the bits the first uses, the first's run of zeros (64: the end of block), and the
// step from the first term to the second (0: no second; 64: an end of block follows); then
// the first and the second value as 16 bits each. Sixteen zeros and longer codes take the
// slower path (entry 0).
void Decoder::BuildFastAc(HuffTable& t) {
  t.fastAc.assign(size_t{1} << kPairBits, 0);
  constexpr unsigned kMask = (1u << kPairBits) - 1;
  for (unsigned i = 0; i <= kMask; ++i) {
    const unsigned look1 = i >> (kPairBits - kLookBits);
    const int len1 = t.lookLength[look1];
    if (len1 == 0) continue;
    const int s1 = t.lookSymbol[look1];
    if (s1 == 0) {
      t.fastAc[i] = static_cast<uint64_t>(len1) | static_cast<uint64_t>(len1) << 8 | uint64_t{64} << 16;
      continue;
    }
    const int size1 = s1 & 15;
    const int used1 = len1 + size1;
    if (size1 == 0 || used1 > kPairBits) continue;
    const int v1 = Extend(static_cast<int>(i >> (kPairBits - used1)) & ((1 << size1) - 1), size1);
    int used = used1, step = 0, v2 = 0;
    const int left = kPairBits - used1;
    const unsigned rest = (i << used1) & kMask;  // the bits after the first term, at the top
    const int len2 = t.lookLength[rest >> (kPairBits - kLookBits)];
    if (len2 != 0 && len2 <= left) {
      const int s2 = t.lookSymbol[rest >> (kPairBits - kLookBits)];
      const int size2 = s2 & 15;
      if (s2 == 0) {
        used += len2;
        step = 64;
      } else if (size2 != 0 && len2 + size2 <= left) {
        used += len2 + size2;
        step = (s2 >> 4) + 1;
        v2 = Extend(static_cast<int>(rest >> (kPairBits - len2 - size2)) & ((1 << size2) - 1), size2);
      }
    }
    t.fastAc[i] = static_cast<uint64_t>(used) | static_cast<uint64_t>(used1) << 8 |
                  static_cast<uint64_t>(s1 >> 4) << 16 | static_cast<uint64_t>(step) << 24 |
                  static_cast<uint64_t>(static_cast<uint16_t>(v1)) << 32 |
                  static_cast<uint64_t>(static_cast<uint16_t>(v2)) << 48;
  }
}

Decoder::Decoder(InputStream& in, tagTes_Image_Info* info) : in_(in), info_(info) {
  const long position = in_.Tell();
  base_ = position < 0 ? 0 : position;
  length_ = in_.Length();
}

Decoder::~Decoder() = default;

long Decoder::Position() const { return base_ + static_cast<long>(pos_); }

// ---------------------------------------------------------------------------------------
// Byte input

long Decoder::Fill() {
  base_ += static_cast<long>(end_);
  pos_ = end_ = 0;
  if (atEnd_) return TES_ERR_IN_EOF;
  if (buffer_.empty()) {
    try {
      buffer_.resize(kBufferBytes);
    } catch (const std::bad_alloc&) {
      return TES_ERR_NO_MEMORY;
    }
  }
  if (length_ >= 0) {
    const long long left = length_ - base_;
    if (left <= 0) {
      atEnd_ = true;
      return TES_ERR_IN_EOF;
    }
    const long want = static_cast<long>(std::min<long long>(left, static_cast<long long>(buffer_.size())));
    if (in_.Read(buffer_.data(), want) != want) return in_.Error();
    end_ = static_cast<size_t>(want);
    return 0;
  }
  // A stream whose length is unknown: byte by byte up to its end.
  while (end_ < buffer_.size()) {
    const long b = in_.ReadByte();
    if (b < 0) {
      if (in_.Error() != TES_ERR_IN_EOF) return in_.Error();
      atEnd_ = true;
      break;
    }
    buffer_[end_++] = static_cast<uint8_t>(b);
  }
  if (end_ == 0) return TES_ERR_IN_EOF;
  return 0;
}

inline long Decoder::GetByte(int& b) {
  if (pos_ == end_)
    if (const long status = Fill()) return status;
  b = buffer_[pos_++];
  return 0;
}

long Decoder::ReadBytes(uint8_t* out, size_t count) {
  while (count > 0) {
    if (pos_ == end_)
      if (const long status = Fill()) return status;
    const size_t take = std::min(count, end_ - pos_);
    std::memcpy(out, buffer_.data() + pos_, take);
    pos_ += take;
    out += take;
    count -= take;
  }
  return 0;
}

long Decoder::Skip(long count) {
  const long target = Position() + count;
  if (length_ >= 0 && target > length_) return TES_ERR_IN_EOF;
  return SeekTo(target);
}

long Decoder::SeekTo(long position) {
  if (position >= base_ && position <= base_ + static_cast<long>(end_)) {
    pos_ = static_cast<size_t>(position - base_);
    return 0;
  }
  if (in_.Seek(position) != 0) return in_.Error();
  base_ = position;
  pos_ = end_ = 0;
  atEnd_ = false;
  return 0;
}

long Decoder::ReadLength(int& length) {
  int hi = 0, lo = 0;
  if (const long s = GetByte(hi)) return s;
  if (const long s = GetByte(lo)) return s;
  length = hi << 8 | lo;
  return 0;
}

// The next marker code (0xC0..0xFE). Fill bytes (0xFF) before it are skipped, and so are
// stray bytes where a marker is due (as other decoders do, with a warning): the marker
// that follows them is what counts.
long Decoder::NextMarker(int& marker) {
  if (nextMarker_ >= 0) {
    marker = nextMarker_;
    nextMarker_ = -1;
    return 0;
  }
  int b = 0;
  for (;;) {
    if (const long s = GetByte(b)) return s;
    if (b != 0xFF) continue;
    do {
      if (const long s = GetByte(b)) return s;
    } while (b == 0xFF);
    if (b >= 0xC0) break;
  }
  marker = b;
  return 0;
}

long Decoder::ReadSoi() {
  int a = 0, b = 0;
  long status = GetByte(a);
  if (status == 0) status = GetByte(b);
  if (status != 0) {
    // A file too short to hold the marker is not a JPEG file; a read error or a buffer that
    // could not be had is reported as what it is.
    return status == TES_ERR_IN_EOF ? TES_ERR_UNKNOWN_FORMAT : status;
  }
  if (a != 0xFF || b != 0xD8) return TES_ERR_UNKNOWN_FORMAT;
  soiSeen_ = true;
  return 0;
}

// ---------------------------------------------------------------------------------------
// Segments

long Decoder::SkipSegment(long malformedCode) {
  int length = 0;
  if (const long s = ReadLength(length)) return s;
  if (length < 2) return malformedCode;
  return Skip(length - 2);
}

long Decoder::ReadFrame() {
  int length = 0;
  if (const long s = ReadLength(length)) return s;
  if (length < 8) return kBadFrame;
  uint8_t h[6];
  if (const long s = ReadBytes(h, 6)) return s;
  if (h[0] != 8) return kBadPrecision;
  const int count = h[5];
  if (count > 4) return kTooManyComponents;
  if (length < 8 + 3 * count) return kBadFrame;
  // A second frame header, no components, or a height left to a DNL segment are not a
  // frame this decoder can follow.
  if (frameSeen_ || count == 0) return kBadFrame;
  height_ = bytes::LoadBE16(h + 1);
  width_ = bytes::LoadBE16(h + 3);
  if (width_ == 0 || height_ == 0) return kBadFrame;
  hmax_ = vmax_ = 1;
  for (int c = 0; c < count; ++c) {
    uint8_t p[3];
    if (const long s = ReadBytes(p, 3)) return s;
    comp_[c].id = p[0];
    comp_[c].h = p[1] >> 4;
    comp_[c].v = p[1] & 15;
    comp_[c].tq = p[2];
    if (comp_[c].h < 1 || comp_[c].h > 4 || comp_[c].v < 1 || comp_[c].v > 4 || comp_[c].tq > 3) return kBadFrame;
    hmax_ = std::max(hmax_, comp_[c].h);
    vmax_ = std::max(vmax_, comp_[c].v);
  }
  // A single component is coded block by block whatever its factors say.
  if (count == 1) comp_[0].h = comp_[0].v = hmax_ = vmax_ = 1;
  mcusX_ = (width_ + 8 * hmax_ - 1) / (8 * hmax_);
  mcusY_ = (height_ + 8 * vmax_ - 1) / (8 * vmax_);
  frameComponents_ = count;
  frameSeen_ = true;
  return Skip(length - 8 - 3 * count);
}

long Decoder::ReadQuantTables() {
  int length = 0;
  if (const long s = ReadLength(length)) return s;
  if (length < 67) return kBadQuantTable;
  int left = length - 2;
  while (left > 0) {
    if (left < 65) return kBadQuantTable;
    int head = 0;
    if (const long s = GetByte(head)) return s;
    const int precision = head >> 4, id = head & 15;
    if (precision > 1) return kQuantPrecision;
    // 16-bit values (extended sequential and progressive files may use them).
    const int bytes = precision == 0 ? 64 : 128;
    if (left < 1 + bytes) return kBadQuantTable;
    uint8_t t[128];
    if (const long s = ReadBytes(t, static_cast<size_t>(bytes))) return s;
    left -= 1 + bytes;
    if (id > 3) return kTooManyQuantTables;
    for (int i = 0; i < 64; ++i)
      quant_[id][kZigZag[i]] = precision == 0 ? t[i] : bytes::LoadBE16(t + 2 * i);
    quantDefined_[id] = true;
    ++quantCount_;
  }
  return 0;
}

long Decoder::ReadHuffmanTables() {
  int length = 0;
  if (const long s = ReadLength(length)) return s;
  int left = length - 2;
  if (left < 17) return kBadHuffmanTable;
  while (left > 0) {
    if (left < 17) return kBadHuffmanTable;
    uint8_t head[17];
    if (const long s = ReadBytes(head, 17)) return s;
    left -= 17;
    const int tableClass = head[0] >> 4, id = head[0] & 15;
    int total = 0;
    for (int i = 1; i <= 16; ++i) total += head[i];
    if (tableClass > 1 || id > 3 || total > 256 || total > left) return kBadHuffmanTable;
    // Progressive files define tables again before each scan: a table replaces the one
    // of its class and number.
    ++huffCount_;
    HuffTable& t = tableClass == 0 ? dc_[id] : ac_[id];
    if (const long s = ReadBytes(t.symbols, static_cast<size_t>(total))) return s;
    left -= total;

    // Canonical codes; a code that does not fit its length (the lengths overflow) is refused.
    uint16_t codes[256];
    uint8_t sizes[256];
    int32_t code = 0;
    int k = 0;
    for (int l = 1; l <= 16; ++l) {
      t.valOffset[l] = k - code;
      for (int i = 0; i < head[l]; ++i, ++k) {
        codes[k] = static_cast<uint16_t>(code++);
        sizes[k] = static_cast<uint8_t>(l);
      }
      if (code >= (1 << l)) return kBadHuffmanTable;
      t.maxCode[l] = head[l] ? code - 1 : -1;
      code <<= 1;
    }
    t.maxCode[17] = INT32_MAX;
    std::memset(t.lookLength, 0, sizeof t.lookLength);
    std::memset(t.fastDc, 0, sizeof t.fastDc);
    for (int i = 0; i < k; ++i) {
      const int len = sizes[i];
      if (len > kLookBits) continue;
      const int prefix = codes[i] << (kLookBits - len);
      const int symbol = t.symbols[i];
      const int size = symbol & 15;
      for (int j = 0; j < (1 << (kLookBits - len)); ++j) {
        t.lookLength[prefix + j] = static_cast<uint8_t>(len);
        t.lookSymbol[prefix + j] = static_cast<uint8_t>(symbol);
        if (tableClass == 0 && len + size <= kLookBits) {
          // The extra bits follow the code inside the lookahead.
          const int v = Extend((j >> (kLookBits - len - size)) & ((1 << size) - 1), size);
          t.fastDc[prefix + j] = static_cast<int32_t>(static_cast<uint32_t>(v) << 8) | (len + size);
        }
      }
    }
    if (tableClass == 1) {
      try {
        BuildFastAc(t);
      } catch (const std::bad_alloc&) {
        return TES_ERR_NO_MEMORY;
      }
    }
    t.defined = true;
  }
  return 0;
}

long Decoder::ReadRestartInterval() {
  int length = 0;
  if (const long s = ReadLength(length)) return s;
  if (length < 4) return kBadRestartInterval;
  int interval = 0;
  if (const long s = ReadLength(interval)) return s;
  restartInterval_ = interval;
  return Skip(length - 4);
}

// ---------------------------------------------------------------------------------------
// Passes

long Decoder::ReadHeader() {
  if (const long s = ReadSoi()) return s;
  for (;;) {
    int marker = 0;
    if (const long s = NextMarker(marker)) return s;
    long s = 0;
    switch (marker) {
      // Baseline, extended sequential (8-bit samples) and progressive Huffman coding.
      case 0xC0: case 0xC1: case 0xC2: return ReadFrame();
      // Lossless and hierarchical coding: not a file of this reader.
      case 0xC3: case 0xC5: case 0xC6: case 0xC7: return TES_ERR_UNKNOWN_FORMAT;
      case 0xD8: case 0xD9: return kMarkerExpected;
      case 0xE0: s = ReadApp0(); break;
      case 0xE1: s = ReadApp1(); break;
      case 0xEE: s = ReadApp14(); break;
      // The entropy-coded data of a scan cannot be skipped by length: a scan before any
      // frame header belongs to a coding process this decoder does not read.
      case 0xDA: return kUnsupportedMarker;
      case 0xFE: s = SkipSegment(kBadComment); break;
      default: s = SkipSegment(marker >= 0xE0 ? long{kBadAppSegment} : long{kMarkerExpected}); break;
    }
    if (s) return s;
  }
}

long Decoder::ReadAppSegments() {
  if (const long s = ReadSoi()) return s;
  int marker = 0;
  if (const long s = NextMarker(marker)) return s;
  if (marker != 0xE0 && marker != 0xE1) return kNoAppSegment;
  while (marker == 0xE0 || marker == 0xE1) {
    if (const long s = marker == 0xE0 ? ReadApp0() : ReadApp1()) return s;
    if (const long s = NextMarker(marker)) return s;
  }
  return 0;
}

long Decoder::ReadTables() {
  if (const long s = ReadSoi()) return s;
  for (;;) {
    int marker = 0;
    if (const long s = NextMarker(marker)) return s;
    long s = 0;
    switch (marker) {
      case 0xC4: s = ReadHuffmanTables(); break;
      case 0xDB: s = ReadQuantTables(); break;
      case 0xDD: s = ReadRestartInterval(); break;
      case 0xD9: soiSeen_ = false; return 0;
      default:
        if ((marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE) {
          s = SkipSegment(kBadAppSegment);
          break;
        }
        return kUnsupportedMarker;
    }
    if (s) return s;
  }
}

long Decoder::Decode(RowSink& sink) {
  if (const long s = ReadSoi()) return s;
  for (;;) {
    int marker = 0;
    if (const long s = NextMarker(marker)) {
      // Gathered scans that the file ends after (a cut progressive file) still give
      // their image, as far as it came.
      if (gathering_ && s == TES_ERR_IN_EOF) return EmitCoefficients(sink);
      return s;
    }
    long s = 0;
    switch (marker) {
      case 0xC0: case 0xC1: case 0xC2:
        progressive_ = marker == 0xC2;
        s = ReadFrame();
        break;
      // Lossless and hierarchical coding: not a file of this reader, so the next readers
      // are asked.
      case 0xC3: case 0xC5: case 0xC6: case 0xC7: return TES_ERR_UNKNOWN_FORMAT;
      case 0xC4: s = ReadHuffmanTables(); break;
      case 0xDB: s = ReadQuantTables(); break;
      case 0xDD: s = ReadRestartInterval(); break;
      case 0xDA:
        s = ReadScan(sink);
        if (s == 0 && !gathering_) return 0;
        break;
      case 0xE0: s = ReadApp0(); break;
      case 0xE1: s = ReadApp1(); break;
      case 0xEE: s = ReadApp14(); break;
      case 0xFE: s = SkipSegment(kBadComment); break;
      case 0xD8: soiSeen_ = true; break;
      case 0xD9:
        if (gathering_) return EmitCoefficients(sink);
        return scanDone_ ? 0L : long{kEoiBeforeImage};
      default:
        if (marker >= 0xD0 && marker <= 0xD7) {
          // A restart marker after the last interval of a gathered scan is harmless.
          if (gathering_) break;
          return kRestartOutsideScan;
        }
        if (marker >= 0xE2 && marker <= 0xEF) {
          s = SkipSegment(kBadAppSegment);
          break;
        }
        return kUnsupportedMarker;  // SOF9..15, DAC, DNL, DHP, EXP, JPGn
    }
    if (s == kEndOfImage) return 0;
    if (s) return s;
  }
}

// ---------------------------------------------------------------------------------------
// Entropy-coded data

void Decoder::FillBits() {
  // Fast path: the next 8 bytes are in the buffer and none is 0xFF (no stuffing, no marker):
  // as many whole bytes as fit go in at once.
  if (pendingMarker_ < 0 && end_ - pos_ >= 8) {
    uint64_t w;
    std::memcpy(&w, buffer_.data() + pos_, 8);
    const uint64_t inverted = ~w;  // a 0xFF byte becomes a zero byte
    if (((inverted - 0x0101010101010101ull) & ~inverted & 0x8080808080808080ull) == 0) {
      w = __builtin_bswap64(w);
      const int take = (64 - bitCount_) >> 3;
      const uint64_t keep = take == 8 ? ~uint64_t{0} : ~(~uint64_t{0} >> (8 * take));
      bits_ |= (w & keep) >> bitCount_;
      bitCount_ += 8 * take;
      pos_ += static_cast<size_t>(take);
      return;
    }
  }
  while (bitCount_ <= 56) {
    int b = 0;
    if (pendingMarker_ >= 0) {
      b = 0;  // past a marker or the end of the file: zero bits
    } else {
      if (pos_ == end_ && Fill() != 0) {
        pendingMarker_ = kDataEnded;
        continue;
      }
      b = buffer_[pos_++];
      if (b == 0xFF) {
        int next = 0;
        if (pos_ == end_ && Fill() != 0) {
          pendingMarker_ = kDataEnded;
          continue;
        }
        next = buffer_[pos_];
        if (next == 0) {
          ++pos_;
        } else {
          // A marker: keep its code, feed zeros from here on.
          while (next == 0xFF) {
            ++pos_;
            if (pos_ == end_ && Fill() != 0) {
              next = -1;
              break;
            }
            next = buffer_[pos_];
          }
          if (next < 0) {
            pendingMarker_ = kDataEnded;
          } else {
            ++pos_;
            pendingMarker_ = next;
          }
          continue;
        }
      }
    }
    bits_ |= static_cast<uint64_t>(b) << (56 - bitCount_);
    bitCount_ += 8;
  }
}

// Decodes one symbol; the caller has made sure that at least 32 bits are buffered.
inline int Decoder::DecodeSymbol(const HuffTable& t) {
  const unsigned look = static_cast<unsigned>(bits_ >> (64 - kLookBits));
  if (const int len = t.lookLength[look]) {
    bits_ <<= len;
    bitCount_ -= len;
    return t.lookSymbol[look];
  }
  int l = kLookBits + 1;
  int32_t code = static_cast<int32_t>(bits_ >> (64 - l));
  while (code > t.maxCode[l]) {
    ++l;
    code = static_cast<int32_t>(bits_ >> (64 - l));
  }
  if (l > 16) {  // no such code: corrupt data
    bits_ <<= 16;
    bitCount_ -= 16;
    return 0;
  }
  bits_ <<= l;
  bitCount_ -= l;
  return t.symbols[(code + t.valOffset[l]) & 255];
}

// `count` (at most 16) raw bits.
inline int Decoder::GetBits(int count) {
  if (count == 0) return 0;
  if (bitCount_ < 32) FillBits();
  const int v = static_cast<int>(bits_ >> (64 - count));
  bits_ <<= count;
  bitCount_ -= count;
  return v;
}

// The value of `size` extra bits; buffered by the caller.
inline int Decoder::ReceiveExtend(int size) {
  if (size == 0) return 0;
  const int v = static_cast<int>(bits_ >> (64 - size));
  bits_ <<= size;
  bitCount_ -= size;
  return Extend(v, size);
}

inline int Decoder::DecodeBlock(int ci, int16_t* block) {
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (int i = 0; i < 64; i += 8) _mm_store_si128(reinterpret_cast<__m128i*>(block + i), zero);
#else
  std::memset(block, 0, 64 * sizeof(int16_t));
#endif
  const Component& c = comp_[ci];
  // A symbol takes at most 16 bits and its extra bits at most 15: 32 buffered bits cover one
  // coefficient.
  if (bitCount_ < 32) FillBits();
  int diff = 0;
  if (const int32_t fast = dc_[c.td].fastDc[bits_ >> (64 - kLookBits)]) {
    bits_ <<= fast & 255;
    bitCount_ -= fast & 255;
    diff = fast >> 8;
  } else {
    diff = ReceiveExtend(DecodeSymbol(dc_[c.td]) & 15);
  }
  // The prediction is kept at full width, as other decoders keep it (only the stored term
  // is 16 bits); damaged data that drive it far out wrap it rather than overflow.
  prediction_[ci] = static_cast<int32_t>(static_cast<uint32_t>(prediction_[ci]) + static_cast<uint32_t>(diff));
  block[0] = static_cast<int16_t>(prediction_[ci]);
  const HuffTable& ac = ac_[c.ta];
  const uint64_t* const fastAc = ac.fastAc.data();
  const uint8_t* const zigzag = kZigZagPadded.data();
  // The bit buffer is held in locals for the AC terms and stored back around the refills.
  uint64_t bits = bits_;
  int count = bitCount_;
  int last = 0;
  for (int k = 1; k < 64;) {
    if (count < 32) {
      bits_ = bits;
      bitCount_ = count;
      FillBits();
      bits = bits_;
      count = bitCount_;
    }
    const uint64_t fast = fastAc[bits >> (64 - kPairBits)];
    if (fast != 0) {
      const int first = k + static_cast<int>((fast >> 16) & 255);
      if (first > 63) {  // the end of block (or a run past it)
        bits <<= (fast >> 8) & 255;
        count -= static_cast<int>((fast >> 8) & 255);
        break;
      }
      const int second = first + static_cast<int>((fast >> 24) & 255);
      // Without a second term this writes the first one twice.
      block[zigzag[second]] = static_cast<int16_t>(fast >> 48);
      block[zigzag[first]] = static_cast<int16_t>(fast >> 32);
      if (second > 63) {
        // An end of block after the first term; or the first term was the block's last,
        // and what followed it belongs to the next block.
        const int used = first == 63 ? static_cast<int>((fast >> 8) & 255) : static_cast<int>(fast & 255);
        bits <<= used;
        count -= used;
        last = first;
        break;
      }
      bits <<= fast & 255;
      count -= static_cast<int>(fast & 255);
      last = second;
      k = second + 1;
      continue;
    }
    bits_ = bits;
    bitCount_ = count;
    const int rs = DecodeSymbol(ac);
    const int r = rs >> 4, size = rs & 15;
    int value = 0;
    if (size) value = ReceiveExtend(size);
    bits = bits_;
    count = bitCount_;
    if (size) {
      k += r;
      if (k > 63) break;
      block[kZigZag[k]] = static_cast<int16_t>(value);
      last = k++;
    } else {
      if (r != 15) break;
      k += 16;
    }
  }
  bits_ = bits;
  bitCount_ = count;
  return last;
}

long Decoder::ProcessRestart() {
  bits_ = 0;
  bitCount_ = 0;
  prediction_[0] = prediction_[1] = prediction_[2] = prediction_[3] = 0;
  eobRun_ = 0;
  int marker = pendingMarker_;
  pendingMarker_ = -1;
  if (marker == kDataEnded) {
    // The file ended inside the scan: the rest of the image decodes from zero bits.
    pendingMarker_ = kDataEnded;
    return 0;
  }
  // Bytes left over before the marker (an interval coded longer than its MCUs need) are
  // skipped, as other decoders do: the next marker is what counts.
  bool skipped = false;
  while (marker < 0) {
    int b = 0;
    if (GetByte(b) != 0) {
      pendingMarker_ = kDataEnded;
      return 0;
    }
    if (b != 0xFF) {
      skipped = true;
      continue;
    }
    do {
      if (GetByte(b) != 0) {
        pendingMarker_ = kDataEnded;
        return 0;
      }
    } while (b == 0xFF);
    if (b != 0) marker = b;  // 0xFF 0x00 is a coded 0xFF byte
  }
  if (marker < 0xD0 || marker > 0xDF) return kMissingRestart;
  // Past skipped bytes only a restart marker itself resumes the data.
  if (skipped && marker > 0xD7) return kMissingRestart;
  return 0;
}

long Decoder::ReadScanHeader(Scan& scan) {
  int length = 0;
  if (const long s = ReadLength(length)) return s;
  if (length < 3) return kBadScanHeader;
  if (!soiSeen_ || !frameSeen_ || quantCount_ == 0 || huffCount_ == 0) return kScanTooEarly;
  int count = 0;
  if (const long s = GetByte(count)) return s;
  if (count < 1 || count > 4 || count > frameComponents_) return kUnsupportedScan;
  if (length != 6 + 2 * count) return kBadScanHeader;
  scan.count = count;
  for (int i = 0; i < count; ++i) {
    uint8_t p[2];
    if (const long s = ReadBytes(p, 2)) return s;
    int found = -1;
    for (int c = 0; c < frameComponents_; ++c)
      if (comp_[c].id == p[0]) found = c;
    if (found < 0) return kUnknownScanComponent;
    for (int j = 0; j < i; ++j)
      if (scan.order[j] == found) return kUnsupportedScan;
    scan.order[i] = found;
    comp_[found].td = p[1] >> 4;
    comp_[found].ta = p[1] & 15;
    if (!quantDefined_[comp_[found].tq]) return kMissingQuantTable;
    if (comp_[found].td > 3 || comp_[found].ta > 3) return kMissingHuffmanTable;
  }
  uint8_t spectral[3];
  if (const long s = ReadBytes(spectral, 3)) return s;
  scan.ss = spectral[0];
  scan.se = spectral[1];
  scan.ah = spectral[2] >> 4;
  scan.al = spectral[2] & 15;
  if (!progressive_) {
    if (scan.ss != 0 || scan.se != 63 || scan.ah != 0 || scan.al != 0) return kUnsupportedScan;
  } else {
    // DC scans (0..0) may interleave components; AC scans hold one component.
    if (scan.se > 63 || scan.ss > scan.se || (scan.ss == 0) != (scan.se == 0) || scan.al > 13 || scan.ah > 13)
      return kUnsupportedScan;
    if (scan.ss != 0 && count != 1) return kUnsupportedScan;
  }
  // The Huffman tables the scan uses: DC tables for a first DC scan, AC tables for AC
  // scans and for sequential ones.
  for (int i = 0; i < count; ++i) {
    const Component& c = comp_[scan.order[i]];
    const bool needDc = scan.ss == 0 && scan.ah == 0;
    const bool needAc = !progressive_ || scan.ss != 0;
    if ((needDc && !dc_[c.td].defined) || (needAc && !ac_[c.ta].defined)) return kMissingHuffmanTable;
  }
  // Every component's factors must divide the largest ones: its samples are replicated
  // over whole groups of pixels.
  for (int c = 0; c < frameComponents_; ++c)
    if (hmax_ % comp_[c].h != 0 || vmax_ % comp_[c].v != 0) return kUnsupportedScan;
  return 0;
}

// Three components coded as R, G, B rather than YCbCr: an Adobe segment with transform 0,
// or, without Adobe and JFIF segments, the component identifiers 'R', 'G', 'B'.
bool Decoder::RgbComponents() const {
  if (frameComponents_ != 3) return false;
  if (adobe_) return adobeTransform_ == 0;
  if (jfif_) return false;
  return comp_[0].id == 'R' && comp_[1].id == 'G' && comp_[2].id == 'B';
}

// The layouts decoded as the data stream in: one sequential scan with every component,
// grey or YCbCr with the luminance at 1x1, 2x1 or 2x2 and the chroma at 1x1.
bool Decoder::Streamable(const Scan& scan) const {
  if (progressive_ || gathering_ || scan.count != frameComponents_) return false;
  if (frameComponents_ == 1) return true;
  if (frameComponents_ != 3 || RgbComponents()) return false;
  const Component& y = comp_[0];
  const bool lumaOk = (y.h == 1 && y.v == 1) || (y.h == 2 && y.v == 1) || (y.h == 2 && y.v == 2);
  return lumaOk && comp_[1].h == 1 && comp_[1].v == 1 && comp_[2].h == 1 && comp_[2].v == 1 && scan.order[0] == 0;
}

long Decoder::ReadScan(RowSink& sink) {
  Scan scan;
  if (const long s = ReadScanHeader(scan)) return s;
  if (Streamable(scan)) return StreamScan(sink, scan);
  if (!gathering_)
    if (const long s = PrepareCoefficients()) return s;
  return GatherScan(scan);
}

long Decoder::StreamScan(RowSink& sink, const Scan& scan) {
  const int count = scan.count;
  const bool grey = count == 1;
  const int hmax = hmax_, vmax = vmax_;
  const int mcuH = 8 * vmax;
  const int mcusX = mcusX_, mcusY = mcusY_;
  const int channels = grey ? 1 : 3;

  // Every block costs at least two bits of coded data (a DC code and an end of block), so
  // a file too short for that many cannot hold the image it describes: a cut or forged
  // header. Padding it out would make a few bytes allocate gigabytes; it ends as a file that
  // ended too soon. (A file cut inside plausible data still finishes from zero bits.)
  if (length_ >= 0) {
    const int64_t blocksPerMcu = grey ? 1 : int64_t{hmax} * vmax + 2;
    const int64_t blocks = int64_t{mcusX} * mcusY * blocksPerMcu;
    const int64_t left = length_ - Position();
    if (blocks / 4 > left) return TES_ERR_IN_EOF;
  }

  if (const long s = sink.Begin(width_, height_, channels)) return s;

  // Planes of one MCU row per component, and the band of output rows.
  std::vector<uint8_t> planes[3];
  size_t planeWidth[3];
  std::vector<uint8_t> band;
  try {
    for (int c = 0; c < count; ++c) {
      planeWidth[c] = static_cast<size_t>(mcusX) * comp_[c].h * 8;
      planes[c].resize(planeWidth[c] * comp_[c].v * 8);
    }
  } catch (const std::bad_alloc&) {
    return TES_ERR_NO_MEMORY;
  }
  uint16_t quant[3][64];
  for (int c = 0; c < count; ++c) std::memcpy(quant[c], quant_[comp_[c].tq], sizeof quant[c]);

  const KernelTable& k = Kernels();
  const ptrdiff_t bandStride = static_cast<ptrdiff_t>(width_) * channels;
  bits_ = 0;
  bitCount_ = 0;
  pendingMarker_ = -1;
  prediction_[0] = prediction_[1] = prediction_[2] = 0;
  int restartsLeft = restartInterval_;
  int bandFirst = 0, bandRows = 0;
  alignas(16) int16_t block[65];

  for (int my = 0; my < mcusY; ++my) {
    for (int mx = 0; mx < mcusX; ++mx) {
      if (restartInterval_ != 0) {
        if (restartsLeft == 0) {
          if (const long s = ProcessRestart()) return s;
          restartsLeft = restartInterval_;
        }
        --restartsLeft;
      }
      for (int i = 0; i < count; ++i) {
        const int c = scan.order[i];
        const Component& comp = comp_[c];
        for (int v = 0; v < comp.v; ++v)
          for (int h = 0; h < comp.h; ++h) {
            const int last = DecodeBlock(c, block);
            uint8_t* out = planes[c].data() + static_cast<size_t>(v * 8) * planeWidth[c] +
                           (static_cast<size_t>(mx) * comp.h + h) * 8;
            if (last == 0)
              InverseDcOnly(block[0], quant[c][0], out, static_cast<ptrdiff_t>(planeWidth[c]));
            else
              k.inverse(block, quant[c], out, static_cast<ptrdiff_t>(planeWidth[c]));
          }
      }
    }
    // Colour conversion of this MCU row into the sink's rows, or into the band.
    const int rows = std::min(mcuH, height_ - my * mcuH);
    ptrdiff_t directStride = 0;
    uint8_t* const direct = sink.RowsAt(my * mcuH, rows, directStride);
    if (direct == nullptr && band.empty()) {
      try {
        band.resize(static_cast<size_t>(width_) * channels * kBandRows);
      } catch (const std::bad_alloc&) {
        return TES_ERR_NO_MEMORY;
      }
    }
    for (int r = 0; r < rows; ++r) {
      uint8_t* dst = direct != nullptr ? direct + r * directStride
                                       : band.data() + static_cast<size_t>(bandRows + r) * bandStride;
      const uint8_t* y = planes[0].data() + static_cast<size_t>(r) * planeWidth[0];
      if (grey) {
        std::memcpy(dst, y, static_cast<size_t>(width_));
      } else {
        const int cr = vmax == 2 ? r >> 1 : r;
        k.yccRow(y, planes[1].data() + static_cast<size_t>(cr) * planeWidth[1],
                 planes[2].data() + static_cast<size_t>(cr) * planeWidth[2], width_, hmax == 2 ? 1 : 0, dst);
      }
    }
    if (direct != nullptr) {
      if (const long s = sink.Rows(direct, directStride, my * mcuH, rows)) return s;
      continue;
    }
    bandRows += rows;
    if (bandRows + mcuH > kBandRows || my == mcusY - 1) {
      if (const long s = sink.Rows(band.data(), bandStride, bandFirst, bandRows)) return s;
      bandFirst += bandRows;
      bandRows = 0;
    }
  }
  scanDone_ = true;
  return 0;
}

// ---------------------------------------------------------------------------------------
// Gathered coefficients: scans of any order, progressive refinement, then the pixels.

long Decoder::PrepareCoefficients() {
  // Every block costs at least one bit in the first scan that codes it, so the blocks a
  // file can hold are bounded by its bytes: a forged header cannot make a small file ask
  // for gigabytes of coefficients.
  int64_t blocks = 0;
  for (int c = 0; c < frameComponents_; ++c) blocks += int64_t{mcusX_} * comp_[c].h * mcusY_ * comp_[c].v;
  if (length_ >= 0 && blocks / 8 > length_) return TES_ERR_IN_EOF;
  try {
    for (int c = 0; c < frameComponents_; ++c) {
      Component& comp = comp_[c];
      comp.blocksWide = mcusX_ * comp.h;
      comp.blocksHigh = mcusY_ * comp.v;
      // The blocks that hold the component's own samples (a scan of it alone codes only
      // these).
      const int samplesWide = (width_ * comp.h + hmax_ - 1) / hmax_;
      const int samplesHigh = (height_ * comp.v + vmax_ - 1) / vmax_;
      comp.usedWide = (samplesWide + 7) / 8;
      comp.usedHigh = (samplesHigh + 7) / 8;
      comp.coef.assign(static_cast<size_t>(comp.blocksWide) * comp.blocksHigh * 64, 0);
    }
  } catch (const std::bad_alloc&) {
    return TES_ERR_NO_MEMORY;
  }
  gathering_ = true;
  return 0;
}

// One block of a progressive scan, refining what earlier scans left in `block`.
void Decoder::DecodeProgressiveBlock(const Scan& scan, int c, int16_t* block) {
  const Component& comp = comp_[c];
  if (scan.ss == 0) {
    if (scan.ah == 0) {
      if (bitCount_ < 32) FillBits();
      const int size = DecodeSymbol(dc_[comp.td]) & 15;
      prediction_[c] = static_cast<int32_t>(static_cast<uint32_t>(prediction_[c]) + static_cast<uint32_t>(ReceiveExtend(size)));
      block[0] = static_cast<int16_t>(static_cast<uint32_t>(prediction_[c]) << scan.al);
    } else if (GetBits(1)) {
      block[0] = static_cast<int16_t>(block[0] | (1 << scan.al));
    }
    return;
  }
  const HuffTable& ac = ac_[comp.ta];
  if (scan.ah == 0) {
    // First pass over a band of AC terms.
    if (eobRun_ > 0) {
      --eobRun_;
      return;
    }
    for (int k = scan.ss; k <= scan.se; ++k) {
      if (bitCount_ < 32) FillBits();
      const int rs = DecodeSymbol(ac);
      const int r = rs >> 4, size = rs & 15;
      if (size != 0) {
        k += r;
        if (k > 63) break;
        block[kZigZag[k]] = static_cast<int16_t>(static_cast<uint32_t>(ReceiveExtend(size)) << scan.al);
      } else if (r < 15) {
        eobRun_ = (1 << r) - 1;
        if (r != 0) eobRun_ += GetBits(r);
        break;
      } else {
        k += 15;
      }
    }
    return;
  }
  // Refinement: one more bit of every term already non-zero, and new terms of magnitude 1.
  const int p1 = 1 << scan.al, m1 = -p1;
  int k = scan.ss;
  auto refine = [&](int16_t& coef) {
    if (GetBits(1) && (coef & p1) == 0) coef = static_cast<int16_t>(coef >= 0 ? coef + p1 : coef + m1);
  };
  if (eobRun_ == 0) {
    for (; k <= scan.se; ++k) {
      if (bitCount_ < 32) FillBits();
      const int rs = DecodeSymbol(ac);
      int r = rs >> 4;
      int value = 0;
      if ((rs & 15) != 0) {
        value = GetBits(1) ? p1 : m1;
      } else if (r != 15) {
        eobRun_ = 1 << r;
        if (r != 0) eobRun_ += GetBits(r);
        break;
      }
      // Skip r zero terms (refining the non-zero ones met on the way), then place the new
      // term.
      while (k <= scan.se) {
        int16_t& coef = block[kZigZag[k]];
        if (coef != 0) {
          refine(coef);
        } else {
          if (r == 0) break;
          --r;
        }
        ++k;
      }
      if (value != 0 && k <= scan.se) block[kZigZag[k]] = static_cast<int16_t>(value);
    }
  }
  if (eobRun_ > 0) {
    for (; k <= scan.se; ++k) {
      int16_t& coef = block[kZigZag[k]];
      if (coef != 0) refine(coef);
    }
    --eobRun_;
  }
}

long Decoder::GatherScan(const Scan& scan) {
  bits_ = 0;
  bitCount_ = 0;
  pendingMarker_ = -1;
  prediction_[0] = prediction_[1] = prediction_[2] = prediction_[3] = 0;
  eobRun_ = 0;
  int restartsLeft = restartInterval_;
  alignas(16) int16_t fresh[65];
  // A scan of one component codes its own blocks one by one; a scan of several codes
  // whole MCUs.
  const bool single = scan.count == 1;
  const int unitsX = single ? comp_[scan.order[0]].usedWide : mcusX_;
  const int unitsY = single ? comp_[scan.order[0]].usedHigh : mcusY_;
  for (int uy = 0; uy < unitsY; ++uy) {
    for (int ux = 0; ux < unitsX; ++ux) {
      if (restartInterval_ != 0) {
        if (restartsLeft == 0) {
          if (const long s = ProcessRestart()) return s;
          restartsLeft = restartInterval_;
        }
        --restartsLeft;
      }
      for (int i = 0; i < scan.count; ++i) {
        const int c = scan.order[i];
        Component& comp = comp_[c];
        const int bh = single ? 1 : comp.h, bv = single ? 1 : comp.v;
        for (int v = 0; v < bv; ++v)
          for (int h = 0; h < bh; ++h) {
            const int bx = single ? ux : ux * comp.h + h, by = single ? uy : uy * comp.v + v;
            int16_t* block = comp.coef.data() + (static_cast<size_t>(by) * comp.blocksWide + bx) * 64;
            if (progressive_) {
              DecodeProgressiveBlock(scan, c, block);
            } else {
              DecodeBlock(c, fresh);
              std::memcpy(block, fresh, 64 * sizeof(int16_t));
            }
          }
      }
    }
  }
  // The scan's data end here: what stopped the bit reader is the next segment's marker.
  bits_ = 0;
  bitCount_ = 0;
  if (pendingMarker_ >= 0 && pendingMarker_ != kDataEnded) nextMarker_ = pendingMarker_;
  pendingMarker_ = -1;
  scanDone_ = true;
  return 0;
}

long Decoder::EmitCoefficients(RowSink& sink) {
  gathering_ = false;
  const int count = frameComponents_;
  const int channels = this->channels();
  const bool rgb = RgbComponents();
  // Four components: YCCK under an Adobe transform 2, CMYK otherwise; Adobe's files store
  // both inverted (0 is full ink), unless the container says they hold ink as it stands.
  const bool ycck = count == 4 && adobe_ && adobeTransform_ == 2;
  const bool inverted = count == 4 && adobe_ && !inkAsStored_;
  const uint8_t ycckFlip = inkAsStored_ ? 255 : 0;
  if (const long s = sink.Begin(width_, height_, channels)) return s;

  const int mcuH = 8 * vmax_;
  // YCbCr with full-resolution luma and chroma at most halved each way goes straight
  // through the colour kernel, as a sequential file's does.
  const bool yccDirect = count == 3 && !rgb && comp_[0].h == hmax_ && comp_[0].v == vmax_ && hmax_ <= 2 &&
                         vmax_ <= 2 && comp_[1].h == 1 && comp_[1].v == 1 && comp_[2].h == 1 && comp_[2].v == 1;
  std::vector<uint8_t> planes[4], full[4], band;
  size_t planeWidth[4];
  try {
    for (int c = 0; c < count; ++c) {
      planeWidth[c] = static_cast<size_t>(comp_[c].blocksWide) * 8;
      planes[c].resize(planeWidth[c] * comp_[c].v * 8);
      full[c].resize(static_cast<size_t>(width_));
    }
    band.resize(static_cast<size_t>(width_) * channels * kBandRows);
  } catch (const std::bad_alloc&) {
    return TES_ERR_NO_MEMORY;
  }
  const KernelTable& k = Kernels();
  const ptrdiff_t bandStride = static_cast<ptrdiff_t>(width_) * channels;
  int bandFirst = 0, bandRows = 0;
  for (int my = 0; my < mcusY_; ++my) {
    for (int c = 0; c < count; ++c) {
      const Component& comp = comp_[c];
      const uint16_t* quant = quant_[comp.tq];
      for (int v = 0; v < comp.v; ++v)
        for (int bx = 0; bx < comp.blocksWide; ++bx) {
          const int16_t* block =
              comp.coef.data() + (static_cast<size_t>(my * comp.v + v) * comp.blocksWide + bx) * 64;
          uint8_t* out = planes[c].data() + static_cast<size_t>(v * 8) * planeWidth[c] + static_cast<size_t>(bx) * 8;
          bool dcOnly = true;
          for (int i = 1; i < 64 && dcOnly; ++i) dcOnly = block[i] == 0;
          if (dcOnly)
            InverseDcOnly(block[0], quant[0], out, static_cast<ptrdiff_t>(planeWidth[c]));
          else
            k.inverse(block, quant, out, static_cast<ptrdiff_t>(planeWidth[c]));
        }
    }
    const int rows = std::min(mcuH, height_ - my * mcuH);
    for (int r = 0; r < rows; ++r) {
      if (yccDirect) {
        const size_t cr = static_cast<size_t>(vmax_ == 2 ? r >> 1 : r);
        k.yccRow(planes[0].data() + static_cast<size_t>(r) * planeWidth[0], planes[1].data() + cr * planeWidth[1],
                 planes[2].data() + cr * planeWidth[2], width_, hmax_ == 2 ? 1 : 0,
                 band.data() + static_cast<size_t>(bandRows + r) * bandStride);
        continue;
      }
      // Each component's row at full resolution, its samples replicated over their group.
      for (int c = 0; c < count; ++c) {
        const int fx = hmax_ / comp_[c].h, fy = vmax_ / comp_[c].v;
        const uint8_t* src = planes[c].data() + static_cast<size_t>(r / fy) * planeWidth[c];
        uint8_t* dst = full[c].data();
        if (fx == 1)
          std::memcpy(dst, src, static_cast<size_t>(width_));
        else
          for (int x = 0; x < width_; ++x) dst[x] = src[x / fx];
      }
      uint8_t* dst = band.data() + static_cast<size_t>(bandRows + r) * bandStride;
      if (count == 1) {
        std::memcpy(dst, full[0].data(), static_cast<size_t>(width_));
      } else if (count == 3 && rgb) {
        for (int x = 0; x < width_; ++x) {
          dst[3 * x] = full[0][x];
          dst[3 * x + 1] = full[1][x];
          dst[3 * x + 2] = full[2][x];
        }
      } else if (count == 3) {
        k.yccRow(full[0].data(), full[1].data(), full[2].data(), width_, 0, dst);
      } else if (ycck) {
        // YCC gives the inverted C, M, Y as R, G, B; K is stored inverted as it is.
        uint8_t triple[3 * 64];
        for (int x0 = 0; x0 < width_; x0 += 64) {
          const int n = std::min(64, width_ - x0);
          k.yccRow(full[0].data() + x0, full[1].data() + x0, full[2].data() + x0, n, 0, triple);
          for (int x = 0; x < n; ++x) {
            dst[4 * (x0 + x)] = triple[3 * x] ^ ycckFlip;
            dst[4 * (x0 + x) + 1] = triple[3 * x + 1] ^ ycckFlip;
            dst[4 * (x0 + x) + 2] = triple[3 * x + 2] ^ ycckFlip;
            dst[4 * (x0 + x) + 3] = static_cast<uint8_t>((255 - full[3][x0 + x]) ^ ycckFlip);
          }
        }
      } else {
        for (int x = 0; x < width_; ++x)
          for (int c = 0; c < 4; ++c) dst[4 * x + c] = inverted ? static_cast<uint8_t>(255 - full[c][x]) : full[c][x];
      }
    }
    bandRows += rows;
    if (bandRows + mcuH > kBandRows || my == mcusY_ - 1) {
      if (const long s = sink.Rows(band.data(), bandStride, bandFirst, bandRows)) return s;
      bandFirst += bandRows;
      bandRows = 0;
    }
  }
  for (int c = 0; c < count; ++c) std::vector<int16_t>().swap(comp_[c].coef);
  return 0;
}

}  // namespace tessera::jpeg
