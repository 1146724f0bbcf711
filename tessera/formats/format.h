// The interfaces every file format implements, and the table that names them.
//
// A format folder (formats/bmp, formats/jpeg, ...) provides a reader and a writer behind
// these classes and one factory function for each; formats/registry.cpp puts the factories
// into the format's slot. The dispatch (dispatch.cpp) opens the file, offers it to the
// stream readers in the fixed order JPEG, TIFF, BMP and then to the FlashPix reader by
// name; each reader object lives for one call only and is destroyed before the next reader
// is tried. A slot whose format is not built answers as a reader that never recognises a
// file (1013) and as a writer that cannot store the image (1015, the file is not touched).
//
// Results of every operation: 0, 1013 (not this format: try the next reader), or a status
// code that ends the operation (the stream's kept code after a stream operation answered
// -2, the format's own codes, errors of SetImageDesc/SetData/GetData, or the non-zero
// value the progress callback returned).
#pragma once

#include <memory>

#include "formats/streams.h"
#include "tessera/tessera.h"

namespace tessera {

using ProgressProc = long (*)(long total, long done, void* param);

// A reader of a format that arrives through the input stream. Constructed with the target
// image (null when only testing) and the open stream, positioned at offset 0.
class FormatReader {
 public:
  FormatReader(TesseraClass* target, InputStream& in) : target_(target), in_(in) {}
  FormatReader(const FormatReader&) = delete;
  FormatReader& operator=(const FormatReader&) = delete;

  // Slot 1.
  virtual ~FormatReader() = default;
  // Slot 2: reads the whole image into the target: one SetImageDesc(desc, transform) (see
  // DescribeTarget), then the rows by SetData, calling progress as the format says.
  virtual long Open(ProgressProc progress, void* param, const tagTes_Transform_Struct& transform) = 0;
  // Slot 3: reads the embedded thumbnail into the target; without one, the full image when
  // allowFullImage is non-zero, else 1014.
  virtual long OpenThumbnail(ProgressProc progress, void* param, short allowFullImage,
                             const tagTes_Transform_Struct& transform) = 0;
  // Slot 4: fills desc and hasThumbnail (0 or 1) without reading pixels.
  virtual long Test(tagTes_Image_Desc* desc, short* hasThumbnail) = 0;

 protected:
  TesseraClass* target_;
  InputStream& in_;
};

// A writer of a format that leaves through the output stream. Constructed with the source
// image and the open (created or truncated) stream.
class FormatWriter {
 public:
  FormatWriter(const TesseraClass& source, OutputStream& out) : source_(source), out_(out) {}
  FormatWriter(const FormatWriter&) = delete;
  FormatWriter& operator=(const FormatWriter&) = delete;

  // Slot 1.
  virtual ~FormatWriter() = default;
  // Slot 2: writes the source image. option: the JPEG quality level, 0 or 1 for TIFF
  // (1 asks for compression), ignored by BMP.
  virtual long Write(long option, ProgressProc progress, void* param, short writeThumbnail) = 0;

 protected:
  const TesseraClass& source_;
  OutputStream& out_;
};

// The FlashPix reader opens the file by name itself (its library does), so it has no
// stream. Constructed with the target image (null when only testing).
class NamedFormatReader {
 public:
  explicit NamedFormatReader(TesseraClass* target) : target_(target) {}
  NamedFormatReader(const NamedFormatReader&) = delete;
  NamedFormatReader& operator=(const NamedFormatReader&) = delete;

  virtual ~NamedFormatReader() = default;
  virtual long Open(const char* path, ProgressProc progress, void* param,
                    const tagTes_Transform_Struct& transform) = 0;
  virtual long OpenThumbnail(const char* path, ProgressProc progress, void* param, short allowFullImage,
                             const tagTes_Transform_Struct& transform) = 0;
  // As FormatReader::Test; jpegCompressed reports whether the full-resolution level is
  // JPEG-compressed (TestFile then answers 128, else 64).
  virtual long Test(const char* path, tagTes_Image_Desc* desc, short* hasThumbnail, bool* jpegCompressed) = 0;

 protected:
  TesseraClass* target_;
};

// The FlashPix writer creates the file by name itself.
class NamedFormatWriter {
 public:
  explicit NamedFormatWriter(const TesseraClass& source) : source_(source) {}
  NamedFormatWriter(const NamedFormatWriter&) = delete;
  NamedFormatWriter& operator=(const NamedFormatWriter&) = delete;

  virtual ~NamedFormatWriter() = default;
  // option: 0 for code 64, the file spec's quality level for code 128.
  virtual long Write(const tagTes_File_Spec& spec, long option, ProgressProc progress, void* param,
                     short writeThumbnail) = 0;

 protected:
  const TesseraClass& source_;
};

// Factories. Each answers null only when memory runs out (the dispatch then fails with 1002).
using MakeReaderFn = std::unique_ptr<FormatReader> (*)(TesseraClass* target, InputStream& in);
using MakeWriterFn = std::unique_ptr<FormatWriter> (*)(const TesseraClass& source, OutputStream& out);
using MakeNamedReaderFn = std::unique_ptr<NamedFormatReader> (*)(TesseraClass* target);
using MakeNamedWriterFn = std::unique_ptr<NamedFormatWriter> (*)(const TesseraClass& source);

struct StreamFormat {
  MakeReaderFn reader = nullptr;  // null: not built, answers 1013
  MakeWriterFn writer = nullptr;  // null: not built, Save answers 1015
};

struct NamedFormat {
  MakeNamedReaderFn reader = nullptr;
  MakeNamedWriterFn writer = nullptr;
};

// The slots, in the order the readers are tried.
struct FormatTable {
  StreamFormat jpeg;  // file type 4
  StreamFormat tiff;  // file types 1 and 2
  StreamFormat bmp;   // file type 8
  NamedFormat fpx;    // file types 64 and 128
};

// The table of this build (registry.cpp).
const FormatTable& Formats();

// Replaces the target's image with an empty one of the given description, ready for
// SetData. Readers call this instead of SetImageDesc directly: SetImageDesc is meant for an
// object without pixels and keeps any tiles it holds, so a second OpenImage on the same
// object would otherwise mix the old tile table with the new grid.
long DescribeTarget(TesseraClass& target, const tagTes_Image_Desc& desc, const tagTes_Transform_Struct& transform);

}  // namespace tessera
