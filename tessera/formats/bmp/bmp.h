// BMP files: uncompressed Windows device-independent bitmaps, 8-bit grey with a grey-ramp
// palette or 24-bit colour (file type 8).
#pragma once

#include <cstdint>
#include <memory>

#include "formats/format.h"

namespace tessera {

std::unique_ptr<FormatReader> MakeBmpReader(TesseraClass* target, InputStream& in);
std::unique_ptr<FormatWriter> MakeBmpWriter(const TesseraClass& source, OutputStream& out);

// The resolution fields: pixels per metre to whole dots per inch and back. Exact in both
// directions for whole dots per inch (300 <-> 11809).
double BmpDotsPerInch(int32_t pixelsPerMetre);
int32_t BmpPixelsPerMetre(double dotsPerInch);

}  // namespace tessera
