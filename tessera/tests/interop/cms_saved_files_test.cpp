// What files saved from colour-managed objects declare about their colours, read back by
// the peers: the Exif ColorSpace of JPEG files (exiftool).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "test_support.h"

namespace {

using namespace testing_support;

std::string Output(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buf[256];
  while (fgets(buf, sizeof buf, pipe)) out += buf;
  pclose(pipe);
  return out;
}

class SavedFromManaged : public testing::Test {
 protected:
  void SetUp() override {
    const char* root = std::getenv("ORVAX_WINDOWS_DIR");
    ASSERT_NE(root, nullptr);
    color_ = std::string(root) + "/SYSTEM/COLOR";
    monitor_ = color_ + "/OXsRGB.icm";
    tagTes_Image_Info info{};
    info.size = sizeof info;
    char *m = monitor_.data(), *d = color_.data();
    ASSERT_EQ(TesseraClass::InitMosaic(info, m, m, m, d, 1.0), 0);
  }
  void TearDown() override { TesseraClass::CloseMosaic(); }
  std::string color_, monitor_;
};

TEST_F(SavedFromManaged, JpegDeclaresSrgbOnlyForManagedImages) {
  for (short flags : {short(15), short(0)}) {
    TesseraClass image(flags, 2);
    ASSERT_EQ(Fill(image, 40, 30, 2, PatternPixels(40, 30, 2), TesseraClass::m_s_EmptyTransform), 0);
    const std::string path = testing::TempDir() + "colorspace-" + std::to_string(flags) + ".jpg";
    const tagTes_File_Spec spec{path.c_str(), TES_FILE_JPEG, 3};
    ASSERT_EQ(image.Save(spec, nullptr, nullptr, 0), 0);
    const std::string value = Output("exiftool -s3 -n -ColorSpace '" + path + "'");
    EXPECT_EQ(value, flags ? "1\n" : "65535\n") << "flags " << flags;
  }
}

}  // namespace
