// Writing FlashPix files. Rows arrive from the top; each level keeps one band of 64 rows
// and hands every pair of rows, reduced to half width, to the level below, so the whole
// pyramid is built in one pass. The full-size level's tiles go to the file as they are
// made; the reduced levels (a third of the full size together) wait in memory until the
// end, because the compound-file writer takes one growing stream at a time.
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-output.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <random>
#include <string>

#include "image.h"

namespace fpx {

namespace {

GsfOutfile* NewStorage(GsfOutfile* parent, const std::string& name, const Clsid& clsid) {
  GsfOutput* child = gsf_outfile_new_child(parent, name.c_str(), TRUE);
  if (child == nullptr) return nullptr;
  gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(child), clsid.data());
  return GSF_OUTFILE(child);
}

uint32_t LevelCount(uint32_t width, uint32_t height) {
  uint32_t count = 1;
  for (uint32_t side = std::max(width, height); side > kTileSize; side = (side + 1) / 2) ++count;
  return count;
}

// A channel's colour as the subimage colour blob stores it. With an alpha channel the
// colour channels are marked premultiplied, as the format has them.
uint32_t StoredColor(FPXComponentColor color, bool withAlpha, bool uncalibrated) {
  uint32_t stored;
  if (color == MONOCHROME)
    stored = kSpaceMonochrome << 16;
  else if (color == ALPHA)
    stored = kSpaceNifRgb << 16 | kColorOpacity;
  else
    stored = kSpaceNifRgb << 16 | uint32_t(color - NIFRGB_R);
  if (withAlpha && color != ALPHA) stored |= kPremultipliedBit;
  if (uncalibrated) stored |= kUncalibratedBit;
  return stored;
}

// A random class id (version 4) that names this image.
Clsid NewImageId() {
  std::random_device random;
  Clsid id{};
  for (size_t i = 0; i < id.size(); i += 4) {
    const uint32_t r = random();
    for (size_t b = 0; b < 4; ++b) id[i + b] = static_cast<uint8_t>(r >> (8 * b));
  }
  id[7] = static_cast<uint8_t>((id[7] & 0x0F) | 0x40);  // stored byte order: the third field's high byte
  id[8] = static_cast<uint8_t>((id[8] & 0x3F) | 0x80);
  return id;
}

uint64_t FileTimeNow() {
  return (static_cast<uint64_t>(std::time(nullptr)) + 11644473600ull) * 10000000ull;
}

}  // namespace

// A regular file is written under a name of its own beside the target and takes the
// target's name only when it is complete, so that a write that fails leaves neither a partial
// file nor a lost earlier one. A device or a pipe is written in place.
FPXStatus WriteImage::OpenTarget(const char* fileName) {
  path_ = fileName;
  struct stat target;
  const bool exists = ::stat(fileName, &target) == 0;
  if (exists && !S_ISREG(target.st_mode)) {
    file_ = std::fopen(fileName, "wb");
    return file_ != nullptr ? FPX_OK : FPX_FILE_CREATE_ERROR;
  }
  struct stat link;
  if (exists && ::lstat(fileName, &link) == 0 && S_ISLNK(link.st_mode)) {
    // A link stays a link: the file it names is the one replaced.
    if (char* real = ::realpath(fileName, nullptr)) {
      path_ = real;
      std::free(real);
    }
  }
  static std::atomic<unsigned> counter{0};  // images may be written from several threads
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string temporary = path_ + ".part" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      break;
    }
    if (exists) (void)::fchmod(fd, target.st_mode & 07777);  // the new file keeps the old one's mode
    file_ = ::fdopen(fd, "wb");
    if (file_ == nullptr) {
      const int error = errno;
      ::close(fd);
      ::unlink(temporary.c_str());
      errno = error;
      return FPX_FILE_CREATE_ERROR;
    }
    temporary_ = std::move(temporary);
    return FPX_OK;
  }
  // The folder takes no new name (the file itself may still be writable): written in place,
  // and removed if the write fails.
  file_ = std::fopen(fileName, "wb");
  if (file_ == nullptr) return FPX_FILE_CREATE_ERROR;
  removeOnFailure_ = true;
  return FPX_OK;
}

WriteImage::~WriteImage() {
  if (!finished_) Finish();
}

bool WriteImage::Fail(FPXStatus status) {
  if (!failed_) {
    failed_ = true;
    failure_ = status;
    errno_ = status == FPX_MEMORY_ALLOCATION_FAILED ? ENOMEM : errno;
  }
  return false;
}

bool WriteImage::WriteTo(GsfOutput* out, const uint8_t* data, size_t size) {
  errno = 0;
  if (size == 0 || gsf_output_write(out, size, data)) return true;
  return Fail();
}

FPXStatus WriteImage::Create(const char* fileName, uint32_t width, uint32_t height, const FPXColorspace& colorspace,
                             const FPXBackground& background, FPXCompressionOption compression) {
  width_ = width;
  height_ = height;
  channels_ = static_cast<uint32_t>(colorspace.numberOfComponents);
  const signed long values[4] = {background.color1_value, background.color2_value, background.color3_value,
                                 background.color4_value};
  for (int c = 0; c < 4; ++c) background_[c] = static_cast<uint8_t>(std::clamp<signed long>(values[c], 0, 255));
  compression_ = compression;

  // Everything the rows need is allocated before the file is made, so that a lack of
  // memory leaves no file behind and nothing to finish.
  try {
    for (uint32_t c = 0; c < channels_; ++c)
      colors_.push_back(
          StoredColor(colorspace.theComponents[c].myColor, channels_ == 4, colorspace.isUncalibrated != 0));
    levels_.resize(LevelCount(width, height));
    uint32_t w = width, h = height;
    for (Level& level : levels_) {
      level.width = w;
      level.height = h;
      level.across = (w + kTileSize - 1) / kTileSize;
      level.band.resize(size_t{level.across} * kTileSize * kTileSize * channels_);
      level.pending.resize(size_t{w} * channels_);
      level.incoming.resize(size_t{w} * channels_);
      level.tiles.reserve(size_t{level.across} * ((h + kTileSize - 1) / kTileSize));
      w = (w + 1) / 2;
      h = (h + 1) / 2;
    }
    tileScratch_.resize(size_t{kTileSize} * kTileSize * channels_);
    sums_.resize(size_t{width} * channels_);
    row_.resize(size_t{width} * channels_);
  } catch (const std::bad_alloc&) {
    finished_ = true;
    return FPX_MEMORY_ALLOCATION_FAILED;
  } catch (const std::length_error&) {
    finished_ = true;
    return FPX_MEMORY_ALLOCATION_FAILED;
  }
  std::vector<uint8_t> header;
  try {
    header = StreamHeader(kSubimageDataClsid);
  } catch (const std::bad_alloc&) {
    finished_ = true;
    return FPX_MEMORY_ALLOCATION_FAILED;
  }

  try {
    imageId_ = NewImageId();
  } catch (const std::exception&) {  // no source of randomness: any id names the image
    imageId_ = {};
  }
  FPXStatus opened = FPX_OK;
  try {
    opened = OpenTarget(fileName);
  } catch (const std::bad_alloc&) {  // before anything is created: the names are made first
    opened = FPX_MEMORY_ALLOCATION_FAILED;
  }
  if (opened != FPX_OK) {
    finished_ = true;
    return opened;
  }
  sink_ = gsf_output_stdio_new_FILE(fileName, file_, TRUE);
  if (sink_ != nullptr) root_ = gsf_outfile_msole_new(sink_);
  if (root_ != nullptr) {
    gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(root_), kImageViewClsid.data());
    store_ = NewStorage(root_, kImageStoreName, kImageObjectClsid);
  }
  if (store_ != nullptr)
    fullStorage_ = NewStorage(store_, ResolutionName(static_cast<unsigned>(levels_.size() - 1)), kResolutionClsid);
  if (fullStorage_ != nullptr) fullData_ = gsf_outfile_new_child(fullStorage_, kSubimageDataName, FALSE);
  if (fullData_ == nullptr) {
    Fail(FPX_OBJECT_CREATION_FAILED);
    return FPX_OBJECT_CREATION_FAILED;
  }
  if (!WriteTo(fullData_, header.data(), header.size())) return FPX_FILE_WRITE_ERROR;
  return FPX_OK;
}

FPXStatus WriteImage::SetQuality(unsigned quality) {
  if (quality > 100) return FPX_INVALID_COMPRESSION_ERROR;
  if (compression_ != JPEG_UNSPECIFIED && compression_ != JPEG_BY_QUALITY) return FPX_INVALID_COMPRESSION_ERROR;
  if (encoder_) return FPX_ERROR;  // the tables are already in use
  quality_ = quality;
  return FPX_OK;
}

FPXStatus WriteImage::WriteRows(unsigned long x0, unsigned long y0, unsigned long x1, unsigned long y1,
                                const FPXImageDesc& desc) {
  if (failed_) return failure_;
  if (x0 > x1 || y0 > y1 || x1 >= width_ || y1 >= height_) return FPX_BAD_COORDINATES;
  if (x0 != 0 || x1 != width_ - 1 || y0 != rowsWritten_) return FPX_UNIMPLEMENTED_FUNCTION;
  if (desc.numberOfComponents != channels_) return FPX_INVALID_IMAGE_DESC;
  const FPXImageComponentDesc* byChannel[FPX_MAX_COMPONENTS] = {};
  for (unsigned long k = 0; k < desc.numberOfComponents; ++k) {
    const FPXImageComponentDesc& c = desc.components[k];
    if (c.myColorType.myDataType != DATA_TYPE_UNSIGNED_BYTE || c.horzSubSampFactor != 1 ||
        c.vertSubSampFactor != 1 || c.theData == nullptr)
      return FPX_INVALID_IMAGE_DESC;
    const uint32_t wanted = StoredColor(c.myColorType.myColor, channels_ == 4, false);
    for (uint32_t s = 0; s < channels_; ++s)
      if ((colors_[s] & ~kUncalibratedBit) == wanted) byChannel[s] = &c;
  }
  for (uint32_t s = 0; s < channels_; ++s)
    if (byChannel[s] == nullptr) return FPX_COLOR_CONVERSION_ERROR;
  // Rows laid out as the file stores them (channels side by side, in the stored order) are
  // taken whole.
  bool interleaved = true;
  for (uint32_t s = 0; s < channels_ && interleaved; ++s)
    interleaved = byChannel[s]->columnStride == static_cast<long>(channels_) &&
                  byChannel[s]->lineStride == byChannel[0]->lineStride &&
                  byChannel[s]->theData == byChannel[0]->theData + s;

  try {
    for (unsigned long y = y0; y <= y1; ++y) {
      if (interleaved) {
        if (!PushRow(0, byChannel[0]->theData + static_cast<int64_t>(y - y0) * byChannel[0]->lineStride))
          return failure_;
        ++rowsWritten_;
        continue;
      }
      for (uint32_t s = 0; s < channels_; ++s) {
        const FPXImageComponentDesc& c = *byChannel[s];
        const uint8_t* from = c.theData + static_cast<int64_t>(y - y0) * c.lineStride;
        uint8_t* to = row_.data() + s;
        for (uint32_t x = 0; x < width_; ++x, from += c.columnStride, to += channels_) *to = *from;
      }
      if (!PushRow(0, row_.data())) return failure_;
      ++rowsWritten_;
    }
  } catch (const std::bad_alloc&) {
    // A band may be half made: the image cannot be finished any more.
    Fail(FPX_MEMORY_ALLOCATION_FAILED);
    return failure_;
  }
  return FPX_OK;
}

bool WriteImage::PushRow(size_t index, const uint8_t* row) {
  Level& level = levels_[index];
  const size_t rowBytes = size_t{level.width} * channels_;
  const size_t bandRowBytes = size_t{level.across} * kTileSize * channels_;
  uint8_t* to = level.band.data() + level.bandRows * bandRowBytes;
  std::memcpy(to, row, rowBytes);
  for (size_t x = rowBytes; x < bandRowBytes; x += channels_)  // pad with the last pixel
    std::memcpy(to + x, row + rowBytes - channels_, channels_);
  if (++level.bandRows == kTileSize && !FlushBand(index)) return false;

  if (index + 1 == levels_.size()) return true;
  if (!level.hasPending) {
    std::memcpy(level.pending.data(), row, rowBytes);
    level.hasPending = true;
    return true;
  }
  level.hasPending = false;
  return Reduce(index, level.pending.data(), row);
}

namespace {

// One reduced row from two: the sums of the pairs of rows (a run the compiler makes wide;
// the rows are only read, so they may be one row), then of the pairs of columns, rounded; a
// missing last column repeats the one before it.
template <size_t N>
void ReduceRows(const uint8_t* __restrict a, const uint8_t* __restrict b, uint32_t width, uint16_t* __restrict sums,
                uint8_t* __restrict reduced) {
  const size_t bytes = size_t{width} * N;
  for (size_t j = 0; j < bytes; ++j) sums[j] = static_cast<uint16_t>(a[j] + b[j]);
  const uint32_t pairs = width / 2;  // columns with a right-hand neighbour
  for (uint32_t i = 0; i < pairs; ++i) {
    const uint16_t* s = sums + size_t{2} * N * i;
    for (size_t c = 0; c < N; ++c) reduced[N * i + c] = static_cast<uint8_t>((s[c] + s[N + c] + 2u) >> 2);
  }
  if (width % 2 != 0) {
    const uint16_t* s = sums + size_t{width - 1} * N;
    for (size_t c = 0; c < N; ++c) reduced[N * pairs + c] = static_cast<uint8_t>((2u * s[c] + 2u) >> 2);
  }
}

}  // namespace

bool WriteImage::Reduce(size_t index, const uint8_t* a, const uint8_t* b) {
  // 2 x 2 box filter.
  const Level& level = levels_[index];
  uint8_t* reduced = levels_[index + 1].incoming.data();
  uint16_t* sums = sums_.data();
  switch (channels_) {
    case 1: ReduceRows<1>(a, b, level.width, sums, reduced); break;
    case 3: ReduceRows<3>(a, b, level.width, sums, reduced); break;
    default: ReduceRows<4>(a, b, level.width, sums, reduced); break;
  }
  return PushRow(index + 1, reduced);
}

bool WriteImage::FlushBand(size_t index) {
  Level& level = levels_[index];
  const size_t bandRowBytes = size_t{level.across} * kTileSize * channels_;
  for (uint32_t y = level.bandRows; y < kTileSize; ++y)  // pad with the last row
    std::memcpy(level.band.data() + y * bandRowBytes, level.band.data() + (level.bandRows - 1) * bandRowBytes,
                bandRowBytes);
  level.bandRows = 0;

  const size_t tileRowBytes = size_t{kTileSize} * channels_;
  const bool jpeg = compression_ == JPEG_UNSPECIFIED || compression_ == JPEG_BY_QUALITY ||
                    compression_ == JPEG_BY_TABLE_GROUP;
  if (jpeg && !encoder_) {
    encoder_.reset(new (std::nothrow) JpegTileEncoder(static_cast<int>(channels_), static_cast<int>(quality_)));
    if (!encoder_) return Fail(FPX_MEMORY_ALLOCATION_FAILED);
    if (!encoder_->ok()) return Fail(encoder_->outOfMemory() ? FPX_MEMORY_ALLOCATION_FAILED : FPX_FILE_WRITE_ERROR);
  }
  // JPEG tiles are compressed a band at a time, taken from the band where they lie.
  if (jpeg && !encoder_->EncodeBand(level.band.data(), bandRowBytes, level.across, encoded_, tileEnds_))
    return Fail(encoder_->outOfMemory() ? FPX_MEMORY_ALLOCATION_FAILED : FPX_FILE_WRITE_ERROR);
  for (uint32_t tx = 0; tx < level.across; ++tx) {
    const uint8_t* inBand = level.band.data() + tx * tileRowBytes;
    if (!jpeg)
      for (uint32_t y = 0; y < kTileSize; ++y)
        std::memcpy(tileScratch_.data() + y * tileRowBytes, inBand + y * bandRowBytes, tileRowBytes);
    TileEntry entry;
    const uint8_t* bytes = tileScratch_.data();
    size_t size = tileScratch_.size();
    if (compression_ == SINGLE_COLOR &&
        std::all_of(tileScratch_.begin(), tileScratch_.end(), [&, i = size_t{0}](uint8_t v) mutable {
          return v == tileScratch_[i++ % channels_];
        })) {
      entry.compression = kCompressSingleColor;
      entry.subtype = SingleColorSubtype(tileScratch_.data(), channels_);
      level.tiles.push_back(entry);
      continue;
    }
    if (jpeg) {
      const size_t start = tx == 0 ? 0 : tileEnds_[tx - 1];
      bytes = encoded_.data() + start;
      size = tileEnds_[tx] - start;
      entry.compression = kCompressJpeg;
      entry.subtype = JpegSubtype(0, encoder_->ChromaSubsampling(), channels_ == 3 ? 1 : 0, 1);
    }
    if (level.dataSize + size > 0xFFFFFFFFull) {  // tile offsets are 32-bit
      errno = EFBIG;
      return Fail();
    }
    entry.offset = static_cast<uint32_t>(level.dataSize);
    entry.size = static_cast<uint32_t>(size);
    if (index == 0) {
      if (!WriteTo(fullData_, bytes, size)) return false;
    } else {
      try {
        level.data.insert(level.data.end(), bytes, bytes + size);
      } catch (const std::bad_alloc&) {
        return Fail(FPX_MEMORY_ALLOCATION_FAILED);
      }
    }
    level.dataSize += size;
    level.tiles.push_back(entry);
  }
  return true;
}

bool WriteImage::FinishPyramid() {
  // Rows never written take the background colour.
  for (uint32_t x = 0; x < width_; ++x) std::memcpy(row_.data() + size_t{x} * channels_, background_, channels_);
  while (rowsWritten_ < height_) {
    if (!PushRow(0, row_.data())) return false;
    ++rowsWritten_;
  }
  for (size_t k = 0; k < levels_.size(); ++k) {
    Level& level = levels_[k];
    if (level.hasPending && k + 1 < levels_.size()) {  // an odd last row pairs with itself
      level.hasPending = false;
      if (!Reduce(k, level.pending.data(), level.pending.data())) return false;
    }
    if (level.bandRows > 0 && !FlushBand(k)) return false;
  }
  return true;
}

bool WriteImage::StoreLevel(size_t index) {
  Level& level = levels_[index];
  const unsigned number = static_cast<unsigned>(levels_.size() - 1 - index);
  // Every buffer is made before the storage is, so that nothing is left open if one fails.
  const std::vector<uint8_t> head = StreamHeader(kSubimageDataClsid);
  std::vector<uint8_t> header = StreamHeader(kSubimageHeaderClsid);
  header.reserve(header.size() + kSubimageHeaderFields + level.tiles.size() * kTileEntryBytes);
  Put32(header, kSubimageHeaderFields);
  Put32(header, level.width);
  Put32(header, level.height);
  Put32(header, static_cast<uint32_t>(level.tiles.size()));
  Put32(header, kTileSize);
  Put32(header, kTileSize);
  Put32(header, channels_);
  Put32(header, kSubimageHeaderFields);  // the tile table follows the fields
  Put32(header, kTileEntryBytes);
  for (const TileEntry& t : level.tiles) {
    Put32(header, t.offset);
    Put32(header, t.size);
    Put32(header, t.compression);
    Put32(header, t.subtype);
  }
  const std::string name = ResolutionName(number);

  GsfOutfile* storage = index == 0 ? fullStorage_ : NewStorage(store_, name, kResolutionClsid);
  if (storage == nullptr) return Fail();
  bool ok = true;
  if (index != 0) {
    GsfOutput* data = gsf_outfile_new_child(storage, kSubimageDataName, FALSE);
    ok = data != nullptr && WriteTo(data, head.data(), head.size()) && WriteTo(data, level.data.data(), level.data.size());
    if (data != nullptr) {
      if (!gsf_output_close(data)) ok = Fail();
      g_object_unref(data);
    }
    std::vector<uint8_t>().swap(level.data);
  }
  GsfOutput* out = ok ? gsf_outfile_new_child(storage, kSubimageHeaderName, FALSE) : nullptr;
  ok = ok && out != nullptr && WriteTo(out, header.data(), header.size());
  if (out != nullptr) {
    if (!gsf_output_close(out)) ok = Fail();
    g_object_unref(out);
  }
  if (!gsf_output_close(GSF_OUTPUT(storage))) ok = Fail();
  g_object_unref(storage);
  if (index == 0) fullStorage_ = nullptr;
  return ok;
}

bool WriteImage::StoreProperties() {
  PropertySetWriter contents(kImageContentsFmtid);
  contents.AddI2(kPidCodePage, static_cast<int16_t>(kCodePageUnicode));
  const uint32_t count = static_cast<uint32_t>(levels_.size());
  contents.AddU32(kPidNumberOfResolutions, count);
  contents.AddU32(kPidHighestWidth, width_);
  contents.AddU32(kPidHighestHeight, height_);
  // The resolution travels as the size at which the image is shown, in inches.
  const double dpi = dotsPerInch > 0 ? dotsPerInch : 72.0;
  contents.AddR4(kPidDisplayHeight, static_cast<float>(height_ / dpi));
  contents.AddR4(kPidDisplayWidth, static_cast<float>(width_ / dpi));
  contents.AddU32(kPidDisplayUnit, FPX_INCHES);
  // Number of subimages per level (1), channels, then each channel's colour.
  std::vector<uint32_t> colorFields{1, channels_};
  colorFields.insert(colorFields.end(), colors_.begin(), colors_.end());
  std::vector<uint8_t> color(4 * colorFields.size());
  for (size_t i = 0; i < colorFields.size(); ++i)
    for (int b = 0; b < 4; ++b) color[4 * i + b] = static_cast<uint8_t>(colorFields[i] >> (8 * b));
  for (uint32_t k = 0; k < count; ++k) {
    const Level& level = levels_[k];
    const uint32_t number = count - 1 - k;
    contents.AddU32(PidSubimage(kSubimageWidth, number), level.width);
    contents.AddU32(PidSubimage(kSubimageHeight, number), level.height);
    contents.AddBlob(PidSubimage(kSubimageColor, number), color);
    contents.AddU32Vector(PidSubimage(kSubimageFormat, number), {VT_UI1});
    contents.AddI32(PidSubimage(kSubimageDecimation, number), k == 0 ? 0 : 2);  // 2 x 2 averaging
  }
  if (encoder_) {
    contents.AddBlob(PidJpegTables(1), encoder_->Tables());
    contents.AddU32(kPidMaxJpegTableIndex, 1);
  }
  PropertySetWriter info(kImageInfoFmtid);
  info.AddI2(kPidCodePage, static_cast<int16_t>(kCodePageUnicode));
  info.AddWideString(kPidSoftwareName, "Tessera");

  // The image view around the image object: it shows the object's image as it is (no
  // transform), so the source description is the one visible output.
  PropertySetWriter global(kGlobalInfoFmtid);
  global.AddI2(kPidCodePage, static_cast<int16_t>(kCodePageUnicode));
  global.AddU32Vector(kPidVisibleOutputs, {1});
  global.AddU32(kPidMaxImageIndex, 1);
  global.AddU32(kPidMaxTransformIndex, 0);
  global.AddU32(kPidMaxOperationIndex, 0);
  PropertySetWriter source(kImageDescriptionFmtid);
  source.AddI2(kPidCodePage, static_cast<int16_t>(kCodePageUnicode));
  source.AddClsid(kPidImageId, imageId_);
  source.AddU32(kPidImageStatus, kImageStatusCachedNotPurgeable);
  source.AddU32(kPidCreator, 0);
  source.AddU32Vector(kPidUsers, {});
  source.AddU32(kPidCachedImageHeight, height_);
  source.AddU32(kPidCachedImageWidth, width_);

  // Both the view and the image object carry a summary.
  PropertySetWriter summary(kSummaryInfoFmtid);
  summary.AddI2(kPidCodePage, 1252);  // code page of the texts
  const uint64_t now = FileTimeNow();
  summary.AddFileTime(kPidSummaryCreated, now);
  summary.AddFileTime(kPidSummaryLastSaved, now);
  summary.AddAnsiString(kPidSummaryAppName, "Tessera");
  const std::vector<uint8_t> summaryBytes = summary.Build();

  const struct {
    GsfOutfile* parent;
    const char* name;
    std::vector<uint8_t> bytes;
  } streams[] = {{store_, kImageContentsName, contents.Build()},
                 {store_, kImageInfoName, info.Build()},
                 {store_, kSummaryInfoName, summaryBytes},
                 {store_, kCompObjName, CompObjStream(kImageObjectClsid, "FlashPix Image Object")},
                 {root_, kSummaryInfoName, summaryBytes},
                 {root_, kGlobalInfoName, global.Build()},
                 {root_, kSourceDescriptionName, source.Build()},
                 {root_, kCompObjName, CompObjStream(kImageViewClsid, "FlashPix Image View")}};
  bool ok = true;
  for (const auto& stream : streams) {
    GsfOutput* out = gsf_outfile_new_child(stream.parent, stream.name, FALSE);
    ok = out != nullptr && WriteTo(out, stream.bytes.data(), stream.bytes.size()) && ok;
    if (out != nullptr) {
      if (!gsf_output_close(out)) ok = Fail();
      g_object_unref(out);
    }
    if (out == nullptr) ok = Fail();
  }
  return ok;
}

FPXStatus WriteImage::Finish() {
  if (finished_) return failed_ ? failure_ : FPX_OK;
  finished_ = true;
  try {
    if (!failed_ && fullData_ != nullptr) FinishPyramid();
    if (fullData_ != nullptr) {
      if (!gsf_output_close(fullData_)) Fail();
      g_object_unref(fullData_);
      fullData_ = nullptr;
    }
    for (size_t k = 0; k < levels_.size() && !failed_; ++k) StoreLevel(k);
    if (!failed_) StoreProperties();
  } catch (const std::bad_alloc&) {
    Fail(FPX_MEMORY_ALLOCATION_FAILED);
  } catch (const std::length_error&) {
    Fail(FPX_MEMORY_ALLOCATION_FAILED);
  }
  CloseAll();
  if (!failed_ && !temporary_.empty() && ::rename(temporary_.c_str(), path_.c_str()) != 0) Fail();
  if (!failed_) return FPX_OK;
  if (!temporary_.empty())
    ::unlink(temporary_.c_str());
  else if (removeOnFailure_)
    ::unlink(path_.c_str());
  errno = errno_;
  return failure_;
}

// Every object is closed and let go of, whatever failed before.
void WriteImage::CloseAll() {
  if (fullData_ != nullptr) {
    errno = 0;
    if (!gsf_output_is_closed(fullData_) && !gsf_output_close(fullData_)) Fail();
    g_object_unref(fullData_);
    fullData_ = nullptr;
  }
  for (GsfOutfile** storage : {&fullStorage_, &store_, &root_}) {
    if (*storage == nullptr) continue;
    errno = 0;
    if (!gsf_output_is_closed(GSF_OUTPUT(*storage)) && !gsf_output_close(GSF_OUTPUT(*storage))) Fail();
    g_object_unref(*storage);
    *storage = nullptr;
  }
  if (sink_ != nullptr) {
    errno = 0;
    if (!gsf_output_is_closed(sink_) && !gsf_output_close(sink_)) Fail();
    g_object_unref(sink_);
    sink_ = nullptr;
  }
  if (file_ != nullptr) {
    errno = 0;
    if (std::fflush(file_) != 0) Fail();
    if (std::fclose(file_) != 0) Fail();
    file_ = nullptr;
  }
}

}  // namespace fpx
