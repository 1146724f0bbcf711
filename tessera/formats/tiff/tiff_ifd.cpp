#include "formats/tiff/tiff_ifd.h"

#include <climits>
#include <cstring>
#include <memory>
#include <new>

#include "formats/byte_order.h"

namespace tessera::tiff {
namespace {

// A range of the source, checked without overflow.
bool Inside(long long size, uint64_t offset, uint64_t count) {
  if (size < 0) return true;
  const uint64_t total = static_cast<uint64_t>(size);
  return offset <= total && count <= total - offset;
}

}  // namespace

long StreamSource::ReadAt(uint64_t offset, void* out, uint64_t count) {
  if (count == 0) return 0;
  if (!Inside(size_, offset, count)) return TES_ERR_IN_EOF;
  if (offset > static_cast<uint64_t>(LONG_MAX) || count > static_cast<uint64_t>(LONG_MAX - offset)) return TES_ERR_IN_EOF;
  if (in_.Seek(static_cast<long>(offset)) != 0) return in_.Error();
  if (in_.Read(out, static_cast<long>(count)) != static_cast<long>(count)) return in_.Error();
  return 0;
}

long MemorySource::ReadAt(uint64_t offset, void* out, uint64_t count) {
  if (count == 0) return 0;
  if (!Inside(static_cast<long long>(size_), offset, count)) return TES_ERR_IN_EOF;
  std::memcpy(out, data_ + offset, static_cast<size_t>(count));
  return 0;
}

unsigned TypeSize(uint16_t type) {
  switch (type) {
    case kByte: case kAscii: case kSByte: case kUndefined: return 1;
    case kShort: case kSShort: return 2;
    case kLong: case kSLong: case kFloat: case kIfd: return 4;
    case kRational: case kSRational: case kDouble: case kLong8: case kSLong8: case kIfd8: return 8;
    default: return 0;
  }
}

long ReadHeader(ByteSource& source, Header& header) {
  uint8_t h[16];
  const long long size = source.Size();
  // A file too short for the header is not a TIFF.
  if (size >= 0 && size < 8) return kBadByteOrder;
  if (const long s = source.ReadAt(0, h, 8)) return s == TES_ERR_IN_EOF ? long{kBadByteOrder} : s;
  if (h[0] == 'I' && h[1] == 'I')
    header.bigEndian = false;
  else if (h[0] == 'M' && h[1] == 'M')
    header.bigEndian = true;
  else
    return kBadByteOrder;
  const uint16_t version = bytes::Load16(h + 2, header.bigEndian);
  if (version == 42) {
    header.bigTiff = false;
    header.firstIfd = bytes::Load32(h + 4, header.bigEndian);
  } else if (version == 43) {
    // The size of offsets (8) and a reserved 0, then the 64-bit offset of the first IFD.
    if (bytes::Load16(h + 4, header.bigEndian) != 8 || bytes::Load16(h + 6, header.bigEndian) != 0) return kBadMagic;
    if (const long s = source.ReadAt(8, h + 8, 8)) return s == TES_ERR_IN_EOF ? long{kBadMagic} : s;
    header.bigTiff = true;
    header.firstIfd = bytes::Load64(h + 8, header.bigEndian);
  } else {
    return kBadMagic;
  }
  if (header.firstIfd == 0) return kNoIfd;
  return 0;
}

uint16_t IfdReader::U16(const uint8_t* p) const { return bytes::Load16(p, big_); }
uint32_t IfdReader::U32(const uint8_t* p) const { return bytes::Load32(p, big_); }
uint64_t IfdReader::U64(const uint8_t* p) const { return bytes::Load64(p, big_); }

long IfdReader::Read(uint64_t offset, std::vector<Entry>& entries, uint64_t* next) {
  entries.clear();
  const unsigned countBytes = bigTiff_ ? 8 : 2, entryBytes = bigTiff_ ? 20 : 12, linkBytes = bigTiff_ ? 8 : 4;
  uint8_t c[8];
  if (const long s = source_.ReadAt(offset, c, countBytes)) return s;
  const uint64_t n = bigTiff_ ? U64(c) : U16(c);
  // The entries and the link must lie in the source before they are allocated; a source of
  // unknown size takes no more than a classic directory can hold.
  const long long size = source_.Size();
  if (size < 0 ? n > 65535 : n > static_cast<uint64_t>(size) / entryBytes) return TES_ERR_IN_EOF;
  const uint64_t tableBytes = n * entryBytes + linkBytes;
  std::unique_ptr<uint8_t[]> table(new (std::nothrow) uint8_t[tableBytes]);
  if (!table) return TES_ERR_NO_MEMORY;
  // A directory whose link is missing (the last in a cut file) still has its entries.
  long s = source_.ReadAt(offset + countBytes, table.get(), tableBytes);
  const bool linked = s == 0;
  if (s == TES_ERR_IN_EOF) s = source_.ReadAt(offset + countBytes, table.get(), tableBytes - linkBytes);
  if (s != 0) return s;
  try {
    entries.resize(static_cast<size_t>(n));
  } catch (const std::bad_alloc&) {
    return TES_ERR_NO_MEMORY;
  }
  for (uint64_t i = 0; i < n; ++i) {
    const uint8_t* p = table.get() + i * entryBytes;
    Entry& e = entries[static_cast<size_t>(i)];
    e.tag = U16(p);
    e.type = U16(p + 2);
    e.count = bigTiff_ ? U64(p + 4) : U32(p + 4);
    std::memcpy(e.value, p + (bigTiff_ ? 12 : 8), bigTiff_ ? 8 : 4);
  }
  if (next != nullptr) *next = linked ? Field(table.get() + n * entryBytes) : 0;
  return 0;
}

long IfdReader::NextOf(uint64_t offset, uint64_t& next) {
  const unsigned countBytes = bigTiff_ ? 8 : 2, entryBytes = bigTiff_ ? 20 : 12, linkBytes = bigTiff_ ? 8 : 4;
  uint8_t c[8];
  if (const long s = source_.ReadAt(offset, c, countBytes)) return s;
  const uint64_t n = bigTiff_ ? U64(c) : U16(c);
  if (n > UINT64_MAX / 2 / entryBytes) return TES_ERR_IN_EOF;
  uint8_t link[8];
  if (const long s = source_.ReadAt(offset + countBytes + n * entryBytes, link, linkBytes)) return s;
  next = Field(link);
  return 0;
}

bool IfdReader::Locate(const Entry& e, uint64_t& at, uint64_t& bytes, bool& inField) const {
  const unsigned size = TypeSize(e.type);
  if (size == 0 || e.count > UINT64_MAX / size) return false;
  bytes = e.count * size;
  inField = bytes <= (bigTiff_ ? 8u : 4u);
  if (inField) {
    at = 0;
    return true;
  }
  at = Field(e.value);
  return Inside(source_.Size(), at, bytes);
}

long IfdReader::Raw(const Entry& e, void* out, uint64_t want) {
  uint64_t at = 0, bytes = 0;
  bool inField = false;
  if (!Locate(e, at, bytes, inField)) return TES_ERR_IN_EOF;
  if (want > bytes) want = bytes;
  if (inField) {
    std::memcpy(out, e.value, static_cast<size_t>(want));
    return 0;
  }
  return source_.ReadAt(at, out, want);
}

uint64_t IfdReader::ValueAt(const uint8_t* p, uint16_t type) const {
  switch (type) {
    case kByte: return p[0];
    case kShort: return U16(p);
    case kLong: case kIfd: return U32(p);
    default: return U64(p);
  }
}

long IfdReader::Unsigned(const Entry& e, std::vector<uint64_t>& out, uint64_t maxCount) {
  if (e.type != kByte && e.type != kShort && e.type != kLong && e.type != kIfd && e.type != kLong8 && e.type != kIfd8)
    return kBadType;
  if (e.count == 0 || e.count > maxCount) return kBadCount;
  uint64_t at = 0, bytes = 0;
  bool inField = false;
  if (!Locate(e, at, bytes, inField)) return TES_ERR_IN_EOF;
  std::unique_ptr<uint8_t[]> outOfLine;
  const uint8_t* values = e.value;
  if (!inField) {
    outOfLine.reset(new (std::nothrow) uint8_t[bytes]);
    if (!outOfLine) return TES_ERR_NO_MEMORY;
    if (const long s = source_.ReadAt(at, outOfLine.get(), bytes)) return s;
    values = outOfLine.get();
  }
  try {
    out.resize(static_cast<size_t>(e.count));
  } catch (const std::bad_alloc&) {
    return TES_ERR_NO_MEMORY;
  }
  const unsigned size = TypeSize(e.type);
  for (uint64_t i = 0; i < e.count; ++i) out[static_cast<size_t>(i)] = ValueAt(values + i * size, e.type);
  return 0;
}

long IfdReader::Number(const Entry& e, double& value) {
  if (e.count == 0) return kBadCount;
  uint8_t v[8];
  switch (e.type) {
    case kByte: case kShort: case kLong: case kLong8: case kSShort: case kSLong: case kSLong8:
    case kRational: case kSRational: break;
    default: return kBadType;
  }
  if (const long s = Raw(e, v, TypeSize(e.type))) return s;
  switch (e.type) {
    case kSShort: value = static_cast<int16_t>(U16(v)); return 0;
    case kSLong: value = static_cast<int32_t>(U32(v)); return 0;
    case kSLong8: value = static_cast<double>(static_cast<int64_t>(U64(v))); return 0;
    case kRational: case kSRational: {
      const uint32_t num = U32(v), den = U32(v + 4);
      if (den == 0) return 1;  // no value
      value = e.type == kRational ? static_cast<double>(num) / den
                                  : static_cast<double>(static_cast<int32_t>(num)) / static_cast<int32_t>(den);
      return 0;
    }
    default: value = static_cast<double>(ValueAt(v, e.type)); return 0;
  }
}

}  // namespace tessera::tiff
