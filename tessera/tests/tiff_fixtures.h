// TIFF bytes built field by field for the tests: a valid uncompressed file by default, in
// either byte order, with any field replaced, removed or added, and the pixels of a known
// pattern in one or many strips, interleaved or in separate planes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "fixtures.h"

namespace tiff_fixtures {

using fixtures::Bytes;

// The pattern's sample of channel c at (x, y), for 8- or 16-bit samples.
inline uint16_t Value(int x, int y, int c, int bits) { return fixtures::PatternValue(x, y, c, bits / 8); }

// The pattern as the image store hands it out: interleaved, 16-bit samples little-endian.
inline Bytes StorePixels(int width, int height, int channels, int bits) {
  const int sb = bits / 8;
  Bytes out(static_cast<size_t>(width) * height * channels * sb);
  size_t i = 0;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < channels; ++c) {
        const uint16_t v = Value(x, y, c, bits);
        out[i++] = static_cast<uint8_t>(v);
        if (sb == 2) out[i++] = static_cast<uint8_t>(v >> 8);
      }
  return out;
}

// 16-bit CIELab samples in the store's layout whose a and b are read from a file that holds
// them signed (as TIFF defines them): each a and b with its sign bit flipped.
inline Bytes SignedLabAsStored(Bytes lab48) {
  for (size_t i = 0; i + 5 < lab48.size(); i += 6) {
    lab48[i + 3] ^= 0x80;
    lab48[i + 5] ^= 0x80;
  }
  return lab48;
}

struct Field {
  uint16_t tag = 0, type = 3;
  uint64_t count = 1;
  std::vector<uint32_t> values;  // SHORT, LONG; RATIONAL as numerator, denominator pairs
  Bytes raw;                     // BYTE, ASCII, UNDEFINED: the bytes themselves
  bool rawOffset = false;        // values[0] is written as the value field, whatever the count
};

inline Field Short(uint16_t tag, std::vector<uint32_t> v) {
  const uint32_t n = static_cast<uint32_t>(v.size());
  return {tag, 3, n, std::move(v), {}, false};
}
inline Field Long(uint16_t tag, std::vector<uint32_t> v) {
  const uint32_t n = static_cast<uint32_t>(v.size());
  return {tag, 4, n, std::move(v), {}, false};
}
inline Field Rational(uint16_t tag, uint32_t num, uint32_t den) { return {tag, 5, 1, {num, den}, {}, false}; }
inline Field Undefined(uint16_t tag, Bytes raw) {
  const uint32_t n = static_cast<uint32_t>(raw.size());
  return {tag, 7, n, {}, std::move(raw), false};
}

struct Spec {
  bool big = false;
  bool bigTiff = false;  // version 43: 64-bit offsets and counts, strip arrays as LONG8
  int width = 5, height = 4;
  int samples = 3, bits = 8;
  int photometric = 2;
  int rowsPerStrip = 0;  // 0: one strip
  int planar = 1;
  uint32_t nextIfd = 0;
  std::map<uint16_t, Field> replace;  // fields in place of the built ones (or added)
  std::set<uint16_t> remove;
  size_t stripPad = 0;  // bytes added at the end of each strip's byte count (data past the image)
};

class Writer {
 public:
  explicit Writer(bool big) : big_(big) {}
  void U16(Bytes& b, size_t at, uint32_t v) const {
    if (big_) {
      b[at] = static_cast<uint8_t>(v >> 8);
      b[at + 1] = static_cast<uint8_t>(v);
    } else {
      b[at] = static_cast<uint8_t>(v);
      b[at + 1] = static_cast<uint8_t>(v >> 8);
    }
  }
  void U32(Bytes& b, size_t at, uint32_t v) const {
    if (big_) {
      U16(b, at, v >> 16);
      U16(b, at + 2, v & 0xFFFF);
    } else {
      U16(b, at, v & 0xFFFF);
      U16(b, at + 2, v >> 16);
    }
  }
  void U64(Bytes& b, size_t at, uint64_t v) const {
    U32(b, at + (big_ ? 4 : 0), static_cast<uint32_t>(v));
    U32(b, at + (big_ ? 0 : 4), static_cast<uint32_t>(v >> 32));
  }

 private:
  bool big_;
};

inline size_t TypeSize(uint16_t type) { return type == 3 ? 2 : type == 4 ? 4 : type == 5 || type == 16 ? 8 : 1; }

// The strips' payloads for a spec, in the file's byte order.
inline std::vector<Bytes> Strips(const Spec& s) {
  const int sb = s.bits / 8;
  const int rps = s.rowsPerStrip > 0 ? s.rowsPerStrip : s.height;
  const int planes = s.planar == 2 ? s.samples : 1;
  const int perPixel = s.planar == 2 ? 1 : s.samples;
  std::vector<Bytes> strips;
  for (int p = 0; p < planes; ++p)
    for (int y0 = 0; y0 < s.height; y0 += rps) {
      Bytes strip;
      for (int y = y0; y < std::min(s.height, y0 + rps); ++y)
        for (int x = 0; x < s.width; ++x)
          for (int k = 0; k < perPixel; ++k) {
            const uint16_t v = Value(x, y, s.planar == 2 ? p : k, s.bits);
            if (sb == 1) {
              strip.push_back(static_cast<uint8_t>(v));
            } else if (s.big) {
              strip.push_back(static_cast<uint8_t>(v >> 8));
              strip.push_back(static_cast<uint8_t>(v));
            } else {
              strip.push_back(static_cast<uint8_t>(v));
              strip.push_back(static_cast<uint8_t>(v >> 8));
            }
          }
      strip.resize(strip.size() + s.stripPad, 0xEE);
      strips.push_back(std::move(strip));
    }
  return strips;
}

inline Bytes MakeTiff(const Spec& s) {
  const std::vector<Bytes> strips = Strips(s);
  std::vector<uint32_t> counts;
  for (const Bytes& strip : strips) counts.push_back(static_cast<uint32_t>(strip.size()));

  std::map<uint16_t, Field> fields;
  std::vector<uint32_t> bits(static_cast<size_t>(s.samples), static_cast<uint32_t>(s.bits));
  fields[256] = Long(256, {static_cast<uint32_t>(s.width)});
  fields[257] = Long(257, {static_cast<uint32_t>(s.height)});
  fields[258] = Short(258, s.samples == 1 ? std::vector<uint32_t>{static_cast<uint32_t>(s.bits)} : bits);
  fields[259] = Short(259, {1});
  fields[262] = Short(262, {static_cast<uint32_t>(s.photometric)});
  fields[273] = Long(273, std::vector<uint32_t>(strips.size(), 0));
  fields[277] = Short(277, {static_cast<uint32_t>(s.samples)});
  fields[278] = Long(278, {static_cast<uint32_t>(s.rowsPerStrip > 0 ? s.rowsPerStrip : s.height)});
  fields[279] = Long(279, counts);
  fields[282] = Rational(282, 300, 1);
  fields[283] = Rational(283, 300, 1);
  fields[284] = Short(284, {static_cast<uint32_t>(s.planar)});
  fields[296] = Short(296, {2});
  for (const auto& [tag, field] : s.replace) fields[tag] = field;
  for (const uint16_t tag : s.remove) fields.erase(tag);

  // BigTIFF: the strip arrays as LONG8, 8-byte counts and value fields, 20-byte entries.
  const bool bt = s.bigTiff;
  if (bt)
    for (const uint16_t tag : {273, 279})
      if (fields.count(tag) && fields[tag].type == 4 && s.replace.count(tag) == 0) fields[tag].type = 16;
  const size_t fieldBytes = bt ? 8 : 4, entryBytes = bt ? 20 : 12;
  const Writer w(s.big);
  const size_t ifdAt = bt ? 16 : 8;
  const size_t ifdBytes = (bt ? 8 : 2) + entryBytes * fields.size() + fieldBytes;
  // Out-of-line values follow the IFD, then the strips.
  size_t at = ifdAt + ifdBytes;
  std::map<uint16_t, size_t> dataAt;
  for (const auto& [tag, f] : fields) {
    const size_t bytes = f.raw.empty() ? f.values.size() * TypeSize(f.type) / (f.type == 5 ? 2 : 1) : f.raw.size();
    if (bytes > fieldBytes && !f.rawOffset) {
      dataAt[tag] = at;
      at += (bytes + 1) & ~size_t{1};
    }
  }
  std::vector<uint32_t> offsets;
  for (const Bytes& strip : strips) {
    offsets.push_back(static_cast<uint32_t>(at));
    at += strip.size();
  }
  if (fields.count(273) && s.replace.count(273) == 0) fields[273].values = offsets;

  Bytes b(at, 0);
  b[0] = b[1] = s.big ? 'M' : 'I';
  if (bt) {
    w.U16(b, 2, 43);
    w.U16(b, 4, 8);
    w.U64(b, 8, ifdAt);
    w.U64(b, ifdAt, fields.size());
  } else {
    w.U16(b, 2, 42);
    w.U32(b, 4, static_cast<uint32_t>(ifdAt));
    w.U16(b, ifdAt, static_cast<uint32_t>(fields.size()));
  }
  size_t e = ifdAt + (bt ? 8 : 2);
  const auto offset = [&](size_t where, uint64_t v) { bt ? w.U64(b, where, v) : w.U32(b, where, static_cast<uint32_t>(v)); };
  for (const auto& [tag, f] : fields) {
    w.U16(b, e, f.tag);
    w.U16(b, e + 2, f.type);
    offset(e + 4, f.count);
    const size_t valueAt = e + (bt ? 12 : 8);
    const auto put = [&](size_t where) {
      if (!f.raw.empty()) {
        std::copy(f.raw.begin(), f.raw.end(), b.begin() + static_cast<ptrdiff_t>(where));
        return;
      }
      const size_t size = f.type == 5 ? 4 : TypeSize(f.type);
      for (size_t i = 0; i < f.values.size(); ++i)
        size == 2 ? w.U16(b, where + 2 * i, f.values[i])
                  : size == 8 ? w.U64(b, where + 8 * i, f.values[i]) : w.U32(b, where + 4 * i, f.values[i]);
    };
    if (f.rawOffset)
      offset(valueAt, f.values.at(0));
    else if (dataAt.count(tag)) {
      offset(valueAt, dataAt[tag]);
      put(dataAt[tag]);
    } else {
      put(valueAt);
    }
    e += entryBytes;
  }
  offset(e, s.nextIfd);
  for (size_t i = 0; i < strips.size(); ++i)
    std::copy(strips[i].begin(), strips[i].end(), b.begin() + static_cast<ptrdiff_t>(offsets[i]));
  return b;
}

// A maker block in the file's byte order: "Orvax", the version, and entries whose data
// follow them. Entry values are given as (tag, type, count, value-or-offset).
struct MakerEntry {
  uint16_t tag, type;
  uint32_t count, value;
};
inline Bytes MakerBlock(bool big, const std::vector<MakerEntry>& entries, const Bytes& tail = {},
                        uint16_t version = 256) {
  const Writer w(big);
  Bytes b(10 + 12 * entries.size(), 0);
  const char id[6] = {'O', 'r', 'v', 'a', 'x', 0};
  std::copy(id, id + 6, b.begin());
  w.U16(b, 6, version);
  w.U16(b, 8, static_cast<uint32_t>(entries.size()));
  for (size_t i = 0; i < entries.size(); ++i) {
    const size_t e = 10 + 12 * i;
    w.U16(b, e, entries[i].tag);
    w.U16(b, e + 2, entries[i].type);
    w.U32(b, e + 4, entries[i].count);
    w.U32(b, e + 8, entries[i].value);
  }
  b.insert(b.end(), tail.begin(), tail.end());
  return b;
}

}  // namespace tiff_fixtures
