// Internal pieces of the image object that the exported surface cannot show: the tile
// grid itself, grey data arriving into RGB storage, and the writers' thumbnails.
#include <gtest/gtest.h>

#include "core/image_store.h"
#include "core/object_state.h"
#include "core/thumbnail.h"
#include "core/transforms.h"
#include "fixtures.h"

namespace {

using namespace fixtures;
using tessera::ImageStore;

const tagTes_Transform_Struct kNone = TesseraClass::m_s_EmptyTransform;

TEST(Grid, FourQuarterTurnsRestoreTheTileTableAndOrigin) {
  TesseraClass image(0, 2);
  const std::vector<uint8_t> px = PatternPixels(300, 200, 2);
  ASSERT_EQ(Fill(image, 300, 200, 2, px, kNone), 0);
  ImageStore& store = image.State().store;
  std::vector<tessera::Tile*> before;
  for (auto& t : store.tiles()) before.push_back(t.get());
  EXPECT_EQ(store.tilesAcross(), 3);
  EXPECT_EQ(store.tilesDown(), 2);

  ASSERT_EQ(image.Rotate(90.0), 0);
  EXPECT_EQ(store.tilesAcross(), 2);
  EXPECT_EQ(store.tilesDown(), 3);
  EXPECT_EQ(store.originX(), 200 - 256);  // H - 128 * Td - y0
  EXPECT_EQ(store.originY(), 0);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(image.Rotate(90.0), 0);

  EXPECT_EQ(store.originX(), 0);
  EXPECT_EQ(store.originY(), 0);
  EXPECT_EQ(store.width(), 300);
  ASSERT_EQ(store.tiles().size(), before.size());
  for (size_t i = 0; i < before.size(); ++i) {
    EXPECT_EQ(store.tiles()[i].get(), before[i]) << i;
    const tagTes_Rect& pos = store.tiles()[i]->position;
    EXPECT_EQ(pos.x, 128 * static_cast<int>(i % 3));
    EXPECT_EQ(pos.y, 128 * static_cast<int>(i / 3));
  }
}

TEST(Grid, TilesMissingTheirPixelsStopATurnBeforeAnythingMoves) {
  TesseraClass image(0, 0);
  const std::vector<uint8_t> px = PatternPixels(300, 10, 0);
  ASSERT_EQ(Fill(image, 300, 10, 0, px, kNone), 0);
  image.State().store.tiles()[2]->pixels.reset();
  EXPECT_EQ(image.Rotate(90.0), TES_ERR_NO_MEMORY);
  EXPECT_EQ(image.FlipH(), TES_ERR_NO_MEMORY);
  tagTes_Tile_Desc firstTwo{{0, 0, 256, 10}, 300, 0};
  std::vector<uint8_t> out(300 * 10);
  ASSERT_EQ(image.GetData(firstTwo, out.data()), 0);
  for (int y = 0; y < 10; ++y) EXPECT_EQ(0, std::memcmp(&out[y * 300], &px[y * 300], 256));
}

TEST(GreyArrivals, ManagedObjectsStoreGreyAsThreeEqualChannels) {
  for (int grey : {0, 1}) {
    SCOPED_TRACE(grey);
    ImageStore store(true);
    tagTes_Image_Desc desc{3, 2, static_cast<int16_t>(grey), {}, 72.0};
    ASSERT_EQ(store.Describe(desc, kNone), 0);
    EXPECT_EQ(store.colorSpace(), grey == 0 ? 2 : 3);
    EXPECT_TRUE(store.arrivesAsGrey());
    ASSERT_TRUE(store.CreateTable());
    const int sb = grey == 0 ? 1 : 2;
    const std::vector<uint8_t> in = PatternPixels(3, 2, grey);
    tagTes_Tile_Desc t{{0, 0, 3, 2}, 3 * sb, 0};
    ASSERT_EQ(store.Store(t, kNone, in.data()), 0);
    std::vector<uint8_t> out(3 * 2 * 3 * sb);
    tagTes_Tile_Desc r{{0, 0, 3, 2}, 9 * sb, 0};
    ASSERT_EQ(store.Load(r, out.data()), 0);
    for (int i = 0; i < 6; ++i)
      for (int c = 0; c < 3; ++c) EXPECT_EQ(0, std::memcmp(&out[(i * 3 + c) * sb], &in[i * sb], sb));
  }
}

TEST(GreyArrivals, PlainObjectsKeepGreyAndTheSrgbMarkFollowsTheKind) {
  ImageStore plain(false), managed(true);
  EXPECT_FALSE(plain.srgb());
  EXPECT_TRUE(managed.srgb());
  tagTes_Image_Desc grey{1, 1, 0, {}, 72.0};
  ASSERT_EQ(plain.Describe(grey, kNone), 0);
  EXPECT_EQ(plain.colorSpace(), 0);
  EXPECT_FALSE(plain.arrivesAsGrey());
}

TEST(Thumbnail, SizeShrinksByFourUntilBothSidesFit) {
  struct Case {
    int w, h, tw, th;
  } cases[] = {{256, 256, 256, 256}, {257, 100, 64, 25}, {6000, 4000, 93, 62}, {5000, 3, 78, 1}, {1, 1, 1, 1}};
  for (const auto& c : cases) {
    tessera::detail::ObjectState state(0);
    tagTes_Image_Desc desc{c.w, c.h, 2, {}, 72.0};
    state.store.Describe(desc, kNone);
    const tessera::ThumbnailShape shape = tessera::ThumbnailSize(state);
    EXPECT_EQ(shape.width, c.tw) << c.w << "x" << c.h;
    EXPECT_EQ(shape.height, c.th);
    EXPECT_EQ(shape.colorSpace, 2);
  }
}

TEST(Thumbnail, PixelsArePointSampledAndConvertedToEightBits) {
  const int w = 1030, h = 515;  // shrinks twice: 257 x 128, then 64 x 32
  TesseraClass image(0, 3);
  const std::vector<uint8_t> px = PatternPixels(w, h, 3);
  ASSERT_EQ(Fill(image, w, h, 3, px, kNone), 0);
  const tessera::ThumbnailShape shape = tessera::ThumbnailSize(image.State());
  ASSERT_EQ(shape.width, 64);
  ASSERT_EQ(shape.height, 32);
  ASSERT_EQ(shape.colorSpace, 2);
  const int stride = 64 * 3 + 5;
  std::vector<uint8_t> thumb(static_cast<size_t>(stride) * 32, 0xEE);
  ASSERT_EQ(tessera::ThumbnailPixels(image.State(), thumb.data(), stride), 0);
  for (int i = 0; i < 32; ++i)
    for (int j = 0; j < 64; ++j) {
      const int sx = (j * w + 63) / 64, sy = (i * h + 31) / 32;  // ceil(j * W / w)
      for (int c = 0; c < 3; ++c) {
        const uint8_t hi = px[(static_cast<size_t>(sy) * w + sx) * 6 + 2 * c + 1];
        ASSERT_EQ(thumb[static_cast<size_t>(i) * stride + j * 3 + c], hi) << i << "," << j;
      }
    }
  EXPECT_EQ(thumb[64 * 3], 0xEE);  // the stride's padding is left alone
}

}  // namespace
