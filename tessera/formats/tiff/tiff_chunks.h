// TIFF images that are not read as one stream of samples: compressed (LZW, Deflate,
// PackBits) strips or tiles, with or without the horizontal predictor, and sample layouts
// that are converted on the way in (1-, 2- and 4-bit grey, colour palettes, extra samples,
// 16-bit CMYK).
#pragma once

#include <cstddef>
#include <cstdint>

#include "formats/tiff/tiff.h"

namespace tessera::tiff {

// Describes the target and stores the image, batch by batch, reporting progress.
long ReadChunks(TesseraClass& target, InputStream& in, const FileInfo& info, const tagTes_Image_Desc& desc,
                const tagTes_Transform_Struct& store, ProgressProc progress, void* param);

// The decoders, each filling at most outSize bytes; the result is the bytes produced (a
// damaged or short stream gives what it held).
size_t DecodeLzw(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize);
size_t DecodePackBits(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize);
size_t DecodeDeflate(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize);

// FillOrder 2: the bits of every byte in the opposite order, turned back in place.
void ReverseBits(uint8_t* p, size_t bytes);

}  // namespace tessera::tiff
