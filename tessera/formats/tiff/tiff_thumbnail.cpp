#include "formats/tiff/tiff_thumbnail.h"

namespace tessera::tiff {

long ReadThumbnail(TesseraClass&, InputStream&, uint32_t, uint32_t, const tagTes_Transform_Struct&) {
  return TES_ERR_NO_THUMBNAIL;
}

long EncodeThumbnail(const TesseraClass&, std::vector<uint8_t>& jpeg) {
  jpeg.clear();
  return 0;
}

}  // namespace tessera::tiff
