// Device-independent bitmaps in memory, as a TWAIN source's native transfer and the
// clipboard carry them: a Windows information header (40 bytes or more), the bit-field masks
// or the palette, then the rows. The same codec as the library's BMP files, without the file
// header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "tessera/tessera.h"

namespace tessera {

// Reads the bitmap of BYTES bytes at DIB by its real depth: 1, 4 and 8 bits through the
// palette (biClrUsed entries, else all the depth can index; an index past them is black),
// 16 and 32 bits through their bit-field masks or the 5-5-5 and 8-8-8 defaults, 24-bit
// blue, green, red; rows bottom-up or top-down. A palette of only grey entries gives 8-bit
// grey, anything else 24-bit RGB, at the resolution of its pixels per metre (72 dots per
// inch where it gives none). On success IMAGE holds a new object
// of FLAGS (TesObjectFlags) with those pixels, and the result is 0.
// Refused: a header shorter than 40 bytes or longer than the bitmap, a width of 0 or less
// or above 65535, a height of 0 or beyond 65535 either way, planes other than 1
// (TES_ERR_BMP_HEADER); a depth outside the six (TES_ERR_BMP_DEPTH); compression other
// than none, or bit fields at 16 or 32 bits (TES_ERR_BMP_COMPRESSED); rows that are not all
// within BYTES (TES_ERR_BMP_HEADER). Otherwise the object's own status, or
// TES_ERR_NO_MEMORY.
TESSERA_API long ReadDib(const void* dib, size_t bytes, short flags, std::unique_ptr<TesseraClass>* image);

// The size of the bitmap WriteDib24 makes of WIDTH x HEIGHT pixels: the 40-byte header,
// the rows, and four spare bytes after them. 0 when the size cannot be held.
TESSERA_API size_t DibBytes24(int32_t width, int32_t height);

// Writes RECT of SOURCE, a 24-bit RGB image, as a bottom-up 24-bit bitmap into DIB, which
// holds BYTES bytes (DibBytes24 of the rectangle): the header (biSizeImage set, no
// resolution), the rows of blue, green, red padded with zeros to 4 bytes, four zero bytes.
// Returns 0; TES_ERR_CANNOT_STORE for another colour space, TES_ERR_NO_IMAGE for an empty
// rectangle, TES_ERR_NO_MEMORY for a buffer of another size; or the image's status when it
// cannot give the pixels.
TESSERA_API long WriteDib24(const TesseraClass& source, const tagTes_Rect& rect, void* dib, size_t bytes);

}  // namespace tessera
