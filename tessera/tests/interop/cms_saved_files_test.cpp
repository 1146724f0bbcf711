// What files saved from colour-managed objects declare about their colours, read back by
// the peers: the Exif ColorSpace of JPEG files (exiftool).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "fixtures.h"

namespace {

using namespace fixtures;

std::string Output(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buf[256];
  while (fgets(buf, sizeof buf, pipe)) out += buf;
  pclose(pipe);
  return out;
}

class SavedFromManaged : public ManagedLibraryTest {
 protected:
  void SetUp() override { StartLibrary(); }
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

TEST_F(SavedFromManaged, TiffCarriesTheProfileThatTifffileReadsBack) {
  TesseraClass image(15, 3);
  ASSERT_EQ(Fill(image, 40, 30, 3, PatternPixels(40, 30, 3), TesseraClass::m_s_EmptyTransform), 0);
  const std::string path = testing::TempDir() + "managed.tif";
  const tagTes_File_Spec spec{path.c_str(), TES_FILE_TIFF, 0};
  ASSERT_EQ(image.Save(spec, nullptr, nullptr, 0), 0);
  unsigned char* profile = nullptr;
  unsigned long size = 0;
  ASSERT_EQ(image.GetCurIccProfileData(&profile, &size), 0);
  ASSERT_GT(size, 128u);
  const std::string script =
      "import hashlib, tifffile\n"
      "with tifffile.TiffFile('" + path + "') as t:\n"
      "    page = t.pages[0]\n"
      "    print(len(page.tags))\n"
      "    print(hashlib.sha256(page.tags[34675].value).hexdigest())\n";
  const std::string out = Output("/usr/bin/python3 -c \"" + script + "\"");
  std::string expected;
  {
    FILE* pipe = popen(("sha256sum '" + color_ + "/OXsRGB.icm'").c_str(), "r");
    char buf[128] = {};
    if (pipe && fgets(buf, sizeof buf, pipe)) expected = std::string(buf).substr(0, 64);
    if (pipe) pclose(pipe);
  }
  EXPECT_EQ(out, "16\n" + expected + "\n");
}

}  // namespace
