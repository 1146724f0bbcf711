// The Exif segment a JPEG file carries: IFD0's texts, orientation and resolution, the Exif
// IFD's exposure fields and our own maker note, and IFD1's JPEG thumbnail. Its TIFF
// structure is read with the TIFF reader's directory reader, every access inside the
// segment. A damaged segment keeps what could be read from it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tessera/tessera.h"

namespace tessera::jpeg {

// What the segment says beyond the metadata record.
struct ExifFields {
  bool hasOrientation = false;
  int orientation = 1;
  bool hasResolution = false;
  double resolution = 72.0;  // dots per inch
  bool hasThumbnail = false;
  long thumbnailPosition = 0;  // stream offset of IFD1's JPEG stream
};

// tiff: the segment's bytes after "Exif\0\0", which start at stream offset tiffPosition.
// The record's fields (info may be null) and `fields` get what is found. 0, or 1303 for a
// segment whose header or IFD0 cannot be read, or whose thumbnail lies outside it.
long ReadExif(const uint8_t* tiff, size_t size, long tiffPosition, tagTes_Image_Info* info, ExifFields& fields);

}  // namespace tessera::jpeg
