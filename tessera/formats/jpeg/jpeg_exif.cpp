#include "formats/jpeg/jpeg_exif.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "formats/jpeg/jpeg_decoder.h"
#include "formats/tiff/tiff_ifd.h"

namespace tessera::jpeg {
namespace {

// A tag's value for an integer field: truncated toward zero and held to the field's range,
// so that a rational or signed value out of range (a negative Flash, a huge Orientation)
// cannot overflow the conversion.
template <typename T>
T Clamped(double v) {
  if (std::isnan(v)) return 0;
  v = std::trunc(v);
  // The limits as doubles may round outward (2^64 for a 64-bit maximum): compare, then
  // return the limit itself.
  if (v <= static_cast<double>(std::numeric_limits<T>::lowest())) return std::numeric_limits<T>::lowest();
  if (v >= static_cast<double>(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
  return static_cast<T>(v);
}

// Copies a text of the segment into a zero-terminated field of `field` bytes.
void CopyText(const uint8_t* text, size_t bytes, char* field, size_t field_size) {
  size_t n = 0;
  while (n < bytes && n + 1 < field_size && text[n] != 0) ++n;
  std::memcpy(field, text, n);
  std::memset(field + n, 0, field_size - n);
}

class ExifReader {
 public:
  ExifReader(const uint8_t* data, size_t size, const tiff::Header& header, tagTes_Image_Info* info)
      : data_(data), source_(data, size), ifd_(source_, header), record_(info != nullptr ? *info : scratch_) {}

  long Run(uint64_t ifd0, long tiffPosition, ExifFields& fields) {
    std::vector<tiff::Entry> entries;
    uint64_t ifd1 = 0;
    if (ifd_.Read(ifd0, entries, &ifd1) != 0) return kBadAppSegment;

    // IFD0.
    uint64_t exifIfd = 0;
    double xres = 0;
    int unit = 2;
    bool haveRes = false;
    for (const tiff::Entry& e : entries) {
      double v = 0;
      // An entry whose value cannot be read is skipped.
      switch (e.tag) {
        case 270: Text(e, record_.description, sizeof record_.description); break;
        case 271: Text(e, record_.maker, sizeof record_.maker); break;
        case 272: Text(e, record_.model, sizeof record_.model); break;
        case 274:
          if (ifd_.Number(e, v) == 0) {
            fields.hasOrientation = true;
            fields.orientation = Clamped<int>(v);
          }
          break;
        case 282: if (ifd_.Number(e, v) == 0 && v > 0) { xres = v; haveRes = true; } break;
        case 296: if (ifd_.Number(e, v) == 0) unit = Clamped<int>(v); break;
        case 34665: if (ifd_.Number(e, v) == 0) exifIfd = Clamped<uint32_t>(v); break;
        default: break;
      }
    }
    if (haveRes && (unit == 2 || unit == 3)) {
      fields.hasResolution = true;
      fields.resolution = unit == 2 ? xres : (xres * 100000.0 + 19680.0) / 39361.0;
    }

    // The Exif IFD. A segment without one (IFD0 alone), or whose pointer leads outside it,
    // keeps what IFD0 gave.
    if (exifIfd != 0 && ifd_.Read(exifIfd, entries, nullptr) == 0) {
      for (const tiff::Entry& e : entries) {
        double v = 0;
        const auto put = [&](double& field) {
          if (ifd_.Number(e, v) == 0) field = v;
        };
        switch (e.tag) {
          case 33434: put(record_.exposureTime); break;
          case 33437: put(record_.fNumber); break;
          case 36867: Text(e, record_.date, sizeof record_.date); break;
          case 37377: put(record_.shutterSpeedValue); break;
          case 37378: put(record_.apertureValue); break;
          case 37379: put(record_.brightnessValue); break;
          case 37380: put(record_.exposureBiasValue); break;
          case 37382: put(record_.subjectDistance); break;
          case 37385: if (ifd_.Number(e, v) == 0) record_.flash = Clamped<uint16_t>(v); break;
          case 37386: put(record_.focalLength); break;
          case 37500: MakerNote(e); break;
          default: break;
        }
      }
    }

    // IFD1: the thumbnail.
    if (ifd1 != 0) {
      if (ifd_.Read(ifd1, entries, nullptr) != 0) return kBadAppSegment;
      double compression = 0, offset = 0, bytes = 0;
      for (const tiff::Entry& e : entries) {
        if (e.tag == 259) ifd_.Number(e, compression);
        if (e.tag == 513) ifd_.Number(e, offset);
        if (e.tag == 514) ifd_.Number(e, bytes);
      }
      if (compression == 6 && offset != 0) {
        // A negative offset or length places no thumbnail inside the segment.
        const uint64_t size = static_cast<uint64_t>(source_.Size());
        if (offset < 0 || bytes < 0 || offset >= static_cast<double>(size) ||
            Clamped<uint64_t>(bytes) > size - Clamped<uint64_t>(offset))
          return kBadAppSegment;
        fields.hasThumbnail = true;
        fields.thumbnailPosition = tiffPosition + static_cast<long>(offset);
      }
    }
    return 0;
  }

 private:
  // Where an entry's values lie in the segment; false outside it.
  bool Span(const tiff::Entry& e, const uint8_t*& at, size_t& bytes) const {
    uint64_t offset = 0, n = 0;
    bool inField = false;
    if (!ifd_.Locate(e, offset, n, inField)) return false;
    at = inField ? e.value : data_ + offset;
    bytes = static_cast<size_t>(n);
    return true;
  }

  void Text(const tiff::Entry& e, char* field, size_t fieldSize) {
    const uint8_t* at = nullptr;
    size_t bytes = 0;
    if (Span(e, at, bytes)) CopyText(at, bytes, field, fieldSize);
  }

  // Only our own maker note is read ("Orvax", the version, then a directory whose values lie
  // by their offsets in the segment); another maker's is skipped.
  void MakerNote(const tiff::Entry& e) {
    const uint8_t* at = nullptr;
    size_t bytes = 0;
    if (!Span(e, at, bytes) || at == e.value) return;
    if (bytes < 10 || std::memcmp(at, "Orvax\0", 6) != 0 || ifd_.U16(at + 6) != 256) return;
    if (uint64_t{ifd_.U16(at + 8)} * 12 > bytes - 10) return;
    std::vector<tiff::Entry> notes;
    if (ifd_.Read(static_cast<uint64_t>(at + 8 - data_), notes, nullptr) != 0) return;
    for (const tiff::Entry& note : notes)
      if (note.tag == 1) Text(note, record_.makerNoteText, sizeof record_.makerNoteText);
  }

  const uint8_t* data_;
  tiff::MemorySource source_;
  tiff::IfdReader ifd_;
  tagTes_Image_Info scratch_{};  // the record's stand-in when the caller keeps none
  tagTes_Image_Info& record_;
};

}  // namespace

long ReadExif(const uint8_t* data, size_t size, long tiffPosition, tagTes_Image_Info* info, ExifFields& fields) {
  tiff::MemorySource source(data, size);
  tiff::Header header;
  // Exif holds classic TIFF only.
  if (tiff::ReadHeader(source, header) != 0 || header.bigTiff) return kBadAppSegment;
  ExifReader reader(data, size, header, info);
  return reader.Run(header.firstIfd, tiffPosition, fields);
}

}  // namespace tessera::jpeg
