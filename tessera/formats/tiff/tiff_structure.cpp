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
#include "formats/tiff/tiff_ifd.h"

namespace tessera::tiff {
namespace {

// Tags of a feature this reader does not handle: old-style JPEG. (Fax and YCbCr fields
// matter only to compressions and photometric interpretations that are refused anyway.)
bool UnsupportedFeature(uint16_t tag) { return (tag >= 512 && tag <= 515) || (tag >= 517 && tag <= 521); }

class Parser {
 public:
  Parser(InputStream& in, FileInfo& info) : source_(in), info_(info), length_(in.Length()) {}

  long Run() {
    Header header;
    if (const long s = ReadHeader(source_, header)) return s;
    info_.bigEndian = header.bigEndian;
    info_.bigTiff = header.bigTiff;
    ifdOffset_ = header.firstIfd;
    IfdReader ifd(source_, header);
    ifd_ = &ifd;
    if (const long s = Ifd()) return s;
    if (const long s = Checks()) return s;
    if (info_.makerOffset != 0 || info_.makerCount != 0)
      if (const long s = MakerBlock()) return s;
    if (info_.photometric == 8 && info_.bits[0] == 16 && info_.makerCount == 0) {
      info_.signedLab = true;
      info_.direct = false;
    }
    return 0;
  }

 private:
  long ReadAt(uint64_t offset, void* buffer, uint64_t count) { return source_.ReadAt(offset, buffer, count); }

  long Ifd() {
    std::vector<Entry> entries;
    uint64_t next = 0;
    if (const long s = ifd_->Read(ifdOffset_, entries, &next)) return s;
    if (entries.empty()) return kEmptyIfd;
    for (const Entry& entry : entries)
      if (const long s = Handle(entry)) return s;
    // Further images (pages, reduced versions) are counted, not read; a chain that loops
    // or leaves the file ends the count.
    uint64_t seen[64];
    int seenCount = 0;
    while (next != 0 && info_.pages < 10000) {
      for (int i = 0; i < seenCount; ++i)
        if (seen[i] == next) return 0;
      if (next == ifdOffset_) return 0;
      if (seenCount < 64) seen[seenCount++] = next;
      uint64_t after = 0;
      if (ifd_->NextOf(next, after) != 0) return 0;
      ++info_.pages;
      next = after;
    }
    return 0;
  }

  // One unsigned integer (SHORT, LONG or LONG8), held to 32 bits (the checks refuse sizes
  // that large).
  long ShortOrLong(const Entry& e, uint32_t& out) {
    if (e.count != 1) return kBadCount;
    if (e.type != kShort && e.type != kLong && e.type != kLong8) return kBadType;
    std::vector<uint64_t> v;
    if (const long s = ifd_->Unsigned(e, v, 1)) return s;
    out = static_cast<uint32_t>(std::min<uint64_t>(v[0], UINT32_MAX));
    return 0;
  }

  long Short(const Entry& e, uint16_t& out) {
    if (e.count != 1) return kBadCount;
    if (e.type != kShort) return kBadType;
    out = ifd_->U16(e.value);
    return 0;
  }

  // Up to `n` SHORT values (one per sample), at least one.
  long Shorts(const Entry& e, uint16_t* out, uint32_t n) {
    if (e.count == 0) return kBadCount;
    if (e.type != kShort) return kBadType;
    uint8_t v[8];
    const uint64_t count = std::min<uint64_t>(e.count, n);
    if (const long s = ifd_->Raw(e, v, 2 * count)) return s;
    for (uint64_t i = 0; i < count; ++i) out[i] = ifd_->U16(v + 2 * i);
    return 0;
  }

  long Rational(const Entry& e, uint32_t out[2]) {
    if (e.count != 1) return kBadCount;
    if (e.type != kRational) return kBadType;
    uint8_t r[8];
    if (const long s = ifd_->Raw(e, r, 8)) return s;
    out[0] = ifd_->U32(r);
    out[1] = ifd_->U32(r + 4);
    return 0;
  }

  // A fixed number of RATIONALs, as doubles.
  long Rationals(const Entry& e, double* out, uint32_t n) {
    if (e.count != n) return kBadCount;
    if (e.type != kRational) return kBadType;
    uint8_t r[48];
    if (const long s = ifd_->Raw(e, r, 8u * n)) return s;
    for (uint32_t i = 0; i < n; ++i) {
      const uint32_t den = ifd_->U32(r + 8 * i + 4);
      out[i] = den == 0 ? 0.0 : static_cast<double>(ifd_->U32(r + 8 * i)) / den;
    }
    return 0;
  }

  // StripOffsets, StripByteCounts and their tile forms: any count from 1, SHORT, LONG or
  // LONG8 values, sized against the file before anything is allocated.
  long Array(const Entry& e, std::vector<uint64_t>& out, bool& present) {
    if (e.count == 0) return kBadCount;
    if (e.type != kShort && e.type != kLong && e.type != kLong8) return kBadType;
    const uint64_t most = length_ >= 0 ? static_cast<uint64_t>(length_) : uint64_t{1} << 24;
    if (const long s = ifd_->Unsigned(e, out, most)) return s == kBadCount ? long{TES_ERR_IN_EOF} : s;
    present = true;
    return 0;
  }

  // Where an entry's block of bytes lies in the file (it may lie past the end, which the
  // block's own reading finds); 0 for one held in the value field.
  uint64_t BlockAt(const Entry& e) const {
    uint64_t at = 0, bytes = 0;
    bool inField = true;
    ifd_->Locate(e, at, bytes, inField);
    return inField ? 0 : at;
  }

  long Handle(const Entry& e) {
    switch (e.tag) {
      case 256: return ShortOrLong(e, info_.width);
      case 257: return ShortOrLong(e, info_.height);
      case 278: return ShortOrLong(e, info_.rowsPerStrip);
      case 258: {
        // One value per sample (a grey or palette image with alpha has two).
        if (e.count < 1 || e.count > 4) return kBadCount;
        uint16_t v[4] = {};
        if (const long s = Shorts(e, v, 4)) return s;
        // A single value stands for every sample, as other readers take it (and of two, the
        // second for the rest).
        if (e.count <= 2)
          for (uint32_t i = 0; i < 4; ++i) info_.bits[i] = v[std::min<uint64_t>(i, e.count - 1)];
        else
          for (uint32_t i = 0; i < e.count; ++i) info_.bits[i] = v[i];
        return 0;
      }
      case 259: return Short(e, info_.compression);
      case 262: return Short(e, info_.photometric);
      case 274: return Short(e, info_.orientation);
      case 277: return Short(e, info_.samples);
      case 284: return Short(e, info_.planar);
      case 296: return Short(e, info_.resolutionUnit);
      case 317: return Short(e, info_.predictor);
      case 320: {
        std::vector<uint64_t> map;
        bool present = false;
        if (const long s = Array(e, map, present)) return s;
        info_.colorMap.assign(map.begin(), map.end());
        info_.hasColorMap = true;
        return 0;
      }
      case 347:
        // JPEGTables: an abbreviated JPEG stream, always longer than a value field.
        if (const uint64_t at = BlockAt(e)) {
          info_.jpegTablesOffset = at;
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
        return Shorts(e, info_.ycbcrSubsampling, 2);
      case 532: return Rationals(e, info_.referenceBlackWhite, 6);
      case 339: {
        // One value per sample; they must all be the same kind.
        uint16_t v[4] = {};
        if (const long s = Shorts(e, v, 4)) return s;
        info_.sampleFormat = v[0];
        for (uint64_t i = 1; i < std::min<uint64_t>(e.count, 4); ++i)
          if (v[i] != info_.sampleFormat) return kUnsupported;
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
        // A block that fits the value field cannot hold the identifier, and the block
        // check refuses it.
        info_.makerOffset = BlockAt(e);
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
    // JPEG strips and tiles hold grey, RGB, YCbCr or CMYK of 8 bits, interleaved.
    if (f.compression == kJpeg &&
        (f.bits[0] != 8 || (f.samples != 1 && f.samples != 3 && !(f.samples == 4 && f.photometric == 5)) || (f.photometric != 1 && f.photometric != 2 && f.photometric != 5 && f.photometric != 6) ||
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
    for (const uint64_t count : f.stripByteCounts)
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
    if (f.makerCount < 10 || f.makerCount > UINT32_MAX) return kBadMakerBlock;
    const uint32_t size = static_cast<uint32_t>(f.makerCount);
    uint8_t head[10];
    if (const long s = ReadAt(f.makerOffset, head, 10)) return s;
    if (std::memcmp(head, kMakerId, 6) != 0 || ifd_->U16(head + 6) != kMakerVersion) return kBadMakerBlock;
    const uint16_t n = ifd_->U16(head + 8);
    // The entries must lie inside the block.
    if (10 + 12u * n > size) return kBadMakerBlock;
    if (n == 0) return 0;
    std::unique_ptr<uint8_t[]> entries(new (std::nothrow) uint8_t[12u * n]);
    if (!entries) return TES_ERR_NO_MEMORY;
    if (const long s = ReadAt(uint64_t{f.makerOffset} + 10, entries.get(), 12u * n)) return s;
    for (unsigned i = 0; i < n; ++i) {
      const uint8_t* e = entries.get() + 12 * i;
      const uint16_t tag = ifd_->U16(e), type = ifd_->U16(e + 2);
      const uint32_t count = ifd_->U32(e + 4);
      if (tag == 1) {
        if (type != kAscii || count == 0) return kBadMakerBlock;
        // The text field holds 19 characters and a zero; a longer text is cut there.
        const uint32_t keep = std::min<uint32_t>(count, sizeof f.makerText - 1);
        char text[sizeof f.makerText] = {};
        if (count < 5) {
          std::memcpy(text, e + 8, keep);
        } else {
          const uint32_t at = ifd_->U32(e + 8);
          if (at > size || count > size - at) return kBadMakerBlock;
          if (const long s = ReadAt(uint64_t{f.makerOffset} + at, text, keep)) return s;
        }
        text[keep] = 0;
        std::memcpy(f.makerText, text, sizeof text);
        f.hasMakerText = true;
      } else if (tag == 256) {
        if (type != kUndefined || count == 0) return kBadMakerBlock;
        const uint32_t at = ifd_->U32(e + 8);
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

  StreamSource source_;
  FileInfo& info_;
  long long length_;
  IfdReader* ifd_ = nullptr;  // while Run runs
  uint64_t ifdOffset_ = 0;
};

}  // namespace

long ReadFileInfo(InputStream& in, FileInfo& info) { return Parser(in, info).Run(); }

}  // namespace tessera::tiff
