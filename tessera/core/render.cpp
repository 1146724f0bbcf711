#include "core/render.h"

#include <algorithm>
#include <new>

namespace tessera {
namespace {

using orvax::win::COLORONCOLOR;
using orvax::win::DIB_RGB_COLORS;
using orvax::win::SRCCOPY;

constexpr int T = kTileSize;

// The image's size and where the whole image lands on the device.
struct Placement {
  int64_t W, H;            // stored image size
  int64_t px, py, pw, ph;  // device rectangle of the whole image
};

Placement PlacementOf(const ObjectState& object, const tagTes_Output_Info& info) {
  return {object.store.width(), object.store.height(), info.imageX, info.imageY, info.imageWidth, info.imageHeight};
}

// Device rectangle of an image rectangle: adjacent image rectangles give adjacent device
// rectangles, without gaps or overlaps.
tagTes_Rect DeviceRect(const Placement& p, const tagTes_Rect& a) {
  const int64_t x0 = RoundDiv(a.x * p.pw, p.W), y0 = RoundDiv(a.y * p.ph, p.H);
  const int64_t x1 = RoundDiv((int64_t{a.x} + a.width) * p.pw, p.W);
  const int64_t y1 = RoundDiv((int64_t{a.y} + a.height) * p.ph, p.H);
  return {static_cast<int>(p.px + x0), static_cast<int>(p.py + y0), static_cast<int>(x1 - x0),
          static_cast<int>(y1 - y0)};
}

// Image pixels under a device rectangle.
tagTes_Rect BackMap(const Placement& p, const tagTes_Rect& d) {
  const int64_t x = RoundDiv(p.W * (d.x - p.px), p.pw), y = RoundDiv(p.H * (d.y - p.py), p.ph);
  const int64_t x1 = RoundDiv(p.W * (d.x - p.px + d.width), p.pw);
  const int64_t y1 = RoundDiv(p.H * (d.y - p.py + d.height), p.ph);
  return {static_cast<int>(x), static_cast<int>(y), static_cast<int>(x1 - x), static_cast<int>(y1 - y)};
}

// Widens the clip to whole image pixels, so that every drawn pixel block is complete.
tagTes_Rect SnapClip(const Placement& p, const tagTes_Output_Info& info) {
  const int64_t sx = p.W * (info.clipX - p.px) / p.pw;
  const int64_t sy = p.H * (info.clipY - p.py) / p.ph;
  const int64_t dx = RoundDiv(sx * p.pw, p.W), dy = RoundDiv(sy * p.ph, p.H);
  const int64_t ex = (p.W * (info.clipX - p.px + int64_t{info.clipWidth}) + p.pw - 1) / p.pw;
  const int64_t ey = (p.H * (info.clipY - p.py + int64_t{info.clipHeight}) + p.ph - 1) / p.ph;
  return {static_cast<int>(p.px + dx), static_cast<int>(p.py + dy), static_cast<int>(RoundDiv(ex * p.pw, p.W) - dx),
          static_cast<int>(RoundDiv(ey * p.ph, p.H) - dy)};
}

// Stretches one tile's bitmap onto the part of the device it covers inside the clip.
long DrawTile(const ObjectState& object, const Placement& p, const tagTes_Rect& clip, const Tile& tile,
              const uint8_t* dib, HDC hdc) {
  const tagTes_Rect device = Intersect(DeviceRect(p, tile.position), clip);
  if (IsEmpty(device)) return TES_OK;
  const tagTes_Rect source = Intersect(BackMap(p, device), tile.position);
  if (IsEmpty(source)) return TES_OK;
  if (orvax::win::SetStretchBltMode(hdc, COLORONCOLOR) == 0) return TES_ERR_DEVICE;
  const int result = orvax::win::StretchDIBits(
      hdc, device.x, device.y, device.width, device.height, source.x - tile.position.x,
      tile.position.y + T - source.y - source.height, source.width, source.height, dib, object.header->info(),
      DIB_RGB_COLORS, SRCCOPY);
  return result < 1 ? TES_ERR_DEVICE : TES_OK;
}

bool UsablePlacement(const ObjectState& object, const tagTes_Output_Info& info) {
  return object.store.width() > 0 && object.store.height() > 0 && info.imageWidth > 0 && info.imageHeight > 0 &&
         object.header && object.pipeline;
}

size_t DibBytes(const ObjectState& object) { return object.store.channels() == 1 ? T * T : 3 * T * T; }

}  // namespace

tagTes_Rect OutputRect(const ObjectState& object, const tagTes_Rect& a, const tagTes_Rect& placement) {
  if (object.store.width() <= 0 || object.store.height() <= 0) return {placement.x, placement.y, 0, 0};
  const Placement p{object.store.width(), object.store.height(), placement.x, placement.y, placement.width,
                    placement.height};
  return DeviceRect(p, a);
}

long DisplayObject(const ObjectState& object, const tagTes_Output_Info& info) {
  if (!object.store.HasTable() || !UsablePlacement(object, info)) return TES_OK;
  const Placement p = PlacementOf(object, info);
  const tagTes_Rect whole{info.imageX, info.imageY, info.imageWidth, info.imageHeight};
  const tagTes_Rect clip = Intersect(SnapClip(p, info), whole);
  if (IsEmpty(clip)) return TES_OK;
  const tagTes_Rect pixels = Intersect(BackMap(p, clip), {0, 0, object.store.width(), object.store.height()});
  if (IsEmpty(pixels)) return TES_OK;

  const TileRange range = object.store.RangeOf(pixels);
  for (int row = range.firstRow; row <= range.lastRow; ++row) {
    for (int column = range.firstColumn; column <= range.lastColumn; ++column) {
      Tile* tile = object.store.TileAt(column, row);
      if (tile == nullptr || !tile->pixels) continue;
      if (!tile->displayCache) {
        std::unique_ptr<uint8_t[]> cache(new (std::nothrow) uint8_t[DibBytes(object)]);
        if (!cache) return TES_ERR_NO_MEMORY;
        if (const long status = object.pipeline->ConvertForScreen(*tile, cache.get())) return status;
        tile->displayCache = std::move(cache);
      }
      if (const long status = DrawTile(object, p, clip, *tile, tile->displayCache.get(), info.hdc)) return status;
    }
  }
  return TES_OK;
}

long PrintObject(const ObjectState& object, const tagTes_Output_Info& info) {
  if (!object.store.HasTable()) return TES_ERR_NO_IMAGE;
  if (!UsablePlacement(object, info)) return TES_OK;
  const Placement p = PlacementOf(object, info);
  const tagTes_Rect whole{info.imageX, info.imageY, info.imageWidth, info.imageHeight};
  const tagTes_Rect clip = Intersect(SnapClip(p, info), whole);
  if (IsEmpty(clip)) return TES_OK;

  long status = object.pipeline->BeginPrint();
  if (status == TES_OK) {
    std::unique_ptr<uint8_t[]> bitmap(new (std::nothrow) uint8_t[DibBytes(object)]);
    for (const auto& tile : object.store.tiles()) {
      if (!tile || !tile->pixels) continue;
      if (!bitmap) {
        status = TES_ERR_NO_MEMORY;
        break;
      }
      status = object.pipeline->ConvertForPrint(*tile, bitmap.get());
      if (status == TES_OK) status = DrawTile(object, p, clip, *tile, bitmap.get(), info.hdc);
      if (status != TES_OK) break;
    }
  }
  const long endStatus = object.pipeline->EndPrint();
  return status != TES_OK ? status : endStatus;
}

void ShapeDisplayHeader(ObjectState& object) {
  if (!object.header) return;
  orvax::win::BITMAPINFO256& bmi = *object.header;
  const bool grey = object.store.channels() == 1;
  // A resolution from a file can be anything; the header's field holds what fits.
  double metres = object.store.resolution() * 39.37007874015748 + 0.5;
  if (!(metres >= 0)) metres = 0;
  const int ppm = static_cast<int>(std::min(metres, 2147483647.0));
  bmi.bmiHeader = {40, T, T, 1, static_cast<uint16_t>(grey ? 8 : 24), orvax::win::BI_RGB,
                   static_cast<uint32_t>(grey ? T * T : 3 * T * T), ppm, ppm, grey ? 256u : 0u, 0};
  for (int i = 0; i < 256; ++i) {
    const auto v = static_cast<uint8_t>(i);
    bmi.bmiColors[i] = {v, v, v, 0};
  }
}

void ClearObject(ObjectState& object) {
  object.store.Clear();
  object.histograms.InvalidateRaw();
  object.pipeline.reset();
  object.header.reset();
}

}  // namespace tessera
