// The JPEG reader: the decoder's header pass for Test, the whole file for Open, and the
// embedded thumbnail (JFXX or Exif IFD1 JPEG, JFIF/JFXX palette or RGB pixels) for
// OpenThumbnail.
#include <cstring>
#include <new>
#include <vector>

#include "formats/jpeg/jpeg.h"
#include "formats/jpeg/jpeg_decoder.h"
#include "formats/orientation.h"

namespace tessera {

namespace {

using jpeg::Decoder;
using jpeg::ThumbnailKind;

// 1 sample per pixel is grey, 3 RGB, 4 CMYK.
tagTes_Image_Desc Describe(int width, int height, int channels, double resolution) {
  tagTes_Image_Desc desc{};
  desc.width = width;
  desc.height = height;
  desc.colorSpace = channels == 1 ? TES_CS_GRAY8 : channels == 4 ? TES_CS_CMYK32 : TES_CS_RGB24;
  for (int c = 0; c < channels; ++c) desc.bitsPerChannel[c] = 8;
  desc.resolution = resolution;
  return desc;
}

// Stores decoded bands into the target image, turned as the file's orientation and the
// caller's transform say, and reports progress after each band.
class TargetSink final : public jpeg::RowSink {
 public:
  TargetSink(TesseraClass& target, const Decoder& decoder, const tagTes_Transform_Struct& transform,
             ProgressProc progress, void* param)
      : target_(target), decoder_(decoder), transform_(transform), progress_(progress), param_(param) {}

  long Begin(int width, int height, int channels) override {
    width_ = width;
    height_ = height;
    store_ = ComposeOrientation(transform_, decoder_.orientation());
    return DescribeTarget(target_, Describe(width, height, channels, decoder_.resolution()), store_);
  }

  long Rows(const uint8_t* pixels, ptrdiff_t rowBytes, int first, int rows) override {
    const tagTes_Tile_Desc tile{{0, first, width_, rows}, static_cast<int32_t>(rowBytes), 0};
    if (const long s = target_.SetData(tile, store_, const_cast<uint8_t*>(pixels))) return s;
    if (progress_ != nullptr)
      if (const long stop = progress_(height_, first + rows, param_)) return stop;
    return 0;
  }

 private:
  TesseraClass& target_;
  const Decoder& decoder_;
  tagTes_Transform_Struct transform_;
  tagTes_Transform_Struct store_{};
  ProgressProc progress_;
  void* param_;
  int width_ = 0, height_ = 0;
};

class JpegReader final : public FormatReader {
 public:
  using FormatReader::FormatReader;

  long Test(tagTes_Image_Desc* desc, short* hasThumbnail) override {
    Decoder decoder(in_, nullptr);
    if (const long s = decoder.ReadHeader()) return s;
    if (desc != nullptr)
      *desc = Describe(decoder.width(), decoder.height(), decoder.channels(), decoder.resolution());
    if (hasThumbnail != nullptr) *hasThumbnail = decoder.thumbnail().kind != ThumbnailKind::kNone ? 1 : 0;
    return 0;
  }

  long Open(ProgressProc progress, void* param, const tagTes_Transform_Struct& transform) override {
    if (target_ == nullptr) return TES_ERR_NO_IMAGE;
    tagTes_Image_Info info{};
    target_->GetImageInfo(&info, sizeof info);
    Decoder decoder(in_, &info);
    TargetSink sink(*target_, decoder, transform, progress, param);
    const long status = decoder.Decode(sink);
    // A file that is not ours leaves the target untouched.
    if (status != TES_ERR_UNKNOWN_FORMAT) target_->SetImageInfo(info);
    return status;
  }

  long OpenThumbnail(ProgressProc progress, void* param, short allowFullImage,
                     const tagTes_Transform_Struct& transform) override {
    if (target_ == nullptr) return TES_ERR_NO_IMAGE;
    tagTes_Image_Info info{};
    target_->GetImageInfo(&info, sizeof info);
    Decoder decoder(in_, &info);
    if (const long s = decoder.ReadAppSegments()) return s;
    target_->SetImageInfo(info);
    const tagTes_Transform_Struct turned = ComposeOrientation(transform, decoder.orientation());
    const jpeg::Thumbnail& thumb = decoder.thumbnail();

    switch (thumb.kind) {
      case ThumbnailKind::kJpeg: {
        if (in_.Seek(thumb.position) != 0) return in_.Error();
        tagTes_Image_Info own{};
        target_->GetImageInfo(&own, sizeof own);
        Decoder inner(in_, &own);
        TargetSink sink(*target_, inner, turned, progress, param);
        const long status = inner.Decode(sink);
        if (status != TES_ERR_UNKNOWN_FORMAT) target_->SetImageInfo(own);
        return status;
      }
      case ThumbnailKind::kPalette:
      case ThumbnailKind::kRgb:
        return ReadPixelThumbnail(thumb, decoder.resolution(), turned, progress, param);
      case ThumbnailKind::kNone:
        break;
    }
    if (allowFullImage == 0) return TES_ERR_NO_THUMBNAIL;
    if (in_.Seek(0) != 0) return in_.Error();
    return Open(progress, param, transform);
  }

 private:
  long ReadPixelThumbnail(const jpeg::Thumbnail& thumb, double resolution, const tagTes_Transform_Struct& turned,
                          ProgressProc progress, void* param) {
    const size_t pixels = static_cast<size_t>(thumb.width) * thumb.height;
    std::vector<uint8_t> rgb, palette, indices;
    try {
      rgb.resize(pixels * 3);
      if (thumb.kind == ThumbnailKind::kPalette) {
        palette.resize(768);
        indices.resize(pixels);
      }
    } catch (const std::bad_alloc&) {
      return TES_ERR_NO_MEMORY;
    }
    if (in_.Seek(thumb.position) != 0) return in_.Error();
    if (thumb.kind == ThumbnailKind::kPalette) {
      if (in_.Read(palette.data(), 768) != 768) return in_.Error();
      if (in_.Read(indices.data(), static_cast<long>(pixels)) != static_cast<long>(pixels)) return in_.Error();
      for (size_t i = 0; i < pixels; ++i) std::memcpy(&rgb[3 * i], &palette[3 * indices[i]], 3);
    } else if (in_.Read(rgb.data(), static_cast<long>(rgb.size())) != static_cast<long>(rgb.size())) {
      return in_.Error();
    }
    if (const long s = DescribeTarget(*target_, Describe(thumb.width, thumb.height, 3, resolution), turned))
      return s;
    const tagTes_Tile_Desc tile{{0, 0, thumb.width, thumb.height}, thumb.width * 3, 0};
    if (const long s = target_->SetData(tile, turned, rgb.data())) return s;
    if (progress != nullptr)
      if (const long stop = progress(thumb.height, thumb.height, param)) return stop;
    return 0;
  }
};

}  // namespace

std::unique_ptr<FormatReader> MakeJpegReader(TesseraClass* target, InputStream& in) {
  return std::unique_ptr<FormatReader>(new (std::nothrow) JpegReader(target, in));
}

}  // namespace tessera
