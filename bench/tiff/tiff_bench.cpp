// Reading and writing a 6000 x 4000 48-bit RGB TIFF here and with libtiff's strip API, in
// one run. Both sides end with the whole image in memory (here: in the object's tiles;
// libtiff: in one buffer) or on disk in the same one-strip layout.
#include <benchmark/benchmark.h>
#include <tiffio.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "tessera/tessera.h"

namespace {

constexpr int W = 6000, H = 4000, BPP = 6;
constexpr int kRowsPerStrip = 32;
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

long FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : 0;
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

// libtiff's own strip reading of a whole file into one buffer.
void LibtiffRead(benchmark::State& state, const std::string& path) {
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

void BM_LibtiffRead48(benchmark::State& state) { LibtiffRead(state, Input()); }

void BM_TesseraWrite48(benchmark::State& state) {
  TesseraClass& image = Image();
  const std::string path = Folder() + "/here.tif";
  for (auto _ : state)
    if (image.Save({path.c_str(), TES_FILE_TIFF, 0}, nullptr, nullptr, 0) != 0) state.SkipWithError("Save failed");
}

// The fields of a W x H 48-bit RGB image in strips of ROWS rows.
void SetRgb48Fields(TIFF* tif, int compression, int rows) {
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, W);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, H);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rows);
}

void BM_LibtiffWrite48(benchmark::State& state) {
  // libtiff writes from the image's pixels as they lie in memory, one strip.
  const std::vector<uint8_t>& pixels = Pixels();
  const std::string path = Folder() + "/libtiff.tif";
  for (auto _ : state) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    SetRgb48Fields(tif, COMPRESSION_NONE, H);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, 300.0);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, 300.0);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    if (TIFFWriteEncodedStrip(tif, 0, const_cast<uint8_t*>(pixels.data()), static_cast<tmsize_t>(pixels.size())) < 0)
      state.SkipWithError("TIFFWriteEncodedStrip failed");
    TIFFClose(tif);
  }
}

// The floor under both writers: the image's bytes written by one write() call into the
// truncated file, with no TIFF around them.
void BM_SyscallWrite48(benchmark::State& state) {
  const std::vector<uint8_t>& pixels = Pixels();
  const std::string path = Folder() + "/syscall.tif";
  for (auto _ : state) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    size_t done = 0;
    while (fd >= 0 && done < pixels.size()) {
      const ssize_t put = ::write(fd, pixels.data() + done, pixels.size() - done);
      if (put <= 0) break;
      done += static_cast<size_t>(put);
    }
    if (fd < 0 || done != pixels.size()) state.SkipWithError("write failed");
    if (fd >= 0) ::close(fd);
  }
}

// The same file read by read() calls into a fresh buffer, as one plain program would.
void BM_SyscallRead48(benchmark::State& state) {
  const std::string path = Input();
  const size_t bytes = static_cast<size_t>(FileSize(path));
  for (auto _ : state) {
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[bytes]);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    size_t done = 0;
    while (fd >= 0 && done < bytes) {
      const ssize_t got = ::read(fd, buffer.get() + done, bytes - done);
      if (got <= 0) break;
      done += static_cast<size_t>(got);
    }
    if (fd < 0 || done != bytes) state.SkipWithError("read failed");
    if (fd >= 0) ::close(fd);
    benchmark::DoNotOptimize(buffer.get());
  }
}

// A photograph-like 16-bit image (smooth shading, edges and grain), so that LZW and Deflate
// meet data they compress as they would in a scan rather than noise.
const std::vector<uint16_t>& Photo16() {
  static const std::vector<uint16_t> pixels = [] {
    std::vector<uint16_t> p(static_cast<size_t>(W) * H * 3);
    uint32_t seed = 12345;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        seed = seed * 1664525u + 1013904223u;
        const int grain = static_cast<int>(seed >> 25) - 64;
        const double fx = x / 400.0, fy = y / 300.0;
        const int base = static_cast<int>(32768 + 23000 * std::sin(fx) * std::cos(fy)) + ((x / 250 + y / 170) % 2) * 7000;
        for (int c = 0; c < 3; ++c) {
          const int v = base + grain + c * 5000 - 5000 + static_cast<int>(7000 * std::sin(fx * (c + 1) + fy));
          p[(static_cast<size_t>(y) * W + x) * 3 + c] = static_cast<uint16_t>(v < 0 ? 0 : v > 65535 ? 65535 : v);
        }
      }
    return p;
  }();
  return pixels;
}

// The photograph written by libtiff with the given compression and horizontal predictor 2,
// in strips of 32 rows (about 1.1 MB of samples each).
const std::string& Compressed(int compression) {
  static std::string made[2];
  std::string& path = made[compression == COMPRESSION_LZW ? 0 : 1];
  if (!path.empty()) return path;
  path = Folder() + (compression == COMPRESSION_LZW ? "/lzw.tif" : "/deflate.tif");
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  SetRgb48Fields(tif, compression, kRowsPerStrip);
  TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  // libtiff's predictor works in the buffer it is given: each row goes through a copy.
  const uint16_t* rows = Photo16().data();
  std::vector<uint16_t> row(static_cast<size_t>(W) * 3);
  for (int y = 0; y < H; ++y) {
    std::copy_n(rows + static_cast<size_t>(y) * W * 3, row.size(), row.begin());
    TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0);
  }
  TIFFClose(tif);
  return path;
}

void TesseraRead(benchmark::State& state, const std::string& path) {
  for (auto _ : state) {
    TesseraClass image(0, TES_CS_RGB48);
    if (image.OpenImage(const_cast<char*>(path.c_str()), kNone, nullptr, nullptr) != 0)
      state.SkipWithError("OpenImage failed");
    benchmark::DoNotOptimize(image);
  }
  state.counters["file_MiB"] = static_cast<double>(FileSize(path)) / 1048576.0;
}


// Both readers must give the same samples: the object's pixels against the photograph.
void CheckSamples(benchmark::State& state, const std::string& path) {
  TesseraClass image(0, TES_CS_RGB48);
  if (image.OpenImage(const_cast<char*>(path.c_str()), kNone, nullptr, nullptr) != 0) return;
  std::vector<uint16_t> got(static_cast<size_t>(W) * H * 3);
  image.GetData({{0, 0, W, H}, W * BPP, 0}, got.data());
  if (got != Photo16()) state.SkipWithError("decoded samples differ from the image written");
}

void BM_TesseraReadLzwPredictor48(benchmark::State& s) {
  TesseraRead(s, Compressed(COMPRESSION_LZW));
  CheckSamples(s, Compressed(COMPRESSION_LZW));
}
void BM_LibtiffReadLzwPredictor48(benchmark::State& s) { LibtiffRead(s, Compressed(COMPRESSION_LZW)); }
void BM_TesseraReadDeflatePredictor48(benchmark::State& s) {
  TesseraRead(s, Compressed(COMPRESSION_ADOBE_DEFLATE));
  CheckSamples(s, Compressed(COMPRESSION_ADOBE_DEFLATE));
}
void BM_LibtiffReadDeflatePredictor48(benchmark::State& s) { LibtiffRead(s, Compressed(COMPRESSION_ADOBE_DEFLATE)); }

// Reads and writes alternate so that both sides meet the same machine load.
BENCHMARK(BM_TesseraRead48)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LibtiffRead48)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_TesseraWrite48)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LibtiffWrite48)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_SyscallRead48)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_SyscallWrite48)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_TesseraReadLzwPredictor48)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LibtiffReadLzwPredictor48)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_TesseraReadDeflatePredictor48)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LibtiffReadDeflatePredictor48)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
  // libtiff notes on every open that it does not know the private maker-block tag.
  TIFFSetWarningHandler(nullptr);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const std::string dir = Folder();
  for (const char* name : {"/input.tif", "/here.tif", "/libtiff.tif", "/syscall.tif", "/lzw.tif", "/deflate.tif"}) ::unlink((dir + name).c_str());
  ::rmdir(dir.c_str());
  return 0;
}
