#include "core/image_store.h"

#include <sys/mman.h>

#include <cstring>
#include <new>
#include <utility>

#include "core/cpu_features.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace tessera {

PixelSlab::PixelSlab(size_t count, size_t blockBytes) : blockBytes_(blockBytes) {
  const size_t bytes = count * blockBytes;
  if (bytes == 0) return;
  // Placed on a huge-page boundary and asked for huge pages, so that the system can back it
  // with a few large pages rather than thousands of small ones; then filled in one call.
  constexpr size_t kHuge = size_t{2} << 20;
  void* p = ::mmap(nullptr, bytes + kHuge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return;
  auto* start = static_cast<uint8_t*>(p);
  auto* base = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(start) + kHuge - 1) & ~(kHuge - 1));
  if (base > start) ::munmap(start, static_cast<size_t>(base - start));
  if (start + kHuge > base) ::munmap(base + bytes, static_cast<size_t>(start + kHuge - base));
  ::madvise(base, bytes, MADV_HUGEPAGE);
  ::madvise(base, bytes, MADV_POPULATE_WRITE);
  try {
    base_ = std::shared_ptr<void>(base, [bytes](void* q) { ::munmap(q, bytes); });
  } catch (const std::bad_alloc&) {
    // The mapping was returned by the deleter.
  }
}

namespace {

// One row of a copy between the caller's buffer and a tile. The kernel is picked once per
// call from the layout; the transform only changes the start pointer and the steps.
struct CopyKernel {
  void (*run)(uint8_t* tile, const uint8_t* buffer, int count, ptrdiff_t bufferStep, const CopyKernel& k);
  int callerBytes;  // bytes of one pixel in the caller's buffer
  int tileBytes;    // bytes of one stored pixel
  int offset;       // byte offset of the channel inside a stored pixel (plane copies)
};

template <int N>
void CopyIn(uint8_t* d, const uint8_t* s, int n, ptrdiff_t step, const CopyKernel&) {
  if (step == N) {
    std::memcpy(d, s, static_cast<size_t>(n) * N);
    return;
  }
  for (int i = 0; i < n; ++i, d += N, s += step) std::memcpy(d, s, N);
}

#if defined(__x86_64__)
// CopyIn for large stores: whole rows go to the tile with non-temporal stores, which write
// memory without first reading the lines they replace. A store this large leaves the cache
// before anyone reads it again, so nothing is lost by keeping it out. Only a destination on a
// 16-byte boundary streams, in 16-byte pieces; the rest of a row is copied as CopyIn does.
template <int N>
void StreamIn(uint8_t* d, const uint8_t* s, int n, ptrdiff_t step, const CopyKernel& k) {
  if (step != N || (reinterpret_cast<uintptr_t>(d) & 15) != 0) {
    CopyIn<N>(d, s, n, step, k);
    return;
  }
  const size_t bytes = static_cast<size_t>(n) * N, whole = bytes & ~size_t{15};
  size_t i = 0;
  for (; i + 64 <= whole; i += 64) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 16));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 32));
    const __m128i e = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 48));
    _mm_stream_si128(reinterpret_cast<__m128i*>(d + i), a);
    _mm_stream_si128(reinterpret_cast<__m128i*>(d + i + 16), b);
    _mm_stream_si128(reinterpret_cast<__m128i*>(d + i + 32), c);
    _mm_stream_si128(reinterpret_cast<__m128i*>(d + i + 48), e);
  }
  for (; i < whole; i += 16)
    _mm_stream_si128(reinterpret_cast<__m128i*>(d + i), _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i)));
  std::memcpy(d + i, s + i, bytes - i);
}
#endif

template <int S>
void SpreadIn(uint8_t* d, const uint8_t* s, int n, ptrdiff_t step, const CopyKernel&) {
  for (int i = 0; i < n; ++i, d += 3 * S, s += step) {
    std::memcpy(d, s, S);
    std::memcpy(d + S, s, S);
    std::memcpy(d + 2 * S, s, S);
  }
}

template <int S>
void PlaneIn(uint8_t* d, const uint8_t* s, int n, ptrdiff_t step, const CopyKernel& k) {
  d += k.offset;
  for (int i = 0; i < n; ++i, d += k.tileBytes, s += step) std::memcpy(d, s, S);
}

template <int S>
void PlaneOut(uint8_t* d, const uint8_t* s, int n, ptrdiff_t, const CopyKernel& k) {
  s += k.offset;
  for (int i = 0; i < n; ++i, s += k.tileBytes, d += S) std::memcpy(d, s, S);
}

void CopyOut(uint8_t* d, const uint8_t* s, int n, ptrdiff_t, const CopyKernel& k) {
  std::memcpy(d, s, static_cast<size_t>(n) * k.tileBytes);
}

using RunFn = decltype(CopyKernel::run);

RunFn CopyInFor(int bytes) {
  return ForPixelSize(bytes, [](auto n) -> RunFn { return CopyIn<decltype(n)::value>; });
}

// Reads of at most this many bytes go tile by tile (Load).
constexpr int64_t kCachedReadBytes = int64_t{1} << 20;

// Stores of at least this many bytes stream into the tiles (StreamIn).
constexpr int64_t kStreamBytes = int64_t{2} << 20;

// Whether a store may take StreamIn.
bool CanStreamIn() {
  return CpuCan(kCpuSse2);
}

RunFn StreamInFor(int bytes) {
#if defined(__x86_64__)
  return ForPixelSize(bytes, [](auto n) -> RunFn { return StreamIn<decltype(n)::value>; });
#else
  return CopyInFor(bytes);
#endif
}

// Chooses the kernel for the layout. False when the plane does not exist.
bool ChooseKernel(const ImageStore& store, int plane, bool writing, CopyKernel& k) {
  const int channels = store.channels();
  const int sample = store.bits() / 8;
  k.tileBytes = store.bytesPerPixel();
  k.offset = 0;
  if (plane < 0 || plane > channels) return false;
  if (plane == 0 || channels == 1) {
    if (writing && store.arrivesAsGrey()) {
      k.callerBytes = sample;
      k.run = sample == 1 ? SpreadIn<1> : SpreadIn<2>;
    } else {
      k.callerBytes = k.tileBytes;
      k.run = writing ? CopyInFor(k.tileBytes) : CopyOut;
    }
    return true;
  }
  k.callerBytes = sample;
  k.offset = (plane - 1) * sample;
  if (writing)
    k.run = sample == 1 ? PlaneIn<1> : PlaneIn<2>;
  else
    k.run = sample == 1 ? PlaneOut<1> : PlaneOut<2>;
  return true;
}

// A store whose tiles still need this many bytes of pixels between them gets them as one
// PixelSlab; smaller ones take a calloc block each.
constexpr size_t kSlabBytes = size_t{1} << 20;

bool RectFits(const tagTes_Rect& r, int64_t w, int64_t h) {
  return r.width > 0 && r.height > 0 && r.x >= 0 && r.y >= 0 && int64_t{r.x} + r.width <= w &&
         int64_t{r.y} + r.height <= h;
}

// The image rows [first, end) of `rect` that lie in tile row `row`.
std::pair<int, int> RowsOfBand(const tagTes_Rect& rect, int originY, int row) {
  return {std::max(rect.y, originY + kTileSize * row), std::min(rect.y + rect.height, originY + kTileSize * (row + 1))};
}

}  // namespace

long ImageStore::Describe(const tagTes_Image_Desc& desc, const tagTes_Transform_Struct& transform) {
  resolution_ = desc.resolution;
  colorSpace_ = desc.colorSpace;
  arrivesAsGrey_ = false;
  if (colorManaged_ && IsGrey(colorSpace_)) {
    colorSpace_ = colorSpace_ == TES_CS_GRAY8 ? TES_CS_RGB24 : TES_CS_RGB48;
    arrivesAsGrey_ = true;
  }
  const int angle = NormaliseAngle(transform.angle);
  originX_ = originY_ = 0;
  const bool quarter = angle == 90 || angle == 270;
  width_ = std::max(0, quarter ? desc.height : desc.width);
  height_ = std::max(0, quarter ? desc.width : desc.height);
  tilesAcross_ = static_cast<int>((int64_t{width_} + kTileSize - 1) / kTileSize);
  tilesDown_ = static_cast<int>((int64_t{height_} + kTileSize - 1) / kTileSize);
  const long status = CheckColorSpace(colorSpace_, colorManaged_);
  if (IsGrey(colorSpace_)) srgb_ = false;
  return status;
}

void ImageStore::Report(tagTes_Image_Desc* desc) const {
  desc->width = width_;
  desc->height = height_;
  desc->colorSpace = colorSpace_;
  const ColorSpaceInfo& row = ColorSpaceRow(colorSpace_);
  for (int c = 0; c < 4; ++c) desc->bitsPerChannel[c] = c < row.channels ? static_cast<uint16_t>(row.bits) : 0;
  desc->resolution = resolution_;
}

bool ImageStore::CreateTable() {
  try {
    tiles_.clear();
    tiles_.resize(static_cast<size_t>(tilesAcross_) * tilesDown_);
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  hasTable_ = true;
  return true;
}

TileRange ImageStore::RangeOf(const tagTes_Rect& r) const {
  TileRange range{(r.x - originX_) / kTileSize, (r.y - originY_) / kTileSize,
                  static_cast<int>((int64_t{r.x} - originX_ + r.width - 1) / kTileSize),
                  static_cast<int>((int64_t{r.y} - originY_ + r.height - 1) / kTileSize)};
  range.firstColumn = std::max(range.firstColumn, 0);
  range.firstRow = std::max(range.firstRow, 0);
  range.lastColumn = std::min(range.lastColumn, tilesAcross_ - 1);
  range.lastRow = std::min(range.lastRow, tilesDown_ - 1);
  return range;
}

long ImageStore::Store(const tagTes_Tile_Desc& desc, const tagTes_Transform_Struct& transform, const void* buffer) {
  CopyKernel k{};
  if (buffer == nullptr || !ChooseKernel(*this, desc.plane, true, k)) return TES_ERR_NO_IMAGE;
  const int angle = NormaliseAngle(transform.angle);
  const bool mirror = transform.mirror != 0;
  const bool quarter = angle == 90 || angle == 270;
  const tagTes_Rect& in = desc.rect;
  // The incoming rectangle must lie inside the untransformed image, and the row stride must
  // hold a whole row: anything else would write outside the tiles or read outside the buffer.
  if (!RectFits(in, quarter ? height_ : width_, quarter ? width_ : height_)) return TES_ERR_NO_IMAGE;
  if (int64_t{desc.rowBytes} < int64_t{in.width} * k.callerBytes) return TES_ERR_NO_IMAGE;

  const int W = width_, H = height_;
  const int x = in.x, y = in.y, w = in.width, h = in.height;
  const ptrdiff_t p = k.callerBytes, r = desc.rowBytes;
  tagTes_Rect stored{};
  ptrdiff_t start = 0, pixelStep = 0, rowStep = 0;
  switch ((mirror ? 1000 : 0) + angle) {
    case 0: stored = {x, y, w, h}; start = 0; pixelStep = p; rowStep = r; break;
    case 90: stored = {W - y - h, x, h, w}; start = (h - 1) * r; pixelStep = -r; rowStep = p; break;
    case 180: stored = {W - x - w, H - y - h, w, h}; start = (h - 1) * r + (w - 1) * p; pixelStep = -p; rowStep = -r; break;
    case 270: stored = {y, H - x - w, h, w}; start = (w - 1) * p; pixelStep = r; rowStep = -p; break;
    case 1000: stored = {W - x - w, y, w, h}; start = (w - 1) * p; pixelStep = -p; rowStep = r; break;
    case 1090: stored = {W - y - h, H - x - w, h, w}; start = (h - 1) * r + (w - 1) * p; pixelStep = -r; rowStep = -p; break;
    case 1180: stored = {x, H - y - h, w, h}; start = (h - 1) * r; pixelStep = p; rowStep = -r; break;
    default: stored = {y, x, h, w}; start = 0; pixelStep = r; rowStep = p; break;  // mirror, 270
  }
  const uint8_t* first = static_cast<const uint8_t*>(buffer) + start;
  const int bpp = bytesPerPixel();
  const bool streaming = k.run == CopyInFor(bpp) && int64_t{w} * h * bpp >= kStreamBytes && CanStreamIn();
  if (streaming) k.run = StreamInFor(bpp);
  // Streamed stores are made visible before anything else reads the tiles, however this ends.
  struct Fence {
    bool on;
    ~Fence() {
#if defined(__x86_64__)
      if (on) _mm_sfence();
#endif
    }
  } fence{streaming};

  const TileRange range = RangeOf(stored);
  // The pixel blocks of the tiles this store is the first to write, together.
  size_t fresh = 0;
  for (int row = range.firstRow; row <= range.lastRow; ++row)
    for (int column = range.firstColumn; column <= range.lastColumn; ++column) {
      const Tile* tile = tiles_[static_cast<size_t>(row) * tilesAcross_ + column].get();
      if (tile == nullptr || !tile->pixels) ++fresh;
    }
  const size_t blockBytes = static_cast<size_t>(kTileSize) * kTileSize * bpp;
  const PixelSlab slab(fresh * blockBytes >= kSlabBytes ? fresh : 0, blockBytes);
  size_t taken = 0;
  // Without a quarter turn every stored row comes from one row of the caller's buffer: such
  // a store goes through the buffer row by row, across the tiles, reading it in order. A
  // quarter turn goes tile by tile, which keeps the buffer's part for one tile in the cache.
  const auto copy = [&](Tile& tile, int yy) {
    const tagTes_Rect part = Intersect(tile.position, stored);
    if (IsEmpty(part)) return;
    const uint8_t* src = first + (yy - stored.y) * rowStep + (part.x - stored.x) * pixelStep;
    uint8_t* dst = tile.Row(yy - tile.position.y) + static_cast<ptrdiff_t>(part.x - tile.position.x) * bpp;
    k.run(dst, src, part.width, pixelStep, k);
  };
  for (int row = range.firstRow; row <= range.lastRow; ++row) {
    const auto [top, bottom] = RowsOfBand(stored, originY_, row);
    for (int column = range.firstColumn; column <= range.lastColumn; ++column) {
      std::unique_ptr<Tile>& slot = tiles_[static_cast<size_t>(row) * tilesAcross_ + column];
      if (!slot) {
        slot.reset(new (std::nothrow) Tile);
        if (!slot) return TES_ERR_NO_MEMORY;
        slot->position = {originX_ + kTileSize * column, originY_ + kTileSize * row, kTileSize, kTileSize};
        slot->bytesPerPixel = bpp;
        slot->rowBytes = kTileSize * bpp;
      }
      Tile& tile = *slot;
      tile.DropCache();
      if (!tile.pixels && slab) tile.pixels = slab.Block(taken++);
      if (!tile.EnsurePixels()) return TES_ERR_NO_MEMORY;
      if (quarter)
        for (int yy = top; yy < bottom; ++yy) copy(tile, yy);
    }
    if (!quarter)
      for (int yy = top; yy < bottom; ++yy)
        for (int column = range.firstColumn; column <= range.lastColumn; ++column)
          copy(*tiles_[static_cast<size_t>(row) * tilesAcross_ + column], yy);
  }
  return TES_OK;
}

long ImageStore::Load(const tagTes_Tile_Desc& desc, void* buffer) const {
  if (!hasTable_) return TES_ERR_NO_IMAGE;
  CopyKernel k{};
  if (buffer == nullptr || !ChooseKernel(*this, desc.plane, false, k)) return TES_ERR_NO_IMAGE;
  const tagTes_Rect& rect = desc.rect;
  if (!RectFits(rect, width_, height_)) return TES_ERR_NO_IMAGE;
  if (int64_t{desc.rowBytes} < int64_t{rect.width} * k.callerBytes) return TES_ERR_NO_IMAGE;

  // A read that fits in the cache goes tile by tile, reading each tile in order while the
  // buffer stays cached; a larger one goes row by row of the buffer, across the tiles, so
  // that the buffer fills in order. Each band of tiles is checked for pixels before any of
  // its rows is copied.
  const bool acrossTiles = int64_t{rect.width} * rect.height * k.callerBytes > kCachedReadBytes;
  auto* out = static_cast<uint8_t*>(buffer);
  const auto copy = [&](const Tile& tile, int yy) {
    const tagTes_Rect part = Intersect(tile.position, rect);
    if (IsEmpty(part)) return;
    const uint8_t* src = tile.Row(yy - tile.position.y) + static_cast<ptrdiff_t>(part.x - tile.position.x) * k.tileBytes;
    uint8_t* dst = out + static_cast<ptrdiff_t>(yy - rect.y) * desc.rowBytes +
                   static_cast<ptrdiff_t>(part.x - rect.x) * k.callerBytes;
    k.run(dst, src, part.width, 0, k);
  };
  const TileRange range = RangeOf(rect);
  for (int row = range.firstRow; row <= range.lastRow; ++row) {
    for (int column = range.firstColumn; column <= range.lastColumn; ++column) {
      const Tile* tile = TileAt(column, row);
      if (tile == nullptr || !tile->pixels) return TES_ERR_NO_IMAGE;
    }
    const auto [top, bottom] = RowsOfBand(rect, originY_, row);
    if (acrossTiles) {
      for (int yy = top; yy < bottom; ++yy)
        for (int column = range.firstColumn; column <= range.lastColumn; ++column) copy(*TileAt(column, row), yy);
    } else {
      for (int column = range.firstColumn; column <= range.lastColumn; ++column)
        for (int yy = top; yy < bottom; ++yy) copy(*TileAt(column, row), yy);
    }
  }
  return TES_OK;
}

void ImageStore::Clear() {
  colorSpace_ = TES_CS_RGB24;
  originX_ = originY_ = 0;
  width_ = height_ = 0;
  tilesAcross_ = tilesDown_ = 0;
  resolution_ = 72.0;
  tiles_.clear();
  tiles_.shrink_to_fit();
  hasTable_ = false;
}

void ImageStore::DropCaches() {
  for (auto& tile : tiles_)
    if (tile) tile->DropCache();
}

void ImageStore::SetColorSpaceCode(int code) {
  colorSpace_ = static_cast<int16_t>(code);
  if (IsGrey(code)) srgb_ = false;
}

void ImageStore::SetGrid(int width, int height, int tilesAcross, int tilesDown, int originX, int originY,
                         std::vector<std::unique_ptr<Tile>> tiles) {
  width_ = width;
  height_ = height;
  tilesAcross_ = tilesAcross;
  tilesDown_ = tilesDown;
  originX_ = originX;
  originY_ = originY;
  tiles_ = std::move(tiles);
}

}  // namespace tessera
