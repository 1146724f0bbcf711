// Storing pixels into tiles and reading them back, under every transform and layout.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "fixtures.h"

namespace {

using namespace fixtures;

const tagTes_Transform_Struct kNone = TesseraClass::m_s_EmptyTransform;

tagTes_Transform_Struct Turn(bool mirror, double angle) { return {static_cast<uint16_t>(mirror ? 1 : 0), angle}; }

TEST(Store, EmptyObjectDescribesItselfAsTheDefaults) {
  TesseraClass image(0, 0);
  tagTes_Image_Desc d{};
  image.GetImageDesc(&d);
  EXPECT_EQ(d.width, 0);
  EXPECT_EQ(d.height, 0);
  EXPECT_EQ(d.colorSpace, 0);
  EXPECT_EQ(d.bitsPerChannel[0], 8);
  EXPECT_EQ(d.bitsPerChannel[1], 0);
  EXPECT_EQ(d.resolution, 72.0);
  std::vector<uint8_t> out;
  EXPECT_EQ(ReadAll(image, out), TES_ERR_NO_IMAGE);
}

// A 3 x 2 image with pixels numbered 1..6 row by row, stored under each transform.
TEST(Store, EachTransformStoresPixelsWhereThePointMappingSays) {
  struct Case {
    bool mirror;
    double angle;
    int w, h;
    std::vector<uint8_t> stored;
  } cases[] = {
      {false, 0, 3, 2, {1, 2, 3, 4, 5, 6}},   {false, 90, 2, 3, {4, 1, 5, 2, 6, 3}},
      {false, 180, 3, 2, {6, 5, 4, 3, 2, 1}}, {false, 270, 2, 3, {3, 6, 2, 5, 1, 4}},
      {true, 0, 3, 2, {3, 2, 1, 6, 5, 4}},    {true, 90, 2, 3, {6, 3, 5, 2, 4, 1}},
      {true, 180, 3, 2, {4, 5, 6, 1, 2, 3}},  {true, 270, 2, 3, {1, 4, 2, 5, 3, 6}},
  };
  const std::vector<uint8_t> source = {1, 2, 3, 4, 5, 6};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "mirror " << c.mirror << " angle " << c.angle);
    TesseraClass image(0, 0);
    ASSERT_EQ(Fill(image, 3, 2, 0, source, Turn(c.mirror, c.angle)), 0);
    tagTes_Image_Desc d{};
    image.GetImageDesc(&d);
    EXPECT_EQ(d.width, c.w);
    EXPECT_EQ(d.height, c.h);
    std::vector<uint8_t> out;
    ASSERT_EQ(ReadAll(image, out), 0);
    EXPECT_EQ(out, c.stored);
  }
}

// Rectangles of the caller's image, listed as they are stored.
std::vector<tagTes_Rect> Grid(int w, int h, int pieceW, int pieceH) {
  std::vector<tagTes_Rect> pieces;
  for (int y = 0; y < h; y += pieceH)
    for (int x = 0; x < w; x += pieceW) pieces.push_back({x, y, std::min(pieceW, w - x), std::min(pieceH, h - y)});
  return pieces;
}

// Larger images stored piece by piece, across tile edges that are not multiples of 128,
// checked pixel by pixel against ConvertAndTransformPoint for every transform and pixel
// size: whole-width strips, blocks that start and end inside tiles, and a store of several
// MiB that starts inside a tile on a 16-byte boundary, as large stores take their own path;
// unturned, each piece is read back again, small reads and large ones going different ways.
TEST(Store, PiecesAcrossTileEdgesFollowThePointMapping) {
  struct Layout {
    const char* name;
    int w, h;
    std::vector<int> spaces;
    std::vector<tagTes_Rect> pieces;
  } layouts[] = {
      {"strips", 300, 170, {0, 1, 2, 3}, Grid(300, 170, 300, 37)},
      {"blocks", 300, 170, {0, 1, 2, 3}, Grid(300, 170, 97, 61)},
      {"large", 1500, 300, {TES_CS_RGB48},
       {{8, 4, 1400, 290}, {0, 0, 1500, 4}, {0, 294, 1500, 6}, {0, 4, 8, 290}, {1408, 4, 92, 290}}},
  };
  for (const Layout& layout : layouts) {
    const int w = layout.w, h = layout.h;
    for (int cs : layout.spaces) {
      const std::vector<uint8_t> source = PatternPixels(w, h, cs);
      const int bpp = BppOf(cs);
      for (bool mirror : {false, true}) {
        for (double angle : {0.0, 90.0, 180.0, 270.0}) {
          SCOPED_TRACE(testing::Message() << layout.name << " cs " << cs << " mirror " << mirror << " angle " << angle);
          TesseraClass image(0, 0);
          const tagTes_Transform_Struct t = Turn(mirror, angle);
          tagTes_Image_Desc desc{w, h, static_cast<int16_t>(cs), {}, 72.0};
          ASSERT_EQ(image.SetImageDesc(desc, t), 0);
          for (const tagTes_Rect& piece : layout.pieces) {
            tagTes_Tile_Desc td{piece, w * bpp, 0};
            auto* at = const_cast<uint8_t*>(source.data()) + (static_cast<size_t>(piece.y) * w + piece.x) * bpp;
            ASSERT_EQ(image.SetData(td, t, at), 0);
          }
          std::vector<uint8_t> out;
          ASSERT_EQ(ReadAll(image, out), 0);
          tagTes_Image_Desc d{};
          image.GetImageDesc(&d);
          int wrong = 0;
          for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
              tagTes_Point p{x, y};
              TesseraClass::ConvertAndTransformPoint(&p, {w, h}, t, 1);
              wrong += std::memcmp(&out[(static_cast<size_t>(p.y) * d.width + p.x) * bpp],
                                   &source[(static_cast<size_t>(y) * w + x) * bpp], bpp) != 0;
            }
          EXPECT_EQ(wrong, 0);
          if (mirror || angle != 0.0) continue;
          // Unturned, each piece reads back as it was stored.
          for (const tagTes_Rect& piece : layout.pieces) {
            const size_t rowBytes = static_cast<size_t>(piece.width) * bpp;
            std::vector<uint8_t> back(rowBytes * piece.height);
            tagTes_Tile_Desc td{piece, static_cast<int32_t>(rowBytes), 0};
            ASSERT_EQ(image.GetData(td, back.data()), 0);
            for (int y = 0; y < piece.height; ++y)
              wrong += std::memcmp(&back[y * rowBytes],
                                   &source[(static_cast<size_t>(piece.y + y) * w + piece.x) * bpp], rowBytes) != 0;
          }
          EXPECT_EQ(wrong, 0) << "rows read back by pieces";
        }
      }
    }
  }
}

TEST(Store, StripOfATurnedImageLandsInItsStoredRectangle) {
  // 100 wide, 50 high, turned 90: stored 50 x 100. A 10 x 20 strip at (0, 0) lands at
  // (30, 0, 20, 10) of the stored image.
  TesseraClass image(0, 0);
  tagTes_Image_Desc desc{100, 50, 0, {}, 72.0};
  ASSERT_EQ(image.SetImageDesc(desc, Turn(false, 90)), 0);
  std::vector<uint8_t> strip(10 * 20, 0xAB);
  tagTes_Tile_Desc t{{0, 0, 10, 20}, 10, 0};
  ASSERT_EQ(image.SetData(t, Turn(false, 90), strip.data()), 0);
  tagTes_Image_Desc d{};
  image.GetImageDesc(&d);
  EXPECT_EQ(d.width, 50);
  EXPECT_EQ(d.height, 100);
  std::vector<uint8_t> out(20 * 10, 0);
  tagTes_Tile_Desc r{{30, 0, 20, 10}, 20, 0};
  ASSERT_EQ(image.GetData(r, out.data()), 0);
  EXPECT_EQ(out, std::vector<uint8_t>(200, 0xAB));
  std::vector<uint8_t> one(1, 0);
  tagTes_Tile_Desc outside{{29, 0, 1, 1}, 1, 0};
  ASSERT_EQ(image.GetData(outside, one.data()), 0);
  EXPECT_EQ(one[0], 0);  // same tile, never written pixels read as zero
}

TEST(Store, ReadingATileNoWriteTouchedIsRefused) {
  TesseraClass image(0, 0);
  tagTes_Image_Desc desc{300, 10, 0, {}, 72.0};
  ASSERT_EQ(image.SetImageDesc(desc, kNone), 0);
  std::vector<uint8_t> buf(300 * 10, 7);
  tagTes_Tile_Desc left{{0, 0, 100, 10}, 300, 0};
  ASSERT_EQ(image.SetData(left, kNone, buf.data()), 0);
  tagTes_Tile_Desc firstTile{{0, 0, 128, 10}, 300, 0};
  EXPECT_EQ(image.GetData(firstTile, buf.data()), 0);
  tagTes_Tile_Desc secondTile{{100, 0, 60, 10}, 300, 0};
  EXPECT_EQ(image.GetData(secondTile, buf.data()), TES_ERR_NO_IMAGE);
}

// Stores large enough that their new tiles share one block of memory: each tile keeps its
// own pixels, and rows a store has not reached read as zero until the next store.
TEST(Store, LargeStoresKeepEveryTileApart) {
  const int w = 1500, h = 300, cs = TES_CS_RGB48, bpp = BppOf(cs);
  const Bytes source = PatternPixels(w, h, cs);
  TesseraClass image(0, 0);
  tagTes_Image_Desc desc{w, h, cs, {}, 72.0};
  ASSERT_EQ(image.SetImageDesc(desc, kNone), 0);
  tagTes_Tile_Desc top{{0, 0, w, 250}, w * bpp, 0};
  ASSERT_EQ(image.SetData(top, kNone, const_cast<uint8_t*>(source.data())), 0);
  Bytes row(static_cast<size_t>(w) * bpp, 1);
  tagTes_Tile_Desc unreached{{0, 255, w, 1}, w * bpp, 0};
  ASSERT_EQ(image.GetData(unreached, row.data()), 0);
  EXPECT_EQ(row, Bytes(row.size(), 0));
  tagTes_Tile_Desc rest{{0, 250, w, h - 250}, w * bpp, 0};
  ASSERT_EQ(image.SetData(rest, kNone, const_cast<uint8_t*>(source.data()) + 250 * w * bpp), 0);
  EXPECT_EQ(Pixels(image), source);
}

TEST(Store, PlaneByPlaneEqualsOneInterleavedWrite) {
  for (int cs : {2, 3}) {
    SCOPED_TRACE(cs);
    const int w = 140, h = 5, sb = SampleBytesOf(cs);
    const std::vector<uint8_t> pixels = PatternPixels(w, h, cs);
    TesseraClass whole(0, 0), planes(0, 0);
    ASSERT_EQ(Fill(whole, w, h, cs, pixels, kNone), 0);
    tagTes_Image_Desc desc{w, h, static_cast<int16_t>(cs), {}, 72.0};
    ASSERT_EQ(planes.SetImageDesc(desc, kNone), 0);
    for (int k = 1; k <= 3; ++k) {
      std::vector<uint8_t> plane(static_cast<size_t>(w) * h * sb);
      for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i)
        std::memcpy(&plane[i * sb], &pixels[i * 3 * sb + (k - 1) * sb], sb);
      tagTes_Tile_Desc t{{0, 0, w, h}, w * sb, static_cast<uint16_t>(k)};
      ASSERT_EQ(planes.SetData(t, kNone, plane.data()), 0);
      // Reading one plane gives it back.
      std::vector<uint8_t> back(plane.size());
      ASSERT_EQ(planes.GetData(t, back.data()), 0);
      EXPECT_EQ(back, plane);
    }
    std::vector<uint8_t> a, b;
    ASSERT_EQ(ReadAll(whole, a), 0);
    ASSERT_EQ(ReadAll(planes, b), 0);
    EXPECT_EQ(a, b);
  }
}

TEST(Store, TileCountsFollowTheSize) {
  // One tile for 1 x 1 and 128 x 128, two for 129 x 128: visible through which rectangles
  // a single write can make readable.
  struct Case {
    int w, h;
  } cases[] = {{1, 1}, {128, 128}, {129, 128}, {257, 3}};
  for (const auto& c : cases) {
    TesseraClass image(0, 0);
    std::vector<uint8_t> px(static_cast<size_t>(c.w) * c.h, 9);
    ASSERT_EQ(Fill(image, c.w, c.h, 0, px, kNone), 0);
    std::vector<uint8_t> out;
    ASSERT_EQ(ReadAll(image, out), 0);
    EXPECT_EQ(out, px);
  }
}

TEST(Store, BadRectanglesAreRefusedBeforeAnythingIsWritten) {
  TesseraClass image(0, 2);
  tagTes_Image_Desc desc{200, 100, 2, {}, 72.0};
  ASSERT_EQ(image.SetImageDesc(desc, kNone), 0);
  std::vector<uint8_t> buf(200 * 100 * 3, 0x55);
  tagTes_Tile_Desc good{{0, 0, 200, 100}, 600, 0};
  ASSERT_EQ(image.SetData(good, kNone, buf.data()), 0);
  std::vector<uint8_t> other(buf.size(), 0x11);
  struct Case {
    tagTes_Rect rect;
    int rowBytes;
    uint16_t plane;
    bool nullBuffer;
  } cases[] = {
      {{-1, 0, 10, 10}, 600, 0, false},  {{0, 0, 201, 10}, 603, 0, false}, {{190, 0, 20, 10}, 600, 0, false},
      {{0, 95, 10, 10}, 600, 0, false},  {{0, 0, 0, 10}, 600, 0, false},   {{0, 0, 10, -1}, 600, 0, false},
      {{0, 0, 10, 10}, 29, 0, false},    {{0, 0, 10, 10}, 600, 0, true},   {{0, 0, 10, 10}, 600, 4, false},
      {{0x7FFFFFF0, 0, 0x20, 1}, 600, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rect.x << "," << c.rect.y << " " << c.rect.width << "x" << c.rect.height
                                    << " rb " << c.rowBytes << " plane " << c.plane);
    tagTes_Tile_Desc t{c.rect, c.rowBytes, c.plane};
    EXPECT_EQ(image.SetData(t, kNone, c.nullBuffer ? nullptr : other.data()), TES_ERR_NO_IMAGE);
    EXPECT_EQ(image.GetData(t, c.nullBuffer ? nullptr : other.data()), TES_ERR_NO_IMAGE);
  }
  std::vector<uint8_t> out;
  ASSERT_EQ(ReadAll(image, out), 0);
  EXPECT_EQ(out, buf);
  EXPECT_EQ(std::count(other.begin(), other.end(), 0x11), static_cast<long>(other.size()));
}

TEST(Store, ClearEmptiesTheObjectButKeepsItsMetadata) {
  TesseraClass image(0, 0);
  tagTes_Image_Info info{};
  info.size = sizeof info;
  std::strcpy(info.model, "QV");
  image.SetImageInfo(info);
  std::vector<uint8_t> px(10 * 10 * 2, 3);
  ASSERT_EQ(Fill(image, 10, 10, 1, px, kNone), 0);
  ASSERT_EQ(image.Clear(), 0);
  tagTes_Image_Desc d{};
  image.GetImageDesc(&d);
  EXPECT_EQ(d.width, 0);
  EXPECT_EQ(d.height, 0);
  EXPECT_EQ(d.colorSpace, 2);
  EXPECT_EQ(d.bitsPerChannel[0], 8);
  EXPECT_EQ(d.bitsPerChannel[2], 8);
  EXPECT_EQ(d.bitsPerChannel[3], 0);
  EXPECT_EQ(d.resolution, 72.0);
  std::vector<uint8_t> out;
  EXPECT_EQ(ReadAll(image, out), TES_ERR_NO_IMAGE);
  tagTes_Image_Info back{};
  image.GetImageInfo(&back, sizeof back);
  EXPECT_STREQ(back.model, "QV");
}

TEST(Store, DescribingAnotherImageOverStoredTilesStartsAfresh) {
  TesseraClass image(0, 2);
  const std::vector<uint8_t> small = PatternPixels(10, 10, 2);
  ASSERT_EQ(Fill(image, 10, 10, 2, small, kNone), 0);
  // Same grid and pixels: the tiles stay, only the resolution changes.
  tagTes_Image_Desc same{10, 10, 2, {}, 300.0};
  ASSERT_EQ(image.SetImageDesc(same, kNone), 0);
  std::vector<uint8_t> out;
  ASSERT_EQ(ReadAll(image, out), 0);
  EXPECT_EQ(out, small);
  // A larger image of another depth replaces it whole, and its strips land in its own grid.
  const std::vector<uint8_t> large = PatternPixels(300, 200, 3);
  ASSERT_EQ(Fill(image, 300, 200, 3, large, kNone), 0);
  ASSERT_EQ(ReadAll(image, out), 0);
  EXPECT_TRUE(out == large);
}

TEST(Store, FirstWriteOfAForbiddenColourSpaceStoresNothing) {
  TesseraClass image(0, 0);
  tagTes_Image_Desc desc{4, 4, 5, {}, 72.0};
  EXPECT_EQ(image.SetImageDesc(desc, kNone), TES_ERR_NOT_PERMITTED);
  std::vector<uint8_t> px(4 * 4 * 6, 1);
  tagTes_Tile_Desc t{{0, 0, 4, 4}, 24, 0};
  EXPECT_EQ(image.SetData(t, kNone, px.data()), TES_ERR_NOT_PERMITTED);
  EXPECT_EQ(image.GetData(t, px.data()), TES_ERR_NO_IMAGE);
}

}  // namespace
