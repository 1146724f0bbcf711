// Reading and writing a 6000 x 4000 48-bit RGB TIFF here and with libtiff's strip API, in
// one run. Both sides end with the whole image in memory (here: in the object's tiles;
// libtiff: in one buffer) or on disk in the same one-strip layout.
#include <benchmark/benchmark.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "tessera/tessera.h"

namespace {

constexpr int W = 6000, H = 4000, BPP = 6;
const tagTes_Transform_Struct kNone = TesseraClass::m_s_EmptyTransform;

std::string Folder() {
  static std::string dir = [] {
    char name[] = "/tmp/tessera-tiff-bench-XXXXXX";
    return std::string(::mkdtemp(name) ? name : "/tmp");
  }();
  return dir;
}

std::vector<uint8_t>& Pixels() {
  static std::vector<uint8_t> v;
  if (v.empty()) {
    v.resize(static_cast<size_t>(W) * H * BPP);
    for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<uint8_t>(i * 2654435761u >> 24);
  }
  return v;
}

TesseraClass& Image() {
  static std::unique_ptr<TesseraClass> image = [] {
    auto im = std::make_unique<TesseraClass>(0, TES_CS_RGB48);
    im->SetImageDesc({W, H, TES_CS_RGB48, {}, 300.0}, kNone);
    im->SetData({{0, 0, W, H}, W * BPP, 0}, kNone, Pixels().data());
    return im;
  }();
  return *image;
}

// The file both readers read: written here, one strip, little-endian.
const std::string& Input() {
  static std::string path = [] {
    std::string p = Folder() + "/input.tif";
    Image().Save({p.c_str(), TES_FILE_TIFF, 0}, nullptr, nullptr, 0);
    return p;
  }();
  return path;
}

void BM_TesseraRead48(benchmark::State& state) {
  std::string path = Input();
  for (auto _ : state) {
    TesseraClass image(0, TES_CS_RGB48);
    if (image.OpenImage(path.data(), kNone, nullptr, nullptr) != 0) state.SkipWithError("OpenImage failed");
    benchmark::DoNotOptimize(image);
  }
}

void BM_LibtiffRead48(benchmark::State& state) {
  const std::string& path = Input();
  for (auto _ : state) {
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (tif == nullptr) {
      state.SkipWithError("TIFFOpen failed");
      break;
    }
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[static_cast<size_t>(W) * H * BPP]);
    uint8_t* at = buffer.get();
    const tstrip_t strips = TIFFNumberOfStrips(tif);
    for (tstrip_t s = 0; s < strips; ++s) {
      const tmsize_t got = TIFFReadEncodedStrip(tif, s, at, -1);
      if (got < 0) state.SkipWithError("TIFFReadEncodedStrip failed");
      at += got;
    }
    benchmark::DoNotOptimize(buffer.get());
    TIFFClose(tif);
  }
}

void BM_TesseraWrite48(benchmark::State& state) {
  TesseraClass& image = Image();
  const std::string path = Folder() + "/here.tif";
  for (auto _ : state)
    if (image.Save({path.c_str(), TES_FILE_TIFF, 0}, nullptr, nullptr, 0) != 0) state.SkipWithError("Save failed");
}

void BM_LibtiffWrite48(benchmark::State& state) {
  // libtiff writes from the image's pixels as they lie in memory, one strip.
  const std::vector<uint8_t>& pixels = Pixels();
  const std::string path = Folder() + "/libtiff.tif";
  for (auto _ : state) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, W);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, H);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, H);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, 300.0);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, 300.0);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    if (TIFFWriteEncodedStrip(tif, 0, const_cast<uint8_t*>(pixels.data()), static_cast<tmsize_t>(pixels.size())) < 0)
      state.SkipWithError("TIFFWriteEncodedStrip failed");
    TIFFClose(tif);
  }
}

// Reads and writes alternate so that both sides meet the same machine load.
BENCHMARK(BM_TesseraRead48)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LibtiffRead48)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_TesseraWrite48)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LibtiffWrite48)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
  // libtiff notes on every open that it does not know the private maker-block tag.
  TIFFSetWarningHandler(nullptr);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const std::string dir = Folder();
  for (const char* name : {"/input.tif", "/here.tif", "/libtiff.tif"}) ::unlink((dir + name).c_str());
  ::rmdir(dir.c_str());
  return 0;
}
