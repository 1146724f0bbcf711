// Writing and reading a 6000 x 4000 24-bit image as FlashPix, uncompressed and with JPEG
// tiles, beside the peers: libjpeg-turbo compressing the same pixels into one JPEG, and a
// plain write of the raw pixels to a file.
#include <benchmark/benchmark.h>
#include <jpeglib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tessera/tessera.h"

namespace {

constexpr int kWidth = 6000, kHeight = 4000;

std::vector<uint8_t>& Pixels() {
  static std::vector<uint8_t> pixels = [] {
    std::vector<uint8_t> p(size_t(kWidth) * kHeight * 3);
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x)
        for (int c = 0; c < 3; ++c) p[(size_t(y) * kWidth + x) * 3 + c] = uint8_t((x * (c + 1) + y * 2 + (x * y >> 9)) >> 2);
    return p;
  }();
  return pixels;
}

struct Library {
  Library() {
    tagTes_Image_Info info{};
    info.size = sizeof info;
    char empty[] = "";
    char* none = empty;
    TesseraClass::InitMosaic(info, none, none, none, none, 1.0);
  }
};

TesseraClass& Image() {
  static Library library;
  static TesseraClass* image = [] {
    auto* im = new TesseraClass(0, TES_CS_RGB24);
    tagTes_Image_Desc desc{kWidth, kHeight, TES_CS_RGB24, {0, 0, 0, 0}, 300.0};
    im->SetImageDesc(desc, TesseraClass::m_s_EmptyTransform);
    tagTes_Tile_Desc tile{{0, 0, kWidth, kHeight}, kWidth * 3, 0};
    im->SetData(tile, TesseraClass::m_s_EmptyTransform, Pixels().data());
    return im;
  }();
  return *image;
}

std::string Path(const char* name) { return std::string("/tmp/bench_fpx_") + name; }

void Save(benchmark::State& state, uint32_t type, const char* name) {
  TesseraClass& image = Image();
  const std::string path = Path(name);
  for (auto _ : state) {
    const tagTes_File_Spec spec{path.c_str(), type, 4};
    if (image.Save(spec, nullptr, nullptr, 0) != 0) state.SkipWithError("save failed");
  }
}

void Open(benchmark::State& state, uint32_t type, const char* name) {
  const std::string path = Path(name);
  {
    const tagTes_File_Spec spec{path.c_str(), type, 4};
    Image().Save(spec, nullptr, nullptr, 0);
  }
  for (auto _ : state) {
    TesseraClass image(0, 0);
    if (image.OpenImage(const_cast<char*>(path.c_str()), TesseraClass::m_s_EmptyTransform, nullptr, nullptr) != 0)
      state.SkipWithError("open failed");
  }
}

void BM_FpxSaveUncompressed(benchmark::State& s) { Save(s, TES_FILE_FPX, "plain.fpx"); }
void BM_FpxSaveJpeg(benchmark::State& s) { Save(s, TES_FILE_FPX_JPEG, "jpeg.fpx"); }
void BM_FpxOpenUncompressed(benchmark::State& s) { Open(s, TES_FILE_FPX, "plain.fpx"); }
void BM_FpxOpenJpeg(benchmark::State& s) { Open(s, TES_FILE_FPX_JPEG, "jpeg.fpx"); }
void BM_BmpSave(benchmark::State& s) { Save(s, TES_FILE_BMP, "image.bmp"); }

// libjpeg-turbo compressing the pixels at quality 75 into one file.
void CompressWithLibjpeg(const std::string& path) {
  const std::vector<uint8_t>& pixels = Pixels();
  FILE* out = std::fopen(path.c_str(), "wb");
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, out);
  cinfo.image_width = kWidth;
  cinfo.image_height = kHeight;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 75, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<uint8_t*>(pixels.data()) + size_t(cinfo.next_scanline) * kWidth * 3;
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::fclose(out);
}

// Peer: libjpeg-turbo compressing the same pixels into one file.
void BM_LibjpegCompress(benchmark::State& state) {
  const std::string path = Path("peer.jpg");
  for (auto _ : state) CompressWithLibjpeg(path);
}

// Peer: libjpeg-turbo decompressing that file in one pass (beside BM_FpxOpenJpeg). The file
// is made first, as the benchmarks may run in any order.
void BM_LibjpegDecompress(benchmark::State& state) {
  const std::string path = Path("peer.jpg");
  CompressWithLibjpeg(path);
  std::vector<uint8_t> pixels(size_t(kWidth) * kHeight * 3);
  for (auto _ : state) {
    FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) {
      state.SkipWithError("cannot open the peer's file");
      break;
    }
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, in);
    jpeg_read_header(&cinfo, TRUE);
    jpeg_start_decompress(&cinfo);
    while (cinfo.output_scanline < cinfo.output_height) {
      JSAMPROW row = pixels.data() + size_t(cinfo.output_scanline) * cinfo.output_width * 3;
      jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(in);
  }
}

// Peer: the raw pixels written to a file in one go.
void BM_RawWrite(benchmark::State& state) {
  const std::vector<uint8_t>& pixels = Pixels();
  for (auto _ : state) {
    FILE* out = std::fopen(Path("raw.bin").c_str(), "wb");
    std::fwrite(pixels.data(), 1, pixels.size(), out);
    std::fclose(out);
  }
}

}  // namespace

BENCHMARK(BM_FpxSaveUncompressed)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FpxSaveJpeg)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FpxOpenUncompressed)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FpxOpenJpeg)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_BmpSave)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LibjpegCompress)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LibjpegDecompress)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_RawWrite)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_MAIN();
