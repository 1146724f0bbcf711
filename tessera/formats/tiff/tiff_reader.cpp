// Reads TIFF files into an image object: the common part (tiff_structure.cpp), then the
// strips in batches of 128 rows, or the JPEG thumbnail of the maker block.
//
// The strips of an image (or of each sample plane, PlanarConfiguration 2) are read as one
// stream of bytes: strip after strip, each from its offset for its byte count, filling
// rows in order; bytes past the image's last row are not read. 16-bit samples of a
// big-endian file are swapped to the image store's little-endian order.
#include <algorithm>
#include <cstring>
#include <new>

#include "formats/orientation.h"
#include "formats/tiff/tiff.h"
#include "formats/tiff/tiff_chunks.h"
#include "formats/tiff/tiff_thumbnail.h"

namespace tessera {
namespace {

constexpr int kBatchRows = 128;

void Swap16(uint8_t* p, size_t bytes) {
  for (size_t i = 0; i + 1 < bytes; i += 2) std::swap(p[i], p[i + 1]);
}


// PhotometricInterpretation 0 (MinIsWhite): 0 is white, so every sample is inverted into the
// image's grey, where 0 is black. 16-bit samples are in the store's order already.
void Invert(uint8_t* p, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(~p[i]);
}

class TiffReader final : public FormatReader {
 public:
  using FormatReader::FormatReader;

  long Test(tagTes_Image_Desc* desc, short* hasThumbnail) override {
    tiff::FileInfo info;
    if (const long s = Common(info)) return s;
    if (desc != nullptr) *desc = Describe(info);
    if (hasThumbnail != nullptr) *hasThumbnail = info.hasThumbnail ? 1 : 0;
    return 0;
  }

  long Open(ProgressProc progress, void* param, const tagTes_Transform_Struct& transform) override {
    tiff::FileInfo info;
    if (const long s = Common(info)) return s;
    return ReadImage(info, progress, param, transform);
  }

  long OpenThumbnail(ProgressProc progress, void* param, short allowFullImage,
                     const tagTes_Transform_Struct& transform) override {
    tiff::FileInfo info;
    if (const long s = Common(info)) return s;
    if (!info.hasThumbnail) {
      if (allowFullImage == 0) return TES_ERR_NO_THUMBNAIL;
      return ReadImage(info, progress, param, transform);
    }
    if (target_ == nullptr) return TES_ERR_NO_IMAGE;
    tagTes_Image_Info record{};
    if (const long s = target_->GetImageInfo(&record, sizeof record)) return s;
    const tagTes_Transform_Struct store = ComposeOrientation(transform, info.orientation);
    if (const long s = tiff::ReadThumbnail(*target_, in_, info.thumbnailOffset, info.thumbnailLength, store)) return s;
    return Finish(info, record);
  }

 private:
  // The header, IFD and maker block with their checks; a file that is not a TIFF is 1013.
  long Common(tiff::FileInfo& info) {
    const long s = tiff::ReadFileInfo(in_, info);
    if (s == tiff::kBadByteOrder || s == tiff::kBadMagic || s == tiff::kNoIfd) return TES_ERR_UNKNOWN_FORMAT;
    return s;
  }

  static tagTes_Image_Desc Describe(const tiff::FileInfo& info) {
    tagTes_Image_Desc desc{};
    desc.width = static_cast<int32_t>(info.width);
    desc.height = static_cast<int32_t>(info.height);
    desc.colorSpace = info.colorSpace;
    for (int i = 0; i < info.channels && i < 4; ++i) desc.bitsPerChannel[i] = static_cast<int16_t>(info.imageBits);
    desc.resolution = info.dotsPerInch;
    return desc;
  }

  // The metadata record gets the maker block's text; it is stored back at the end.
  long Finish(const tiff::FileInfo& info, tagTes_Image_Info& record) {
    if (info.hasMakerText) std::memcpy(record.makerNoteText, info.makerText, sizeof record.makerNoteText);
    return target_->SetImageInfo(record);
  }

  long ReadImage(const tiff::FileInfo& info, ProgressProc progress, void* param,
                 const tagTes_Transform_Struct& transform) {
    if (target_ == nullptr) return TES_ERR_NO_IMAGE;
    tagTes_Image_Info record{};
    if (const long s = target_->GetImageInfo(&record, sizeof record)) return s;
    if (!info.direct) {
      const tagTes_Transform_Struct store = ComposeOrientation(transform, info.orientation);
      if (const long s = tiff::ReadChunks(*target_, in_, info, Describe(info), store, progress, param)) return s;
      return Finish(info, record);
    }

    const int planes = info.Planes();
    const uint64_t rowBytes64 =
        uint64_t{info.width} * info.SampleBytes() * static_cast<uint64_t>(planes == 1 ? info.samples : 1);
    const uint64_t planeBytes = rowBytes64 * info.height;
    const size_t stripsPerPlane = info.stripOffsets.size() / static_cast<size_t>(planes);

    // Every byte that will be read must be in the file: checked before anything is
    // allocated, so a corrupt file cannot ask for a huge buffer.
    const long long length = in_.Length();
    for (int p = 0; p < planes; ++p) {
      uint64_t needed = planeBytes;
      for (size_t s = p * stripsPerPlane; s < (p + 1) * stripsPerPlane && needed > 0; ++s) {
        const uint64_t take = std::min<uint64_t>(info.stripByteCounts[s], needed);
        if (length >= 0 && (info.stripOffsets[s] > static_cast<uint64_t>(length) ||
                            take > static_cast<uint64_t>(length) - info.stripOffsets[s]))
          return TES_ERR_IN_EOF;
        needed -= take;
      }
    }
    if (rowBytes64 > INT32_MAX) return TES_ERR_NO_MEMORY;  // a row the image store cannot take

    const tagTes_Transform_Struct store = ComposeOrientation(transform, info.orientation);
    if (const long s = DescribeTarget(*target_, Describe(info), store)) return s;

    const size_t rowBytes = static_cast<size_t>(rowBytes64);
    const int batchRows = static_cast<int>(std::min<uint32_t>(kBatchRows, info.height));
    std::unique_ptr<uint8_t[]> batch(new (std::nothrow) uint8_t[rowBytes * batchRows]);
    if (!batch) return TES_ERR_NO_MEMORY;

    const int32_t height = static_cast<int32_t>(info.height);
    const long total = static_cast<long>(height) * planes;
    for (int p = 0; p < planes; ++p) {
      int32_t first = 0;             // first row of the batch being gathered
      size_t fill = 0;               // bytes of it gathered so far
      uint64_t left = planeBytes;    // bytes of the plane still to read
      const auto batchBytes = [&] { return rowBytes * static_cast<size_t>(std::min(kBatchRows, height - first)); };
      for (size_t s = p * stripsPerPlane; s < (p + 1) * stripsPerPlane && left > 0; ++s) {
        uint64_t take = std::min<uint64_t>(info.stripByteCounts[s], left);
        if (in_.Seek(static_cast<long>(info.stripOffsets[s])) != 0) return in_.Error();
        while (take > 0) {
          const size_t n = static_cast<size_t>(std::min<uint64_t>(take, batchBytes() - fill));
          if (in_.Read(batch.get() + fill, static_cast<long>(n)) != static_cast<long>(n)) return in_.Error();
          fill += n;
          take -= n;
          left -= n;
          if (fill < batchBytes()) continue;
          // A batch is complete: store it and report.
          const int rows = std::min(kBatchRows, height - first);
          if (info.fillOrder == 2) tiff::ReverseBits(batch.get(), fill);
          if (info.bigEndian && info.SampleBytes() == 2) Swap16(batch.get(), fill);
          if (info.photometric == 0) Invert(batch.get(), fill);
          const uint16_t plane = planes == 1 ? 0 : static_cast<uint16_t>(p + 1);
          const tagTes_Tile_Desc tile{{0, first, static_cast<int32_t>(info.width), rows},
                                      static_cast<int32_t>(rowBytes), plane};
          if (const long st = target_->SetData(tile, store, batch.get())) return st;
          first += rows;
          fill = 0;
          if (progress != nullptr)
            if (const long stop = progress(total, static_cast<long>(p) * height + first, param)) return stop;
        }
      }
    }
    return Finish(info, record);
  }
};

}  // namespace

std::unique_ptr<FormatReader> MakeTiffReader(TesseraClass* target, InputStream& in) {
  return std::unique_ptr<FormatReader>(new (std::nothrow) TiffReader(target, in));
}

}  // namespace tessera
