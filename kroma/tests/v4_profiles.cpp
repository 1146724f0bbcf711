#include "v4_profiles.h"

#include <lcms2.h>
#include <lcms2_plugin.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace v4p {

namespace {

// The sRGB colorants adapted to D50 (columns r, g, b of rows X, Y, Z).
constexpr double kSrgbD50[9] = {0.4360747, 0.3850649, 0.1430804, 0.2225045, 0.7168786,
                                0.0606169, 0.0139322, 0.0971045, 0.7141733};

cmsToneCurve* SrgbCurve() {
  const cmsFloat64Number p[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
  return cmsBuildParametricToneCurve(nullptr, 4, p);
}

// A sampled curve f over 0..1.
template <class F>
cmsToneCurve* Sampled(F f) {
  std::vector<cmsUInt16Number> t(4096);
  for (int i = 0; i < 4096; ++i) t[i] = cmsUInt16Number(std::lround(std::clamp(f(i / 4095.0), 0.0, 1.0) * 65535));
  return cmsBuildTabulatedToneCurve16(nullptr, 4096, t.data());
}

cmsStage* Curves3(cmsToneCurve* c) {
  cmsToneCurve* set[3] = {c, c, c};
  cmsStage* s = cmsStageAllocToneCurves(nullptr, 3, set);
  cmsFreeToneCurve(c);
  return s;
}

void Invert3(const double m[9], double inv[9]) {
  const double det = m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
                     m[2] * (m[3] * m[7] - m[4] * m[6]);
  inv[0] = (m[4] * m[8] - m[5] * m[7]) / det;
  inv[1] = (m[2] * m[7] - m[1] * m[8]) / det;
  inv[2] = (m[1] * m[5] - m[2] * m[4]) / det;
  inv[3] = (m[5] * m[6] - m[3] * m[8]) / det;
  inv[4] = (m[0] * m[8] - m[2] * m[6]) / det;
  inv[5] = (m[2] * m[3] - m[0] * m[5]) / det;
  inv[6] = (m[3] * m[7] - m[4] * m[6]) / det;
  inv[7] = (m[1] * m[6] - m[0] * m[7]) / det;
  inv[8] = (m[0] * m[4] - m[1] * m[3]) / det;
}

cmsHPROFILE NewRgb(cmsColorSpaceSignature pcs) {
  cmsHPROFILE h = cmsCreateProfilePlaceholder(nullptr);
  cmsSetProfileVersion(h, 4.3);
  cmsSetDeviceClass(h, cmsSigDisplayClass);
  cmsSetColorSpace(h, cmsSigRgbData);
  cmsSetPCS(h, pcs);
  cmsWriteTag(h, cmsSigMediaWhitePointTag, cmsD50_XYZ());
  return h;
}

bool Save(cmsHPROFILE h, cmsPipeline* a2b, cmsPipeline* b2a, const std::string& path) {
  const bool ok = a2b && b2a && cmsWriteTag(h, cmsSigAToB0Tag, a2b) && cmsWriteTag(h, cmsSigBToA0Tag, b2a) &&
                  cmsSaveProfileToFile(h, path.c_str());
  cmsPipelineFree(a2b);
  cmsPipelineFree(b2a);
  cmsCloseProfile(h);
  return ok;
}

cmsPipeline* Chain(std::initializer_list<cmsStage*> stages) {
  cmsPipeline* p = cmsPipelineAlloc(nullptr, 3, 3);
  for (cmsStage* s : stages)
    if (!cmsPipelineInsertStage(p, cmsAT_END, s)) {
      cmsPipelineFree(p);
      return nullptr;
    }
  return p;
}

// The colour tables of "v4-clut.icc" are indexed by sRGB values through the A curves, a
// gamma of 0.8: their nodes sit at u = x^0.8 of the sRGB value x (and back).
constexpr double kIndexGamma = 0.8;

double SrgbToLinear(double x) { return x <= 0.04045 ? x / 12.92 : std::pow((x + 0.055) / 1.055, 2.4); }
double LinearToSrgb(double y) { return y <= 0.0031308 ? 12.92 * y : 1.055 * std::pow(y, 1 / 2.4) - 0.055; }

// Index codes to version-4 Lab codes, and back, clipped.
int IndexToLab(const cmsUInt16Number in[], cmsUInt16Number out[], void*) {
  double rgb[3], xyz[3];
  for (int i = 0; i < 3; ++i) rgb[i] = SrgbToLinear(std::pow(in[i] / 65535.0, 1 / kIndexGamma));
  for (int r = 0; r < 3; ++r) xyz[r] = kSrgbD50[3 * r] * rgb[0] + kSrgbD50[3 * r + 1] * rgb[1] + kSrgbD50[3 * r + 2] * rgb[2];
  const cmsCIEXYZ x{xyz[0], xyz[1], xyz[2]};
  cmsCIELab lab;
  cmsXYZ2Lab(cmsD50_XYZ(), &lab, &x);
  cmsFloat2LabEncoded(out, &lab);
  return 1;
}

int LabToIndex(const cmsUInt16Number in[], cmsUInt16Number out[], void*) {
  static double inv[9];
  static const bool once = (Invert3(kSrgbD50, inv), true);
  (void)once;
  cmsCIELab lab;
  cmsLabEncoded2Float(&lab, in);
  cmsCIEXYZ x;
  cmsLab2XYZ(cmsD50_XYZ(), &x, &lab);
  const double xyz[3] = {x.X, x.Y, x.Z};
  for (int r = 0; r < 3; ++r) {
    const double v = inv[3 * r] * xyz[0] + inv[3 * r + 1] * xyz[1] + inv[3 * r + 2] * xyz[2];
    const double e = LinearToSrgb(std::clamp(v, 0.0, 1.0));
    out[r] = cmsUInt16Number(std::lround(std::pow(e, 1 / kIndexGamma) * 65535));
  }
  return 1;
}

// A curves stage with each curve f applied after (after = true) or before the stage's own.
cmsStage* Rescaled(cmsStage* curves, bool after, double factor) {
  const auto* data = static_cast<const _cmsStageToneCurvesData*>(cmsStageData(curves));
  std::vector<cmsToneCurve*> set(data->nCurves);
  for (cmsUInt32Number c = 0; c < data->nCurves; ++c) {
    const cmsToneCurve* old = data->TheCurves[c];
    set[c] = Sampled([&](double x) {
      if (after) return cmsEvalToneCurveFloat(old, float(x)) * factor;
      return double(cmsEvalToneCurveFloat(old, float(std::min(1.0, x * factor))));
    });
  }
  cmsStage* s = cmsStageAllocToneCurves(nullptr, data->nCurves, set.data());
  for (cmsToneCurve* t : set) cmsFreeToneCurve(t);
  return s;
}

// The table of an 8-bit device link from sRGB to Lab (or back), as Little CMS builds it.
cmsPipeline* LinkTable(bool toLab) {
  cmsHPROFILE lab = cmsCreateLab4Profile(nullptr), srgb = cmsCreate_sRGBProfile();
  cmsHTRANSFORM t = toLab ? cmsCreateTransform(srgb, TYPE_RGB_16, lab, TYPE_Lab_16, INTENT_PERCEPTUAL, cmsFLAGS_NOOPTIMIZE)
                          : cmsCreateTransform(lab, TYPE_Lab_16, srgb, TYPE_RGB_16, INTENT_PERCEPTUAL, cmsFLAGS_NOOPTIMIZE);
  cmsHPROFILE link = t ? cmsTransform2DeviceLink(t, 4.3, cmsFLAGS_8BITS_DEVICELINK) : nullptr;
  const auto* p = link ? static_cast<const cmsPipeline*>(cmsReadTag(link, cmsSigAToB0Tag)) : nullptr;
  cmsPipeline* copy = p ? cmsPipelineDup(p) : nullptr;
  if (link) cmsCloseProfile(link);
  if (t) cmsDeleteTransform(t);
  cmsCloseProfile(lab);
  cmsCloseProfile(srgb);
  return copy;
}

}  // namespace

bool CopyAsV4(const std::string& in, const std::string& out) {
  cmsHPROFILE h = cmsOpenProfileFromFile(in.c_str(), "r");
  if (h == nullptr) return false;
  const bool lab = cmsGetPCS(h) == cmsSigLabData;
  const cmsTagSignature tags[6] = {cmsSigAToB0Tag, cmsSigAToB1Tag, cmsSigAToB2Tag,
                                   cmsSigBToA0Tag, cmsSigBToA1Tag, cmsSigBToA2Tag};
  // Read every table before the version changes (the reader decodes by the header).
  cmsPipeline* copies[6] = {};
  bool ok = true;
  for (int i = 0; i < 6 && ok; ++i) {
    if (!cmsIsTag(h, tags[i])) continue;
    cmsUInt8Number type[4] = {};
    cmsReadRawTag(h, tags[i], type, 4);
    const auto* p = static_cast<const cmsPipeline*>(cmsReadTag(h, tags[i]));
    if (p == nullptr) {
      ok = false;
      break;
    }
    copies[i] = cmsPipelineDup(p);
    if (lab && type[3] == '2') {
      // 16-bit Lab: 0xFF00 is L = 100 there and 0xFFFF in version 4 (a factor of 257/256).
      const bool a2b = i < 3;
      cmsStage* s = nullptr;
      cmsPipelineUnlinkStage(copies[i], a2b ? cmsAT_END : cmsAT_BEGIN, &s);
      cmsStage* r = Rescaled(s, a2b, a2b ? 257.0 / 256.0 : 256.0 / 257.0);
      cmsStageFree(s);
      ok = cmsPipelineInsertStage(copies[i], a2b ? cmsAT_END : cmsAT_BEGIN, r);
    }
  }
  cmsSetProfileVersion(h, 4.3);
  for (int i = 0; i < 6 && ok; ++i)
    if (copies[i] != nullptr) ok = cmsWriteTag(h, tags[i], copies[i]);
  for (cmsPipeline* p : copies) cmsPipelineFree(p);
  ok = ok && cmsSaveProfileToFile(h, out.c_str());
  cmsCloseProfile(h);
  return ok;
}

bool WriteRgbProfiles(const std::string& dir) {
  // Curves only: the sRGB curve as a parametric one, and its inverse sampled.
  cmsToneCurve* srgb = SrgbCurve();
  cmsToneCurve* inverse = cmsReverseToneCurve(srgb);
  bool ok = Save(NewRgb(cmsSigXYZData), Chain({Curves3(cmsDupToneCurve(srgb))}), Chain({Curves3(cmsDupToneCurve(inverse))}),
                 dir + "/v4-curves.icc");

  // Curves and a matrix with offsets: XYZ, in codes of 0x8000 = 1.0, a little above zero.
  constexpr double kXyzCode = 32768.0 / 65535.0;
  double m[9], inv[9];
  for (int i = 0; i < 9; ++i) m[i] = kSrgbD50[i] * kXyzCode * 0.98;
  const double off[3] = {0.002, 0.002, 0.002};
  Invert3(m, inv);
  double invOff[3];
  for (int r = 0; r < 3; ++r) invOff[r] = -(inv[3 * r] * off[0] + inv[3 * r + 1] * off[1] + inv[3 * r + 2] * off[2]);
  cmsToneCurve* linear = cmsBuildGamma(nullptr, 1.0);
  ok = Save(NewRgb(cmsSigXYZData),
            Chain({Curves3(cmsDupToneCurve(srgb)), cmsStageAllocMatrix(nullptr, 3, 3, m, off), Curves3(cmsDupToneCurve(linear))}),
            Chain({Curves3(cmsDupToneCurve(linear)), cmsStageAllocMatrix(nullptr, 3, 3, inv, invOff),
                   Curves3(cmsDupToneCurve(inverse))}),
            dir + "/v4-matrix.icc") && ok;

  // Every element, Lab: the A curves are a gamma of 0.8 (parametric), the colour tables hold
  // Lab of the sRGB values they index (and back); the matrix halves the codes and adds a
  // quarter, which the curves after it undo.
  const cmsFloat64Number gamma = kIndexGamma;
  const double half[9] = {0.5, 0, 0, 0, 0.5, 0, 0, 0, 0.5}, quarter[3] = {0.25, 0.25, 0.25};
  cmsUInt32Number points[3] = {9, 17, 5};
  cmsStage* a2bClut = cmsStageAllocCLut16bitGranular(nullptr, points, 3, 3, nullptr);
  cmsStage* b2aClut = cmsStageAllocCLut16bitGranular(nullptr, points, 3, 3, nullptr);
  ok = cmsStageSampleCLut16bit(a2bClut, IndexToLab, nullptr, 0) && cmsStageSampleCLut16bit(b2aClut, LabToIndex, nullptr, 0) && ok;
  auto undo = [] { return Curves3(Sampled([](double y) { return (y - 0.25) * 2; })); };
  cmsPipeline* a2b = Chain({Curves3(cmsBuildParametricToneCurve(nullptr, 1, &gamma)), a2bClut, Curves3(cmsDupToneCurve(linear)),
                            cmsStageAllocMatrix(nullptr, 3, 3, half, quarter), undo()});
  cmsPipeline* b2a = Chain({Curves3(cmsDupToneCurve(linear)), cmsStageAllocMatrix(nullptr, 3, 3, half, quarter), undo(),
                            b2aClut, Curves3(cmsBuildParametricToneCurve(nullptr, 1, &gamma))});
  ok = Save(NewRgb(cmsSigLabData), a2b, b2a, dir + "/v4-clut.icc") && ok;

  // 8-bit colour tables: the tables of Little CMS's own sRGB to Lab and back, as it stores
  // them in 8-bit device links.
  ok = Save(NewRgb(cmsSigLabData), LinkTable(true), LinkTable(false), dir + "/v4-clut8.icc") && ok;
  cmsFreeToneCurve(linear);
  cmsFreeToneCurve(srgb);
  cmsFreeToneCurve(inverse);
  return ok;
}

}  // namespace v4p
