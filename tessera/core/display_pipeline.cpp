#include "core/display_pipeline.h"

#include <algorithm>
#include <cstring>

#include "core/library.h"

namespace tessera {

long DisplayPipeline::Initialise() { return ResetTables(); }

void DisplayPipeline::Identity(uint16_t* table) {
  for (int i = 0; i < kTableEntries; ++i) table[i] = static_cast<uint16_t>(i);
}

void DisplayPipeline::StoreTable(uint16_t* table, const uint8_t* bytes) {
  for (int i = 0; i < 256; ++i) table[i] = bytes[i];
  table[256] = static_cast<uint16_t>(std::clamp(2 * int{bytes[255]} - int{bytes[254]}, 0, 256));
}

long DisplayPipeline::ResetTables() {
  for (auto& table : tables_) Identity(table);
  return TES_OK;
}

long DisplayPipeline::SetTable(const uint8_t* table, int channel, int mode) {
  StoreTable(tables_[(mode == 0 || mode == 1) ? channel : 4 + channel], table);
  return TES_OK;
}

long DisplayPipeline::BeginConversion(int target, const uint8_t* const*, int blockWidth, int blockHeight) {
  targetCode_ = target;
  targetWidth_ = blockWidth;
  targetPixels_ = blockWidth * blockHeight;
  return TES_OK;
}

void DisplayPipeline::ReportPixel(const uint8_t* pixel, bool throughTable, tagTes_Pixel_Value* value) const {
  value->colorSpace = static_cast<uint16_t>(store_.colorSpace());
  const int channels = store_.channels();
  if (store_.bits() == 8) {
    for (int c = 0; c < channels; ++c) value->values[c] = throughTable ? Through8(c, pixel[c]) : pixel[c];
  } else {
    for (int c = 0; c < channels; ++c) {
      uint16_t v;
      std::memcpy(&v, pixel + 2 * c, 2);
      value->values[c] = throughTable ? Through16(c, v) : v;
    }
  }
}

// ---------------------------------------------------------------------------------------

long PlainPipeline::ResetTables() {
  DisplayPipeline::ResetTables();
  const LibraryState& lib = Library();
  for (int c = 0; c < 3; ++c) {
    if (store_.bits() == 8)
      std::memcpy(output_[c], lib.gamma8, 256);
    else
      std::memcpy(output_[c], lib.gamma12, 4096);
  }
  return TES_OK;
}

long PlainPipeline::SetTable(const uint8_t* table, int channel, int mode) {
  if (mode == 2) mode = 0;
  if (mode == 3) mode = 1;
  const int limit = (mode == 0 || mode == 1) ? store_.channels() : 3;
  if (channel < 0 || channel >= limit) return TES_ERR_LUT_CHANNEL;
  DisplayPipeline::SetTable(table, channel, mode);
  if (channel < 3) RebuildOutput(channel, mode);
  return TES_OK;
}

void PlainPipeline::RebuildOutput(int channel, int mode) {
  const uint16_t* in = tables_[channel];
  uint8_t* out = output_[channel];
  const LibraryState& lib = Library();
  const bool eight = store_.bits() == 8;
  if (mode == 0) {
    if (eight) {
      for (int i = 0; i < 256; ++i) out[i] = lib.gamma8[std::min<int>(in[i], 255)];
    } else {
      for (int i = 0; i < 4096; ++i) {
        const int index = in[i >> 4] * (16 - (i & 15)) + in[(i >> 4) + 1] * (i & 15);
        out[i] = lib.gamma12[std::min(index, 4095)];
      }
    }
  } else {
    if (eight) {
      for (int i = 0; i < 256; ++i) out[i] = static_cast<uint8_t>(std::min<int>(in[i], 255));
    } else {
      for (int i = 0; i < 4096; ++i) out[i] = static_cast<uint8_t>(std::min<int>(in[i >> 4], 255));
    }
  }
}

namespace {

constexpr int T = kTileSize;

inline uint16_t Sample16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}

// Writes tile row r into DIB row 127 - r (bottom-up), through per-channel byte lookups.
// Lookup takes the sample's address and the channel.
template <typename Lookup>
void ToDib(const Tile& tile, int channels, int sampleBytes, uint8_t* dib, Lookup lookup) {
  const int dibRow = channels == 1 ? T : 3 * T;
  for (int r = 0; r < T; ++r) {
    const uint8_t* src = tile.Row(r);
    uint8_t* dst = dib + static_cast<size_t>(T - 1 - r) * dibRow;
    if (channels == 1) {
      for (int x = 0; x < T; ++x, src += sampleBytes) dst[x] = lookup(src, 0);
    } else {
      for (int x = 0; x < T; ++x, src += 3 * sampleBytes, dst += 3) {
        dst[0] = lookup(src + 2 * sampleBytes, 2);
        dst[1] = lookup(src + sampleBytes, 1);
        dst[2] = lookup(src, 0);
      }
    }
  }
}

}  // namespace

long PlainPipeline::ConvertForScreen(const Tile& tile, uint8_t* dib) {
  const int channels = store_.channels();
  if (store_.bits() == 8)
    ToDib(tile, channels, 1, dib, [this](const uint8_t* p, int c) { return output_[c][*p]; });
  else
    ToDib(tile, channels, 2, dib, [this](const uint8_t* p, int c) { return output_[c][Sample16(p) >> 4]; });
  return TES_OK;
}

long PlainPipeline::ConvertForPrint(const Tile& tile, uint8_t* dib) {
  const int channels = store_.channels();
  if (store_.bits() == 8)
    ToDib(tile, channels, 1, dib, [this](const uint8_t* p, int c) { return static_cast<uint8_t>(tables_[c][*p]); });
  else
    ToDib(tile, channels, 2, dib,
          [this](const uint8_t* p, int c) { return static_cast<uint8_t>(tables_[c][Sample16(p) >> 8]); });
  return TES_OK;
}

long PlainPipeline::ConvertBlock(const uint8_t* source, uint8_t* destination) {
  ConvertPlainPixels(store_.colorSpace(), targetCode_, source, destination, static_cast<size_t>(targetPixels_));
  return TES_OK;
}

void ConvertPlainPixels(int from, int to, const uint8_t* s, uint8_t* d, size_t n) {
  auto put16 = [](uint8_t* p, unsigned v) {
    const uint16_t u = static_cast<uint16_t>(v);
    std::memcpy(p, &u, 2);
  };
  auto grey8 = [](unsigned r, unsigned g, unsigned b) { return (77 * r + 150 * g + 29 * b + 128) >> 8; };
  if (from == to) {
    std::memcpy(d, s, n * BytesPerPixel(from));
    return;
  }
  switch (from * 4 + to) {
    case 0 * 4 + 1: for (size_t i = 0; i < n; ++i) put16(d + 2 * i, s[i] * 256u); break;
    case 0 * 4 + 2: for (size_t i = 0; i < n; ++i) d[3 * i] = d[3 * i + 1] = d[3 * i + 2] = s[i]; break;
    case 0 * 4 + 3:
      for (size_t i = 0; i < n; ++i)
        for (int c = 0; c < 3; ++c) put16(d + 6 * i + 2 * c, s[i] * 256u);
      break;
    case 1 * 4 + 0: for (size_t i = 0; i < n; ++i) d[i] = static_cast<uint8_t>(Sample16(s + 2 * i) >> 8); break;
    case 1 * 4 + 2:
      for (size_t i = 0; i < n; ++i) d[3 * i] = d[3 * i + 1] = d[3 * i + 2] = static_cast<uint8_t>(Sample16(s + 2 * i) >> 8);
      break;
    case 1 * 4 + 3:
      for (size_t i = 0; i < n; ++i)
        for (int c = 0; c < 3; ++c) std::memcpy(d + 6 * i + 2 * c, s + 2 * i, 2);
      break;
    case 2 * 4 + 0: for (size_t i = 0; i < n; ++i) d[i] = static_cast<uint8_t>(grey8(s[3 * i], s[3 * i + 1], s[3 * i + 2])); break;
    case 2 * 4 + 1: for (size_t i = 0; i < n; ++i) put16(d + 2 * i, grey8(s[3 * i], s[3 * i + 1], s[3 * i + 2]) * 256u); break;
    case 2 * 4 + 3:
      for (size_t i = 0; i < n; ++i)
        for (int c = 0; c < 3; ++c) put16(d + 6 * i + 2 * c, s[3 * i + c] * 256u);
      break;
    case 3 * 4 + 0:
      for (size_t i = 0; i < n; ++i)
        d[i] = static_cast<uint8_t>(grey8(s[6 * i + 1], s[6 * i + 3], s[6 * i + 5]));
      break;
    case 3 * 4 + 1:
      for (size_t i = 0; i < n; ++i)
        put16(d + 2 * i, grey8(Sample16(s + 6 * i), Sample16(s + 6 * i + 2), Sample16(s + 6 * i + 4)));
      break;
    case 3 * 4 + 2:
      for (size_t i = 0; i < n; ++i)
        for (int c = 0; c < 3; ++c) d[3 * i + c] = s[6 * i + 2 * c + 1];
      break;
    default: break;
  }
}

}  // namespace tessera
