// The formats of this build, one line each. A new format fills its slot here with its two
// factory functions (and includes its header); an empty slot answers 1013 when reading and
// 1015 when saving.
#include "formats/bmp/bmp.h"
#include "formats/jpeg/jpeg.h"
#include "formats/format.h"
#include "formats/fpx/fpx.h"
#include "formats/tiff/tiff.h"

namespace tessera {

const FormatTable& Formats() {
  static const FormatTable table{
      .jpeg = {&MakeJpegReader, &MakeJpegWriter},
      .tiff = {&MakeTiffReader, &MakeTiffWriter},
      .bmp = {&MakeBmpReader, &MakeBmpWriter},
      .fpx = {&MakeFpxReader, &MakeFpxWriter},
  };
  return table;
}

}  // namespace tessera
