// The colour-space table every part of the library reads: channels and depth per code,
// and which codes each kind of object may hold.
#pragma once

#include <cstdint>

#include "tessera/tessera.h"

namespace tessera {

struct ColorSpaceInfo {
  int channels;
  int bits;
  bool plainAllowed;
  bool managedAllowed;  // as a stored code; grey codes are stored as RGB in managed objects
};

inline constexpr ColorSpaceInfo kColorSpaces[7] = {
    {1, 8, true, false},   {1, 16, true, false},  {3, 8, true, true},  {3, 16, true, true},
    {4, 8, false, true},   {3, 16, false, true},  {3, 16, false, true},
};

inline bool ValidColorSpace(int code) { return code >= 0 && code <= 6; }

// The table row of a code; codes outside 0..6 read row 2.
inline const ColorSpaceInfo& ColorSpaceRow(int code) { return kColorSpaces[ValidColorSpace(code) ? code : 2]; }

inline int BytesPerPixel(int code) {
  const ColorSpaceInfo& row = ColorSpaceRow(code);
  return row.channels * row.bits / 8;
}

inline bool IsGrey(int code) { return code == TES_CS_GRAY8 || code == TES_CS_GRAY16; }

// 0, TES_ERR_COLOR_SPACE or TES_ERR_NOT_PERMITTED for a code to be held by an object.
inline long CheckColorSpace(int code, bool colorManaged) {
  if (!ValidColorSpace(code)) return TES_ERR_COLOR_SPACE;
  const ColorSpaceInfo& row = kColorSpaces[code];
  return (colorManaged ? row.managedAllowed : row.plainAllowed) ? TES_OK : TES_ERR_NOT_PERMITTED;
}

}  // namespace tessera
