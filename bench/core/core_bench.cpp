// The image store beside a plain memory copy of the same bytes, on a 6000 x 4000 48-bit
// RGB image: strip storage, mirroring and quarter turns. Also the first drawing of a
// 6000 x 4000 24-bit image at 1:4 and a repaint with warm caches.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <memory>
#include <vector>

#include "tessera/tessera.h"
#include "win/gdi.h"

namespace {

constexpr int W = 6000, H = 4000;
const tagTes_Transform_Struct kNone = TesseraClass::m_s_EmptyTransform;

std::vector<uint8_t>& Source(int bpp) {
  static std::vector<uint8_t> rgb48, rgb24;
  std::vector<uint8_t>& v = bpp == 6 ? rgb48 : rgb24;
  if (v.empty()) {
    v.resize(static_cast<size_t>(W) * H * bpp);
    for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<uint8_t>(i * 2654435761u >> 24);
  }
  return v;
}

std::unique_ptr<TesseraClass> Filled(int cs, int bpp, short flags = 0) {
  auto image = std::make_unique<TesseraClass>(flags, static_cast<short>(cs));
  tagTes_Image_Desc desc{W, H, static_cast<int16_t>(cs), {}, 300.0};
  image->SetImageDesc(desc, kNone);
  std::vector<uint8_t>& src = Source(bpp);
  for (int y = 0; y < H; y += 128) {
    tagTes_Tile_Desc t{{0, y, W, std::min(128, H - y)}, W * bpp, 0};
    image->SetData(t, kNone, src.data() + static_cast<size_t>(y) * W * bpp);
  }
  return image;
}

void BM_MemoryCopy48(benchmark::State& state) {
  std::vector<uint8_t>& src = Source(6);
  std::vector<uint8_t> dst(src.size());
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), src.size());
    benchmark::DoNotOptimize(dst.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(src.size()));
}

void BM_SetDataStrips48(benchmark::State& state) {
  Source(6);
  for (auto _ : state) {
    auto image = Filled(3, 6);
    benchmark::DoNotOptimize(image.get());
    state.PauseTiming();
    image.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(state.iterations() * int64_t{W} * H * 6);
}

// A copy into freshly allocated memory: the floor for storing a new image, whose tile
// blocks are new pages that the system must hand over zeroed.
void BM_MemoryCopyFresh48(benchmark::State& state) {
  std::vector<uint8_t>& src = Source(6);
  for (auto _ : state) {
    std::unique_ptr<uint8_t[]> dst(new uint8_t[src.size()]);
    std::memcpy(dst.get(), src.data(), src.size());
    benchmark::DoNotOptimize(dst.get());
    state.PauseTiming();
    dst.reset();
    state.ResumeTiming();
  }
}

// The copy routines alone: the same strips stored again into tiles that already exist.
void BM_SetDataStripsWarm48(benchmark::State& state) {
  auto image = Filled(3, 6);
  std::vector<uint8_t>& src = Source(6);
  for (auto _ : state) {
    for (int y = 0; y < H; y += 128) {
      tagTes_Tile_Desc t{{0, y, W, std::min(128, H - y)}, W * 6, 0};
      image->SetData(t, kNone, src.data() + static_cast<size_t>(y) * W * 6);
    }
  }
}

// Reading a stored image back in strips of a tile's height, as saving and copying do.
void BM_GetDataStrips48(benchmark::State& state) {
  auto image = Filled(3, 6);
  std::vector<uint8_t> out(Source(6).size());
  for (auto _ : state) {
    for (int y = 0; y < H; y += 128) {
      tagTes_Tile_Desc t{{0, y, W, std::min(128, H - y)}, W * 6, 0};
      image->GetData(t, out.data() + static_cast<size_t>(y) * W * 6);
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * int64_t{W} * H * 6);
}

void BM_FlipH48(benchmark::State& state) {
  auto image = Filled(3, 6);
  for (auto _ : state) image->FlipH();
  state.SetBytesProcessed(state.iterations() * int64_t{W} * H * 6);
}

void BM_Rotate90_48(benchmark::State& state) {
  auto image = Filled(3, 6);
  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  for (auto _ : state) image->Rotate(90.0);
  rusage after{};
  getrusage(RUSAGE_SELF, &after);
  // Peak resident size before the turns (source buffer and image) and its growth during them.
  state.counters["peak_rss_MiB"] = after.ru_maxrss / 1024.0;
  state.counters["peak_growth_MiB"] = (after.ru_maxrss - before.ru_maxrss) / 1024.0;
  state.counters["image_MiB"] = double(W) * H * 6 / (1024.0 * 1024.0);
  state.SetBytesProcessed(state.iterations() * int64_t{W} * H * 6);
}

// The first drawing at 1:4 into a memory context, the caches dropped before each round.
void DisplayQuarterFirst(benchmark::State& state, short flags) {
  auto image = Filled(2, 3, flags);
  orvax::win::MemoryDC dc(W / 4, H / 4);
  const tagTes_Output_Info info{&dc, 0, 0, W / 4, H / 4, 0, 0, W / 4, H / 4};
  for (auto _ : state) {
    state.PauseTiming();
    image->ClearCache();
    state.ResumeTiming();
    image->Display(info);
  }
}

void BM_DisplayQuarterFirst24(benchmark::State& state) { DisplayQuarterFirst(state, 0); }

void BM_DisplayQuarterWarm24(benchmark::State& state) {
  auto image = Filled(2, 3);
  orvax::win::MemoryDC dc(W / 4, H / 4);
  const tagTes_Output_Info info{&dc, 0, 0, W / 4, H / 4, 0, 0, W / 4, H / 4};
  image->Display(info);
  for (auto _ : state) image->Display(info);
}

// The same first drawing through the colour-matching library (sRGB image, sRGB monitor).
void BM_DisplayQuarterFirstManaged24(benchmark::State& state) { DisplayQuarterFirst(state, 15); }

// A whole-image colour-space change of a freshly filled 24-bit RGB image.
void ChangeColorSpace(benchmark::State& state, short flags, short target) {
  for (auto _ : state) {
    state.PauseTiming();
    auto image = Filled(2, 3, flags);
    state.ResumeTiming();
    image->SetColorSpace(target, nullptr);
    state.PauseTiming();
    image.reset();
    state.ResumeTiming();
  }
}

// 24-bit RGB to 32-bit CMYK through the profiles, beside the plain pipeline's 24-bit RGB to
// 48-bit RGB widening of the same image.
void BM_SetColorSpaceManagedRgbToCmyk(benchmark::State& state) { ChangeColorSpace(state, 15, 4); }
void BM_SetColorSpacePlainRgbTo48(benchmark::State& state) { ChangeColorSpace(state, 0, 3); }

void BM_MemoryCopy24(benchmark::State& state) {
  std::vector<uint8_t>& src = Source(3);
  std::vector<uint8_t> dst(src.size());
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), src.size());
    benchmark::DoNotOptimize(dst.data());
  }
}

}  // namespace

BENCHMARK(BM_MemoryCopy48)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_SetDataStrips48)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_MemoryCopyFresh48)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_SetDataStripsWarm48)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_GetDataStrips48)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_FlipH48)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Rotate90_48)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_MemoryCopy24)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_DisplayQuarterFirst24)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_DisplayQuarterWarm24)->Unit(benchmark::kMillisecond)->MinTime(1.0);

BENCHMARK(BM_DisplayQuarterFirstManaged24)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_SetColorSpaceManagedRgbToCmyk)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_SetColorSpacePlainRgbTo48)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Starts the library with the Windows root's profiles: sRGB monitor, Debian's CMYK profile.
int main(int argc, char** argv) {
  const char* root = std::getenv("ORVAX_WINDOWS_DIR");
  std::string color = std::string(root ? root : "build-bench/windows") + "/SYSTEM/COLOR";
  std::string monitor = color + "/OXsRGB.icm", cmyk = "/usr/share/color/icc/ghostscript/default_cmyk.icc";
  tagTes_Image_Info info{};
  info.size = sizeof info;
  char *m = monitor.data(), *k = cmyk.data(), *d = color.data();
  TesseraClass::InitMosaic(info, m, m, k, d, 1.0);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  TesseraClass::CloseMosaic();
  return 0;
}
