// A 6000 x 4000 24-bit BMP read with OpenImage and written with Save, each beside a plain
// read() or write() of the same number of bytes. Prints the ratio Tessera / plain I/O.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "tessera/tessera.h"

namespace {

constexpr int kWidth = 6000, kHeight = 4000;

std::string Scratch(const char* name) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir ? dir : "/tmp") + "/" + name + "." + std::to_string(::getpid());
}

struct Files {
  std::string bmp = Scratch("bench-read.bmp");
  std::string out = Scratch("bench-write.bmp");
  std::string plain = Scratch("bench-plain.bin");
  TesseraClass image{0, TES_CS_RGB24};
  size_t bytes = 0;
  std::vector<uint8_t> buffer;

  Files() {
    const tagTes_Image_Desc desc{kWidth, kHeight, TES_CS_RGB24, {}, 300.0};
    image.SetImageDesc(desc, TesseraClass::m_s_EmptyTransform);
    std::vector<uint8_t> rows(static_cast<size_t>(kWidth) * 3 * 128);
    for (size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<uint8_t>(i * 2654435761u >> 24);
    for (int y = 0; y < kHeight; y += 128) {
      const int n = std::min(128, kHeight - y);
      image.SetData({{0, y, kWidth, n}, kWidth * 3, 0}, TesseraClass::m_s_EmptyTransform, rows.data());
    }
    if (image.Save({bmp.c_str(), TES_FILE_BMP, 0}, nullptr, nullptr, 0) != 0) std::abort();
    bytes = 54 + static_cast<size_t>(kWidth) * 3 * kHeight;
    buffer.assign(bytes, 0x5A);
  }
  ~Files() {
    ::unlink(bmp.c_str());
    ::unlink(out.c_str());
    ::unlink(plain.c_str());
  }
};

Files& Shared() {
  static Files files;
  return files;
}

void BM_BmpRead(benchmark::State& state) {
  Files& f = Shared();
  for (auto _ : state) {
    TesseraClass image(0, TES_CS_RGB24);
    std::string path = f.bmp;
    if (image.OpenImage(path.data(), TesseraClass::m_s_EmptyTransform, nullptr, nullptr) != 0)
      state.SkipWithError("OpenImage failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(f.bytes));
}

void BM_PlainRead(benchmark::State& state) {
  Files& f = Shared();
  for (auto _ : state) {
    const int fd = ::open(f.bmp.c_str(), O_RDONLY);
    size_t done = 0;
    while (done < f.bytes) {
      const ssize_t got = ::read(fd, f.buffer.data() + done, f.bytes - done);
      if (got <= 0) break;
      done += static_cast<size_t>(got);
    }
    ::close(fd);
    benchmark::DoNotOptimize(f.buffer.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(f.bytes));
}

void BM_BmpWrite(benchmark::State& state) {
  Files& f = Shared();
  for (auto _ : state)
    if (f.image.Save({f.out.c_str(), TES_FILE_BMP, 0}, nullptr, nullptr, 0) != 0) state.SkipWithError("Save failed");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(f.bytes));
}

void BM_PlainWrite(benchmark::State& state) {
  Files& f = Shared();
  for (auto _ : state) {
    const int fd = ::open(f.plain.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    size_t done = 0;
    while (done < f.bytes) {
      const ssize_t put = ::write(fd, f.buffer.data() + done, f.bytes - done);
      if (put <= 0) break;
      done += static_cast<size_t>(put);
    }
    ::close(fd);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(f.bytes));
}

// Runs are interleaved (plain, Tessera, plain, Tessera ...) so that both sides see the same
// machine load.
BENCHMARK(BM_PlainRead)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_BmpRead)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_PlainWrite)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_BmpWrite)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// Keeps the time per iteration of every run for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration && run.iterations > 0)
        seconds_[run.benchmark_name()] = run.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  void PrintRatios() const {
    const auto ratio = [&](const char* mine, const char* plain, const char* label) {
      const auto a = seconds_.find(mine), b = seconds_.find(plain);
      if (a != seconds_.end() && b != seconds_.end() && b->second > 0)
        std::printf("ratio %-34s %.2f x plain I/O (%.1f ms vs %.1f ms)\n", label, a->second / b->second, a->second,
                    b->second);
    };
    ratio("BM_BmpRead/min_time:1.000", "BM_PlainRead/min_time:1.000", "6000x4000 24-bit BMP OpenImage");
    ratio("BM_BmpWrite/min_time:1.000", "BM_PlainWrite/min_time:1.000", "6000x4000 24-bit BMP Save");
  }

 private:
  std::map<std::string, double> seconds_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
