// Colour-managed drawing against Little CMS: the same image, the same profiles, the same
// intent, drawn through the display pipeline and transformed by Little CMS.
#include <gtest/gtest.h>
#include <lcms2.h>

#include <cstdlib>
#include <string>

#include "fixtures.h"
#include "win/gdi.h"

namespace {

using namespace fixtures;

const tagTes_Transform_Struct kNone = TesseraClass::m_s_EmptyTransform;
const char* kAdobe = "/usr/share/color/icc/compatibleWithAdobeRGB1998.icc";
const char* kCmyk = "/usr/share/color/icc/ghostscript/default_cmyk.icc";

class DisplayAgainstLcms : public ManagedLibraryTest {
 protected:
  void SetUp() override { StartLibrary(kAdobe, kCmyk); }

  // Draws the image 1:1 and returns the device's RGB pixels.
  static std::vector<uint8_t> Draw(const TesseraClass& image, int w, int h) {
    orvax::win::MemoryDC dc(w, h);
    EXPECT_EQ(image.Display({&dc, 0, 0, w, h, 0, 0, w, h}), 0);
    return dc.pixels();
  }

  static std::vector<uint8_t> Lcms(const std::string& source, const char* destination, cmsUInt32Number inFormat,
                                   const std::vector<uint8_t>& in, size_t pixels) {
    cmsHPROFILE s = cmsOpenProfileFromFile(source.c_str(), "r");
    cmsHPROFILE d = cmsOpenProfileFromFile(destination, "r");
    EXPECT_TRUE(s && d);
    cmsHTRANSFORM t = cmsCreateTransform(s, inFormat, d, TYPE_RGB_8, INTENT_PERCEPTUAL, 0);
    EXPECT_NE(t, nullptr);
    std::vector<uint8_t> out(pixels * 3);
    cmsDoTransform(t, in.data(), out.data(), static_cast<cmsUInt32Number>(pixels));
    cmsDeleteTransform(t);
    cmsCloseProfile(s);
    cmsCloseProfile(d);
    return out;
  }

  static int Worst(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    int worst = 0;
    for (size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
    return worst;
  }

};

TEST_F(DisplayAgainstLcms, RgbImageOnAnAdobeRgbMonitor) {
  const int w = 160, h = 140;  // partial edge tiles
  const std::vector<uint8_t> px = PatternPixels(w, h, 2);
  for (short flags : {short(1), short(3)}) {  // both engines
    SCOPED_TRACE(flags);
    TesseraClass image(flags, 2);
    ASSERT_EQ(Fill(image, w, h, 2, px, kNone), 0);
    const std::vector<uint8_t> drawn = Draw(image, w, h);
    const std::vector<uint8_t> expected = Lcms(color_ + "/OXsRGB.icm", kAdobe, TYPE_RGB_8, px, size_t(w) * h);
    EXPECT_LE(Worst(drawn, expected), 3);
  }
}

TEST_F(DisplayAgainstLcms, CmykImageOnAnAdobeRgbMonitor) {
  const int w = 130, h = 40;
  const std::vector<uint8_t> px = PatternPixels(w, h, 4);
  for (short flags : {short(1), short(3)}) {
    SCOPED_TRACE(flags);
    TesseraClass image(flags, 4);
    ASSERT_EQ(Fill(image, w, h, 4, px, kNone), 0);
    const std::vector<uint8_t> drawn = Draw(image, w, h);
    const std::vector<uint8_t> expected = Lcms(kCmyk, kAdobe, TYPE_CMYK_8, px, size_t(w) * h);
    EXPECT_LE(Worst(drawn, expected), 3);
  }
}

}  // namespace
