// The in-tile work of the store beside a memory copy of one tile (128 x 128 48-bit pixels,
// 96 KiB, in the cache): the mirror's portable and vector kernels, the other turns, and
// storing one tile's rectangle out of a wide strip into a tile that exists.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "core/cpu_features.h"
#include "core/image_store.h"
#include "core/tile_kernels.h"

namespace {

constexpr int T = tessera::kTileSize;
constexpr size_t kTileBytes = size_t{T} * T * 6;

std::vector<uint8_t> Pattern(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 2654435761u >> 24);
  return v;
}

void BM_TileMemoryCopy48(benchmark::State& state) {
  std::vector<uint8_t> src = Pattern(kTileBytes), dst(kTileBytes);
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), kTileBytes);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
}

void TileKernel(benchmark::State& state, tessera::TileTurn turn, bool vector) {
  std::vector<uint8_t> block = Pattern(kTileBytes), scratch(kTileBytes);
  const tessera::TileKernel k =
      vector ? tessera::TileKernelFor(turn, 6) : tessera::PortableTileKernelFor(turn, 6);
  for (auto _ : state) {
    k(block.data(), scratch.data());
    benchmark::DoNotOptimize(block.data());
    benchmark::ClobberMemory();
  }
}

void BM_TileMirror48(benchmark::State& s) { TileKernel(s, tessera::TileTurn::kMirror, true); }
void BM_TileMirrorPortable48(benchmark::State& s) { TileKernel(s, tessera::TileTurn::kMirror, false); }
void BM_TileFlip48(benchmark::State& s) { TileKernel(s, tessera::TileTurn::kFlip, true); }
void BM_TileTurn90_48(benchmark::State& s) { TileKernel(s, tessera::TileTurn::k90, true); }

// One 128 x 128 rectangle of a 6000-pixel-wide strip into its existing tile.
void BM_TileStore48(benchmark::State& state) {
  constexpr int W = 6000;
  const std::vector<uint8_t> strip = Pattern(size_t{W} * T * 6);
  tessera::ImageStore store(false);
  const tagTes_Transform_Struct none{};
  const tagTes_Image_Desc desc{W, T, TES_CS_RGB48, {}, 300.0};
  store.Describe(desc, none);
  store.CreateTable();
  const tagTes_Tile_Desc tile{{0, 0, T, T}, W * 6, 0};
  store.Store(tile, none, strip.data());
  for (auto _ : state) {
    store.Store(tile, none, strip.data());
    benchmark::ClobberMemory();
  }
}

}  // namespace

BENCHMARK(BM_TileMemoryCopy48);
BENCHMARK(BM_TileMirror48);
BENCHMARK(BM_TileMirrorPortable48);
BENCHMARK(BM_TileFlip48);
BENCHMARK(BM_TileTurn90_48);
BENCHMARK(BM_TileStore48);
BENCHMARK_MAIN();
