// Reading FlashPix files. Every size, count and offset taken from the file is checked
// against the bytes the streams hold before it is used; a file that fails a check is
// refused with a status, never read outside a buffer.
#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-input.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "image.h"

namespace fpx {

namespace {

constexpr uint64_t kMaxPropertyStream = 16u << 20;  // property sets are small
constexpr uint32_t kMaxLevels = 29;
constexpr uint32_t kMaxTileSide = 4096;

// Holds one reference to a GLib object and lets go of it when it goes out of scope, also
// when an allocation throws on the way.
template <typename T>
class Ref {
 public:
  explicit Ref(T* object = nullptr) : object_(object) {}
  ~Ref() {
    if (object_) g_object_unref(object_);
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  T* get() const { return object_; }
  T* release() {
    T* object = object_;
    object_ = nullptr;
    return object;
  }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  T* object_;
};

// Reads a whole stream of at most `limit` bytes.
bool ReadAll(GsfInput* in, uint64_t limit, std::vector<uint8_t>* out) {
  const gsf_off_t size = gsf_input_size(in);
  if (size < 0 || static_cast<uint64_t>(size) > limit) return false;
  out->resize(static_cast<size_t>(size));
  if (size == 0) return true;
  if (gsf_input_seek(in, 0, G_SEEK_SET)) return false;  // true on failure
  return gsf_input_read(in, static_cast<size_t>(size), out->data()) != nullptr;
}

GsfInfile* ChildStorage(GsfInfile* parent, const char* name) {
  GsfInput* child = gsf_infile_child_by_name(parent, name);
  if (child == nullptr) return nullptr;
  // Streams of a compound file are infiles too, with no children count (-1).
  if (!GSF_IS_INFILE(child) || gsf_infile_num_children(GSF_INFILE(child)) < 0) {
    g_object_unref(child);
    return nullptr;
  }
  return GSF_INFILE(child);
}

GsfInput* ChildStream(GsfInfile* parent, const char* name) {
  GsfInput* child = gsf_infile_child_by_name(parent, name);
  if (child == nullptr) return nullptr;
  if (GSF_IS_INFILE(child) && gsf_infile_num_children(GSF_INFILE(child)) >= 0) {
    g_object_unref(child);
    return nullptr;
  }
  return child;
}

bool HasChild(GsfInfile* parent, const char* name) {
  GsfInput* child = gsf_infile_child_by_name(parent, name);
  if (child == nullptr) return false;
  g_object_unref(child);
  return true;
}

Clsid ClassIdOf(GsfInfile* storage) {
  Clsid id{};
  if (GSF_IS_INFILE_MSOLE(storage)) gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(storage), id.data());
  return id;
}

// The storage that holds the image: "Data Object Store 000001" of an image-view file, or
// the root of a file that is an image object by itself. Null when there is none.
GsfInfile* FindImageStorage(GsfInfile* root) {
  const Clsid rootId = ClassIdOf(root);
  if (GsfInfile* store = ChildStorage(root, kImageStoreName)) {
    if (HasChild(store, kImageContentsName)) return store;
    g_object_unref(store);
  }
  if (rootId == kImageObjectClsid || HasChild(root, kImageContentsName)) {
    if (!HasChild(root, kImageContentsName)) return nullptr;
    g_object_ref(root);
    return root;
  }
  return nullptr;
}

struct OpenedFile {
  GsfInput* source = nullptr;
  GsfInfile* root = nullptr;
  GsfInfile* store = nullptr;
  ~OpenedFile() {
    if (store) g_object_unref(store);
    if (root) g_object_unref(root);
    if (source) g_object_unref(source);
  }
};

// Whether the compound file's root directory entry stands alone, as the compound file
// format requires: its left and right sibling ids are "no stream" (or 0, the root itself).
// The compound-file library builds an entry for each sibling of the root and, having no
// parent to hang it on, never frees it, so a file whose root has siblings is refused here
// before the library reads it. A file too short for the entry passes: the library refuses
// it itself.
bool RootEntryStandsAlone(const char* fileName) {
  std::FILE* file = std::fopen(fileName, "rb");
  if (file == nullptr) return true;
  uint8_t header[512];
  uint8_t entry[128];
  bool alone = true;
  if (std::fread(header, 1, sizeof header, file) == sizeof header) {
    const auto u16 = [](const uint8_t* p) { return static_cast<uint32_t>(p[0] | p[1] << 8); };
    const auto u32 = [](const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; };
    const uint32_t shift = u16(header + 0x1E);
    const uint64_t at = (uint64_t{u32(header + 0x30)} + 1) << (shift == 12 ? 12 : 9);
    if (at <= static_cast<uint64_t>(LONG_MAX) && std::fseek(file, static_cast<long>(at), SEEK_SET) == 0 &&
        std::fread(entry, 1, sizeof entry, file) == sizeof entry) {
      for (const uint32_t sibling : {u32(entry + 0x44), u32(entry + 0x48)})
        if (sibling != 0xFFFFFFFFu && sibling != 0) alone = false;
    }
  }
  std::fclose(file);
  return alone;
}

// Opens the compound file and finds the image; FPX_FILE_NOT_FOUND for a missing or
// unreadable file, FPX_INVALID_FORMAT_ERROR for one that holds no FlashPix image.
FPXStatus OpenFile(const char* fileName, OpenedFile& f) {
  if (fileName == nullptr) return FPX_FILE_NOT_FOUND;
  GError* err = nullptr;
  f.source = gsf_input_stdio_new(fileName, &err);
  if (err) g_error_free(err);
  if (f.source == nullptr) return FPX_FILE_NOT_FOUND;
  if (!RootEntryStandsAlone(fileName)) return FPX_INVALID_FORMAT_ERROR;
  err = nullptr;
  f.root = gsf_infile_msole_new(f.source, &err);
  if (err) g_error_free(err);
  if (f.root == nullptr) return FPX_INVALID_FORMAT_ERROR;
  f.store = FindImageStorage(f.root);
  return f.store == nullptr ? FPX_INVALID_FORMAT_ERROR : FPX_OK;
}

bool ColorOfChannel(uint32_t stored, FPXComponentColor* color) {
  const uint32_t space = (stored & ~kUncalibratedBit) >> 16;
  const uint32_t which = stored & 0x7FFF;
  if (which == kColorOpacity) {
    *color = ALPHA;
    return true;
  }
  switch (space) {
    case kSpaceMonochrome:
      if (which != 0) return false;
      *color = MONOCHROME;
      return true;
    case kSpacePhotoYcc:
      if (which > 2) return false;
      *color = static_cast<FPXComponentColor>(PHOTO_YCC_Y + which);
      return true;
    case kSpaceNifRgb:
      if (which > 2) return false;
      *color = static_cast<FPXComponentColor>(NIFRGB_R + which);
      return true;
    default:
      return false;
  }
}

}  // namespace

double UnitsPerInch(FPXResolutionUnit unit) {
  switch (unit) {
    case FPX_METERS: return 0.0254;
    case FPX_CENTIMETERS: return 2.54;
    case FPX_MILLIMETERS: return 25.4;
    default: return 1.0;
  }
}

FPXStatus CheckFlashPixFile(const char* fileName) {
  OpenedFile f;
  return OpenFile(fileName, f) == FPX_OK ? FPX_OK : FPX_FILE_NOT_FOUND;
}

ReadImage::~ReadImage() {
  for (Level& level : levels)
    if (level.data) g_object_unref(level.data);
  if (store_) g_object_unref(store_);
  if (root_) g_object_unref(root_);
  if (source_) g_object_unref(source_);
}

FPXStatus ReadImage::Open(const char* fileName) {
  OpenedFile f;
  if (const FPXStatus status = OpenFile(fileName, f)) return status;
  std::swap(source_, f.source);
  std::swap(root_, f.root);
  std::swap(store_, f.store);

  std::vector<uint8_t> bytes;
  {
    const Ref<GsfInput> contentsStream(ChildStream(store_, kImageContentsName));
    if (!contentsStream) return FPX_INVALID_FORMAT_ERROR;
    if (!ReadAll(contentsStream.get(), kMaxPropertyStream, &bytes)) return FPX_FILE_READ_ERROR;
  }
  if (!contents_.Parse(std::move(bytes))) return FPX_INVALID_FORMAT_ERROR;

  uint32_t count = 0;
  if (!contents_.GetU32(kPidNumberOfResolutions, &count) || count < 1 || count > kMaxLevels)
    return FPX_INVALID_FORMAT_ERROR;
  if (!contents_.GetU32(kPidHighestWidth, &width) || !contents_.GetU32(kPidHighestHeight, &height) || width < 1 ||
      height < 1)
    return FPX_INVALID_FORMAT_ERROR;
  if (width > 0x7FFFFFFFu || height > 0x7FFFFFFFu) return FPX_IMAGE_TOO_BIG_ERROR;

  // The colour of the full-size level describes the image.
  const uint32_t top = count - 1;
  const uint8_t* blob = nullptr;
  uint32_t blobSize = 0;
  if (!contents_.GetBlob(PidSubimage(kSubimageColor, top), &blob, &blobSize) || blobSize < 8)
    return FPX_INVALID_FORMAT_ERROR;
  channels = Le32(blob + 4);
  if (channels < 1 || channels > FPX_MAX_COMPONENTS || blobSize < 8 + 4 * channels) return FPX_INVALID_FORMAT_ERROR;
  colorspace = FPXColorspace{};
  colorspace.numberOfComponents = static_cast<short>(channels);
  for (uint32_t c = 0; c < channels; ++c) {
    const uint32_t stored = Le32(blob + 8 + 4 * c);
    FPXComponentColor color;
    if (!ColorOfChannel(stored, &color)) return FPX_INVALID_FORMAT_ERROR;
    if ((stored & kUncalibratedBit) != 0) colorspace.isUncalibrated = 1;
    colorspace.theComponents[c] = {color, DATA_TYPE_UNSIGNED_BYTE};
    channelColors.push_back(stored);
  }
  std::vector<uint32_t> formats;
  if (contents_.GetU32Vector(PidSubimage(kSubimageFormat, top), &formats) && !formats.empty() && formats[0] != VT_UI1)
    return FPX_INVALID_FORMAT_ERROR;  // only 8-bit unsigned channels

  levels.resize(count);
  for (uint32_t i = 0; i < count; ++i)
    if (const FPXStatus status = ReadLevel(i, levels[i])) return status;
  if (levels[top].width != width || levels[top].height != height) return FPX_INVALID_FORMAT_ERROR;

  // Resolution: the default display size says how large the full image is shown.
  float displayWidth = 0;
  uint32_t unit = FPX_INCHES;
  contents_.GetU32(kPidDisplayUnit, &unit);
  if (contents_.GetR4(kPidDisplayWidth, &displayWidth) && std::isfinite(displayWidth) && displayWidth > 0 &&
      unit <= FPX_MILLIMETERS) {
    const double inches = displayWidth / UnitsPerInch(static_cast<FPXResolutionUnit>(unit));
    const double dpi = std::round(width / inches * 100.0) / 100.0;  // kept to a hundredth
    if (std::isfinite(dpi) && dpi > 0) dotsPerInch = dpi;
  }
  return FPX_OK;
}

FPXStatus ReadImage::ReadLevel(unsigned index, Level& level) {
  const std::string name = ResolutionName(index);
  std::vector<uint8_t> bytes;
  {
    const Ref<GsfInfile> storage(ChildStorage(store_, name.c_str()));
    if (!storage) return FPX_FILE_READ_ERROR;
    const Ref<GsfInput> header(ChildStream(storage.get(), kSubimageHeaderName));
    level.data = ChildStream(storage.get(), kSubimageDataName);  // the image lets go of it
    if (!header || level.data == nullptr) return FPX_FILE_READ_ERROR;
    const gsf_off_t headerSize = gsf_input_size(header.get());
    if (!ReadAll(header.get(), static_cast<uint64_t>(std::max<gsf_off_t>(headerSize, 0)), &bytes))
      return FPX_FILE_READ_ERROR;
  }
  const gsf_off_t dataSize = gsf_input_size(level.data);
  if (dataSize < kStreamHeaderBytes) return FPX_INVALID_FORMAT_ERROR;
  level.dataSize = static_cast<uint64_t>(dataSize) - kStreamHeaderBytes;

  if (bytes.size() < kStreamHeaderBytes + kSubimageHeaderFields) return FPX_INVALID_FORMAT_ERROR;
  const uint8_t* h = bytes.data() + kStreamHeaderBytes;
  const uint64_t body = bytes.size() - kStreamHeaderBytes;
  level.width = Le32(h + 4);
  level.height = Le32(h + 8);
  const uint32_t tileCount = Le32(h + 12);
  level.tileWidth = Le32(h + 16);
  level.tileHeight = Le32(h + 20);
  const uint32_t levelChannels = Le32(h + 24);
  const uint64_t tableOffset = Le32(h + 28);
  const uint32_t entryBytes = Le32(h + 32);
  if (level.width < 1 || level.height < 1 || level.width > width || level.height > height)
    return FPX_INVALID_FORMAT_ERROR;
  if (level.tileWidth < 1 || level.tileHeight < 1 || level.tileWidth > kMaxTileSide || level.tileHeight > kMaxTileSide)
    return FPX_INVALID_FORMAT_ERROR;
  if (levelChannels != channels || entryBytes < kTileEntryBytes) return FPX_INVALID_FORMAT_ERROR;
  level.across = (level.width + level.tileWidth - 1) / level.tileWidth;
  level.down = (level.height + level.tileHeight - 1) / level.tileHeight;
  if (uint64_t{level.across} * level.down != tileCount) return FPX_INVALID_FORMAT_ERROR;
  if (tableOffset > body || (body - tableOffset) / entryBytes < tileCount) return FPX_INVALID_FORMAT_ERROR;

  uint32_t property = 0;
  if (contents_.GetU32(PidSubimage(kSubimageWidth, index), &property) && property != level.width)
    return FPX_INVALID_FORMAT_ERROR;
  if (contents_.GetU32(PidSubimage(kSubimageHeight, index), &property) && property != level.height)
    return FPX_INVALID_FORMAT_ERROR;

  try {
    level.tiles.resize(tileCount);
  } catch (const std::bad_alloc&) {
    return FPX_MEMORY_ALLOCATION_FAILED;
  }
  for (uint32_t t = 0; t < tileCount; ++t) {
    const uint8_t* e = h + tableOffset + uint64_t{t} * entryBytes;
    TileEntry& tile = level.tiles[t];
    tile = {Le32(e), Le32(e + 4), Le32(e + 8), Le32(e + 12)};
    if (tile.compression == kCompressSingleColor || tile.offset == kUnwrittenTile) continue;
    if (uint64_t{tile.offset} + tile.size > level.dataSize) return FPX_INVALID_FORMAT_ERROR;
  }
  return FPX_OK;
}

FPXStatus ReadImage::ReadTile(const Level& level, uint32_t index, uint8_t* out, int validWidth, int validHeight) {
  const TileEntry& tile = level.tiles[index];
  const size_t pixels = size_t{level.tileWidth} * level.tileHeight;
  const size_t tileBytes = pixels * channels;
  if (tile.compression == kCompressSingleColor) {
    uint8_t color[FPX_MAX_COMPONENTS];
    SingleColor(tile.subtype, channels, color);
    for (size_t p = 0; p < pixels; ++p) std::memcpy(out + p * channels, color, channels);
    return FPX_OK;
  }
  if (tile.offset == kUnwrittenTile) {  // never written: the background, black, as the reference library has it
    std::memset(out, 0, tileBytes);
    return FPX_OK;
  }
  if (tile.compression != kCompressNone && tile.compression != kCompressJpeg) return FPX_INVALID_COMPRESSION_ERROR;

  compressed_.resize(tile.size);
  if (tile.size > 0) {
    if (gsf_input_seek(level.data, kStreamHeaderBytes + gsf_off_t{tile.offset}, G_SEEK_SET) ||
        gsf_input_read(level.data, tile.size, compressed_.data()) == nullptr)
      return FPX_FILE_READ_ERROR;
  }
  if (tile.compression == kCompressNone) {
    if (tile.size >= tileBytes) {
      std::memcpy(out, compressed_.data(), tileBytes);
    } else if (tile.size == size_t(validWidth) * validHeight * channels) {
      // A writer that stored an edge tile without its padding.
      for (int y = 0; y < validHeight; ++y)
        std::memcpy(out + size_t(y) * level.tileWidth * channels,
                    compressed_.data() + size_t(y) * validWidth * channels, size_t(validWidth) * channels);
    } else {
      return FPX_INVALID_TILE;
    }
    return FPX_OK;
  }

  const uint32_t table = tile.subtype >> 24;
  const bool conversion = ((tile.subtype >> 16) & 0xFF) != 0;
  const uint8_t* tables = nullptr;
  uint32_t tablesSize = 0;
  if (table != 0 && !contents_.GetBlob(PidJpegTables(table), &tables, &tablesSize)) return FPX_MISSING_TABLE;
  if (!decoder_) {
    decoder_.reset(new (std::nothrow) JpegTileDecoder);
    if (!decoder_) return FPX_MEMORY_ALLOCATION_FAILED;
  }
  switch (decoder_->Decode(tables, tablesSize, compressed_.data(), compressed_.size(), static_cast<int>(channels),
                           conversion, static_cast<int>(level.tileWidth), static_cast<int>(level.tileHeight),
                           validWidth, validHeight, out)) {
    case JpegTileDecoder::Result::kOk: return FPX_OK;
    case JpegTileDecoder::Result::kBadTables: return FPX_INVALID_JPEG_TABLE;
    case JpegTileDecoder::Result::kNoMemory: return FPX_MEMORY_ALLOCATION_FAILED;
    default: return FPX_FILE_READ_ERROR;
  }
}

FPXStatus ReadImage::ReadRectangle(unsigned long x0, unsigned long y0, unsigned long x1, unsigned long y1,
                                   unsigned long resolution, const FPXImageDesc& desc) {
  if (resolution >= levels.size()) return FPX_INVALID_RESOLUTION;
  const Level& level = levels[resolution];
  if (x0 > x1 || y0 > y1 || x1 >= level.width || y1 >= level.height) return FPX_BAD_COORDINATES;
  if (desc.numberOfComponents < 1 || desc.numberOfComponents > FPX_MAX_COMPONENTS) return FPX_INVALID_IMAGE_DESC;

  // Which stored channel each of the caller's components takes.
  int source[FPX_MAX_COMPONENTS];
  for (unsigned long k = 0; k < desc.numberOfComponents; ++k) {
    const FPXImageComponentDesc& c = desc.components[k];
    if (c.myColorType.myDataType != DATA_TYPE_UNSIGNED_BYTE || c.horzSubSampFactor != 1 ||
        c.vertSubSampFactor != 1 || c.theData == nullptr)
      return FPX_INVALID_IMAGE_DESC;
    source[k] = -1;
    for (uint32_t s = 0; s < channels; ++s)
      if (colorspace.theComponents[s].myColor == c.myColorType.myColor) source[k] = static_cast<int>(s);
    if (source[k] < 0) return FPX_COLOR_CONVERSION_ERROR;
  }

  // A buffer laid out as the tiles are (every channel, in the stored order, side by side)
  // takes whole rows of a tile at a time.
  bool interleaved = desc.numberOfComponents == channels;
  for (unsigned long k = 0; k < desc.numberOfComponents && interleaved; ++k)
    interleaved = source[k] == static_cast<int>(k) && desc.components[k].columnStride == static_cast<long>(channels) &&
                  desc.components[k].lineStride == desc.components[0].lineStride &&
                  desc.components[k].theData == desc.components[0].theData + k;
  tile_.resize(size_t{level.tileWidth} * level.tileHeight * channels);
  const uint32_t tx0 = static_cast<uint32_t>(x0 / level.tileWidth), tx1 = static_cast<uint32_t>(x1 / level.tileWidth);
  const uint32_t ty0 = static_cast<uint32_t>(y0 / level.tileHeight), ty1 = static_cast<uint32_t>(y1 / level.tileHeight);
  for (uint32_t ty = ty0; ty <= ty1; ++ty) {
    for (uint32_t tx = tx0; tx <= tx1; ++tx) {
      const uint64_t left = uint64_t{tx} * level.tileWidth, topRow = uint64_t{ty} * level.tileHeight;
      const int validWidth = static_cast<int>(std::min<uint64_t>(level.tileWidth, level.width - left));
      const int validHeight = static_cast<int>(std::min<uint64_t>(level.tileHeight, level.height - topRow));
      if (const FPXStatus status = ReadTile(level, ty * level.across + tx, tile_.data(), validWidth, validHeight))
        return status;
      const uint64_t cx0 = std::max<uint64_t>(left, x0), cx1 = std::min<uint64_t>(left + validWidth - 1, x1);
      const uint64_t cy0 = std::max<uint64_t>(topRow, y0), cy1 = std::min<uint64_t>(topRow + validHeight - 1, y1);
      for (uint64_t y = cy0; y <= cy1; ++y) {
        const uint8_t* from = tile_.data() + ((y - topRow) * level.tileWidth + (cx0 - left)) * channels;
        if (interleaved) {
          std::memcpy(desc.components[0].theData + static_cast<int64_t>(y - y0) * desc.components[0].lineStride +
                          static_cast<int64_t>(cx0 - x0) * channels,
                      from, (cx1 - cx0 + 1) * channels);
          continue;
        }
        for (unsigned long k = 0; k < desc.numberOfComponents; ++k) {
          const FPXImageComponentDesc& c = desc.components[k];
          uint8_t* to = c.theData + static_cast<int64_t>(y - y0) * c.lineStride +
                        static_cast<int64_t>(cx0 - x0) * c.columnStride;
          const uint8_t* s = from + source[k];
          for (uint64_t x = cx0; x <= cx1; ++x, s += channels, to += c.columnStride) *to = *s;
        }
      }
    }
  }
  return FPX_OK;
}

FPXStatus ReadImage::CompressionInfo(unsigned long x, unsigned long y, FPXTileCompressionInfo* info) const {
  const Level& level = levels.back();
  if (x >= level.width || y >= level.height) return FPX_BAD_COORDINATES;
  // A tile of one colour or one never written says nothing of how the image is stored: the
  // first tile with data answers for it.
  const auto hasData = [](const TileEntry& t) {
    return t.compression != kCompressSingleColor && t.offset != kUnwrittenTile;
  };
  const TileEntry* chosen = &level.tiles[(y / level.tileHeight) * level.across + x / level.tileWidth];
  if (!hasData(*chosen)) {
    for (const TileEntry& t : level.tiles)
      if (hasData(t)) {
        chosen = &t;
        break;
      }
  }
  *info = FPXTileCompressionInfo{};
  if (chosen->offset == kUnwrittenTile && chosen->compression != kCompressSingleColor) {
    info->compressOption = NONE;  // nothing written at all
    return FPX_OK;
  }
  switch (chosen->compression) {
    case kCompressNone: info->compressOption = NONE; break;
    case kCompressSingleColor: info->compressOption = SINGLE_COLOR; break;
    case kCompressJpeg: info->compressOption = (chosen->subtype >> 24) != 0 ? JPEG_BY_TABLE_GROUP : JPEG_UNSPECIFIED; break;
    default: return FPX_INVALID_COMPRESSION_ERROR;
  }
  info->compressSubtype = static_cast<long>(chosen->subtype);
  return FPX_OK;
}

void ReadImage::ReleaseCache() {
  decoder_.reset();
  std::vector<uint8_t>().swap(compressed_);
  std::vector<uint8_t>().swap(tile_);
}

}  // namespace fpx
