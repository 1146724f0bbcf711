// The tiled pixel store of one image: its descriptor, its tile grid and the copies in and
// out of the tiles. Rotations and flips (transforms.cpp) rearrange the same grid.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/color_space.h"
#include "core/tile.h"
#include "tessera/tessera.h"

namespace tessera {

struct TileRange {
  int firstColumn, firstRow, lastColumn, lastRow;  // inclusive
};

class ImageStore {
 public:
  explicit ImageStore(bool colorManaged) : colorManaged_(colorManaged), srgb_(colorManaged) {}

  // Describes the image about to be stored. The descriptor stays set whatever the result.
  long Describe(const tagTes_Image_Desc& desc, const tagTes_Transform_Struct& transform);
  void Report(tagTes_Image_Desc* desc) const;

  bool HasTable() const { return hasTable_; }
  // Creates the empty tile table for the described grid. False when memory runs out.
  bool CreateTable();

  // Checks a SetData rectangle and copies it into the tiles, turned by the transform.
  long Store(const tagTes_Tile_Desc& tile, const tagTes_Transform_Struct& transform, const void* buffer);
  // Copies a rectangle of stored pixels out.
  long Load(const tagTes_Tile_Desc& tile, void* buffer) const;
  void Clear();
  void DropCaches();

  // The tiles a rectangle (image coordinates) touches. Empty when the rectangle misses.
  TileRange RangeOf(const tagTes_Rect& rect) const;

  // Changes the stored code and the depth that follows from it, after a conversion.
  void SetColorSpaceCode(int code);

  int colorSpace() const { return colorSpace_; }
  int channels() const { return ColorSpaceRow(colorSpace_).channels; }
  int bits() const { return ColorSpaceRow(colorSpace_).bits; }
  int bytesPerPixel() const { return BytesPerPixel(colorSpace_); }
  bool colorManaged() const { return colorManaged_; }
  void setColorManaged(bool on) { colorManaged_ = on; }
  bool arrivesAsGrey() const { return arrivesAsGrey_; }
  bool srgb() const { return srgb_; }
  void setSrgb(bool on) { srgb_ = on; }
  int width() const { return width_; }
  int height() const { return height_; }
  double resolution() const { return resolution_; }
  void setResolution(double dpi) { resolution_ = dpi; }
  int originX() const { return originX_; }
  int originY() const { return originY_; }
  int tilesAcross() const { return tilesAcross_; }
  int tilesDown() const { return tilesDown_; }
  int tileCount() const { return tilesAcross_ * tilesDown_; }

  Tile* TileAt(int column, int row) const { return tiles_[static_cast<size_t>(row) * tilesAcross_ + column].get(); }
  std::vector<std::unique_ptr<Tile>>& tiles() { return tiles_; }
  const std::vector<std::unique_ptr<Tile>>& tiles() const { return tiles_; }

  // Replaces the grid after a flip or a rotation.
  void SetGrid(int width, int height, int tilesAcross, int tilesDown, int originX, int originY,
               std::vector<std::unique_ptr<Tile>> tiles);

 private:
  bool colorManaged_;
  int16_t colorSpace_ = TES_CS_RGB24;
  bool arrivesAsGrey_ = false;
  bool srgb_;
  int originX_ = 0, originY_ = 0;
  int width_ = 0, height_ = 0;
  double resolution_ = 72.0;
  int tilesAcross_ = 0, tilesDown_ = 0;
  bool hasTable_ = false;
  std::vector<std::unique_ptr<Tile>> tiles_;
};

}  // namespace tessera
