#include "core/color_conversion.h"

#include <new>

namespace tessera {

long ChangeColorSpace(ObjectState& object, int code, const unsigned char* const* tables) {
  if (const long status = CheckColorSpace(code, object.colorManaged())) return status;
  object.histograms.InvalidateRaw();
  ImageStore& store = object.store;

  if (store.HasTable() && object.pipeline) {
    const int newBpp = BytesPerPixel(code);
    DisplayPipeline& pipeline = *object.pipeline;
    long status = pipeline.BeginConversion(code, tables, kTileSize, kTileSize);
    if (status == TES_OK) {
      for (auto& tile : store.tiles()) {
        if (!tile || !tile->pixels) continue;
        PixelBlock block = AllocateBlock(static_cast<size_t>(kTileSize) * kTileSize * newBpp);
        if (!block) {
          status = TES_ERR_NO_MEMORY;
          break;
        }
        status = pipeline.ConvertBlock(tile->pixels.get(), block.get());
        if (status != TES_OK) break;
        tile->pixels = std::move(block);
        tile->bytesPerPixel = newBpp;
        tile->rowBytes = kTileSize * newBpp;
        tile->DropCache();
      }
    }
    const long endStatus = pipeline.EndConversion(status == TES_OK, true);
    if (status == TES_OK) status = endStatus;
    if (status != TES_OK) {
      // Tiles may already hold the new layout while the descriptor holds the old one:
      // nothing consistent is left to keep.
      ClearObject(object);
      return status;
    }
  }

  store.SetColorSpaceCode(code);
  ShapeDisplayHeader(object);
  return object.pipeline ? object.pipeline->ResetTables() : TES_OK;
}

}  // namespace tessera
