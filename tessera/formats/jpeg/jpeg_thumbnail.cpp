#include "formats/jpeg/jpeg_thumbnail.h"

#include <new>

#include "core/thumbnail.h"
#include "formats/jpeg/jpeg_encoder.h"

namespace tessera::jpeg {

long EncodeThumbnail(const ObjectState& state, int greyJfifDpi, int colourJfifDpi, std::vector<uint8_t>& stream) {
  const ThumbnailShape shape = ThumbnailSize(state);
  if (shape.width <= 0 || shape.height <= 0) return TES_ERR_NO_IMAGE;
  const bool grey = shape.colorSpace == TES_CS_GRAY8;
  const int rowBytes = shape.width * (grey ? 1 : 3);
  std::vector<uint8_t> pixels;
  try {
    pixels.resize(static_cast<size_t>(rowBytes) * shape.height);
  } catch (const std::bad_alloc&) {
    return TES_ERR_NO_MEMORY;
  }
  if (const long s = ThumbnailPixels(state, pixels.data(), rowBytes)) return s;
  EncoderConfig config;
  config.width = shape.width;
  config.height = shape.height;
  config.grey = grey;
  config.level = 3;
  config.sampling = {2, 1};
  try {
    stream = EncodeImage(pixels.data(), rowBytes, config, grey ? greyJfifDpi : colourJfifDpi);
  } catch (const std::bad_alloc&) {
    return TES_ERR_NO_MEMORY;
  }
  return 0;
}

}  // namespace tessera::jpeg
