// TIFF's structure: the header (classic TIFF with 32-bit offsets, or BigTIFF with 64-bit
// offsets and counts) and its image file directories, read from a file or from a block in
// memory (the TIFF inside a JPEG's Exif segment).
//
// Every count and offset comes from untrusted bytes: each is held against the size of what
// is being read before anything is allocated for it or read from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/streams.h"
#include "formats/tiff/tiff.h"

namespace tessera::tiff {

// Where the bytes come from. Offsets are those of the TIFF structure (0 is its header).
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // The structure's size in bytes, or -1 when it cannot be found.
  virtual long long Size() const = 0;
  // count bytes at offset into out: 0, 1103 for a range past the end (nothing is read), or
  // the stream's code.
  virtual long ReadAt(uint64_t offset, void* out, uint64_t count) = 0;
};

// A whole file through its input stream.
class StreamSource final : public ByteSource {
 public:
  explicit StreamSource(InputStream& in) : in_(in), size_(in.Length()) {}
  long long Size() const override { return size_; }
  long ReadAt(uint64_t offset, void* out, uint64_t count) override;

 private:
  InputStream& in_;
  long long size_;
};

// A block of bytes in memory.
class MemorySource final : public ByteSource {
 public:
  MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  long long Size() const override { return static_cast<long long>(size_); }
  long ReadAt(uint64_t offset, void* out, uint64_t count) override;

 private:
  const uint8_t* data_;
  size_t size_;
};

// Field types, classic and BigTIFF.
enum Type : uint16_t {
  kByte = 1, kAscii = 2, kShort = 3, kLong = 4, kRational = 5, kSByte = 6, kUndefined = 7, kSShort = 8,
  kSLong = 9, kSRational = 10, kFloat = 11, kDouble = 12, kIfd = 13, kLong8 = 16, kSLong8 = 17, kIfd8 = 18,
};
// Bytes of one value of a type; 0 for a type this reader does not know.
unsigned TypeSize(uint16_t type);

struct Header {
  bool bigEndian = false;
  bool bigTiff = false;   // version 43: 64-bit offsets and counts, 20-byte entries
  uint64_t firstIfd = 0;
};

// 0, kBadByteOrder, kBadMagic (neither 42 nor 43 with BigTIFF's offset size 8), kNoIfd, or
// the source's code.
long ReadHeader(ByteSource& source, Header& header);

struct Entry {
  uint16_t tag = 0, type = 0;
  uint64_t count = 0;
  uint8_t value[8] = {};  // the value field as stored: 4 bytes (classic) or 8 (BigTIFF)
};

// Reads directories and the values of their entries in the header's byte order.
class IfdReader {
 public:
  IfdReader(ByteSource& source, const Header& header) : source_(source), big_(header.bigEndian), bigTiff_(header.bigTiff) {}

  // The entries of the directory at offset and the offset of the next (0: none). 1103 when
  // the directory is not wholly inside the source.
  long Read(uint64_t offset, std::vector<Entry>& entries, uint64_t* next);
  // Only the offset of the directory after the one at offset.
  long NextOf(uint64_t offset, uint64_t& next);

  // Where an entry's values lie and their size in bytes: in the value field when they fit
  // there (inField), else at the offset it holds. False for an unknown type or values that
  // do not lie inside the source (at and inField are still set for a known type).
  bool Locate(const Entry& e, uint64_t& at, uint64_t& bytes, bool& inField) const;
  // The first `bytes` bytes of an entry's values (at most their size). 1103 outside the source.
  long Raw(const Entry& e, void* out, uint64_t bytes);
  // Integer values (BYTE, SHORT, LONG, LONG8, IFD, IFD8), the count held to maxCount
  // before anything is allocated. 1411 for another type; 1410 for a count of 0 or above
  // maxCount.
  long Unsigned(const Entry& e, std::vector<uint64_t>& out, uint64_t maxCount);
  // The first value of a number (any integer type, RATIONAL and SRATIONAL). 1411 for
  // another type, 1 for a rational with denominator 0.
  long Number(const Entry& e, double& value);

  uint16_t U16(const uint8_t* p) const;
  uint32_t U32(const uint8_t* p) const;
  uint64_t U64(const uint8_t* p) const;
  // An offset or count in the value field (4 or 8 bytes).
  uint64_t Field(const uint8_t* p) const { return bigTiff_ ? U64(p) : U32(p); }
  bool bigTiff() const { return bigTiff_; }
  ByteSource& source() { return source_; }

 private:
  uint64_t ValueAt(const uint8_t* p, uint16_t type) const;

  ByteSource& source_;
  bool big_, bigTiff_;
};

}  // namespace tessera::tiff
