// FlashPix files (file types 64, uncompressed, and 128, JPEG tiles) through the FlashPix
// library: the library opens and creates the files by name itself.
#pragma once

#include <cstdint>
#include <memory>

#include "formats/format.h"
#include "fpxlib.h"

namespace tessera {

std::unique_ptr<NamedFormatReader> MakeFpxReader(TesseraClass* target);
std::unique_ptr<NamedFormatWriter> MakeFpxWriter(const TesseraClass& source);

// The library's status as a Tessera code. A write error is 1204 when the system's last
// error (errno) says the disk is full.
long FpxStatusToCode(long status, int systemError);

// The level a thumbnail is read from: from the full size (the last level) down, halving
// and rounding up, while a side exceeds 256 and a smaller level remains.
struct FpxLevelChoice {
  unsigned level;
  uint32_t width, height;
};
FpxLevelChoice ChooseFpxThumbnailLevel(unsigned levels, uint32_t width, uint32_t height);

// The library's JPEG quality factor for a quality level 1..5; -1 for any other level.
int FpxQualityFactor(long level);

}  // namespace tessera
