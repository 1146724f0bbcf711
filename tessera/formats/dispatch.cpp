// TesseraClass's file operations: TestFile, OpenImage, OpenThumbnail and Save. They open
// the file once and offer it to the readers in turn (formats/format.h), or pick the writer
// that the file type names.
#include <new>

#include "formats/format.h"
#include "tessera/tessera.h"

namespace tessera {

long DescribeTarget(TesseraClass& target, const tagTes_Image_Desc& desc, const tagTes_Transform_Struct& transform) {
  target.Clear();
  return target.SetImageDesc(desc, transform);
}

namespace {

// A slot whose format is not built: it never recognises a file.
class AbsentReader final : public FormatReader {
 public:
  using FormatReader::FormatReader;
  long Open(ProgressProc, void*, const tagTes_Transform_Struct&) override { return TES_ERR_UNKNOWN_FORMAT; }
  long OpenThumbnail(ProgressProc, void*, short, const tagTes_Transform_Struct&) override {
    return TES_ERR_UNKNOWN_FORMAT;
  }
  long Test(tagTes_Image_Desc*, short*) override { return TES_ERR_UNKNOWN_FORMAT; }
};

class AbsentNamedReader final : public NamedFormatReader {
 public:
  using NamedFormatReader::NamedFormatReader;
  long Open(const char*, ProgressProc, void*, const tagTes_Transform_Struct&) override {
    return TES_ERR_UNKNOWN_FORMAT;
  }
  long OpenThumbnail(const char*, ProgressProc, void*, short, const tagTes_Transform_Struct&) override {
    return TES_ERR_UNKNOWN_FORMAT;
  }
  long Test(const char*, tagTes_Image_Desc*, short*, bool*) override { return TES_ERR_UNKNOWN_FORMAT; }
};

// Which file type TestFile reports for each stream slot.
constexpr short kJpegType = TES_FILE_JPEG, kTiffType = TES_FILE_TIFF, kBmpType = TES_FILE_BMP;

struct Attempt {
  long status;
  short fileType;  // of the reader that answered 0
};

// Offers the open file to the stream readers in order and then to the named reader.
// `call` runs one reader operation; `callNamed` the named reader's.
template <typename Call, typename CallNamed>
Attempt TryReaders(const char* path, TesseraClass* target, Call call, CallNamed callNamed) {
  const FormatTable& formats = Formats();
  const struct {
    const StreamFormat* format;
    short fileType;
  } order[] = {{&formats.jpeg, kJpegType}, {&formats.tiff, kTiffType}, {&formats.bmp, kBmpType}};

  long status = TES_ERR_UNKNOWN_FORMAT;
  short fileType = 0;
  {
    InputStream in(path);
    if (in.Open() != 0) return {in.Error(), 0};
    for (const auto& slot : order) {
      if (in.Seek(0) != 0) return {in.Error(), 0};
      std::unique_ptr<FormatReader> reader;
      if (slot.format->reader != nullptr)
        reader = slot.format->reader(target, in);
      else
        reader.reset(new (std::nothrow) AbsentReader(target, in));
      if (!reader) return {TES_ERR_NO_MEMORY, 0};
      status = call(*reader);
      reader.reset();  // destroyed before the next reader is tried
      if (status != TES_ERR_UNKNOWN_FORMAT) {
        fileType = slot.fileType;
        break;
      }
    }
    const long closed = in.Close() == 0 ? 0 : in.Error();
    if (status == 0) return {closed, closed == 0 ? fileType : short{0}};
    if (status != TES_ERR_UNKNOWN_FORMAT) return {status, 0};
  }
  std::unique_ptr<NamedFormatReader> named;
  if (formats.fpx.reader != nullptr)
    named = formats.fpx.reader(target);
  else
    named.reset(new (std::nothrow) AbsentNamedReader(target));
  if (!named) return {TES_ERR_NO_MEMORY, 0};
  bool jpegCompressed = false;
  status = callNamed(*named, jpegCompressed);
  return {status, static_cast<short>(jpegCompressed ? TES_FILE_FPX_JPEG : TES_FILE_FPX)};
}

}  // namespace
}  // namespace tessera

using namespace tessera;

long TesseraClass::TestFile(char* const& path, tagTes_Image_Desc* desc, short* fileType, short* hasThumbnail) {
  // The caller's records change only when a reader accepts the file.
  tagTes_Image_Desc found{};
  short thumbnail = 0;
  const Attempt result = TryReaders(
      path, nullptr, [&](FormatReader& reader) { return reader.Test(&found, &thumbnail); },
      [&](NamedFormatReader& reader, bool& jpeg) { return reader.Test(path, &found, &thumbnail, &jpeg); });
  if (result.status != 0) return result.status;
  if (desc != nullptr) *desc = found;
  if (fileType != nullptr) *fileType = result.fileType;
  if (hasThumbnail != nullptr) *hasThumbnail = thumbnail;
  return 0;
}

long TesseraClass::OpenImage(char* const& path, const tagTes_Transform_Struct& transform,
                             long (*progress)(long, long, void*), void* const user) {
  return TryReaders(
             path, this, [&](FormatReader& reader) { return reader.Open(progress, user, transform); },
             [&](NamedFormatReader& reader, bool&) { return reader.Open(path, progress, user, transform); })
      .status;
}

long TesseraClass::OpenThumbnail(char* const& path, const tagTes_Transform_Struct& transform,
                                 long (*progress)(long, long, void*), void* const user, short allowFullImage) {
  return TryReaders(
             path, this,
             [&](FormatReader& reader) { return reader.OpenThumbnail(progress, user, allowFullImage, transform); },
             [&](NamedFormatReader& reader, bool&) {
               return reader.OpenThumbnail(path, progress, user, allowFullImage, transform);
             })
      .status;
}

long TesseraClass::Save(const tagTes_File_Spec& spec, long (*progress)(long, long, void*), void* const user,
                        short writeThumbnail) const {
  const FormatTable& formats = Formats();
  const uint32_t code = spec.format & 0xFFFF;

  if (code == TES_FILE_FPX || code == TES_FILE_FPX_JPEG) {
    if (formats.fpx.writer == nullptr) return TES_ERR_CANNOT_STORE;
    std::unique_ptr<NamedFormatWriter> writer = formats.fpx.writer(*this);
    if (!writer) return TES_ERR_NO_MEMORY;
    return writer->Write(spec, code == TES_FILE_FPX ? 0 : spec.option, progress, user, writeThumbnail);
  }

  MakeWriterFn make = nullptr;
  long option = 0;
  switch (code) {
    case TES_FILE_TIFF: make = formats.tiff.writer; option = 0; break;
    case TES_FILE_TIFF_COMPRESSED: make = formats.tiff.writer; option = 1; break;
    case TES_FILE_JPEG: make = formats.jpeg.writer; option = spec.option; break;
    case TES_FILE_BMP: make = formats.bmp.writer; break;
    default: break;
  }
  // An unknown file type, or a format this build has no writer for, is refused before the
  // file is created: an existing file of that name stays as it was.
  if (make == nullptr) return TES_ERR_CANNOT_STORE;

  OutputStream out(spec.path);
  if (out.Open() != 0) return out.Error();
  long status;
  {
    std::unique_ptr<FormatWriter> writer = make(*this, out);
    if (!writer) return TES_ERR_NO_MEMORY;
    status = writer->Write(option, progress, user, writeThumbnail);
  }
  const long closed = out.Close() == 0 ? 0 : out.Error();
  return status != 0 ? status : closed;
}
