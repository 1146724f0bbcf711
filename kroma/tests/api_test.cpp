// The exported API: argument checks, error codes, profile reading failures, progress,
// resets, 1-D table specs and the profile utilities.
#include <functional>
#include <cstring>

#include "fixture.h"

using namespace kt;

namespace {

std::string SRGB() { return OwnProfile("OXsRGB.icm"); }

TEST(InitTest, ArgumentFaultsReturn5001AndClearTheHandle) {
  const CMParam p = Param(4, 1, 3, 3);
  std::string s = SRGB(), d = SRGB();
  char* sp = s.data();
  char* dp = d.data();
  CMProfilePaths paths{&sp, &dp};
  EXPECT_EQ(OXCMInit(&p, &paths, 1, 0, nullptr), 5001);

  struct Case {
    const CMParam* param;
    const CMProfilePaths* paths;
    uint16_t engine;
    int32_t intent;
  } cases[] = {{nullptr, &paths, 1, 0}, {&p, nullptr, 1, 0}, {&p, &paths, 2, 0},
               {&p, &paths, 1, 4},      {&p, &paths, 1, -1}};
  for (const Case& c : cases) {
    CColorMatcher* h = reinterpret_cast<CColorMatcher*>(0x1);
    EXPECT_EQ(OXCMInit(c.param, c.paths, c.engine, c.intent, &h), 5001);
    EXPECT_EQ(h, nullptr);
  }
  // Paths longer than the 255 characters the handle can hold are refused.
  std::string longPath(300, 'x');
  char* lp = longPath.data();
  CMProfilePaths longPaths{&lp, &dp};
  CColorMatcher* h = nullptr;
  EXPECT_EQ(OXCMInit(&p, &longPaths, 1, 0, &h), 5001);
  EXPECT_EQ(h, nullptr);
  char* nul = nullptr;
  CMProfilePaths nullPath{&nul, &dp};
  EXPECT_EQ(OXCMInit(&p, &nullPath, 1, 0, &h), 5001);
}

TEST(InitTest, DepthsAreCheckedBeforeAnyProfileIsOpened) {
  struct Case {
    uint16_t inBits, outBits;
    int32_t code;
  } cases[] = {{9, 8, 2020}, {8, 12, 2021}, {16, 16, 3000}};
  for (const Case& c : cases) {
    Handle h;
    EXPECT_EQ(Open(h, Param(4, 1, 3, 3, c.inBits, c.outBits), "/nonexistent/a.icc", SRGB()), c.code);
    ASSERT_NE(h.h, nullptr);  // the handle stays allocated after a failed initialisation
    EXPECT_EQ(CMGetError(h), c.code);
  }
  // Layout codes above 2 are only reachable through the lower level.
  CColorMatcher cm{};
  cm.selector.engine = 1;
  MatchingParam mp{4, 1, 12, 12, 8, 8, 3};
  ProfileSpec spec{};
  SetSrcProfileSpec(&spec, SRGB().c_str());
  SetDstProfileSpec(&spec, SRGB().c_str());
  EXPECT_EQ(InitCColorMatcher(&cm, &mp, &spec), 2030);
  TermCColorMatcher(&cm);
}

TEST(InitTest, ProfileFaults) {
  TempDir dir;
  iccw::Profile notIcc = LinearRgb();
  notIcc.magic = iccw::Sig("xxxx");
  iccw::Profile luv = LinearRgb();
  luv.pcs = iccw::Sig("Luv ");
  iccw::Profile noTrc;
  noTrc.AddXYZ(iccw::Sig("rXYZ"), 1, 0, 0);
  static constexpr double z[3] = {0, 0, 0}, x[3] = {1, 0, 0};
  iccw::Profile singular = iccw::MatrixRgb(x, x, z, {256});
  // A parametric curve of a function type the ICC format does not define.
  iccw::Profile para;
  para.AddRaw(iccw::Sig("rTRC"), {'p', 'a', 'r', 'a', 0, 0, 0, 0, 0, 5, 0, 0, 0, 2, 0, 0});
  for (const char* t : {"gTRC", "bTRC"}) para.AddCurve(iccw::Sig((const char(&)[5])*t), {256});
  para.AddXYZ(iccw::Sig("rXYZ"), 1, 0, 0);
  para.AddXYZ(iccw::Sig("gXYZ"), 0, 1, 0);
  para.AddXYZ(iccw::Sig("bXYZ"), 0, 0, 1);
  iccw::Profile dangling;
  dangling.AddDangling(iccw::Sig("rTRC"), 0x7FFFFFF0, 16);
  // A curve whose count asks for far more entries than the file holds.
  iccw::Profile hugeFirst;
  hugeFirst.AddRaw(iccw::Sig("rTRC"), {'c', 'u', 'r', 'v', 0, 0, 0, 0, 0x7F, 0xFF, 0xFF, 0xFF});
  std::vector<uint8_t> header = LinearRgb().Bytes();
  header.resize(100);
  std::vector<uint8_t> table = LinearRgb().Bytes();
  table[128] = 0x10;  // tag count far beyond the file

  struct Case {
    const char* name;
    std::string path;
    int32_t srcCode;
  } cases[] = {
      {"missing file", dir.path() + "/none.icc", 3000},
      {"short header", dir.WriteBytes("short.icc", header), 3000},
      {"tag table beyond the file", dir.WriteBytes("table.icc", table), 3000},
      {"no acsp", dir.Write("magic.icc", notIcc), 3001},
      {"Luv connection space", dir.Write("luv.icc", luv), 5000},
      {"missing tags", dir.Write("notrc.icc", noTrc), 5000},
      {"parametric curve of unknown function type", dir.Write("para.icc", para), 5000},
      {"tag beyond the file", dir.Write("dangling.icc", dangling), 5000},
      {"curve count beyond the file", dir.Write("huge.icc", hugeFirst), 5000},
  };
  for (const Case& c : cases) {
    Handle h;
    EXPECT_EQ(Open(h, Param(4, 1, 3, 3), c.path, SRGB()), c.srcCode) << c.name;
    Handle asDst;
    EXPECT_EQ(Open(asDst, Param(4, 1, 3, 3), SRGB(), c.path), c.srcCode) << c.name;
  }
  // A singular colorant matrix only matters where it must be inverted: the destination.
  const std::string sing = dir.Write("singular.icc", singular);
  Handle asSource, asDestination;
  EXPECT_EQ(Open(asSource, Param(4, 1, 3, 3), sing, SRGB()), 0);
  EXPECT_EQ(Open(asDestination, Param(4, 1, 3, 3), SRGB(), sing), 5000);
  // Destination faults are reported after the source has been read.
  Handle dstMissing;
  EXPECT_EQ(Open(dstMissing, Param(4, 1, 3, 3), SRGB(), dir.path() + "/none.icc"), 3000);
}

TEST(InitTest, PrinterIntentTablesFallBackToIntentZero) {
  TempDir dir;
  const std::string cmyk = dir.Write("cmyk.icc", CmykProfile());
  for (int intent = 0; intent < 4; ++intent) {
    Handle h;
    EXPECT_EQ(Open(h, Param(4, 1, 4, 3), cmyk, SRGB(), 1, intent), 0) << intent;
  }
}

TEST(ProcTest, BufferChecksComeBeforeAnyPixelIsWritten) {
  TempDir dir;
  const std::string cmyk = dir.Write("cmyk.icc", CmykProfile());
  struct Case {
    const char* name;
    std::string src, dst;
    int inCh, outCh;
    uint16_t inBits, outBits;
    uint32_t srcShort, dstShort;
    bool inPlace;
    int32_t code;
  } cases[] = {
      {"RGB to CMYK in place", SRGB(), cmyk, 3, 4, 8, 8, 0, 0, true, 1001},
      {"RGB to CMYK separate", SRGB(), cmyk, 3, 4, 8, 8, 0, 0, false, 0},
      {"10 in 8 out in place", SRGB(), SRGB(), 3, 3, 10, 8, 0, 0, true, 1001},
      {"10 in 16 out in place", SRGB(), SRGB(), 3, 3, 10, 16, 0, 0, true, 0},
      {"8-bit source one byte short", SRGB(), SRGB(), 3, 3, 8, 8, 1, 0, false, 1002},
      {"16-bit source one byte short", SRGB(), SRGB(), 3, 3, 16, 16, 1, 0, true, 1002},
      {"destination one byte short", SRGB(), cmyk, 3, 4, 8, 16, 0, 1, false, 1002},
  };
  for (const Case& c : cases) {
    Handle h;
    CMParam p = Param(8, 4, c.inCh, c.outCh, c.inBits, c.outBits);
    p.srcBufferBytes -= c.srcShort;
    p.dstBufferBytes -= c.dstShort;
    ASSERT_EQ(Open(h, p, c.src, c.dst), 0) << c.name;
    const size_t inBytes = size_t(8) * 4 * c.inCh * (c.inBits == 8 ? 1 : 2);
    std::vector<uint8_t> in(inBytes, 0x40);
    const std::vector<uint8_t> original = in;
    std::vector<uint8_t> out(size_t(8) * 4 * c.outCh * (c.outBits == 8 ? 1 : 2), 0xAB);
    CMBuffer s{in.data(), 4}, d{out.data(), 4};
    EXPECT_EQ(OXCMProc(&s, c.inPlace ? nullptr : &d, h), c.code) << c.name;
    if (c.code != 0) {
      EXPECT_EQ(in, original) << c.name;
      EXPECT_EQ(out, std::vector<uint8_t>(out.size(), 0xAB)) << c.name;
      EXPECT_EQ(GetProgress(h), 0u) << c.name;
    }
  }
  Handle h;
  ASSERT_EQ(Open(h, Param(4, 1, 3, 3), SRGB(), SRGB()), 0);
  EXPECT_EQ(OXCMProc(nullptr, nullptr, h), 5001);
  uint8_t px[12] = {};
  CMBuffer b{px, 1};
  EXPECT_EQ(OXCMProc(&b, nullptr, nullptr), 5001);
}

TEST(ProcTest, AFailedHandleConvertsNothing) {
  Handle h;
  ASSERT_EQ(Open(h, Param(4, 1, 3, 3), "/nonexistent.icc", SRGB()), 3000);
  uint8_t px[12] = {1, 2, 3};
  CMBuffer b{px, 1};
  EXPECT_NE(OXCMProc(&b, nullptr, h), 0);
  EXPECT_EQ(px[0], 1);
  CM1DLutSpec spec{0, 8, 0, {}};
  EXPECT_EQ(OXCMChange1DLUT(&spec, 0, h), 5001);
}

TEST(ProgressTest, CountsSuccessfulBuffersOnly) {
  Handle h;
  ASSERT_EQ(Open(h, Param(16, 100, 3, 3, 8, 8, 0, 10), SRGB(), SRGB()), 0);
  std::vector<uint8_t> in(16 * 10 * 3, 7), out(in.size());
  CMBuffer s{in.data(), 10}, d{out.data(), 10};
  ASSERT_EQ(OXCMProc(&s, &d, h), 0);
  ASSERT_EQ(OXCMProc(&s, &d, h), 0);
  EXPECT_EQ(GetProgress(h), 20u);
  CMBuffer tooMany{in.data(), 11};
  EXPECT_EQ(OXCMProc(&tooMany, &d, h), 1002);
  EXPECT_EQ(GetProgress(h), 20u);

  // Totals: lines, width, buffer size.
  EXPECT_EQ(OXCMChangeImageLines(200, h), 0);
  EXPECT_EQ(h->progressTotal, 3200u);
  EXPECT_EQ(OXCMChangeBufSize(320, 1, h), 0);
  EXPECT_EQ(GetProgress(h), 100u);
  EXPECT_EQ(OXCMChangeImageWidth(0, h), 5001);
  EXPECT_EQ(OXCMChangeImageLines(-1, h), 5001);
  EXPECT_EQ(OXCMChangeBufSize(10, 2, h), 5001);
  EXPECT_EQ(OXCMChangeBufSize(10, 1, nullptr), 5001);
}

TEST(ProgressTest, WidthChangeRescalesTotalAndLargeImagesDoNotOverflow) {
  Handle h;
  ASSERT_EQ(Open(h, Param(1024, 100, 3, 3), SRGB(), SRGB()), 0);
  EXPECT_EQ(h->progressTotal, 102400u);
  EXPECT_EQ(OXCMChangeImageWidth(512, h), 0);
  EXPECT_EQ(h->progressTotal, 51200u);
  EXPECT_EQ(h->param.width, 512u);
  // 48 of 64 million pixels: the product exceeds 32 bits and must still read 75.
  h->progressTotal = 64000000;
  h->progressDone = 48000000;
  EXPECT_EQ(GetProgress(h), 75u);
  h->progressTotal = 0;
  EXPECT_EQ(GetProgress(h), 0u);
  // Zero width: the total stays 0 instead of dividing by zero.
  h->param.width = 0;
  EXPECT_EQ(ChangeImageWidth(h, 10), 0);
  EXPECT_EQ(h->progressTotal, 0u);
}

TEST(ResetTest, MatchingParamKeepsOrReplacesIntentAndEngine) {
  Handle h;
  ASSERT_EQ(Open(h, Param(4, 1, 3, 3), SRGB(), SRGB(), 1, 3), 0);
  EXPECT_EQ(OXCMResetMatchingParam(nullptr, nullptr, -1, -1, h), 0);
  EXPECT_EQ(h->selector.intent, 3);
  EXPECT_EQ(h->selector.engine, 1);
  EXPECT_EQ(OXCMResetMatchingParam(nullptr, nullptr, 0, 7, h), 2050);
  EXPECT_EQ(OXCMResetMatchingParam(nullptr, nullptr, 5, 1, h), 2040);
  EXPECT_EQ(OXCMResetMatchingParam(nullptr, nullptr, 0, 2, h), 0);
  EXPECT_EQ(h->selector.engine, 0);
  const CMParam p = Param(8, 2, 3, 3, 16, 16, 1);
  EXPECT_EQ(OXCMResetMatchingParam(&p, nullptr, -1, -1, h), 0);
  EXPECT_EQ(h->param.width, 8u);
  EXPECT_EQ(h->param.layout, 2);  // the caller's 1 means line-planar
  EXPECT_EQ(OXCMResetMatchingParam(nullptr, nullptr, -1, -1, nullptr), 5001);
}

TEST(ResetTest, ProfilesChangeTheTransform) {
  TempDir dir;
  const std::string gray = dir.Write("gray.icc", GrayProfile());
  const std::string linear = dir.Write("linear.icc", LinearRgb());
  Handle h;
  ASSERT_EQ(Open(h, Param(1, 1, 3, 3), SRGB(), SRGB()), 0);
  const std::vector<uint8_t> before = Convert(h, {128, 128, 128}, 1, 3);
  char* keep = nullptr;
  std::string lin = linear;
  char* l = lin.data();
  EXPECT_EQ(OXCMResetProfiles(&keep, &l, h), 0);
  EXPECT_STREQ(GetDstProfileSpec(&h->spec), linear.c_str());
  EXPECT_STREQ(GetSrcProfileSpec(&h->spec), SRGB().c_str());
  const std::vector<uint8_t> after = Convert(h, {128, 128, 128}, 1, 3);
  EXPECT_NEAR(before[0], 128, 1);
  EXPECT_LT(after[0], 70);  // sRGB mid grey is about 0.21 in linear light
  EXPECT_EQ(OXCMResetProfiles(nullptr, &l, h), 5001);
  EXPECT_EQ(OXCMResetProfiles(&keep, nullptr, h), 5001);
  std::string g = gray;
  char* gp = g.data();
  EXPECT_EQ(OXCMResetProfiles(&keep, &gp, h), 0);  // RGB to gray: one output channel now
  uint16_t in = 0, out = 0;
  EXPECT_EQ(GetMatchingChannels(&h->selector, &in, &out), 0);
  EXPECT_EQ(out, 1);
}

TEST(LutSpecTest, ArgumentChecksAndIgnoredSpecs) {
  Handle h;
  ASSERT_EQ(Open(h, Param(1, 1, 3, 3), SRGB(), SRGB()), 0);
  const std::vector<uint8_t> reference = Convert(h, {200, 100, 50}, 1, 3);
  uint16_t ramp[256];
  for (int i = 0; i < 256; ++i) ramp[i] = uint16_t(255 - i);
  uint16_t gamma = 512;
  struct Case {
    const char* name;
    CM1DLutSpec spec;
    uint16_t side;
    int32_t code;
    bool changes;
  } cases[] = {
      {"side 2", {3, 8, 0, {}}, 2, 5001, false},
      {"five tables", {5, 8, 0, {}}, 0, 5001, false},
      {"two tables on three channels", {2, 8, 256, {ramp, ramp}}, 0, 0, false},
      {"gamma with one pointer", {1, 8, 1, {&gamma}}, 0, 5001, false},
      {"explicit with no pointers", {0, 8, 256, {}}, 1, 5001, false},
      {"explicit with a null pointer", {3, 8, 256, {ramp, nullptr, ramp}}, 1, 5001, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(OXCMChange1DLUT(&c.spec, c.side, h), c.code) << c.name;
    EXPECT_EQ(OXCMMerge1DLUT(&c.spec, c.side, h), c.code) << c.name;
    EXPECT_EQ(Convert(h, {200, 100, 50}, 1, 3), reference) << c.name;
  }
  EXPECT_EQ(OXCMChange1DLUT(nullptr, 0, h), 5001);
  CM1DLutSpec identity{0, 8, 0, {}};
  EXPECT_EQ(OXCMChange1DLUT(&identity, 0, nullptr), 5001);
}

TEST(LocateTest, ComposesThePathInTheColourFolder) {
  char buffer[260];
  char* out = buffer;
  EXPECT_EQ(OXCMLocateProfile("OXsRGB.icm", &out), 1);
  EXPECT_EQ(std::string(buffer), OwnProfile("OXsRGB.icm"));
  EXPECT_EQ(OXCMLocateProfile("nothere.icm", &out), 0);
  EXPECT_EQ(std::string(buffer), OwnProfile("nothere.icm"));
  EXPECT_EQ(OXCMLocateProfile(nullptr, &out), 5001);
  EXPECT_EQ(OXCMLocateProfile("x", nullptr), 5001);
  EXPECT_EQ(DurovToolboxLocateProfile("x", nullptr), 5001);
  // A name that would not fit the caller's 260 bytes is refused, not written past the end.
  const std::string longName(300, 'n');
  buffer[0] = 'z';
  EXPECT_EQ(OXCMLocateProfile(longName.c_str(), &out), 5001);
  EXPECT_EQ(buffer[0], '\0');
}

TEST(ProfInfoTest, HeaderQueries) {
  TempDir dir;
  iccw::Profile p = CmykProfile();
  p.intent = 2;
  p.illuminant[0] = 0.5;
  const std::string path = dir.Write("cmyk.icc", p);
  int16_t i16 = 0;
  uint32_t u32 = 0;
  int32_t white[3] = {};
  EXPECT_EQ(DurovToolboxGetProfInfo(path.c_str(), 0, &i16, 2), 1);
  EXPECT_EQ(i16, 4);
  EXPECT_EQ(DurovToolboxGetProfInfo(path.c_str(), 1, &u32, 4), 1);
  EXPECT_EQ(u32, iccw::Sig("prtr"));
  EXPECT_EQ(DurovToolboxGetProfInfo(path.c_str(), 2, &i16, 2), 1);
  EXPECT_EQ(i16, 13);
  EXPECT_EQ(DurovToolboxGetProfInfo(path.c_str(), 3, &i16, 2), 1);
  EXPECT_EQ(i16, 3);
  EXPECT_EQ(DurovToolboxGetProfInfo(path.c_str(), 4, &u32, 4), 1);
  EXPECT_EQ(u32, 2u);
  EXPECT_EQ(DurovToolboxGetProfInfo(path.c_str(), 5, white, 12), 1);
  EXPECT_EQ(white[0], 32768);
  EXPECT_EQ(white[1], 65536);
  EXPECT_EQ(DurovToolboxGetProfInfo(path.c_str(), 5, white, 4), 0);
  EXPECT_EQ(DurovToolboxGetProfInfo(path.c_str(), 6, white, 12), 0);
  EXPECT_EQ(DurovToolboxGetProfInfo((dir.path() + "/none").c_str(), 0, &i16, 2), 0);

  // Colour-space codes and channel counts of the signatures.
  struct Space {
    const char* sig;
    int16_t code, channels;
  } spaces[] = {{"GRAY", 0, 1}, {"RGB ", 7, 3},  {"Lch ", 12, 3}, {"2CLR", 15, 2},
                {"7CLR", 18, 7}, {"?CLR", 26, 15}, {"abcd", 7, 0}};
  for (const Space& s : spaces) {
    iccw::Profile q;
    q.colorSpace = (uint32_t(uint8_t(s.sig[0])) << 24) | (uint32_t(uint8_t(s.sig[1])) << 16) |
                   (uint32_t(uint8_t(s.sig[2])) << 8) | uint8_t(s.sig[3]);
    const std::string f = dir.Write("space.icc", q);
    EXPECT_EQ(DurovToolboxGetProfInfo(f.c_str(), 2, &i16, 2), 1);
    EXPECT_EQ(i16, s.code) << s.sig;
    EXPECT_EQ(DurovToolboxGetProfInfo(f.c_str(), 0, &i16, 2), 1);
    EXPECT_EQ(i16, s.channels) << s.sig;
  }
}

TEST(ProfileSpecTest, AccessorsStoreAndReturn) {
  ProfileSpec spec{};
  EXPECT_STREQ(SetSrcProfileSpec(&spec, "a.icc"), "a.icc");
  EXPECT_STREQ(SetDstProfileSpec(&spec, "b.icc"), "b.icc");
  EXPECT_EQ(GetSrcProfileSpec(&spec), spec.srcProfile);
  EXPECT_EQ(GetDstProfileSpec(&spec), spec.dstProfile);
  int token;
  EXPECT_EQ(SetCallBackFuncPtr(&spec, &token), &token);
  EXPECT_EQ(GetCallBackFuncPtr(&spec), &token);
  EXPECT_EQ(SetCallBackParamBlk(&spec, &spec), &spec);
  EXPECT_EQ(GetCallBackFuncParam(&spec), &spec);
  EXPECT_EQ(SetIndicatorFlag(&spec, -3), -3);
  EXPECT_EQ(GetIndicatorFlag(&spec), -3);
  const std::string longPath(400, 'p');
  SetSrcProfileSpec(&spec, longPath.c_str());
  EXPECT_EQ(std::strlen(spec.srcProfile), 255u);
}

}  // namespace

// Parametric curves ("para") are evaluated: an sRGB profile written with function type 3 and
// one written as a pure power (type 0, gamma 2.0) match their sampled equivalents.
TEST(InitTest, ParametricCurvesMatchSampledCurves) {
  TempDir dir;
  auto s15 = [](std::vector<uint8_t>& b, double v) {
    const uint32_t x = uint32_t(int32_t(std::lround(v * 65536.0)));
    for (int sh = 24; sh >= 0; sh -= 8) b.push_back(uint8_t(x >> sh));
  };
  auto para = [&](uint16_t type, std::initializer_list<double> params) {
    std::vector<uint8_t> b = {'p', 'a', 'r', 'a', 0, 0, 0, 0, uint8_t(type >> 8), uint8_t(type), 0, 0};
    for (double p : params) s15(b, p);
    return b;
  };
  static constexpr double r[3] = {0.4360747, 0.2225045, 0.0139322}, g[3] = {0.3850649, 0.7168786, 0.0971045},
                          bl[3] = {0.1430804, 0.0606169, 0.7141733};
  struct Case {
    std::vector<uint8_t> curve;
    std::vector<uint16_t> sampled;
  } cases[] = {{para(3, {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045}), iccw::SRGBCurve(1024)},
               {para(0, {2.0}), {512}}};
  for (const Case& c : cases) {
    iccw::Profile p, q = iccw::MatrixRgb(r, g, bl, c.sampled);
    p.AddXYZ(iccw::Sig("wtpt"), iccw::kD50[0], iccw::kD50[1], iccw::kD50[2]);
    p.AddXYZ(iccw::Sig("rXYZ"), r[0], r[1], r[2]);
    p.AddXYZ(iccw::Sig("gXYZ"), g[0], g[1], g[2]);
    p.AddXYZ(iccw::Sig("bXYZ"), bl[0], bl[1], bl[2]);
    for (const char* t : {"rTRC", "gTRC", "bTRC"}) p.AddRaw(iccw::Sig((const char(&)[5])*t), c.curve);
    const std::string pp = dir.Write("para.icc", p), qq = dir.Write("sampled.icc", q);
    std::vector<uint8_t> in;
    for (int v = 0; v < 256; v += 5) in.insert(in.end(), {uint8_t(v), uint8_t(255 - v), uint8_t(v / 2)});
    const uint16_t w = uint16_t(in.size() / 3);
    for (uint16_t engine : {0, 1}) {
      Handle a, b;
      ASSERT_EQ(Open(a, Param(w, 1, 3, 3), pp, qq, engine), 0);
      ASSERT_EQ(Open(b, Param(w, 1, 3, 3), qq, pp, engine), 0);
      const auto there = Convert(a, in, 1, in.size()), back = Convert(b, in, 1, in.size());
      for (size_t i = 0; i < in.size(); ++i) {
        EXPECT_NEAR(there[i], in[i], 1) << "engine " << engine << " sample " << i << " curve " << c.sampled.size();
        EXPECT_NEAR(back[i], in[i], 1) << "engine " << engine << " sample " << i;
      }
    }
  }
}

namespace {

// An RGB profile with XYZ connection whose A2B0 and B2A0 are the version-4 LUT types.
iccw::Profile V4Rgb(const iccw::V4Lut& a2b, const iccw::V4Lut& b2a) {
  iccw::Profile p;
  p.version = 0x04300000;
  p.AddXYZ(iccw::Sig("wtpt"), iccw::kD50[0], iccw::kD50[1], iccw::kD50[2]);
  p.AddRaw(iccw::Sig("A2B0"), iccw::V4LutBytes(a2b));
  p.AddRaw(iccw::Sig("B2A0"), iccw::V4LutBytes(b2a));
  return p;
}

std::vector<std::vector<uint8_t>> Three(const std::vector<uint16_t>& curve) {
  return {iccw::CurveBytes(curve), iccw::CurveBytes(curve), iccw::CurveBytes(curve)};
}

}  // namespace

// A version-4 profile of M curves (one-entry gamma curves), a matrix on the connection-space
// codes (0x8000 = 1.0) and B curves converts like the matrix/TRC profile it is made from.
TEST(InitTest, VersionFourMatrixLutMatchesMatrixTrc) {
  TempDir dir;
  static constexpr double r[3] = {0.4360747, 0.2225045, 0.0139322}, g[3] = {0.3850649, 0.7168786, 0.0971045},
                          b[3] = {0.1430804, 0.0606169, 0.7141733};
  const double code = 32768.0 / 65535.0;
  double m[9];
  for (int row = 0; row < 3; ++row) m[row * 3] = r[row] * code, m[row * 3 + 1] = g[row] * code, m[row * 3 + 2] = b[row] * code;
  double inv[9];
  const double det = m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) + m[2] * (m[3] * m[7] - m[4] * m[6]);
  inv[0] = (m[4] * m[8] - m[5] * m[7]) / det, inv[1] = (m[2] * m[7] - m[1] * m[8]) / det, inv[2] = (m[1] * m[5] - m[2] * m[4]) / det;
  inv[3] = (m[5] * m[6] - m[3] * m[8]) / det, inv[4] = (m[0] * m[8] - m[2] * m[6]) / det, inv[5] = (m[2] * m[3] - m[0] * m[5]) / det;
  inv[6] = (m[3] * m[7] - m[4] * m[6]) / det, inv[7] = (m[1] * m[6] - m[0] * m[7]) / det, inv[8] = (m[0] * m[4] - m[1] * m[3]) / det;
  iccw::V4Lut a2b, b2a;
  a2b.m = Three({512});  // gamma 2.0
  a2b.matrix.assign(m, m + 9);
  a2b.matrix.insert(a2b.matrix.end(), {0, 0, 0});
  a2b.b = Three({});
  b2a.aToB = false;
  b2a.b = Three({});
  b2a.matrix.assign(inv, inv + 9);
  b2a.matrix.insert(b2a.matrix.end(), {0, 0, 0});
  b2a.m = Three({128});  // gamma 0.5
  const std::string v4 = dir.Write("v4.icc", V4Rgb(a2b, b2a)), v2 = dir.Write("v2.icc", iccw::MatrixRgb(r, g, b, {512}));
  std::vector<uint8_t> in;
  for (int v = 0; v < 256; v += 5) in.insert(in.end(), {uint8_t(v), uint8_t(255 - v), uint8_t(v / 2)});
  const uint16_t w = uint16_t(in.size() / 3);
  for (uint16_t engine : {0, 1}) {
    Handle there, back;
    ASSERT_EQ(Open(there, Param(w, 1, 3, 3), v4, v2, engine), 0);
    ASSERT_EQ(Open(back, Param(w, 1, 3, 3), v2, v4, engine), 0);
    const auto t = Convert(there, in, 1, in.size()), k = Convert(back, in, 1, in.size());
    for (size_t i = 0; i < in.size(); ++i) {
      EXPECT_NEAR(t[i], in[i], 1) << "engine " << engine << " sample " << i;
      EXPECT_NEAR(k[i], in[i], 1) << "engine " << engine << " sample " << i;
    }
  }
}

// Every offset, count and size of a version-4 LUT is checked against its tag: a damaged one
// fails the build (KROMA_ERR_BUILD) on either side, with nothing to fall back on.
TEST(InitTest, VersionFourLutFaults) {
  TempDir dir;
  iccw::V4Lut a2b;  // A curves, a two-point identity table, B curves
  a2b.a = Three({});
  a2b.grid = {2, 2, 2};
  for (int i = 0; i < 8; ++i)
    for (int o = 0; o < 3; ++o) a2b.clut.push_back(((i >> (2 - o)) & 1) ? 65535 : 0);
  a2b.b = Three({0, 65535});
  iccw::V4Lut b2a = a2b;
  b2a.aToB = false;
  const std::vector<uint8_t> good = iccw::V4LutBytes(a2b);
  auto at32 = [&](size_t i) { return (uint32_t(good[i]) << 24) | (good[i + 1] << 16) | (good[i + 2] << 8) | good[i + 3]; };
  const uint32_t offB = at32(12), offClut = at32(24);
  auto set32 = [](std::vector<uint8_t>& v, size_t i, uint32_t x) {
    for (int k = 0; k < 4; ++k) v[i + k] = uint8_t(x >> (24 - 8 * k));
  };
  struct Case {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> damage;
  } cases[] = {
      {"an element beyond the tag", [&](auto& v) { set32(v, 12, uint32_t(v.size()) + 64); }},
      {"a curve longer than the tag", [&](auto& v) { set32(v, offB + 8, 0x7FFFFFFF); }},
      {"a curve of unknown type", [&](auto& v) { set32(v, offB, iccw::Sig("xxxx")); }},
      {"a colour table with one grid point", [&](auto& v) { v[offClut] = 1; }},
      {"a colour table of unknown precision", [&](auto& v) { v[offClut + 16] = 3; }},
      {"a colour table longer than the tag", [&](auto& v) { v[offClut] = 255, v[offClut + 1] = 255; }},
      {"no elements", [&](auto& v) { std::fill(v.begin() + 12, v.begin() + 32, 0); }},
      {"channel counts that differ without a colour table", [&](auto& v) { v[9] = 4, set32(v, 24, 0); }},
  };
  auto profile = [&](const std::vector<uint8_t>& tag, bool asA2B) {
    iccw::Profile p;
    p.version = 0x04300000;
    p.AddRaw(iccw::Sig(asA2B ? "A2B0" : "B2A0"), tag);
    return p;
  };
  {
    Handle src, dst;
    EXPECT_EQ(Open(src, Param(4, 1, 3, 3), dir.Write("good-a.icc", profile(good, true)), SRGB()), 0);
    EXPECT_EQ(Open(dst, Param(4, 1, 3, 3), SRGB(), dir.Write("good-b.icc", profile(iccw::V4LutBytes(b2a), false))), 0);
  }
  for (const Case& c : cases) {
    std::vector<uint8_t> forward = good, backward = iccw::V4LutBytes(b2a);
    c.damage(forward);
    c.damage(backward);
    Handle src, dst;
    EXPECT_EQ(Open(src, Param(4, 1, 3, 3), dir.Write("a.icc", profile(forward, true)), SRGB()), 5000) << c.name;
    EXPECT_EQ(Open(dst, Param(4, 1, 3, 3), SRGB(), dir.Write("b.icc", profile(backward, false))), 5000) << c.name;
  }
}
