// Kroma beside Little CMS on Debian's real profiles, over dense grids of inputs.
// Matrix/TRC pairs are compared sample by sample (largest difference); LUT profiles by
// CIEDE2000 after both results are taken to Lab by Little CMS.
#include <lcms2.h>

#include <algorithm>
#include <filesystem>

#include "fixture.h"
#include "v4_profiles.h"

using namespace kt;
namespace fs = std::filesystem;

namespace {

// A Windows root of its own whose colour folder holds the system's profiles, found through
// the library's lookup like any profile the application names.
class InteropTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = new TempDir;
    const fs::path color = fs::path(root_->path()) / "SYSTEM" / "COLOR";
    fs::create_directories(color);
    const char* names[] = {"sRGB.icc", "compatibleWithAdobeRGB1998.icc", "Gray.icc", "LCMSLABI.ICM",
                           "ghostscript/default_cmyk.icc"};
    for (const char* n : names)
      fs::copy_file(fs::path("/usr/share/color/icc") / n, color / fs::path(n).filename());
    fs::copy_file(OwnProfile("OXsRGB.icm"), color / "OXsRGB.icm");
    // Version-4 LUT profiles written by Little CMS.
    ASSERT_TRUE(v4p::WriteRgbProfiles(color.string()));
    ASSERT_TRUE(v4p::CopyAsV4("/usr/share/color/icc/ghostscript/default_cmyk.icc", (color / "default_cmyk-v4.icc").string()));
    saved_ = ColorDir();
    setenv("ORVAX_WINDOWS_DIR", root_->path().c_str(), 1);
  }
  static void TearDownTestSuite() {
    const std::string windows = saved_.substr(0, saved_.size() - std::string("/SYSTEM/COLOR/").size());
    setenv("ORVAX_WINDOWS_DIR", windows.c_str(), 1);
    delete root_;
  }
  static std::string Locate(const char* name) {
    char buffer[260];
    char* out = buffer;
    EXPECT_EQ(OXCMLocateProfile(name, &out), 1) << name;
    return buffer;
  }
  static TempDir* root_;
  static std::string saved_;
};
TempDir* InteropTest::root_ = nullptr;
std::string InteropTest::saved_;

struct Side {
  const char* name;
  int channels;
  cmsUInt32Number type16, type8;
};
const Side kSRGB{"sRGB.icc", 3, TYPE_RGB_16, TYPE_RGB_8};
const Side kOXsRGB{"OXsRGB.icm", 3, TYPE_RGB_16, TYPE_RGB_8};
const Side kAdobe{"compatibleWithAdobeRGB1998.icc", 3, TYPE_RGB_16, TYPE_RGB_8};
const Side kGray{"Gray.icc", 1, TYPE_GRAY_16, TYPE_GRAY_8};
const Side kCmyk{"default_cmyk.icc", 4, TYPE_CMYK_16, TYPE_CMYK_8};
const Side kLabI{"LCMSLABI.ICM", 3, TYPE_LabV2_16, TYPE_Lab_8};

constexpr int kIccIntent[4] = {0, 1, 3, 2};

// A dense grid of inputs: `steps` values per channel, as 16-bit samples.
std::vector<uint16_t> Grid(int channels, int steps) {
  std::vector<uint16_t> v;
  size_t total = 1;
  for (int c = 0; c < channels; ++c) total *= size_t(steps);
  for (size_t i = 0; i < total; ++i) {
    size_t r = i;
    for (int c = channels - 1; c >= 0; --c, r /= steps) v.push_back(uint16_t(r % steps * 65535 / (steps - 1)));
    std::reverse(v.end() - channels, v.end());
  }
  return v;
}

// Runs samples (16-bit values, narrowed for 8-bit) through Kroma; result as 16-bit values.
std::vector<uint16_t> Kroma(const std::string& src, const std::string& dst, const Side& in, const Side& out,
                            uint16_t engine, int intent, int bits, const std::vector<uint16_t>& samples) {
  const size_t pixels = samples.size() / in.channels;
  const uint16_t width = 256;
  const size_t lines = (pixels + width - 1) / width;
  std::vector<uint8_t> buffer(lines * width * in.channels * (bits / 8), 0);
  for (size_t i = 0; i < samples.size(); ++i) {
    if (bits == 8) buffer[i] = uint8_t(samples[i] >> 8);
    else buffer[2 * i] = uint8_t(samples[i]), buffer[2 * i + 1] = uint8_t(samples[i] >> 8);
  }
  Handle h;
  EXPECT_EQ(Open(h, Param(width, uint16_t(lines), in.channels, out.channels, bits, bits), src, dst, engine, intent), 0);
  std::vector<uint8_t> result;
  for (size_t y = 0; y < lines; ++y) {
    const size_t inLine = size_t(width) * in.channels * (bits / 8), outLine = size_t(width) * out.channels * (bits / 8);
    std::vector<uint8_t> line(buffer.begin() + y * inLine, buffer.begin() + (y + 1) * inLine);
    const auto o = Convert(h, line, 1, outLine);
    result.insert(result.end(), o.begin(), o.end());
  }
  std::vector<uint16_t> values(pixels * out.channels);
  for (size_t i = 0; i < values.size(); ++i) values[i] = bits == 8 ? uint16_t(result[i] * 257) : Word(result, i);
  return values;
}

// Little CMS's answer for SAMPLES (16-bit values; at 8 bits their top bytes) from the profile
// file SRC to DST, with the given pixel types, channel counts, ICC intent and flags.
std::vector<uint16_t> LcmsTransform(const std::string& src, const std::string& dst, cmsUInt32Number tin,
                                    cmsUInt32Number tout, int inChannels, int outChannels, cmsUInt32Number iccIntent,
                                    cmsUInt32Number flags, int bits, const std::vector<uint16_t>& samples) {
  cmsHPROFILE a = cmsOpenProfileFromFile(src.c_str(), "r"), b = cmsOpenProfileFromFile(dst.c_str(), "r");
  cmsHTRANSFORM t = cmsCreateTransform(a, tin, b, tout, iccIntent, flags);
  EXPECT_NE(t, nullptr);
  const size_t pixels = samples.size() / inChannels;
  std::vector<uint16_t> values(pixels * outChannels);
  if (bits == 8) {
    std::vector<uint8_t> i8(samples.size()), o8(values.size());
    for (size_t i = 0; i < samples.size(); ++i) i8[i] = uint8_t(samples[i] >> 8);
    cmsDoTransform(t, i8.data(), o8.data(), cmsUInt32Number(pixels));
    for (size_t i = 0; i < o8.size(); ++i) values[i] = uint16_t(o8[i] * 257);
  } else {
    cmsDoTransform(t, samples.data(), values.data(), cmsUInt32Number(pixels));
  }
  cmsDeleteTransform(t);
  cmsCloseProfile(a);
  cmsCloseProfile(b);
  return values;
}
std::vector<uint16_t> Lcms(const std::string& src, const std::string& dst, const Side& in, const Side& out,
                           int intent, int bits, const std::vector<uint16_t>& samples) {
  return LcmsTransform(src, dst, bits == 8 ? in.type8 : in.type16, bits == 8 ? out.type8 : out.type16, in.channels,
                       out.channels, cmsUInt32Number(kIccIntent[intent]), cmsFLAGS_NOOPTIMIZE, bits, samples);
}

// Converts device values of `side` to Lab with Little CMS (relative colorimetric).
std::vector<cmsCIELab> ToLab(const std::string& path, const Side& side, const std::vector<uint16_t>& v) {
  cmsHPROFILE p = cmsOpenProfileFromFile(path.c_str(), "r");
  cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
  cmsHTRANSFORM t = cmsCreateTransform(p, side.type16, lab, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOOPTIMIZE);
  std::vector<cmsCIELab> out(v.size() / side.channels);
  cmsDoTransform(t, v.data(), out.data(), cmsUInt32Number(out.size()));
  cmsDeleteTransform(t);
  cmsCloseProfile(lab);
  cmsCloseProfile(p);
  return out;
}

// Matrix/TRC and gray pairs, compared sample by sample in units of 8 bits (a 16-bit
// difference divided by 257): at most 2 for the trilinear engine and 3 for the tetrahedral
// engine, at both depths.
struct MatrixCase {
  Side in, out;
};

TEST_F(InteropTest, MatrixAndGrayPairsAgreeSampleBySample) {
  const MatrixCase cases[] = {{kSRGB, kAdobe}, {kAdobe, kSRGB}, {kOXsRGB, kAdobe}, {kGray, kSRGB}, {kSRGB, kGray}};
  struct Run {
    uint16_t engine;
    int bits;
    double maxLimit, meanLimit;
  } runs[] = {{1, 16, 2, 0.25}, {1, 8, 2, 0.25}, {0, 8, 3, 0.5}, {0, 16, 3, 0.5}};
  for (const MatrixCase& c : cases)
    for (const Run& r : runs) {
      const std::string src = Locate(c.in.name), dst = Locate(c.out.name);
      // Every fifth 8-bit code (every 1285th 16-bit value), so samples fall all over the cells.
      const auto input = Grid(c.in.channels, c.in.channels == 1 ? 4096 : 52);
      const auto ours = Kroma(src, dst, c.in, c.out, r.engine, 1, r.bits, input);
      const auto ref = Lcms(src, dst, c.in, c.out, 1, r.bits, input);
      double worst = 0, sum = 0;
      for (size_t i = 0; i < ours.size(); ++i) {
        const double d = std::abs(double(ours[i]) - ref[i]) / 257.0;
        if (d > worst && getenv("KROMA_DEBUG")) {
          const size_t px = i / c.out.channels;
          std::printf("  worst so far %.2f at in %u %u %u ch %zu ours %u ref %u\n", d, input[px * c.in.channels],
                      c.in.channels > 1 ? input[px * c.in.channels + 1] : 0, c.in.channels > 2 ? input[px * c.in.channels + 2] : 0,
                      i % c.out.channels, ours[i], ref[i]);
        }
        worst = std::max(worst, d);
        sum += d;
      }
      std::printf("%-32s -> %-32s %s %2d-bit: max %.2f mean %.3f (8-bit units)\n", c.in.name, c.out.name,
                  r.engine == 1 ? "trilinear  " : "tetrahedral", r.bits, worst, sum / ours.size());
      EXPECT_LE(worst, r.maxLimit) << c.in.name << " -> " << c.out.name << " engine " << r.engine << " " << r.bits;
      EXPECT_LE(sum / ours.size(), r.meanLimit) << c.in.name << " -> " << c.out.name << " engine " << r.engine;
    }
}

struct LutCase {
  Side in, out;
  int intent;
};

TEST_F(InteropTest, LutProfilesAgreeInCiede2000) {
  const LutCase cases[] = {{kSRGB, kCmyk, 0}, {kSRGB, kCmyk, 1}, {kCmyk, kSRGB, 0},
                           {kCmyk, kSRGB, 1}, {kSRGB, kLabI, 0}, {kLabI, kSRGB, 0}};
  // The targets: a mean CIEDE2000 of at most 1 and a 99th percentile of at most 3.
  struct Run {
    uint16_t engine;
    int bits;
  } runs[] = {{1, 16}, {1, 8}, {0, 8}, {0, 16}};
  const double meanLimit = 1.0, p99Limit = 3.0;
  for (const LutCase& c : cases)
    for (const Run& r : runs) {
      const std::string src = Locate(c.in.name), dst = Locate(c.out.name);
      auto input = Grid(c.in.channels, c.in.channels == 4 ? 11 : 25);
      if (r.bits == 8)  // both sides see the same 8-bit values
        for (auto& v : input) v = uint16_t((v >> 8) * 257);
      const auto ours = Kroma(src, dst, c.in, c.out, r.engine, c.intent, r.bits, input);
      const auto ref = Lcms(src, dst, c.in, c.out, c.intent, 16, input);
      const auto labOurs = ToLab(dst, c.out, ours), labRef = ToLab(dst, c.out, ref);
      std::vector<double> de(labOurs.size());
      for (size_t i = 0; i < de.size(); ++i) de[i] = cmsCIE2000DeltaE(&labOurs[i], &labRef[i], 1, 1, 1);
      std::sort(de.begin(), de.end());
      double mean = 0;
      for (double d : de) mean += d;
      mean /= de.size();
      const double p99 = de[size_t(0.99 * (de.size() - 1))];
      std::printf("%-20s -> %-20s intent %d engine %d %2d-bit: dE2000 mean %.3f p99 %.3f max %.3f\n", c.in.name,
                  c.out.name, c.intent, r.engine, r.bits, mean, p99, de.back());
      EXPECT_LE(mean, meanLimit) << c.in.name << " -> " << c.out.name << " engine " << r.engine << " " << r.bits;
      EXPECT_LE(p99, p99Limit) << c.in.name << " -> " << c.out.name << " engine " << r.engine << " " << r.bits;
    }
}

}  // namespace

// ---- against Little CMS's exact evaluation ------------------------------------------------

namespace exact {

// A device side by path: channels and Little CMS's float and integer formats (float CMYK is
// in percent, RGB and gray in 0..1).
struct Device {
  std::string path;
  int channels;
  cmsUInt32Number typeFlt, type16, type8;
  double fullScale;  // float value of full scale
};

Device Rgb(const std::string& p) { return {p, 3, TYPE_RGB_FLT, TYPE_RGB_16, TYPE_RGB_8, 1.0}; }
Device Cmyk(const std::string& p) { return {p, 4, TYPE_CMYK_FLT, TYPE_CMYK_16, TYPE_CMYK_8, 100.0}; }

// Device values (16-bit codes) to Lab through the profile's own A2B (relative colorimetric),
// evaluated exactly.
std::vector<cmsCIELab> DeviceToLab(const Device& d, const std::vector<float>& v) {
  cmsHPROFILE p = cmsOpenProfileFromFile(d.path.c_str(), "r");
  cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
  cmsHTRANSFORM t = cmsCreateTransform(p, d.typeFlt, lab, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOOPTIMIZE);
  EXPECT_NE(t, nullptr) << d.path;
  std::vector<cmsCIELab> out(v.size() / d.channels);
  cmsDoTransform(t, v.data(), out.data(), cmsUInt32Number(out.size()));
  cmsDeleteTransform(t);
  cmsCloseProfile(lab);
  cmsCloseProfile(p);
  return out;
}

std::vector<float> ToFloat(const Device& d, const std::vector<uint16_t>& codes) {
  std::vector<float> f(codes.size());
  for (size_t i = 0; i < codes.size(); ++i) f[i] = float(codes[i] / 65535.0 * d.fullScale);
  return f;
}

// Little CMS's exact answer (unoptimised, in floating point), clipped to the device range.
std::vector<float> Exact(const Device& in, const Device& out, int iccIntent, const std::vector<uint16_t>& samples) {
  cmsHPROFILE a = cmsOpenProfileFromFile(in.path.c_str(), "r"), b = cmsOpenProfileFromFile(out.path.c_str(), "r");
  cmsHTRANSFORM t = cmsCreateTransform(a, in.typeFlt, b, out.typeFlt, cmsUInt32Number(iccIntent), cmsFLAGS_NOOPTIMIZE);
  EXPECT_NE(t, nullptr) << in.path << " -> " << out.path;
  const std::vector<float> src = ToFloat(in, samples);
  std::vector<float> dst(samples.size() / in.channels * out.channels);
  cmsDoTransform(t, src.data(), dst.data(), cmsUInt32Number(samples.size() / in.channels));
  for (float& v : dst) v = std::clamp(v, 0.0f, float(out.fullScale));
  cmsDeleteTransform(t);
  cmsCloseProfile(a);
  cmsCloseProfile(b);
  return dst;
}

// Little CMS with its default (optimised) transform at the given depth.
std::vector<uint16_t> Default(const Device& in, const Device& out, int iccIntent, int bits,
                              const std::vector<uint16_t>& samples) {
  return LcmsTransform(in.path, out.path, bits == 8 ? in.type8 : in.type16, bits == 8 ? out.type8 : out.type16,
                       in.channels, out.channels, cmsUInt32Number(iccIntent), 0, bits, samples);
}

double MeanDe76(const std::vector<cmsCIELab>& a, const std::vector<cmsCIELab>& b) {
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) sum += cmsDeltaE(&a[i], &b[i]);
  return sum / double(a.size());
}

// Inputs on 8-bit codes so that both depths see the same values: every fifth code for three
// channels, every seventeenth for four.
std::vector<uint16_t> Inputs(int channels) { return Grid(channels, channels == 4 ? 16 : 52); }

struct Pair {
  Device in, out;
  int apiIntent;
  // The source's colour table has three device inputs: Little CMS interpolates it in
  // simplices, and its default transform interpolates the whole pipeline the same way, where
  // both grids of the trilinear engine are interpolated multilinearly. That engine is then
  // held to Little CMS's 8-bit error at 16 bits too.
  bool simplexPeer = false;
};

// Mean ΔE76 (through the destination profile) of Kroma's and Little CMS's default results
// from Little CMS's exact evaluation. Kroma is held to twice Little CMS's own error at the
// same depth (and at least 0.1). The tetrahedral engine interpolates the top byte of a wider
// sample, in fifths for four inputs, so at both depths it is held to Little CMS's 8-bit error.
void CompareWithExact(const Pair& p, const std::string& label) {
  const auto input = Inputs(p.in.channels);
  const int iccIntent = kIccIntent[p.apiIntent];
  const auto exactLab = DeviceToLab(p.out, Exact(p.in, p.out, iccIntent, input));
  const Side in{p.in.path.c_str(), p.in.channels, p.in.type16, p.in.type8};
  const Side out{p.out.path.c_str(), p.out.channels, p.out.type16, p.out.type8};
  double lcms[2];
  for (int b = 0; b < 2; ++b)
    lcms[b] = MeanDe76(DeviceToLab(p.out, ToFloat(p.out, Default(p.in, p.out, iccIntent, b == 0 ? 8 : 16, input))),
                       exactLab);
  for (int bits : {8, 16})
    for (uint16_t engine : {uint16_t(1), uint16_t(0)}) {
      const auto ours = Kroma(p.in.path, p.out.path, in, out, engine, p.apiIntent, bits, input);
      const double de = MeanDe76(DeviceToLab(p.out, ToFloat(p.out, ours)), exactLab);
      const double reference = lcms[engine == 0 || bits == 8 || p.simplexPeer ? 0 : 1];
      std::printf("%-28s %s %2d-bit: mean dE76 %.3f (Little CMS default %.3f)\n", label.c_str(),
                  engine == 1 ? "trilinear  " : "tetrahedral", bits, de, lcms[bits == 8 ? 0 : 1]);
      EXPECT_LE(de, std::max(2 * reference, 0.1)) << label << " engine " << engine << " " << bits << "-bit";
    }
}

}  // namespace exact

TEST_F(InteropTest, LutPairsAgreeWithExactEvaluation) {
  using namespace exact;
  const std::string color = root_->path() + "/SYSTEM/COLOR/";
  const Device srgb = Rgb(color + "sRGB.icc"), cmyk = Cmyk(color + "default_cmyk.icc");
  const Device cmyk4 = Cmyk(color + "default_cmyk-v4.icc"), curves = Rgb(color + "v4-curves.icc"),
               matrix = Rgb(color + "v4-matrix.icc"), clut = Rgb(color + "v4-clut.icc"), clut8 = Rgb(color + "v4-clut8.icc");
  const struct {
    const char* label;
    Pair pair;
  } cases[] = {
      // Version-4 pairs are compared with relative intent: with a version-4 profile Little CMS
      // adds black-point compensation to the perceptual intent, which this library does not.
      {"sRGB -> default_cmyk", {srgb, cmyk, 0}},     {"default_cmyk -> sRGB", {cmyk, srgb, 0}},
      {"sRGB -> default_cmyk v4", {srgb, cmyk4, 1}}, {"default_cmyk v4 -> sRGB", {cmyk4, srgb, 1}},
      {"sRGB -> v4 curves", {srgb, curves, 1}},      {"v4 curves -> sRGB", {curves, srgb, 1}},
      {"sRGB -> v4 matrix", {srgb, matrix, 1}},      {"v4 matrix -> sRGB", {matrix, srgb, 1}},
      {"sRGB -> v4 clut", {srgb, clut, 1}},          {"v4 clut -> sRGB", {clut, srgb, 1, true}},
      {"sRGB -> v4 clut8", {srgb, clut8, 1}},        {"v4 clut8 -> sRGB", {clut8, srgb, 1, true}},
  };
  for (const auto& c : cases) CompareWithExact(c.pair, c.label);
}

// A version-4 copy of a version-2 LUT profile converts as the original does.
TEST_F(InteropTest, VersionFourCopyConvertsLikeTheOriginal) {
  const Side v2 = kCmyk, v4{"default_cmyk-v4.icc", 4, TYPE_CMYK_16, TYPE_CMYK_8};
  const std::string srgb = Locate("sRGB.icc"), cmyk2 = Locate(v2.name), cmyk4 = Locate(v4.name);
  for (uint16_t engine : {uint16_t(0), uint16_t(1)})
    for (int bits : {8, 16}) {
      const auto rgb = Grid(3, 18), ink = Grid(4, 6);
      const auto to2 = Kroma(srgb, cmyk2, kSRGB, v2, engine, 0, bits, rgb), to4 = Kroma(srgb, cmyk4, kSRGB, v4, engine, 0, bits, rgb);
      const auto from2 = Kroma(cmyk2, srgb, v2, kSRGB, engine, 0, bits, ink), from4 = Kroma(cmyk4, srgb, v4, kSRGB, engine, 0, bits, ink);
      double worstTo = 0, worstFrom = 0;
      for (size_t i = 0; i < to2.size(); ++i) worstTo = std::max(worstTo, std::abs(double(to2[i]) - to4[i]) / 257.0);
      for (size_t i = 0; i < from2.size(); ++i) worstFrom = std::max(worstFrom, std::abs(double(from2[i]) - from4[i]) / 257.0);
      EXPECT_LE(worstTo, 1.0) << "to CMYK, engine " << engine << " " << bits << "-bit";
      EXPECT_LE(worstFrom, 1.0) << "from CMYK, engine " << engine << " " << bits << "-bit";
      std::printf("default_cmyk v2 / v4 copy, engine %d %2d-bit: largest difference %.2f to CMYK, %.2f from CMYK (8-bit units)\n",
                  engine, bits, worstTo, worstFrom);
    }
}
