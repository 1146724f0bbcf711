// Decoding and encoding a 6000 x 4000 photographic image with Tessera's codec and with
// libjpeg-turbo (TurboJPEG), on the same input in one run.
#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "formats/jpeg/jpeg_decoder.h"
#include "formats/jpeg/jpeg_encoder.h"
#include "formats/jpeg/jpeg_simd.h"
#include "formats/streams.h"

namespace {

constexpr int kWidth = 6000, kHeight = 4000;

// Smooth shapes, edges and grain: something like a scanned photograph.
const std::vector<uint8_t>& Photo() {
  static const std::vector<uint8_t> pixels = [] {
    std::vector<uint8_t> p(static_cast<size_t>(kWidth) * kHeight * 3);
    uint32_t seed = 12345;
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        seed = seed * 1664525u + 1013904223u;
        const int grain = static_cast<int>(seed >> 28) - 8;
        const double fx = x / 400.0, fy = y / 300.0;
        const int base = static_cast<int>(128 + 90 * std::sin(fx) * std::cos(fy));
        const int edge = ((x / 250 + y / 170) % 2) * 30;
        for (int c = 0; c < 3; ++c) {
          const int v = base + edge + grain + c * 20 - 20 + static_cast<int>(30 * std::sin(fx * (c + 1) + fy));
          p[(static_cast<size_t>(y) * kWidth + x) * 3 + c] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
        }
      }
    return p;
  }();
  return pixels;
}

// A TurboJPEG file of the photo at the given sampling (progressive: libjpeg's default
// progression of spectral selection and successive approximation), written once to a
// temporary file.
std::string File(int sampling, bool progressive = false) {
  static std::map<int, std::string> made;
  const int key = sampling * 2 + (progressive ? 1 : 0);
  if (made.count(key)) return made[key];
  const std::string path =
      "/tmp/tessera-bench-" + std::to_string(sampling) + (progressive ? "-progressive" : "") + ".jpg";
  tjhandle h = tjInitCompress();
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  tjCompress2(h, Photo().data(), kWidth, 0, kHeight, TJPF_RGB, &jpeg, &size, sampling, 90,
              TJFLAG_ACCURATEDCT | (progressive ? TJFLAG_PROGRESSIVE : 0));
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(jpeg, 1, size, f);
  std::fclose(f);
  tjFree(jpeg);
  tjDestroy(h);
  return made[key] = path;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::vector<uint8_t> b;
  FILE* f = std::fopen(path.c_str(), "rb");
  std::fseek(f, 0, SEEK_END);
  b.resize(static_cast<size_t>(std::ftell(f)));
  std::fseek(f, 0, SEEK_SET);
  if (std::fread(b.data(), 1, b.size(), f) != b.size()) b.clear();
  std::fclose(f);
  return b;
}

// Takes the decoded rows into one RGB buffer, as TurboJPEG's output is: converted straight
// into it where the decoder can, copied from its bands otherwise.
class BufferSink final : public tessera::jpeg::RowSink {
 public:
  std::vector<uint8_t> rgb;
  long Begin(int width, int height, int) override {
    width_ = width;
    rgb.resize(static_cast<size_t>(width) * height * 3);
    return 0;
  }
  uint8_t* RowsAt(int first, int, ptrdiff_t& rowBytes) override {
    rowBytes = static_cast<ptrdiff_t>(width_) * 3;
    return &rgb[static_cast<size_t>(first) * width_ * 3];
  }
  long Rows(const uint8_t* pixels, ptrdiff_t rowBytes, int first, int rows) override {
    if (pixels == &rgb[static_cast<size_t>(first) * width_ * 3]) return 0;  // already in place
    for (int r = 0; r < rows; ++r)
      std::memcpy(&rgb[(static_cast<size_t>(first) + r) * width_ * 3], pixels + r * rowBytes,
                  static_cast<size_t>(width_) * 3);
    return 0;
  }

 private:
  int width_ = 0;
};

void DecodeOurs(benchmark::State& state, int sampling, bool progressive = false) {
  const std::string path = File(sampling, progressive);
  // The output buffer is made before the timing and kept from one run to the next, as
  // TurboJPEG's is (otherwise the first run of each batch pays for fresh pages).
  BufferSink sink;
  sink.rgb.resize(static_cast<size_t>(kWidth) * kHeight * 3);
  for (auto _ : state) {
    tessera::InputStream in(path.c_str());
    in.Open();
    tessera::jpeg::Decoder decoder(in, nullptr);
    if (decoder.Decode(sink) != 0) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(sink.rgb.data());
  }
  // The work compared must be the same: every sample within 1 of TurboJPEG's accurate
  // decoding of the same file, its chroma replicated as ours is.
  const std::vector<uint8_t> bytes = ReadAll(path);
  std::vector<uint8_t> peer(static_cast<size_t>(kWidth) * kHeight * 3);
  tjhandle h = tjInitDecompress();
  tjDecompress2(h, bytes.data(), bytes.size(), peer.data(), kWidth, 0, kHeight, TJPF_RGB,
                TJFLAG_ACCURATEDCT | TJFLAG_FASTUPSAMPLE);
  tjDestroy(h);
  int worst = 0;
  for (size_t i = 0; i < peer.size() && i < sink.rgb.size(); ++i)
    worst = std::max(worst, std::abs(static_cast<int>(peer[i]) - static_cast<int>(sink.rgb[i])));
  if (sink.rgb.size() != peer.size() || worst > 1) state.SkipWithError("decoded samples differ from TurboJPEG's");
  state.counters["maxdiff"] = worst;
}

// flags: TJFLAG_ACCURATEDCT, with TJFLAG_FASTUPSAMPLE for chroma replicated as ours is
// (without it TurboJPEG interpolates subsampled chroma, other work giving other pixels).
void DecodeTurbo(benchmark::State& state, int sampling, int flags, bool progressive = false) {
  const std::string path = File(sampling, progressive);
  std::vector<uint8_t> rgb(static_cast<size_t>(kWidth) * kHeight * 3);
  tjhandle h = tjInitDecompress();
  for (auto _ : state) {
    // The file is read as ours is, then decoded.
    const std::vector<uint8_t> bytes = ReadAll(path);
    if (tjDecompress2(h, bytes.data(), bytes.size(), rgb.data(), kWidth, 0, kHeight, TJPF_RGB, flags) != 0)
      state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(rgb.data());
  }
  tjDestroy(h);
}

void BM_DecodeOurs420(benchmark::State& s) { DecodeOurs(s, TJSAMP_420); }
void BM_DecodeTurbo420(benchmark::State& s) { DecodeTurbo(s, TJSAMP_420, TJFLAG_ACCURATEDCT | TJFLAG_FASTUPSAMPLE); }
void BM_DecodeTurbo420Smooth(benchmark::State& s) { DecodeTurbo(s, TJSAMP_420, TJFLAG_ACCURATEDCT); }
void BM_DecodeOurs444(benchmark::State& s) { DecodeOurs(s, TJSAMP_444); }
void BM_DecodeTurbo444(benchmark::State& s) { DecodeTurbo(s, TJSAMP_444, TJFLAG_ACCURATEDCT); }
void BM_DecodeOursProgressive420(benchmark::State& s) { DecodeOurs(s, TJSAMP_420, true); }
void BM_DecodeTurboProgressive420(benchmark::State& s) {
  DecodeTurbo(s, TJSAMP_420, TJFLAG_ACCURATEDCT | TJFLAG_FASTUPSAMPLE, true);
}

void BM_EncodeOursLevel3(benchmark::State& state) {
  const std::vector<uint8_t>& rgb = Photo();
  tessera::jpeg::EncoderConfig config;
  config.width = kWidth;
  config.height = kHeight;
  config.level = 3;
  config.sampling = tessera::jpeg::QualitySampling(3);
  size_t bytes = 0;
  for (auto _ : state) {
    tessera::jpeg::ScanEncoder encoder(config);
    // Bands of 128 rows, the coded bytes drained after each as the writer does.
    for (int first = 0; first < kHeight; first += 128) {
      const int rows = std::min(128, kHeight - first);
      encoder.EncodeRows(rgb.data() + static_cast<size_t>(first) * kWidth * 3, kWidth * 3, rows);
      bytes += encoder.Output().size();
      encoder.Output().clear();
    }
    encoder.Finish();
  }
  state.counters["MiB"] = static_cast<double>(bytes) / state.iterations() / 1048576.0;
}

// TurboJPEG at quality 95 with 4:2:2: its tables are then close to level 3's.
void BM_EncodeTurbo422(benchmark::State& state) {
  const std::vector<uint8_t>& rgb = Photo();
  tjhandle h = tjInitCompress();
  unsigned char* jpeg = tjAlloc(static_cast<int>(tjBufSize(kWidth, kHeight, TJSAMP_422)));
  unsigned long size = 0;
  for (auto _ : state) {
    size = tjBufSize(kWidth, kHeight, TJSAMP_422);
    tjCompress2(h, rgb.data(), kWidth, 0, kHeight, TJPF_RGB, &jpeg, &size, TJSAMP_422, 95, TJFLAG_NOREALLOC);
  }
  state.counters["MiB"] = static_cast<double>(size) / 1048576.0;
  tjFree(jpeg);
  tjDestroy(h);
}

}  // namespace

BENCHMARK(BM_DecodeOurs420)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_DecodeTurbo420)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_DecodeTurbo420Smooth)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_DecodeOurs444)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_DecodeTurbo444)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_DecodeOursProgressive420)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_DecodeTurboProgressive420)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_EncodeOursLevel3)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_EncodeTurbo422)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// Our side again with the SSE2 kernels and with the portable ones, for the record.
void WithKernels(benchmark::State& state, const char* level, void (*run)(benchmark::State&)) {
  if (std::strcmp(level, "portable") == 0) {
    tessera::jpeg::ForcePortableKernels(true);
  } else if (const tessera::jpeg::KernelTable* table = tessera::jpeg::VectorKernelsOf(level)) {
    tessera::jpeg::UseVectorKernels(table);
  } else {
    state.SkipWithError("kernels not available");
    return;
  }
  run(state);
  tessera::jpeg::ForcePortableKernels(false);
  tessera::jpeg::UseVectorKernels(nullptr);
}

BENCHMARK_CAPTURE(WithKernels, BM_DecodeOurs420_sse2, "sse2", BM_DecodeOurs420)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK_CAPTURE(WithKernels, BM_DecodeOurs444_sse2, "sse2", BM_DecodeOurs444)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK_CAPTURE(WithKernels, BM_EncodeOursLevel3_sse2, "sse2", BM_EncodeOursLevel3)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK_CAPTURE(WithKernels, BM_DecodeOurs420_portable, "portable", BM_DecodeOurs420)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK_CAPTURE(WithKernels, BM_DecodeOurs444_portable, "portable", BM_DecodeOurs444)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK_CAPTURE(WithKernels, BM_EncodeOursLevel3_portable, "portable", BM_EncodeOursLevel3)->Unit(benchmark::kMillisecond)->MinTime(1.0);

int main(int argc, char** argv) {
  std::printf("vector kernels: %s\n", tessera::jpeg::VectorLevel());
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
