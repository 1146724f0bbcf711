// The FlashPix reader and writer over the FlashPix library. Every image handle that is
// opened is closed before the operation returns, on the error paths too.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>
#include <vector>

#include "core/object_state.h"
#include "formats/fpx/fpx.h"

namespace tessera {

namespace {

constexpr uint32_t kBandRows = 128;
constexpr unsigned long kTileSide = 64;

// Closes the handle when it goes out of scope; reading handles are prepared first.
class Handle {
 public:
  Handle() = default;
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { Close(); }
  FPXImageHandle** out() { return &h_; }
  FPXImageHandle* get() const { return h_; }
  void set_reading() { reading_ = true; }
  // The close status: for a written image this is where the file is finished.
  FPXStatus Close() {
    if (h_ == nullptr) return FPX_OK;
    if (reading_) FPX_ReleaseImageCache(h_, 0);
    const FPXStatus status = FPX_CloseImage(h_);
    h_ = nullptr;
    return status;
  }

 private:
  FPXImageHandle* h_ = nullptr;
  bool reading_ = false;
};

long Mapped(FPXStatus status) { return FpxStatusToCode(status, errno); }

// The library's description of interleaved 8-bit rows of `channels` samples.
FPXImageDesc RowsDesc(uint8_t* buffer, uint32_t channels, long rowBytes) {
  FPXImageDesc d{};
  d.numberOfComponents = channels;
  for (uint32_t c = 0; c < channels; ++c) {
    FPXImageComponentDesc& k = d.components[c];
    k.myColorType = {channels == 1 ? MONOCHROME : static_cast<FPXComponentColor>(NIFRGB_R + c), DATA_TYPE_UNSIGNED_BYTE};
    k.horzSubSampFactor = 1;
    k.vertSubSampFactor = 1;
    k.columnStride = static_cast<long>(channels);
    k.lineStride = rowBytes;
    k.theData = buffer + c;
  }
  return d;
}

FPXColorspace SpaceFor(uint32_t channels) {
  FPXColorspace cs{};
  cs.isUncalibrated = 0;
  cs.numberOfComponents = static_cast<short>(channels);
  for (uint32_t c = 0; c < channels; ++c)
    cs.theComponents[c] = {channels == 1 ? MONOCHROME : static_cast<FPXComponentColor>(NIFRGB_R + c),
                           DATA_TYPE_UNSIGNED_BYTE};
  return cs;
}

// 1 for monochrome, 3 for red, green, blue in that order; 0 for any other colour space.
uint32_t ChannelsOf(const FPXColorspace& cs) {
  if (cs.numberOfComponents == 1 && cs.theComponents[0].myColor == MONOCHROME) return 1;
  if (cs.numberOfComponents == 3 && cs.theComponents[0].myColor == NIFRGB_R &&
      cs.theComponents[1].myColor == NIFRGB_G && cs.theComponents[2].myColor == NIFRGB_B)
    return 3;
  return 0;
}

class FpxReader final : public NamedFormatReader {
 public:
  using NamedFormatReader::NamedFormatReader;

  long Test(const char* path, tagTes_Image_Desc* desc, short* hasThumbnail, bool* jpegCompressed) override {
    Handle h;
    if (const long status = OpenFile(path, h)) return status;
    if (desc != nullptr) *desc = Describe(width_, height_);
    if (hasThumbnail != nullptr) *hasThumbnail = 1;
    if (jpegCompressed != nullptr) *jpegCompressed = jpeg_;
    return TES_OK;
  }

  long Open(const char* path, ProgressProc progress, void* param, const tagTes_Transform_Struct& transform) override {
    Handle h;
    if (const long status = OpenFile(path, h)) return status;
    return ReadLevel(h, levels_ - 1, width_, height_, progress, param, transform);
  }

  long OpenThumbnail(const char* path, ProgressProc progress, void* param, short /*allowFullImage*/,
                     const tagTes_Transform_Struct& transform) override {
    // A FlashPix file always holds its reduced levels: the full image is never needed.
    Handle h;
    if (const long status = OpenFile(path, h)) return status;
    const FpxLevelChoice choice = ChooseFpxThumbnailLevel(levels_, width_, height_);
    return ReadLevel(h, choice.level, choice.width, choice.height, progress, param, transform);
  }

 private:
  long OpenFile(const char* path, Handle& h) {
    char* name = const_cast<char*>(path);
    const FPXStatus check = FPX_IsFlashPixFile(name);
    if (check == FPX_FILE_NOT_FOUND) return TES_ERR_UNKNOWN_FORMAT;
    if (check != FPX_OK) return Mapped(check);
    FPX_SetUnit(FPX_INCHES);
    unsigned long width = 0, height = 0, tileWidth = 0, tileHeight = 0;
    FPXColorspace space{};
    if (const FPXStatus s = FPX_OpenImageByFilename(name, nullptr, &width, &height, &tileWidth, &tileHeight, &space,
                                                    h.out()))
      return Mapped(s);
    h.set_reading();
    channels_ = ChannelsOf(space);
    if (channels_ == 0) return TES_ERR_FPX_COLOR_SPACE;
    if (width > 0x7FFFFFFFul || height > 0x7FFFFFFFul) return Mapped(FPX_IMAGE_TOO_BIG_ERROR);
    width_ = static_cast<uint32_t>(width);
    height_ = static_cast<uint32_t>(height);
    unsigned short levels = 0;
    if (const FPXStatus s = FPX_GetNumberOfResolutions(h.get(), &levels)) return Mapped(s);
    if (levels == 0) return Mapped(FPX_INVALID_RESOLUTION);
    levels_ = levels;
    FPXTileCompressionInfo info{};
    if (const FPXStatus s = FPX_GetImageCompressionInfo(h.get(), 0, 0, &info)) return Mapped(s);
    jpeg_ = info.compressOption == JPEG_UNSPECIFIED || info.compressOption == JPEG_BY_QUALITY ||
            info.compressOption == JPEG_BY_TABLE_GROUP;
    float resolution = 0;
    if (const FPXStatus s = FPX_GetImageResolution(h.get(), &resolution)) return Mapped(s);
    resolution_ = resolution;
    return TES_OK;
  }

  tagTes_Image_Desc Describe(uint32_t width, uint32_t height) const {
    tagTes_Image_Desc d{};
    d.width = static_cast<int32_t>(width);
    d.height = static_cast<int32_t>(height);
    d.colorSpace = channels_ == 1 ? TES_CS_GRAY8 : TES_CS_RGB24;
    for (uint32_t c = 0; c < channels_; ++c) d.bitsPerChannel[c] = 8;
    d.resolution = resolution_;
    return d;
  }

  long ReadLevel(Handle& h, unsigned level, uint32_t width, uint32_t height, ProgressProc progress, void* param,
                 const tagTes_Transform_Struct& transform) {
    if (target_ == nullptr) return TES_ERR_NO_IMAGE;
    const long rowBytes = static_cast<long>(width) * channels_;
    std::vector<uint8_t> band;
    try {
      band.resize(static_cast<size_t>(rowBytes) * std::min(kBandRows, height));
    } catch (const std::bad_alloc&) {
      return TES_ERR_NO_MEMORY;
    }
    if (const long status = DescribeTarget(*target_, Describe(width, height), transform)) return status;
    for (uint32_t y = 0; y < height; y += kBandRows) {
      const uint32_t rows = std::min(kBandRows, height - y);
      FPXImageDesc desc = RowsDesc(band.data(), channels_, rowBytes);
      if (const FPXStatus s = FPX_ReadImageRectangle(h.get(), 0, y, width - 1, y + rows - 1, level, &desc))
        return Mapped(s);
      tagTes_Tile_Desc tile{};
      tile.rect = {0, static_cast<int32_t>(y), static_cast<int32_t>(width), static_cast<int32_t>(rows)};
      tile.rowBytes = rowBytes;
      tile.plane = 0;
      if (const long status = target_->SetData(tile, transform, band.data())) return status;
      if (progress != nullptr)
        if (const long stop = progress(static_cast<long>(height), static_cast<long>(y), param)) return stop;
    }
    h.Close();
    // FlashPix colours are NIF RGB, which is sRGB.
    target_->State().store.setSrgb(true);
    return TES_OK;
  }

  uint32_t width_ = 0, height_ = 0, channels_ = 0;
  unsigned levels_ = 0;
  bool jpeg_ = false;
  double resolution_ = 72.0;
};

class FpxWriter final : public NamedFormatWriter {
 public:
  using NamedFormatWriter::NamedFormatWriter;

  long Write(const tagTes_File_Spec& spec, long option, ProgressProc progress, void* param,
             short /*writeThumbnail*/) override {
    tagTes_Image_Desc desc{};
    if (const long status = source_.GetImageDesc(&desc)) return status;
    if (desc.colorSpace != TES_CS_GRAY8 && desc.colorSpace != TES_CS_RGB24) return TES_ERR_CANNOT_STORE;
    if (desc.width <= 0 || desc.height <= 0) return TES_ERR_NO_IMAGE;
    // File type 128 takes its quality level from the option; a level outside 1..5 has no
    // quality factor and is refused before the file is created.
    const bool jpeg = (spec.format & 0xFFFF) == TES_FILE_FPX_JPEG;
    const int quality = jpeg ? FpxQualityFactor(option) : 0;
    if (jpeg && quality < 0) return TES_ERR_CANNOT_STORE;

    const uint32_t channels = desc.colorSpace == TES_CS_GRAY8 ? 1 : 3;
    const uint32_t width = static_cast<uint32_t>(desc.width), height = static_cast<uint32_t>(desc.height);
    const long rowBytes = static_cast<long>(width) * channels;
    std::vector<uint8_t> band;
    try {
      band.resize(static_cast<size_t>(rowBytes) * std::min(kBandRows, height));
    } catch (const std::bad_alloc&) {
      return TES_ERR_NO_MEMORY;
    }

    FPX_SetUnit(FPX_INCHES);
    Handle h;
    const FPXBackground background{0, 0, 0, 0};
    if (const FPXStatus s = FPX_CreateImageByFilename(const_cast<char*>(spec.path), width, height, kTileSide, kTileSide,
                                                      SpaceFor(channels), background, jpeg ? JPEG_BY_QUALITY : NONE,
                                                      h.out()))
      return Mapped(s);
    if (const FPXStatus s = FPX_SetImageResolution(h.get(), static_cast<float>(desc.resolution))) return Mapped(s);
    if (jpeg)
      if (const FPXStatus s = FPX_SetJPEGCompression(h.get(), static_cast<unsigned short>(quality))) return Mapped(s);

    for (uint32_t y = 0; y < height; y += kBandRows) {
      const uint32_t rows = std::min(kBandRows, height - y);
      tagTes_Tile_Desc tile{};
      tile.rect = {0, static_cast<int32_t>(y), static_cast<int32_t>(width), static_cast<int32_t>(rows)};
      tile.rowBytes = rowBytes;
      tile.plane = 0;
      if (const long status = source_.GetData(tile, band.data())) return Abandon(h, spec.path, status);
      FPXImageDesc d = RowsDesc(band.data(), channels, rowBytes);
      if (const FPXStatus s = FPX_WriteImageRectangle(h.get(), 0, y, width - 1, y + rows - 1, &d)) return Mapped(s);
      if (progress != nullptr)
        if (const long stop = progress(static_cast<long>(height), static_cast<long>(y), param))
          return Abandon(h, spec.path, stop);
    }
    return Mapped(h.Close());
  }

 private:
  // A write given up here (the pixels could not be had, or the call-back stopped it) would
  // leave a file whose missing rows the library fills with the background: it is closed and
  // removed. A failure of the library's own is the library's to clean up.
  static long Abandon(Handle& h, const char* path, long status) {
    h.Close();
    std::error_code error;
    if (std::filesystem::is_regular_file(path, error)) std::filesystem::remove(path, error);
    return status;
  }
};

}  // namespace

std::unique_ptr<NamedFormatReader> MakeFpxReader(TesseraClass* target) {
  return std::unique_ptr<NamedFormatReader>(new (std::nothrow) FpxReader(target));
}

std::unique_ptr<NamedFormatWriter> MakeFpxWriter(const TesseraClass& source) {
  return std::unique_ptr<NamedFormatWriter>(new (std::nothrow) FpxWriter(source));
}

}  // namespace tessera
