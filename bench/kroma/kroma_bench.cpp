// Pixel throughput of Kroma and Little CMS converting the same buffers between the same
// profiles. Each case runs as "kroma_<engine>/<case>" and "lcms/<case>"; the script beside
// the sources prints Mpixel/s and the ratios.
#include <benchmark/benchmark.h>
#include <lcms2.h>

#include <stdlib.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "kroma.h"
#include "v4_profiles.h"

namespace {

const std::string kDir = "/usr/share/color/icc/";

// Version-4 copies of the LUT profiles, in a folder of their own for this run.
const std::string kV4Dir = [] {
  char dir[] = "/tmp/kroma-bench-XXXXXX";
  const std::string d = mkdtemp(dir) ? dir : "/tmp";
  v4p::CopyAsV4(kDir + "ghostscript/default_cmyk.icc", d + "/default_cmyk-v4.icc");
  return d + "/";
}();
const struct RemoveAtExit {
  ~RemoveAtExit() { std::filesystem::remove_all(kV4Dir); }
} kRemoveV4Dir;

struct Case {
  const char* name;
  std::string src, dst;
  int inCh, outCh, bits;
  cmsUInt32Number inType, outType;
};

const Case kCases[] = {
    {"srgb_to_adobe_rgb8", kDir + "sRGB.icc", kDir + "compatibleWithAdobeRGB1998.icc", 3, 3, 8, TYPE_RGB_8, TYPE_RGB_8},
    {"srgb_to_adobe_rgb16", kDir + "sRGB.icc", kDir + "compatibleWithAdobeRGB1998.icc", 3, 3, 16, TYPE_RGB_16, TYPE_RGB_16},
    {"srgb_to_cmyk8", kDir + "sRGB.icc", kDir + "ghostscript/default_cmyk.icc", 3, 4, 8, TYPE_RGB_8, TYPE_CMYK_8},
    {"cmyk_to_srgb8", kDir + "ghostscript/default_cmyk.icc", kDir + "sRGB.icc", 4, 3, 8, TYPE_CMYK_8, TYPE_RGB_8},
    {"cmyk_to_srgb16", kDir + "ghostscript/default_cmyk.icc", kDir + "sRGB.icc", 4, 3, 16, TYPE_CMYK_16, TYPE_RGB_16},
    {"srgb_to_cmyk_v4_8", kDir + "sRGB.icc", kV4Dir + "default_cmyk-v4.icc", 3, 4, 8, TYPE_RGB_8, TYPE_CMYK_8},
    {"cmyk_v4_to_srgb8", kV4Dir + "default_cmyk-v4.icc", kDir + "sRGB.icc", 4, 3, 8, TYPE_CMYK_8, TYPE_RGB_8},
    {"cmyk_v4_to_srgb16", kV4Dir + "default_cmyk-v4.icc", kDir + "sRGB.icc", 4, 3, 16, TYPE_CMYK_16, TYPE_RGB_16},
    {"gray_to_srgb8", kDir + "Gray.icc", KROMA_OWN_SRGB, 1, 3, 8, TYPE_GRAY_8, TYPE_RGB_8},
};

constexpr uint16_t kWidth = 2048, kLines = 2048;  // 4 megapixels

std::vector<uint8_t> Pixels(const Case& c) {
  std::vector<uint8_t> v(size_t(kWidth) * kLines * c.inCh * (c.bits / 8));
  std::mt19937 rng(1);
  for (auto& b : v) b = uint8_t(rng());
  return v;
}

void BM_Kroma(benchmark::State& state, const Case& c, uint16_t engine) {
  std::vector<uint8_t> in = Pixels(c);
  std::vector<uint8_t> out(size_t(kWidth) * kLines * c.outCh * (c.bits / 8));
  CMParam p{kWidth, kLines, uint32_t(in.size()), uint32_t(out.size()), uint16_t(c.bits), uint16_t(c.bits), 0};
  std::string s = c.src, d = c.dst;
  char* sp = s.data();
  char* dp = d.data();
  CMProfilePaths paths{&sp, &dp};
  CColorMatcher* h = nullptr;
  if (OXCMInit(&p, &paths, engine, 0, &h) != 0) {
    state.SkipWithError("OXCMInit failed");
    OXCMPostProc(h);
    return;
  }
  CMBuffer sb{in.data(), kLines}, db{out.data(), kLines};
  for (auto _ : state) {
    OXCMProc(&sb, &db, h);
    benchmark::DoNotOptimize(out.data());
  }
  OXCMPostProc(h);
  state.SetItemsProcessed(int64_t(state.iterations()) * kWidth * kLines);
}

void BM_Lcms(benchmark::State& state, const Case& c) {
  std::vector<uint8_t> in = Pixels(c);
  std::vector<uint8_t> out(size_t(kWidth) * kLines * c.outCh * (c.bits / 8));
  cmsHPROFILE a = cmsOpenProfileFromFile(c.src.c_str(), "r"), b = cmsOpenProfileFromFile(c.dst.c_str(), "r");
  cmsHTRANSFORM t = cmsCreateTransform(a, c.inType, b, c.outType, INTENT_PERCEPTUAL, cmsFLAGS_NOCACHE);
  for (auto _ : state) {
    cmsDoTransform(t, in.data(), out.data(), kWidth * kLines);
    benchmark::DoNotOptimize(out.data());
  }
  cmsDeleteTransform(t);
  cmsCloseProfile(a);
  cmsCloseProfile(b);
  state.SetItemsProcessed(int64_t(state.iterations()) * kWidth * kLines);
}

const bool kRegistered = [] {
  for (const Case& c : kCases) {
    benchmark::RegisterBenchmark((std::string("lcms/") + c.name).c_str(), BM_Lcms, c);
    benchmark::RegisterBenchmark((std::string("kroma_trilinear/") + c.name).c_str(), BM_Kroma, c, uint16_t(1));
    benchmark::RegisterBenchmark((std::string("kroma_tetrahedral/") + c.name).c_str(), BM_Kroma, c, uint16_t(0));
  }
  return true;
}();

}  // namespace

BENCHMARK_MAIN();
