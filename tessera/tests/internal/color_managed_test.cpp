// The colour-managed pipeline's calls into the colour-matching library, recorded by a thin
// layer between the two, and what the object does when the matcher refuses.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/color_managed_pipeline.h"
#include "core/kroma_calls.h"
#include "core/object_state.h"
#include "fixtures.h"
#include "win/gdi.h"

namespace {

using namespace fixtures;

const tagTes_Transform_Struct kNone = TesseraClass::m_s_EmptyTransform;

struct Call {
  std::string name;
  CMParam param{};
  std::string source, destination;
  int engine = -1, intent = -1;
  uint16_t side = 0;
  CM1DLutSpec spec{};
  std::vector<std::vector<uint16_t>> tables;  // copies: the caller frees its tables after the call
  CColorMatcher* handle = nullptr;
  uint16_t lines = 0;
};

std::vector<Call> calls;
tessera::KromaCalls real;
std::string failOn;  // the name of the call that fails, if any

Call& Record(const char* name, CColorMatcher* handle) {
  calls.push_back({});
  calls.back().name = name;
  calls.back().handle = handle;
  return calls.back();
}

void Paths(Call& c, const CMProfilePaths* paths) {
  if (paths == nullptr) return;
  c.source = *paths->srcPath;
  c.destination = *paths->dstPath;
}

int32_t Init(const CMParam* p, const CMProfilePaths* paths, uint16_t engine, int32_t intent, CColorMatcher** h) {
  const int32_t r = real.init(p, paths, engine, intent, h);
  Call& c = Record("init", *h);
  c.param = *p;
  Paths(c, paths);
  c.engine = engine;
  c.intent = intent;
  return failOn == "init" ? 5000 : r;
}

int32_t Proc(CMBuffer* src, CMBuffer* dst, CColorMatcher* h) {
  Record("proc", h).lines = src->lines;
  return failOn == "proc" ? 1002 : real.proc(src, dst, h);
}

void PostProc(CColorMatcher* h) {
  Record("postProc", h);
  real.postProc(h);
}

int32_t Reset(const CMParam* p, const CMProfilePaths* paths, int32_t engine, int32_t intent, CColorMatcher* h) {
  Call& c = Record("reset", h);
  c.param = *p;
  Paths(c, paths);
  c.engine = engine;
  c.intent = intent;
  return failOn == "reset" ? 5000 : real.resetMatchingParam(p, paths, engine, intent, h);
}

int32_t Lut(const char* name, int32_t (*fn)(const CM1DLutSpec*, uint16_t, CColorMatcher*), const CM1DLutSpec* spec,
            uint16_t side, CColorMatcher* h) {
  Call& c = Record(name, h);
  c.spec = *spec;
  c.side = side;
  if (spec->kind == 256)
    for (int i = 0; i < spec->tableCount; ++i) c.tables.emplace_back(spec->tables[i], spec->tables[i] + 256);
  return failOn == name ? 5001 : fn(spec, side, h);
}
int32_t Change(const CM1DLutSpec* s, uint16_t side, CColorMatcher* h) { return Lut("change", real.change1DLut, s, side, h); }
int32_t Merge(const CM1DLutSpec* s, uint16_t side, CColorMatcher* h) { return Lut("merge", real.merge1DLut, s, side, h); }

class ColorManaged : public testing::Test {
 protected:
  void SetUp() override {
    const char* root = std::getenv("ORVAX_WINDOWS_DIR");
    ASSERT_NE(root, nullptr);
    color_ = std::string(root) + "/SYSTEM/COLOR";
    monitor_ = "/usr/share/color/icc/compatibleWithAdobeRGB1998.icc";
    cmyk_ = "/usr/share/color/icc/ghostscript/default_cmyk.icc";
    printer_ = "/usr/share/color/icc/sRGB.icc";  // devices draw RGB bitmaps
    tagTes_Image_Info info{};
    info.size = sizeof info;
    char *m = monitor_.data(), *p = printer_.data(), *k = cmyk_.data(), *d = color_.data();
    ASSERT_EQ(TesseraClass::InitMosaic(info, m, p, k, d, 1.0), 0);
    real = tessera::Kroma();
    tessera::Kroma() = {Init, Proc, PostProc, Reset, Change, Merge};
    calls.clear();
    failOn.clear();
  }
  void TearDown() override {
    tessera::Kroma() = real;
    TesseraClass::CloseMosaic();
  }
  std::vector<Call> Named(const std::string& name) const {
    std::vector<Call> out;
    for (const auto& c : calls)
      if (c.name == name) out.push_back(c);
    return out;
  }
  std::string color_, monitor_, printer_, cmyk_;
};

TEST_F(ColorManaged, FirstDataBuildsTheDisplayTransformAndResetsItsTables) {
  TesseraClass image(TES_FLAG_COLOR_MANAGED | TES_FLAG_DISPLAY_ENGINE, 3);
  const std::vector<uint8_t> px = PatternPixels(300, 10, 3);
  ASSERT_EQ(Fill(image, 300, 10, 3, px, kNone), 0);
  ASSERT_GE(calls.size(), 3u);
  const Call& init = calls[0];
  EXPECT_EQ(init.name, "init");
  EXPECT_EQ(init.param.width, 128);
  EXPECT_EQ(init.param.lines, 3 * 128);  // tile count x 128
  EXPECT_EQ(init.param.srcBufferBytes, 16384u * 6);
  EXPECT_EQ(init.param.dstBufferBytes, 49152u);
  EXPECT_EQ(init.param.inBits, 16);
  EXPECT_EQ(init.param.outBits, 8);
  EXPECT_EQ(init.param.layout, 0);
  EXPECT_EQ(init.source, color_ + "/OXsRGB.icm");
  EXPECT_EQ(init.destination, monitor_);
  EXPECT_EQ(init.engine, 1);
  EXPECT_EQ(init.intent, 0);
  EXPECT_EQ(calls[1].name, "merge");
  EXPECT_EQ(calls[1].side, 0);
  EXPECT_EQ(calls[1].spec.tableCount, 3);
  EXPECT_EQ(calls[1].spec.kind, 0u);
  EXPECT_EQ(calls[2].name, "merge");
  EXPECT_EQ(calls[2].side, 1);
  EXPECT_EQ(calls[2].spec.tableCount, 3);

  calls.clear();
  image.~TesseraClass();  // destroying the object closes the display handle
  new (&image) TesseraClass(0, 2);
  ASSERT_EQ(Named("postProc").size(), 1u);
  EXPECT_EQ(Named("postProc")[0].handle, init.handle);
}

TEST_F(ColorManaged, SetLutChoosesMergeOrChangeAndTheSide) {
  TesseraClass image(TES_FLAG_COLOR_MANAGED, 2);
  ASSERT_EQ(Fill(image, 4, 4, 2, PatternPixels(4, 4, 2), kNone), 0);
  uint8_t table[256];
  for (int i = 0; i < 256; ++i) table[i] = static_cast<uint8_t>(255 - i);
  struct Case {
    short mode;
    const char* call;
    uint16_t side;
  } cases[] = {{0, "merge", 0}, {1, "change", 0}, {2, "merge", 1}, {3, "change", 1}, {7, "change", 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    calls.clear();
    ASSERT_EQ(image.SetLUT(table, 1, c.mode), 0);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].name, c.call);
    EXPECT_EQ(calls[0].side, c.side);
    EXPECT_EQ(calls[0].spec.tableCount, 3);
    EXPECT_EQ(calls[0].spec.kind, 256u);
    EXPECT_EQ(calls[0].spec.bits, 8);
    EXPECT_EQ(calls[0].tables[0][0], 0);  // channel 0 was left at the identity
    EXPECT_EQ(calls[0].tables[1][0], 255);
  }
  EXPECT_EQ(image.SetLUT(table, 3, 0), TES_ERR_LUT_CHANNEL);
  failOn = "merge";
  EXPECT_EQ(image.SetLUT(table, 0, 0), TES_ERR_CM_LUT);
}

TEST_F(ColorManaged, PrintingOpensItsOwnHandleWithTheInputTables) {
  TesseraClass image(TES_FLAG_COLOR_MANAGED | TES_FLAG_PRINT_ENGINE, 4);
  ASSERT_EQ(Fill(image, 130, 3, 4, PatternPixels(130, 3, 4), kNone), 0);
  calls.clear();
  orvax::win::MemoryDC dc(130, 3);
  ASSERT_EQ(image.Print({&dc, 0, 0, 130, 3, 0, 0, 130, 3}), 0);
  ASSERT_GE(calls.size(), 5u);
  EXPECT_EQ(calls[0].name, "init");
  EXPECT_EQ(calls[0].source, cmyk_);
  EXPECT_EQ(calls[0].destination, printer_);
  EXPECT_EQ(calls[0].engine, 1);
  EXPECT_EQ(calls[0].param.srcBufferBytes, 16384u * 4);
  EXPECT_EQ(calls[1].name, "merge");
  EXPECT_EQ(calls[1].side, 0);
  EXPECT_EQ(calls[1].spec.tableCount, 4);
  EXPECT_EQ(calls[1].spec.kind, 256u);
  EXPECT_EQ(Named("proc").size(), 2u);  // two tiles
  EXPECT_EQ(calls.back().name, "postProc");
  EXPECT_EQ(calls.back().handle, calls[0].handle);

  failOn = "init";
  calls.clear();
  EXPECT_EQ(image.Print({&dc, 0, 0, 130, 3, 0, 0, 130, 3}), TES_ERR_CM_INIT);
  EXPECT_EQ(Named("proc").size(), 0u);
  EXPECT_EQ(Named("postProc").size(), 1u);  // the refused handle is released
  failOn = "proc";
  EXPECT_EQ(image.Display({&dc, 0, 0, 130, 3, 0, 0, 130, 3}), TES_ERR_CM_PROCESS);
}

// A CMYK printer profile is proofed: each tile goes into the printer's CMYK and back to the
// library's sRGB, so that the device receives RGB; a profile that is not one prints nothing.
TEST_F(ColorManaged, ACmykPrinterProfilePrintsAsAProofInSrgb) {
  TesseraClass image(TES_FLAG_COLOR_MANAGED, 2);
  ASSERT_EQ(Fill(image, 130, 3, 2, PatternPixels(130, 3, 2), kNone), 0);
  char* cmyk = cmyk_.data();
  ASSERT_EQ(TesseraClass::SetPrinterColorSpace(cmyk), 0);
  calls.clear();
  orvax::win::MemoryDC dc(130, 3);
  ASSERT_EQ(image.Print({&dc, 0, 0, 130, 3, 0, 0, 130, 3}), 0);
  const std::vector<Call> inits = Named("init");
  ASSERT_EQ(inits.size(), 2u);
  EXPECT_EQ(inits[0].destination, cmyk_);
  EXPECT_EQ(inits[0].param.dstBufferBytes, 16384u * 4);
  EXPECT_EQ(inits[1].source, cmyk_);
  EXPECT_EQ(inits[1].destination, color_ + "/OXsRGB.icm");
  EXPECT_EQ(inits[1].param.inBits, 8);
  EXPECT_EQ(inits[1].param.srcBufferBytes, 16384u * 4);
  EXPECT_EQ(inits[1].param.dstBufferBytes, 49152u);
  EXPECT_EQ(Named("proc").size(), 4u);      // two tiles, two steps each
  EXPECT_EQ(Named("postProc").size(), 2u);  // both handles closed at the end

  std::string notAProfile = color_ + "/no-such-profile.icc";
  char* missing = notAProfile.data();
  ASSERT_EQ(TesseraClass::SetPrinterColorSpace(missing), 0);
  calls.clear();
  EXPECT_EQ(image.Print({&dc, 0, 0, 130, 3, 0, 0, 130, 3}), TES_ERR_CM_INIT);
  EXPECT_TRUE(Named("proc").empty());
}

// Rebuilding the display pipeline: a new monitor profile takes effect in an open object,
// colour management turns off and on, and the kinds that cannot trade are refused.
TEST_F(ColorManaged, ResettingTheDisplayPipelineFollowsTheProfilesAndTheKind) {
  TesseraClass image(TES_FLAG_COLOR_MANAGED | TES_FLAG_DISPLAY_ENGINE, 2);
  ASSERT_EQ(Fill(image, 130, 3, 2, PatternPixels(130, 3, 2), kNone), 0);
  std::string srgb = "/usr/share/color/icc/sRGB.icc";
  char* monitor = srgb.data();
  ASSERT_EQ(TesseraClass::SetMonitorColorSpace(monitor), 0);
  calls.clear();
  ASSERT_EQ(image.ResetDisplayPipeline(TES_FLAG_COLOR_MANAGED | TES_FLAG_DISPLAY_ENGINE), 0);
  ASSERT_FALSE(Named("init").empty());
  EXPECT_EQ(Named("init")[0].destination, srgb);
  EXPECT_EQ(Named("init")[0].engine, 1);
  EXPECT_EQ(Named("postProc").size(), 1u);  // the old display handle

  // Off: the plain pipeline, which calls nothing; on again with other engines.
  calls.clear();
  ASSERT_EQ(image.ResetDisplayPipeline(0), 0);
  EXPECT_FALSE(image.IsColorManaged());
  orvax::win::MemoryDC dc(130, 3);
  ASSERT_EQ(image.Display({&dc, 0, 0, 130, 3, 0, 0, 130, 3}), 0);
  EXPECT_TRUE(Named("proc").empty());
  ASSERT_EQ(image.ResetDisplayPipeline(TES_FLAG_COLOR_MANAGED), 0);
  EXPECT_TRUE(image.IsColorManaged());
  EXPECT_EQ(Named("init").back().engine, 0);

  // A CMYK image needs colour management; a plain grey image stays plain.
  ASSERT_EQ(image.SetColorSpace(TES_CS_CMYK32, nullptr), 0);
  EXPECT_EQ(image.ResetDisplayPipeline(0), TES_ERR_NOT_PERMITTED);
  EXPECT_TRUE(image.IsColorManaged());
  TesseraClass grey(0, 0);
  ASSERT_EQ(Fill(grey, 20, 3, 0, PatternPixels(20, 3, 0), kNone), 0);
  EXPECT_EQ(grey.ResetDisplayPipeline(TES_FLAG_COLOR_MANAGED), TES_ERR_NOT_PERMITTED);
  EXPECT_FALSE(grey.IsColorManaged());

  // A monitor profile the matcher refuses leaves the object as it was.
  failOn = "init";
  EXPECT_EQ(image.ResetDisplayPipeline(TES_FLAG_COLOR_MANAGED), TES_ERR_CM_INIT);
  EXPECT_TRUE(image.IsColorManaged());
  failOn.clear();
  EXPECT_EQ(image.Display({&dc, 0, 0, 130, 3, 0, 0, 130, 3}), 0);
}

TEST_F(ColorManaged, ConvertingTheColourSpaceRebuildsTheDisplayTransform) {
  TesseraClass image(TES_FLAG_COLOR_MANAGED | TES_FLAG_CONVERT_ENGINE, 3);
  ASSERT_EQ(Fill(image, 200, 5, 3, PatternPixels(200, 5, 3), kNone), 0);
  calls.clear();
  uint8_t half[256];
  for (int i = 0; i < 256; ++i) half[i] = static_cast<uint8_t>(i / 2);
  const unsigned char* tables[4] = {nullptr, half, nullptr, nullptr};
  ASSERT_EQ(image.SetColorSpace(4, tables), 0);
  const Call& init = calls.at(0);
  EXPECT_EQ(init.name, "init");
  EXPECT_EQ(init.param.srcBufferBytes, 16384u * 6);
  EXPECT_EQ(init.param.dstBufferBytes, 16384u * 4);
  EXPECT_EQ(init.param.inBits, 16);
  EXPECT_EQ(init.param.outBits, 8);
  EXPECT_EQ(init.param.lines, 2 * 128);
  EXPECT_EQ(init.source, color_ + "/OXsRGB.icm");
  EXPECT_EQ(init.destination, cmyk_);
  EXPECT_EQ(init.engine, 1);
  const Call& tablesCall = calls.at(1);
  EXPECT_EQ(tablesCall.name, "merge");
  EXPECT_EQ(tablesCall.side, 1);
  EXPECT_EQ(tablesCall.spec.tableCount, 4);
  EXPECT_EQ(tablesCall.tables[0][200], 200);  // a null pointer is the identity
  EXPECT_EQ(tablesCall.tables[1][200], 100);
  EXPECT_EQ(Named("proc").size(), 2u);
  const std::vector<Call> resets = Named("reset");
  ASSERT_EQ(resets.size(), 1u);
  EXPECT_EQ(resets[0].source, cmyk_);
  EXPECT_EQ(resets[0].destination, monitor_);
  EXPECT_EQ(resets[0].param.srcBufferBytes, 16384u * 4);
  EXPECT_EQ(resets[0].param.inBits, 8);
  EXPECT_EQ(resets[0].engine, 0);
  short cs = -1;
  image.GetColorSpace(&cs);
  EXPECT_EQ(cs, 4);
  EXPECT_FALSE(image.State().store.arrivesAsGrey());
}

TEST_F(ColorManaged, RefusalsClearTheObjectWithTheirCodes) {
  struct Case {
    const char* fail;
    long status;
  } cases[] = {{"init", TES_ERR_CM_INIT}, {"proc", TES_ERR_CM_PROCESS}, {"reset", TES_ERR_CM_REBUILD}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fail);
    TesseraClass image(TES_FLAG_COLOR_MANAGED, 2);
    failOn.clear();
    ASSERT_EQ(Fill(image, 10, 10, 2, PatternPixels(10, 10, 2), kNone), 0);
    failOn = c.fail;
    EXPECT_EQ(image.SetColorSpace(3, nullptr), c.status);
    tagTes_Image_Desc d{};
    image.GetImageDesc(&d);
    EXPECT_EQ(d.width, 0);
  }
  // The display transform itself refused at the first data: the object is emptied.
  failOn = "init";
  TesseraClass image(TES_FLAG_COLOR_MANAGED, 2);
  tagTes_Image_Desc desc{4, 4, 2, {}, 72.0};
  image.SetImageDesc(desc, kNone);
  std::vector<uint8_t> px(48, 1);
  tagTes_Tile_Desc t{{0, 0, 4, 4}, 12, 0};
  EXPECT_EQ(image.SetData(t, kNone, px.data()), TES_ERR_CM_INIT);
  EXPECT_EQ(image.GetData(t, px.data()), TES_ERR_NO_IMAGE);
  failOn = "merge";
  TesseraClass other(TES_FLAG_COLOR_MANAGED, 2);
  other.SetImageDesc(desc, kNone);
  EXPECT_EQ(other.SetData(t, kNone, px.data()), TES_ERR_CM_LUT);
}

TEST_F(ColorManaged, ProfileDataIsReadOnceAndKept) {
  // A copy of the CMYK profile that the test can remove between the calls.
  const std::string copy = testing::TempDir() + "cmyk-copy.icc";
  {
    std::FILE* in = std::fopen(cmyk_.c_str(), "rb");
    std::FILE* out = std::fopen(copy.c_str(), "wb");
    ASSERT_TRUE(in && out);
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, in)) > 0) std::fwrite(buf, 1, n, out);
    std::fclose(in);
    std::fclose(out);
  }
  char* path = const_cast<char*>(copy.c_str());
  TesseraClass::SetCMYKColorSpace(path);
  TesseraClass image(TES_FLAG_COLOR_MANAGED, 4);
  ASSERT_EQ(Fill(image, 2, 2, 4, PatternPixels(2, 2, 4), kNone), 0);
  unsigned char* data = nullptr;
  unsigned long size = 0;
  ASSERT_EQ(image.GetCurIccProfileData(&data, &size), 0);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data) + 36, 4), "acsp");
  std::remove(copy.c_str());
  unsigned char* again = nullptr;
  unsigned long againSize = 0;
  ASSERT_EQ(image.GetCurIccProfileData(&again, &againSize), 0);
  EXPECT_EQ(again, data);
  EXPECT_EQ(againSize, size);

  // The profile behind the current colour space is read when asked: a path that no longer
  // opens gives 1017, a folder 1018; neither keeps a block.
  TesseraClass later(TES_FLAG_COLOR_MANAGED, 4);
  char* real = cmyk_.data();
  TesseraClass::SetCMYKColorSpace(real);
  ASSERT_EQ(Fill(later, 2, 2, 4, PatternPixels(2, 2, 4), kNone), 0);
  char gone[] = "/nonexistent/cmyk.icc";
  TesseraClass::SetCMYKColorSpace(gone);
  EXPECT_EQ(later.GetCurIccProfileData(&data, &size), TES_ERR_PROFILE_OPEN);
  std::string folder = testing::TempDir();
  char* folderPath = folder.data();
  TesseraClass::SetCMYKColorSpace(folderPath);
  EXPECT_EQ(later.GetCurIccProfileData(&data, &size), TES_ERR_PROFILE_LENGTH);
  EXPECT_EQ(data, nullptr);
  TesseraClass::SetCMYKColorSpace(real);
  EXPECT_EQ(later.GetCurIccProfileData(&data, &size), 0);  // a later call tries again
  EXPECT_NE(data, nullptr);
  TesseraClass::SetCMYKColorSpace(path);

  TesseraClass missing(TES_FLAG_COLOR_MANAGED, 4);
  ASSERT_EQ(Fill(missing, 2, 2, 4, PatternPixels(2, 2, 4), kNone), TES_ERR_CM_INIT);  // no profile, no transform
  char dir[] = "/nonexistent";
  TesseraClass::SetCMYKColorSpace(dir);
}

}  // namespace
