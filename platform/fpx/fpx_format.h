// Byte layouts of the FlashPix format shared by the reader and the writer: class ids,
// stream and storage names, property identifiers and types, and little-endian helpers.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace fpx {

using Clsid = std::array<uint8_t, 16>;

// A class id in its stored byte order (the first three fields little-endian).
constexpr Clsid MakeClsid(uint32_t d1, uint16_t d2, uint16_t d3, uint64_t d4) {
  Clsid c{};
  for (int i = 0; i < 4; ++i) c[i] = static_cast<uint8_t>(d1 >> (8 * i));
  for (int i = 0; i < 2; ++i) c[4 + i] = static_cast<uint8_t>(d2 >> (8 * i));
  for (int i = 0; i < 2; ++i) c[6 + i] = static_cast<uint8_t>(d3 >> (8 * i));
  for (int i = 0; i < 8; ++i) c[8 + i] = static_cast<uint8_t>(d4 >> (8 * (7 - i)));
  return c;
}

// Every FlashPix class id ends in C154-11CE-8553-00AA00A1F95B.
constexpr Clsid FlashPixClsid(uint32_t prefix) { return MakeClsid(prefix, 0xC154, 0x11CE, 0x855300AA00A1F95Bull); }

inline constexpr Clsid kImageViewClsid = FlashPixClsid(0x56616700);   // root of an image-view file
inline constexpr Clsid kImageObjectClsid = FlashPixClsid(0x56616000); // an image object (store)
inline constexpr Clsid kResolutionClsid = FlashPixClsid(0x56616100);
inline constexpr Clsid kImageContentsFmtid = FlashPixClsid(0x56616400);
inline constexpr Clsid kImageInfoFmtid = FlashPixClsid(0x56616500);
inline constexpr Clsid kGlobalInfoFmtid = FlashPixClsid(0x56616F00);        // image view: global info
inline constexpr Clsid kImageDescriptionFmtid = FlashPixClsid(0x56616080);  // image view: source description
inline constexpr Clsid kSubimageHeaderClsid = FlashPixClsid(0x00010000);
inline constexpr Clsid kSubimageDataClsid = FlashPixClsid(0x00010100);
inline constexpr Clsid kSummaryInfoFmtid = MakeClsid(0xF29F85E0, 0x4FF9, 0x1068, 0xAB9108002B27B3D9ull);

inline const char kImageStoreName[] = "Data Object Store 000001";
inline const char kImageContentsName[] = "\005Image Contents";
inline const char kImageInfoName[] = "\005Image Info";
inline const char kSummaryInfoName[] = "\005SummaryInformation";
inline const char kGlobalInfoName[] = "\005Global Info";
inline const char kSourceDescriptionName[] = "\005Data Object 000001";  // describes the image of store 000001
inline const char kCompObjName[] = "\001CompObj";
inline const char kSubimageHeaderName[] = "Subimage 0000 Header";
inline const char kSubimageDataName[] = "Subimage 0000 Data";
std::string ResolutionName(unsigned index);  // "Resolution 0003"

// Every subimage stream starts with a 28-byte header (byte order, format, system, class
// id, reserved); offsets inside the stream count from the byte after it.
constexpr uint32_t kStreamHeaderBytes = 28;
constexpr uint32_t kSubimageHeaderFields = 36;  // nine 32-bit fields
constexpr uint32_t kTileEntryBytes = 16;        // offset, size, compression, subtype
constexpr uint32_t kTileSize = 64;

// Image Contents property identifiers. Level-specific ones carry the level's number in
// bits 16..23; JPEG tables carry their table index there.
constexpr uint32_t kPidNumberOfResolutions = 0x01000000;
constexpr uint32_t kPidHighestWidth = 0x01000002;
constexpr uint32_t kPidHighestHeight = 0x01000003;
constexpr uint32_t kPidDisplayHeight = 0x01000004;
constexpr uint32_t kPidDisplayWidth = 0x01000005;
constexpr uint32_t kPidDisplayUnit = 0x01000006;
constexpr uint32_t PidSubimage(uint32_t field, uint32_t level) { return 0x02000000 | field | (level << 16); }
constexpr uint32_t kSubimageWidth = 0, kSubimageHeight = 1, kSubimageColor = 2, kSubimageFormat = 3,
                   kSubimageDecimation = 4;
constexpr uint32_t PidJpegTables(uint32_t index) { return 0x03000001 | (index << 16); }
constexpr uint32_t kPidMaxJpegTableIndex = 0x03000002;
constexpr uint32_t kPidSoftwareName = 0x21000003;  // Image Info

// Property identifiers every set shares, and those of the image view's sets.
constexpr uint32_t kPidCodePage = 0x00000001;
constexpr uint16_t kCodePageUnicode = 1200;
// Global Info: which image description the view shows, and the highest object numbers used.
constexpr uint32_t kPidVisibleOutputs = 0x00010100, kPidMaxImageIndex = 0x00010101,
                   kPidMaxTransformIndex = 0x00010102, kPidMaxOperationIndex = 0x00010103;
// Image description (source or result): the image's identity, its state, the transform that
// made it (0: none, it is the source), the transforms that use it, and its size.
constexpr uint32_t kPidImageId = 0x00010000, kPidImageStatus = 0x00010100, kPidCreator = 0x00010101,
                   kPidUsers = 0x00010102, kPidCachedImageHeight = 0x10000000, kPidCachedImageWidth = 0x10000001;
// Image status: the image exists (is cached) and may not be purged.
constexpr uint32_t kImageStatusCachedNotPurgeable = 0x00010001;
// Summary Information.
constexpr uint32_t kPidSummaryLastSaved = 0x0D, kPidSummaryCreated = 0x0C, kPidSummaryAppName = 0x12;

// Property types.
enum : uint32_t {
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_LPSTR = 30,
  VT_LPWSTR = 31,
  VT_FILETIME = 64,
  VT_BLOB = 65,
  VT_CLSID = 72,
  VT_UI1 = 17,
  VT_VECTOR = 0x1000,
};

// Channel colours in a subimage colour blob: colour space in the high 16 bits, the
// channel's colour in the low ones; bit 15 marks premultiplied channels, bit 31 an
// uncalibrated space.
constexpr uint32_t kSpaceMonochrome = 1, kSpacePhotoYcc = 2, kSpaceNifRgb = 3;
constexpr uint32_t kColorOpacity = 0x7FFE;
constexpr uint32_t kUncalibratedBit = 0x80000000u, kPremultipliedBit = 0x00008000u;

// Tile compression types and the JPEG subtype's bytes.
constexpr uint32_t kCompressNone = 0, kCompressSingleColor = 1, kCompressJpeg = 2;
constexpr uint32_t kUnwrittenTile = 0xFFFFFFFFu;

// A single-colour tile's colour is its subtype, the first channel in the lowest byte. The
// reference library keeps a monochrome tile's value in bits 16..23 instead: it is written in
// both places, and read from the lowest byte unless only the other holds it.
inline uint32_t SingleColorSubtype(const uint8_t* color, uint32_t channels) {
  uint32_t subtype = 0;
  for (uint32_t c = 0; c < channels && c < 4; ++c) subtype |= uint32_t{color[c]} << (8 * c);
  if (channels == 1) subtype |= uint32_t{color[0]} << 16;
  return subtype;
}
inline void SingleColor(uint32_t subtype, uint32_t channels, uint8_t* color) {
  for (uint32_t c = 0; c < channels && c < 4; ++c) color[c] = static_cast<uint8_t>(subtype >> (8 * c));
  if (channels == 1 && color[0] == 0) color[0] = static_cast<uint8_t>(subtype >> 16);
}
constexpr uint32_t JpegSubtype(uint32_t interleave, uint32_t chroma, uint32_t colorConversion, uint32_t table) {
  return table << 24 | colorConversion << 16 | chroma << 8 | interleave;
}

inline uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
inline void Put16(std::vector<uint8_t>& out, uint16_t v) {
  const uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
  out.insert(out.end(), b, b + 2);
}
inline void Put32(std::vector<uint8_t>& out, uint32_t v) {
  const uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                        static_cast<uint8_t>(v >> 24)};
  out.insert(out.end(), b, b + 4);
}

// The 28-byte header that opens a subimage stream.
std::vector<uint8_t> StreamHeader(const Clsid& clsid);

// A storage's CompObj stream: the class id of the storage and its user type name.
std::vector<uint8_t> CompObjStream(const Clsid& clsid, const std::string& userType);

// One property value as stored: its type and the bytes after the type field (to the end
// of the section, so a reader checks each length against the span it holds).
struct PropertyValue {
  uint32_t type = 0;
  const uint8_t* data = nullptr;
  size_t size = 0;
};

// A parsed property set stream (its first section). Parsing checks every offset and count
// against the stream's bytes; the values point into `bytes`.
class PropertySet {
 public:
  // False when the stream is not a property set or an offset or a count leaves it.
  bool Parse(std::vector<uint8_t> stream);
  const PropertyValue* Find(uint32_t id) const;
  // Typed getters: false when missing, of another type, or cut short.
  bool GetU32(uint32_t id, uint32_t* value) const;  // VT_UI4, VT_I4 (not negative) or VT_UI2
  bool GetR4(uint32_t id, float* value) const;
  bool GetBlob(uint32_t id, const uint8_t** data, uint32_t* size) const;
  bool GetU32Vector(uint32_t id, std::vector<uint32_t>* values) const;
  const Clsid& Fmtid() const { return fmtid_; }

 private:
  std::vector<uint8_t> bytes_;
  Clsid fmtid_{};
  std::map<uint32_t, PropertyValue> values_;
};

// Builds a property set stream with one section; the header's class id is the section's
// format id, as the format's own writers have it.
class PropertySetWriter {
 public:
  explicit PropertySetWriter(const Clsid& fmtid) : fmtid_(fmtid) {}
  void AddI2(uint32_t id, int16_t v);
  void AddU32(uint32_t id, uint32_t v);
  void AddI32(uint32_t id, int32_t v);
  void AddR4(uint32_t id, float v);
  void AddBlob(uint32_t id, const std::vector<uint8_t>& blob);
  void AddU32Vector(uint32_t id, const std::vector<uint32_t>& values);
  void AddAnsiString(uint32_t id, const std::string& text);
  void AddWideString(uint32_t id, const std::string& asciiText);
  void AddFileTime(uint32_t id, uint64_t fileTime);
  void AddClsid(uint32_t id, const Clsid& clsid);
  std::vector<uint8_t> Build() const;

 private:
  void Add(uint32_t id, uint32_t type, std::vector<uint8_t> value);
  Clsid fmtid_;
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> properties_;  // id, type + value, padded
};

}  // namespace fpx
