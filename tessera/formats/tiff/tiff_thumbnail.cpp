// The maker block's thumbnail: decoded with the library's JPEG decoder into the target,
// encoded with its JPEG encoder from the image's reduced copy.
#include "formats/tiff/tiff_thumbnail.h"

#include <cmath>
#include <new>

#include "core/object_state.h"
#include "core/thumbnail.h"
#include "formats/format.h"
#include "formats/jpeg/jpeg_decoder.h"
#include "formats/jpeg/jpeg_thumbnail.h"
#include "formats/jpeg/jpeg_thumbnail.h"

namespace tessera::tiff {
namespace {

// Stores the decoded rows in the target, band by band, without progress.
class ThumbnailSink final : public jpeg::RowSink {
 public:
  ThumbnailSink(TesseraClass& target, const jpeg::Decoder& decoder, const tagTes_Transform_Struct& transform)
      : target_(target), decoder_(decoder), transform_(transform) {}

  long Begin(int width, int height, int channels) override {
    // The maker block's thumbnail is written grey or RGB.
    if (channels != 1 && channels != 3) return TES_ERR_NOT_PERMITTED;
    const bool grey = channels == 1;
    width_ = width;
    tagTes_Image_Desc desc{};
    desc.width = width;
    desc.height = height;
    desc.colorSpace = grey ? TES_CS_GRAY8 : TES_CS_RGB24;
    for (int c = 0; c < (grey ? 1 : 3); ++c) desc.bitsPerChannel[c] = 8;
    desc.resolution = decoder_.resolution();
    return DescribeTarget(target_, desc, transform_);
  }

  long Rows(const uint8_t* pixels, ptrdiff_t rowBytes, int first, int rows) override {
    const tagTes_Tile_Desc tile{{0, first, width_, rows}, static_cast<int32_t>(rowBytes), 0};
    return target_.SetData(tile, transform_, const_cast<uint8_t*>(pixels));
  }

 private:
  TesseraClass& target_;
  const jpeg::Decoder& decoder_;
  tagTes_Transform_Struct transform_;
  int width_ = 0;
};

}  // namespace

long ReadThumbnail(TesseraClass& target, InputStream& in, uint64_t offset, uint32_t,
                   const tagTes_Transform_Struct& transform) {
  if (in.Seek(static_cast<long>(offset)) != 0) return in.Error();
  // The thumbnail's own segments do not touch the image's metadata record.
  jpeg::Decoder decoder(in, nullptr);
  ThumbnailSink sink(target, decoder, transform);
  return decoder.Decode(sink);
}

long EncodeThumbnail(const TesseraClass& source, std::vector<uint8_t>& stream) {
  // The JFIF segment carries the image's resolution in whole dots per inch.
  const double dpi = std::round(source.State().store.resolution());
  const int jfifDpi = dpi >= 65535.0 ? 65535 : dpi >= 1.0 ? static_cast<int>(dpi) : 72;
  return jpeg::EncodeThumbnail(source.State(), jfifDpi, jfifDpi, stream);
}

}  // namespace tessera::tiff
