// Loads and stores of 16- and 32-bit integers in a stated byte order, for the format codecs.
// Every file format here fixes its own order (BMP little-endian, JPEG big-endian, TIFF either),
// so these never depend on the host's.
#pragma once

#include <cstdint>

namespace tessera::bytes {

inline uint16_t LoadLE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t LoadLE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
inline uint64_t LoadLE64(const uint8_t* p) { return LoadLE32(p) | static_cast<uint64_t>(LoadLE32(p + 4)) << 32; }

inline uint16_t LoadBE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline uint32_t LoadBE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
         static_cast<uint32_t>(p[3]);
}
inline uint64_t LoadBE64(const uint8_t* p) { return static_cast<uint64_t>(LoadBE32(p)) << 32 | LoadBE32(p + 4); }

// For formats whose header says the order (TIFF's "II" or "MM").
inline uint16_t Load16(const uint8_t* p, bool bigEndian) { return bigEndian ? LoadBE16(p) : LoadLE16(p); }
inline uint32_t Load32(const uint8_t* p, bool bigEndian) { return bigEndian ? LoadBE32(p) : LoadLE32(p); }
inline uint64_t Load64(const uint8_t* p, bool bigEndian) { return bigEndian ? LoadBE64(p) : LoadLE64(p); }

// Stores take the low bits of v.
inline void StoreLE16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void StoreLE32(uint8_t* p, uint32_t v) {
  StoreLE16(p, v);
  StoreLE16(p + 2, v >> 16);
}
inline void StoreBE16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void StoreBE32(uint8_t* p, uint32_t v) {
  StoreBE16(p, v >> 16);
  StoreBE16(p + 2, v);
}

}  // namespace tessera::bytes
