// The common part of reading a TIFF: header, IFD, the checks, and the maker block.
//
// Every count and offset comes from untrusted bytes: arrays are sized against the file's
// length before anything is allocated for them, and values read at an offset are read in
// one bulk read each.
#include <algorithm>
#include <climits>
#include <cstring>
#include <initializer_list>
#include <new>

#include "formats/tiff/tiff.h"

namespace tessera::tiff {
namespace {

class Order {
 public:
  explicit Order(bool big) : big_(big) {}
  uint16_t U16(const uint8_t* p) const {
    return big_ ? static_cast<uint16_t>(p[0] << 8 | p[1]) : static_cast<uint16_t>(p[0] | p[1] << 8);
  }
  uint32_t U32(const uint8_t* p) const {
    return big_ ? (uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3])
                : (uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0]);
  }

 private:
  bool big_;
};

struct Entry {
  uint16_t tag, type;
  uint32_t count;
  const uint8_t* value;  // the 4-byte value field
};

// Tags of a feature this reader does not handle: old-style JPEG. (Fax and YCbCr fields
// matter only to compressions and photometric interpretations that are refused anyway.)
bool UnsupportedFeature(uint16_t tag) { return (tag >= 512 && tag <= 515) || (tag >= 517 && tag <= 521); }

class Parser {
 public:
  Parser(InputStream& in, FileInfo& info) : in_(in), info_(info), order_(false), length_(in.Length()) {}

  long Run() {
    if (const long s = Header()) return s;
    if (const long s = Ifd()) return s;
    if (const long s = Checks()) return s;
    if (info_.makerOffset != 0 || info_.makerCount != 0)
      if (const long s = MakerBlock()) return s;
    return 0;
  }

 private:
  // Reads count bytes at an absolute offset. A range beyond the file's end is the end of
  // the file (1103) without a read.
  long ReadAt(uint64_t offset, void* buffer, uint64_t count) {
    if (count == 0) return 0;
    if (length_ >= 0 && offset + count > static_cast<uint64_t>(length_)) return TES_ERR_IN_EOF;
    if (offset > static_cast<uint64_t>(LONG_MAX) || count > static_cast<uint64_t>(LONG_MAX)) return TES_ERR_IN_EOF;
    if (in_.Seek(static_cast<long>(offset)) != 0) return in_.Error();
    if (in_.Read(buffer, static_cast<long>(count)) != static_cast<long>(count)) return in_.Error();
    return 0;
  }

  long Header() {
    uint8_t h[8];
    if (in_.Seek(0) != 0) return in_.Error();
    if (in_.Read(h, 8) != 8) {
      // A file too short for the header is not a TIFF.
      return in_.Error() == TES_ERR_IN_EOF ? kBadByteOrder : in_.Error();
    }
    if (h[0] == 'I' && h[1] == 'I')
      info_.bigEndian = false;
    else if (h[0] == 'M' && h[1] == 'M')
      info_.bigEndian = true;
    else
      return kBadByteOrder;
    order_ = Order(info_.bigEndian);
    if (order_.U16(h + 2) != 42) return kBadMagic;
    ifdOffset_ = order_.U32(h + 4);
    if (ifdOffset_ == 0) return kNoIfd;
    return 0;
  }

  long Ifd() {
    uint8_t countBytes[2];
    if (const long s = ReadAt(ifdOffset_, countBytes, 2)) return s;
    const uint16_t n = order_.U16(countBytes);
    if (n == 0) return kEmptyIfd;
    // The entries and the next-IFD offset in one read (at most 786 KiB).
    std::unique_ptr<uint8_t[]> table(new (std::nothrow) uint8_t[12u * n + 4]);
    if (!table) return TES_ERR_NO_MEMORY;
    if (const long s = ReadAt(uint64_t{ifdOffset_} + 2, table.get(), 12u * n + 4)) return s;
    for (unsigned i = 0; i < n; ++i) {
      const uint8_t* e = table.get() + 12 * i;
      const Entry entry{order_.U16(e), order_.U16(e + 2), order_.U32(e + 4), e + 8};
      if (const long s = Handle(entry)) return s;
    }
    // Further images (pages, reduced versions) are counted, not read; a chain that loops
    // or leaves the file ends the count.
    uint32_t next = order_.U32(table.get() + 12u * n);
    uint32_t seen[64];
    int seenCount = 0;
    while (next != 0 && info_.pages < 10000) {
      for (int i = 0; i < seenCount; ++i)
        if (seen[i] == next) return 0;
      if (next == ifdOffset_) return 0;
      if (seenCount < 64) seen[seenCount++] = next;
      uint8_t c[2];
      if (ReadAt(next, c, 2) != 0) return 0;
      const uint16_t entries = order_.U16(c);
      uint8_t link[4];
      if (entries == 0 || ReadAt(uint64_t{next} + 2 + 12u * entries, link, 4) != 0) return 0;
      ++info_.pages;
      next = order_.U32(link);
    }
    return 0;
  }

  // A SHORT or LONG with count 1.
  long ShortOrLong(const Entry& e, uint32_t& out) {
    if (e.count != 1) return kBadCount;
    if (e.type == kShort)
      out = order_.U16(e.value);
    else if (e.type == kLong)
      out = order_.U32(e.value);
    else
      return kBadType;
    return 0;
  }

  long Short(const Entry& e, uint16_t& out) {
    if (e.count != 1) return kBadCount;
    if (e.type != kShort) return kBadType;
    out = order_.U16(e.value);
    return 0;
  }

  long Rational(const Entry& e, uint32_t out[2]) {
    if (e.count != 1) return kBadCount;
    if (e.type != kRational) return kBadType;
    uint8_t r[8];
    if (const long s = ReadAt(order_.U32(e.value), r, 8)) return s;
    out[0] = order_.U32(r);
    out[1] = order_.U32(r + 4);
    return 0;
  }

  // A fixed number of RATIONALs (always out of line), as doubles.
  long Rationals(const Entry& e, double* out, uint32_t n) {
    if (e.count != n) return kBadCount;
    if (e.type != kRational) return kBadType;
    uint8_t r[48];
    if (const long s = ReadAt(order_.U32(e.value), r, 8u * n)) return s;
    for (uint32_t i = 0; i < n; ++i) {
      const uint32_t den = order_.U32(r + 8 * i + 4);
      out[i] = den == 0 ? 0.0 : static_cast<double>(order_.U32(r + 8 * i)) / den;
    }
    return 0;
  }

  // StripOffsets and StripByteCounts: any count from 1, SHORT or LONG values, inline when
  // they fit in the value field.
  long Array(const Entry& e, std::vector<uint32_t>& out, bool& present) {
    if (e.count == 0) return kBadCount;
    if (e.type != kShort && e.type != kLong) return kBadType;
    const unsigned size = e.type == kShort ? 2 : 4;
    const uint64_t bytes = uint64_t{e.count} * size;
    std::unique_ptr<uint8_t[]> outOfLine;
    const uint8_t* values = e.value;
    if (bytes > 4) {
      const uint32_t at = order_.U32(e.value);
      // Sized against the file before anything is allocated.
      if (length_ >= 0 ? at + bytes > static_cast<uint64_t>(length_) : bytes > (uint64_t{1} << 26))
        return TES_ERR_IN_EOF;
      outOfLine.reset(new (std::nothrow) uint8_t[bytes]);
      if (!outOfLine) return TES_ERR_NO_MEMORY;
      if (const long s = ReadAt(at, outOfLine.get(), bytes)) return s;
      values = outOfLine.get();
    }
    try {
      out.resize(e.count);
    } catch (const std::bad_alloc&) {
      return TES_ERR_NO_MEMORY;
    }
    for (uint32_t i = 0; i < e.count; ++i)
      out[i] = size == 2 ? order_.U16(values + 2 * i) : order_.U32(values + 4 * i);
    present = true;
    return 0;
  }

  long Handle(const Entry& e) {
    switch (e.tag) {
      case 256: return ShortOrLong(e, info_.width);
      case 257: return ShortOrLong(e, info_.height);
      case 278: return ShortOrLong(e, info_.rowsPerStrip);
      case 258: {
        // One value per sample (a grey or palette image with alpha has two).
        if (e.count < 1 || e.count > 4) return kBadCount;
        if (e.type != kShort) return kBadType;
        if (e.count <= 2) {
          // A single value stands for every sample, as other readers take it.
          for (uint32_t i = 0; i < 4; ++i) info_.bits[i] = order_.U16(e.value + 2 * (e.count == 1 ? 0 : std::min(i, 1u)));
          return 0;
        }
        uint8_t v[8];
        if (const long s = ReadAt(order_.U32(e.value), v, 2u * e.count)) return s;
        for (uint32_t i = 0; i < e.count; ++i) info_.bits[i] = order_.U16(v + 2 * i);
        return 0;
      }
      case 259: return Short(e, info_.compression);
      case 262: return Short(e, info_.photometric);
      case 274: return Short(e, info_.orientation);
      case 277: return Short(e, info_.samples);
      case 284: return Short(e, info_.planar);
      case 296: return Short(e, info_.resolutionUnit);
      case 317: return Short(e, info_.predictor);
      case 320: return Array(e, info_.colorMap, info_.hasColorMap);
      case 347:
        // JPEGTables: an abbreviated JPEG stream, always longer than a value field.
        if (e.count > 4) {
          info_.jpegTablesOffset = order_.U32(e.value);
          info_.jpegTablesCount = e.count;
        }
        return 0;
      case 322: return ShortOrLong(e, info_.tileWidth);
      case 323: return ShortOrLong(e, info_.tileLength);
      case 324: info_.tiled = true; return Array(e, info_.stripOffsets, info_.hasStripOffsets);
      case 325: info_.tiled = true; return Array(e, info_.stripByteCounts, info_.hasStripByteCounts);
      case 266: return Short(e, info_.fillOrder);
      case 529: return Rationals(e, info_.ycbcrCoefficients, 3);
      case 530:
        if (e.count != 2) return kBadCount;
        if (e.type != kShort) return kBadType;
        info_.ycbcrSubsampling[0] = order_.U16(e.value);
        info_.ycbcrSubsampling[1] = order_.U16(e.value + 2);
        return 0;
      case 532: return Rationals(e, info_.referenceBlackWhite, 6);
      case 339: {
        // One value per sample; they must all be the same kind.
        if (e.count == 0) return kBadCount;
        if (e.type != kShort) return kBadType;
        uint8_t v[8];
        const uint32_t n = std::min<uint32_t>(e.count, 4);
        if (e.count <= 2) {
          std::memcpy(v, e.value, 4);
        } else if (const long s = ReadAt(order_.U32(e.value), v, 2u * n)) {
          return s;
        }
        info_.sampleFormat = order_.U16(v);
        for (uint32_t i = 1; i < n; ++i)
          if (order_.U16(v + 2 * i) != info_.sampleFormat) return kUnsupported;
        return 0;
      }
      case 273: return Array(e, info_.stripOffsets, info_.hasStripOffsets);
      case 279: return Array(e, info_.stripByteCounts, info_.hasStripByteCounts);
      case 282: return Rational(e, info_.xResolution);
      case 283: return Rational(e, info_.yResolution);
      case kMakerTag:
        if (e.count == 0) return kBadCount;
        if (e.type != kUndefined) return kBadType;
        info_.makerCount = e.count;
        // A block of up to 4 bytes would lie in the value field; it cannot hold the
        // identifier, and the block check refuses it.
        info_.makerOffset = e.count > 4 ? order_.U32(e.value) : 0;
        return 0;
      default:
        return UnsupportedFeature(e.tag) ? long{kFeature} : 0L;
    }
  }

  long Checks() {
    FileInfo& f = info_;
    // The image store addresses pixels with signed 32-bit coordinates.
    if (f.width == 0 || f.height == 0 || f.width > INT32_MAX || f.height > INT32_MAX) return kZeroSize;
    const auto allBits = [&](int n, uint16_t bits) {
      for (int i = 0; i < n; ++i)
        if (f.bits[i] != bits) return false;
      return true;
    };
    // The samples the image needs; further ones (alpha, extra samples) are dropped.
    int needed = 0;
    const auto bitsIn = [&](std::initializer_list<int> allowed) {
      for (const int b : allowed)
        if (allBits(needed, static_cast<uint16_t>(b))) return true;
      return false;
    };
    switch (f.photometric) {
      case 0:
      case 1:
        needed = 1;
        if (f.samples < 1) return kCountMismatch;
        if (!bitsIn({1, 2, 4, 8, 16})) return kUnsupported;
        break;
      case 2:
        needed = 3;
        if (f.samples < 3) return kCountMismatch;
        if (!bitsIn({8, 16})) return kUnsupported;
        break;
      case 3:
        needed = 1;
        if (f.samples < 1) return kCountMismatch;
        if (!bitsIn({1, 2, 4, 8})) return kUnsupported;
        if (!f.hasColorMap || f.colorMap.size() != 3u << f.bits[0]) return kCountMismatch;
        break;
      case 5:
        needed = 4;
        if (f.samples < 4) return kCountMismatch;
        if (!bitsIn({8, 16})) return kUnsupported;
        break;
      case 8:
        // 8-bit CIELab is widened to the 16-bit layout.
        needed = 3;
        if (f.samples < 3) return kCountMismatch;
        if (!bitsIn({8, 16})) return kUnsupported;
        break;
      case 6: {
        // YCbCr as JPEG codes it (the decoder turns it into RGB), or 8-bit samples in
        // TIFF's data units, interleaved, with subsampling of 1, 2 or 4 each way.
        needed = 3;
        if (f.samples != 3) return kUnsupported;
        if (!allBits(3, 8)) return kUnsupported;
        if (f.compression == kJpeg) break;
        const uint16_t h = f.ycbcrSubsampling[0], v = f.ycbcrSubsampling[1];
        if ((h != 1 && h != 2 && h != 4) || (v != 1 && v != 2 && v != 4)) return kBadField;
        if (f.planar == 2 || f.predictor != 1) return kUnsupported;
        // Data units never straddle a chunk: tiles and strips (but the last) hold whole ones.
        if (f.tiled ? f.tileWidth % h != 0 || f.tileLength % v != 0 : f.rowsPerStrip < f.height && f.rowsPerStrip % v != 0)
          return kBadField;
        // Reference values far outside the samples' range and luma coefficients outside
        // 0..1 (green above 0) describe no image.
        const double* rbw = f.referenceBlackWhite;
        for (int i = 0; i < 6; ++i)
          if (!(rbw[i] >= -65535.0 && rbw[i] <= 65535.0)) return kBadField;
        if (rbw[1] == rbw[0] || rbw[3] == rbw[2] || rbw[5] == rbw[4]) return kBadField;
        for (const double k : f.ycbcrCoefficients)
          if (!(k >= 0.0 && k <= 1.0)) return kBadField;
        if (f.ycbcrCoefficients[1] < 0.001) return kBadField;
        break;
      }
      default:
        return kUnsupported;
    }
    // JPEG strips and tiles hold grey, RGB or YCbCr of 8 bits, interleaved.
    if (f.compression == kJpeg &&
        (f.bits[0] != 8 || (f.samples != 1 && f.samples != 3) || (f.photometric != 1 && f.photometric != 2 && f.photometric != 6) ||
         (f.planar == 2 && f.samples > 1) || f.predictor != 1))
      return kUnsupported;
    // Up to four samples carry bit counts here; more are taken to have the first's.
    if (f.samples > 4) return kCountMismatch;
    for (int i = needed; i < f.samples; ++i)
      if (f.bits[i] != f.bits[0]) return kUnsupported;
    // Signed and floating-point samples have no place in the image's unsigned samples;
    // reading them as unsigned would give other pixels.
    if (f.sampleFormat != 1) return kUnsupported;
    if (f.fillOrder != 1 && f.fillOrder != 2) return kBadField;
    if (f.compression != kNone && f.compression != kLzw && f.compression != kDeflate && f.compression != kJpeg &&
        f.compression != kAdobeDeflate && f.compression != kPackBits)
      return kUnsupported;
    if (!f.hasStripOffsets || !f.hasStripByteCounts) return kNoStrips;
    if (f.rowsPerStrip == 0) return kBadField;
    if (f.tiled && (f.tileWidth == 0 || f.tileLength == 0)) return kBadField;
    // Separate planes each have their own strips (or tiles), one plane after the other.
    const uint64_t perPlane =
        f.tiled ? ((uint64_t{f.width} + f.tileWidth - 1) / f.tileWidth) * ((uint64_t{f.height} + f.tileLength - 1) / f.tileLength)
                : (uint64_t{f.height} + f.rowsPerStrip - 1) / f.rowsPerStrip;
    const uint64_t strips = perPlane * static_cast<uint64_t>(f.planar == 2 ? f.samples : 1);
    if (f.stripOffsets.size() != strips || f.stripByteCounts.size() != strips) return kCountMismatch;
    for (const uint32_t count : f.stripByteCounts)
      if (count == 0) return kZeroSize;
    for (uint32_t* r : {f.xResolution, f.yResolution})
      if (r[0] == 0 || r[1] == 0) r[0] = 72, r[1] = 1;
    if (f.planar != 1 && f.planar != 2) return kBadField;
    if (f.resolutionUnit < 1 || f.resolutionUnit > 3) return kBadField;
    if (f.predictor != 1 && f.predictor != 2) return kBadField;
    if (f.predictor == 2 && f.bits[0] != 8 && f.bits[0] != 16) return kUnsupported;

    f.channels = needed == 1 && f.photometric == 3 ? 3 : needed;
    f.imageBits = f.photometric == 8 ? 16 : f.photometric == 3 || f.photometric == 5 || f.bits[0] < 8 ? 8 : f.bits[0];
    // Uncompressed strips holding exactly the image's samples are read as one stream of
    // bytes, as they always were; everything else is decoded strip by strip (or tile by
    // tile) and converted.
    f.direct = f.compression == kNone && !f.tiled && f.predictor == 1 && f.photometric != 3 && f.photometric != 6 &&
               f.samples == needed && f.bits[0] == f.imageBits;

    // The strips of each plane must hold at least the plane's pixels; fewer would leave
    // rows that are never stored.
    if (f.direct) {
      const uint64_t planeBytes = uint64_t{f.width} * f.height * f.SampleBytes() * (f.planar == 2 ? 1 : f.samples);
      for (uint64_t p = 0; p < strips / perPlane; ++p) {
        uint64_t sum = 0;
        for (uint64_t s = p * perPlane; s < (p + 1) * perPlane; ++s) sum += f.stripByteCounts[s];
        if (sum < planeBytes) return kCountMismatch;
      }
    }

    // Colour space and resolution.
    if (f.channels == 1)
      f.colorSpace = f.imageBits == 8 ? TES_CS_GRAY8 : TES_CS_GRAY16;
    else if (f.photometric == 3)
      f.colorSpace = TES_CS_RGB24;
    else if (f.channels == 3)
      f.colorSpace = f.photometric == 8 ? TES_CS_LAB48 : (f.imageBits == 8 ? TES_CS_RGB24 : TES_CS_RGB48);
    else
      f.colorSpace = TES_CS_CMYK32;
    const double value = static_cast<double>(f.xResolution[0]) / static_cast<double>(f.xResolution[1]);
    if (f.resolutionUnit == 2)
      f.dotsPerInch = value;
    else if (f.resolutionUnit == 3)
      f.dotsPerInch = (value * 100000.0 + 19680.0) / 39361.0;
    else
      f.dotsPerInch = 72.0;  // no absolute unit
    return 0;
  }

  long MakerBlock() {
    FileInfo& f = info_;
    const uint32_t size = f.makerCount;
    if (size < 10) return kBadMakerBlock;
    uint8_t head[10];
    if (const long s = ReadAt(f.makerOffset, head, 10)) return s;
    if (std::memcmp(head, kMakerId, 6) != 0 || order_.U16(head + 6) != kMakerVersion) return kBadMakerBlock;
    const uint16_t n = order_.U16(head + 8);
    // The entries must lie inside the block.
    if (10 + 12u * n > size) return kBadMakerBlock;
    if (n == 0) return 0;
    std::unique_ptr<uint8_t[]> entries(new (std::nothrow) uint8_t[12u * n]);
    if (!entries) return TES_ERR_NO_MEMORY;
    if (const long s = ReadAt(uint64_t{f.makerOffset} + 10, entries.get(), 12u * n)) return s;
    for (unsigned i = 0; i < n; ++i) {
      const uint8_t* e = entries.get() + 12 * i;
      const uint16_t tag = order_.U16(e), type = order_.U16(e + 2);
      const uint32_t count = order_.U32(e + 4);
      if (tag == 1) {
        if (type != kAscii || count == 0) return kBadMakerBlock;
        // The text field holds 19 characters and a zero; a longer text is cut there.
        const uint32_t keep = std::min<uint32_t>(count, sizeof f.makerText - 1);
        char text[sizeof f.makerText] = {};
        if (count < 5) {
          std::memcpy(text, e + 8, keep);
        } else {
          const uint32_t at = order_.U32(e + 8);
          if (at > size || count > size - at) return kBadMakerBlock;
          if (const long s = ReadAt(uint64_t{f.makerOffset} + at, text, keep)) return s;
        }
        text[keep] = 0;
        std::memcpy(f.makerText, text, sizeof text);
        f.hasMakerText = true;
      } else if (tag == 256) {
        if (type != kUndefined || count == 0) return kBadMakerBlock;
        const uint32_t at = order_.U32(e + 8);
        if (at > size || count > size - at) return kBadMakerBlock;
        f.hasThumbnail = true;
        f.thumbnailOffset = f.makerOffset + at;
        f.thumbnailLength = count;
      }
    }
    // A block that reaches past the end of the file is cut short.
    if (f.hasThumbnail && length_ >= 0 && uint64_t{f.thumbnailOffset} + f.thumbnailLength > static_cast<uint64_t>(length_))
      return TES_ERR_IN_EOF;
    return 0;
  }

  InputStream& in_;
  FileInfo& info_;
  Order order_;
  long long length_;
  uint32_t ifdOffset_ = 0;
};

}  // namespace

long ReadFileInfo(InputStream& in, FileInfo& info) { return Parser(in, info).Run(); }

}  // namespace tessera::tiff
