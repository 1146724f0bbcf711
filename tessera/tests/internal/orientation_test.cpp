// The Orientation value composed into a read transform, checked against what each value
// means for the pixels of a file.
#include <gtest/gtest.h>

#include "formats/orientation.h"

namespace {

// Where file pixel (x, y) of a W x H file lands in the upright picture, per the TIFF and
// Exif definitions of Orientation.
tagTes_Point Upright(int orientation, int x, int y, int W, int H) {
  switch (orientation) {
    case 2: return {W - 1 - x, y};
    case 3: return {W - 1 - x, H - 1 - y};
    case 4: return {x, H - 1 - y};
    case 5: return {y, x};
    case 6: return {H - 1 - y, x};
    case 7: return {H - 1 - y, W - 1 - x};
    case 8: return {y, W - 1 - x};
    default: return {x, y};
  }
}

TEST(ComposeOrientation, StoresTheUprightPictureAsTheCallersTransformWould) {
  const int W = 5, H = 3;
  for (int orientation = 0; orientation <= 9; ++orientation)
    for (const uint16_t mirror : {0, 1, 5})
      for (const double angle : {0.0, 90.0, 180.0, 270.0, -90.0, 450.0}) {
        const tagTes_Transform_Struct caller{mirror, angle};
        const tagTes_Transform_Struct composed = tessera::ComposeOrientation(caller, orientation);
        ASSERT_LE(composed.mirror, 1) << "the mirror flag is 0 or 1";
        const bool quarter = orientation >= 5 && orientation <= 8;
        const tagTes_Size upright{quarter ? H : W, quarter ? W : H};
        for (int y = 0; y < H; ++y)
          for (int x = 0; x < W; ++x) {
            tagTes_Point viaPicture = Upright(orientation, x, y, W, H);
            TesseraClass::ConvertAndTransformPoint(&viaPicture, upright, caller, 1);
            tagTes_Point direct{x, y};
            TesseraClass::ConvertAndTransformPoint(&direct, {W, H}, composed, 1);
            ASSERT_EQ(direct.x, viaPicture.x) << orientation << " " << mirror << " " << angle;
            ASSERT_EQ(direct.y, viaPicture.y) << orientation << " " << mirror << " " << angle;
          }
      }
}

TEST(ComposeOrientation, AddsTheAngleAndTogglesTheMirrorForAnUnmirroredCaller) {
  const struct {
    int orientation;
    uint16_t mirror;
    double angle;
  } table[] = {{1, 0, 30}, {2, 1, 30}, {3, 0, 210}, {4, 1, 210}, {5, 1, 300}, {6, 0, 120}, {7, 1, 120}, {8, 0, 300}, {0, 0, 30}, {42, 0, 30}};
  for (const auto& row : table) {
    const tagTes_Transform_Struct out = tessera::ComposeOrientation({0, 30.0}, row.orientation);
    EXPECT_EQ(out.mirror, row.mirror) << row.orientation;
    EXPECT_EQ(out.angle, row.angle) << row.orientation;
  }
}

}  // namespace
