// TIFF files: single-image, uncompressed, strip-organised TIFF with 8- or 16-bit samples in
// grey, RGB, CMYK and CIELab, an embedded ICC profile and the maker's private block (tag
// 32768) that can carry a JPEG-coded thumbnail. File type 1; type 2 (compressed) reaches
// only the writer, which refuses it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "formats/format.h"

namespace tessera {

std::unique_ptr<FormatReader> MakeTiffReader(TesseraClass* target, InputStream& in);
std::unique_ptr<FormatWriter> MakeTiffWriter(const TesseraClass& source, OutputStream& out);

namespace tiff {

// The reader's and writer's own codes.
enum Compression : uint16_t { kNone = 1, kLzw = 5, kJpeg = 7, kDeflate = 8, kAdobeDeflate = 32946, kPackBits = 32773 };

enum Code : long {
  kBadByteOrder = 1400,   // neither "II" nor "MM" (reported as 1013)
  kBadMagic = 1401,       // neither 42 nor BigTIFF's 43 (reported as 1013)
  kNoIfd = 1402,          // IFD offset 0 (reported as 1013)
  kEmptyIfd = 1403,
  kManyImages = 1404,     // a second IFD follows
  kZeroSize = 1405,       // zero (or out of range) width or height, or a zero strip byte count
  kUnsupported = 1406,    // sample layout, photometric interpretation or compression
  kCountMismatch = 1407,  // sample count or strip counts that do not fit
  kNoStrips = 1408,
  kBadField = 1409,       // RowsPerStrip, PlanarConfiguration, ResolutionUnit or Predictor
  kBadCount = 1410,
  kBadType = 1411,
  kFeature = 1412,        // tiles, fax options, colour map, old-style JPEG, YCbCr
  kBadMakerBlock = 1415,
  kCompressed = 1416,     // LZW met by the reader, or compression asked of the writer
};

// The maker block's identifier and version.
inline constexpr char kMakerId[6] = {'O', 'r', 'v', 'a', 'x', 0};
inline constexpr uint16_t kMakerVersion = 256;
inline constexpr uint16_t kMakerTag = 32768;
inline constexpr uint16_t kIccTag = 34675;

// What the common part of the reader finds in a file: the IFD's values after the checks,
// and what follows from them.
struct FileInfo {
  bool bigEndian = false;
  uint32_t width = 0, height = 0;
  uint16_t bits[4] = {1, 1, 1, 1};
  uint16_t compression = 1;
  uint16_t photometric = 65535;
  uint16_t samples = 1;
  uint32_t rowsPerStrip = 4294967295u;
  bool bigTiff = false;  // 64-bit offsets and counts
  std::vector<uint64_t> stripOffsets, stripByteCounts;
  bool hasStripOffsets = false, hasStripByteCounts = false;
  uint32_t xResolution[2] = {72, 1}, yResolution[2] = {72, 1};
  uint16_t planar = 1;
  uint16_t resolutionUnit = 2;
  uint16_t predictor = 1;
  uint16_t orientation = 1;
  uint16_t fillOrder = 1;     // 2: the bits of each byte are stored lowest first
  uint16_t sampleFormat = 1;  // 1 unsigned integers; 2 signed, 3 floating point (refused)
  uint64_t makerOffset = 0, makerCount = 0;
  // Tiles: their size, and their offsets and byte counts in the strip arrays.
  bool tiled = false;
  uint32_t tileWidth = 0, tileLength = 0;
  std::vector<uint32_t> colorMap;  // PhotometricInterpretation 3: red, green, blue tables
  bool hasColorMap = false;
  uint32_t pages = 1;              // images in the file; the first is read
  uint64_t jpegTablesOffset = 0, jpegTablesCount = 0;  // Compression 7: the shared tables
  // YCbCr not coded as JPEG: chroma subsampling (horizontal, vertical), the luma
  // coefficients and the reference black and white of Y, Cb and Cr.
  uint16_t ycbcrSubsampling[2] = {2, 2};
  double ycbcrCoefficients[3] = {0.299, 0.587, 0.114};
  double referenceBlackWhite[6] = {0, 255, 128, 255, 128, 255};

  // 16-bit CIELab whose a and b are signed, as TIFF defines them, turned into the image's
  // layout (offset by 128, times 256). Files this library wrote (they carry its maker block)
  // hold that layout already and are read as they stand.
  bool signedLab = false;

  // Derived after the checks.
  int16_t colorSpace = 0;
  int channels = 1;      // samples per pixel of the image (extra samples are dropped)
  int imageBits = 8;     // bits of each of the image's samples
  bool direct = true;    // uncompressed strips whose bytes are the image's samples as they stand
  double dotsPerInch = 72.0;
  bool hasMakerText = false;
  char makerText[20] = {};
  bool hasThumbnail = false;
  uint64_t thumbnailOffset = 0;  // in the file
  uint32_t thumbnailLength = 0;

  // Y, Cb and Cr stored as TIFF's own data units (each block of subsampled pixels' Y
  // samples, then its Cb and Cr), turned into RGB here.
  bool StoredYcbcr() const { return photometric == 6 && compression != 7; }
  int SampleBytes() const { return bits[0] == 16 ? 2 : 1; }
  // Sample planes stored apart (PlanarConfiguration 2 with more than one sample).
  int Planes() const { return planar == 2 ? samples : 1; }
};

// Reads the header, the IFD and the maker block and runs every check; the stream may be
// anywhere. 0 or a code (1400..1402 are returned as such; the reader maps them to 1013).
long ReadFileInfo(InputStream& in, FileInfo& info);

// The colour-space code's TIFF fields for the writer. False for a code TIFF cannot hold.
struct WriteFields {
  uint16_t samples, bits, photometric;
};
bool FieldsFor(int colorSpace, WriteFields& fields);

// The bytes the writer puts in front of the strip: header, IFD and data area. The strip
// follows at bytes.size(); its byte count (file offset 126) is left 0 here and patched after
// the strip, with stripBytes. Fails with 1015 for a colour space TIFF cannot hold or an
// image too large for a TIFF's 32-bit offsets.
struct WriteHead {
  std::vector<uint8_t> bytes;
  uint32_t stripBytes = 0;
};
long BuildWriteHead(const tagTes_Image_Desc& desc, uint16_t orientation, const uint8_t* icc, size_t iccLength,
                    const uint8_t* thumbnail, size_t thumbnailLength, WriteHead& head);

// File offset of the strip byte count's value, patched after the strip is written.
inline constexpr long kStripByteCountAt = 126;

}  // namespace tiff
}  // namespace tessera
