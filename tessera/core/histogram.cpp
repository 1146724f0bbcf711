#include "core/histogram.h"

#include <cstring>
#include <new>

#include "core/display_pipeline.h"
#include "core/image_store.h"

namespace tessera {
namespace {

inline uint16_t Sample16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}

// Level of the channel mean in array 0, from the channel values (8-bit levels or 16-bit).
inline unsigned MeanLevel(int code, const unsigned* v) {
  switch (code) {
    case TES_CS_GRAY8: return v[0];
    case TES_CS_GRAY16: return v[0] >> 8;
    case TES_CS_RGB24: return (v[0] + v[1] + v[2]) / 3;
    case TES_CS_CMYK32: return (v[0] + v[1] + v[2] + v[3]) >> 2;
    default: return ((v[0] + v[1] + v[2]) / 3) >> 8;
  }
}

}  // namespace

void Histograms::Count(const ImageStore& store, const DisplayPipeline& pipeline, bool raw, bool table) {
  const int channels = store.channels();
  const int code = store.colorSpace();
  const bool sixteen = store.bits() == 16;
  const int bpp = store.bytesPerPixel();
  const tagTes_Rect image{0, 0, store.width(), store.height()};
  if (raw)
    for (auto& a : raw_) a.fill(0);
  if (table)
    for (auto& a : table_) a.fill(0);

  unsigned rawValues[4] = {}, tableValues[4] = {};
  for (const auto& tile : store.tiles()) {
    if (!tile || !tile->pixels) continue;
    const tagTes_Rect part = Intersect(tile->position, image);
    if (IsEmpty(part)) continue;
    for (int y = part.y; y < part.y + part.height; ++y) {
      const uint8_t* p = tile->Row(y - tile->position.y) + static_cast<ptrdiff_t>(part.x - tile->position.x) * bpp;
      for (int x = 0; x < part.width; ++x, p += bpp) {
        for (int c = 0; c < channels; ++c) {
          const unsigned v = sixteen ? Sample16(p + 2 * c) : p[c];
          rawValues[c] = v;
          if (table) tableValues[c] = sixteen ? pipeline.Through16(c, static_cast<uint16_t>(v)) : pipeline.Through8(c, static_cast<uint8_t>(v));
        }
        if (raw) {
          for (int c = 0; c < channels; ++c) ++raw_[c + 1][sixteen ? rawValues[c] >> 8 : rawValues[c]];
          ++raw_[0][MeanLevel(code, rawValues) & 0xFF];
        }
        if (table) {
          for (int c = 0; c < channels; ++c) ++table_[c + 1][(sixteen ? tableValues[c] >> 8 : tableValues[c]) & 0xFF];
          ++table_[0][MeanLevel(code, tableValues) & 0xFF];
        }
      }
    }
  }
}

long Histograms::Get(const ImageStore& store, const DisplayPipeline& pipeline, _HistTable* out, unsigned index,
                     bool throughTable) {
  if (!store.HasTable()) return TES_ERR_NO_IMAGE;
  const size_t arrays = static_cast<size_t>(store.channels()) + 1;
  // An index past the channel count names no array; report it like a missing channel of
  // a lookup table rather than read past the arrays.
  if (index >= arrays) return TES_ERR_LUT_CHANNEL;
  if (out == nullptr) return TES_ERR_NO_IMAGE;
  if (!rawValid_ || !tableValid_) {
    try {
      if (raw_.size() != arrays) {
        raw_.assign(arrays, Counts{});
        rawValid_ = false;
      }
      if (table_.size() != arrays) {
        table_.assign(arrays, Counts{});
        tableValid_ = false;
      }
    } catch (const std::bad_alloc&) {
      raw_.clear();
      table_.clear();
      rawValid_ = tableValid_ = false;
      return TES_ERR_NO_MEMORY;
    }
    const bool countRaw = !rawValid_;
    Count(store, pipeline, countRaw, true);
    rawValid_ = tableValid_ = true;
  }
  const Counts& counts = (throughTable ? table_ : raw_)[index];
  std::memcpy(out->counts, counts.data(), sizeof(out->counts));
  return TES_OK;
}

}  // namespace tessera
