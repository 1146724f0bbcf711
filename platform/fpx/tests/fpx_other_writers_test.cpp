// Files laid out as other FlashPix writers lay them out, built here with libgsf (the
// compound file) and libjpeg (the tiles): a root that is itself the image object, JPEG
// tiles carrying their own tables or sharing a table of another index, chroma sub-sampled
// and unconverted JPEG tiles, edge tiles stored without their padding, tiles never written
// and single-colour tiles. Each must open here with the pixels its tiles hold.
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-utils.h>

#include <jpeglib.h>

#include <cstdio>
#include <functional>

#include "fpx_format.h"
#include "fpx_test_support.h"

using namespace fpxtest;

namespace {

// How one tile is stored.
enum class Tile {
  kRaw,             // 64 x 64 pixels, the edge padded
  kRawUnpadded,     // only the pixels inside the image
  kJpegOwnTables,   // a whole JPEG stream, tables included (table index 0)
  kJpegShared,      // an abbreviated stream whose tables are in Image Contents
  kJpegUnpadded,    // a whole JPEG stream of the pixels inside the image only
  kUnwritten,       // offset -1: never written, read as black
  kUnwrittenNoKind, // offset and compression -1
  kSingleColour,    // the colour of its first pixel, in the tile entry, first channel lowest
  kSingleColourHigh,  // a grey tile's value in bits 16..23, as the reference library keeps it
};

struct Layout {
  const char* name;
  uint32_t width, height, channels;
  bool rootIsImage;         // the root storage holds the image, no "Data Object Store"
  bool colourConversion;    // RGB JPEG tiles are YCbCr (else stored as R, G, B)
  int chroma;               // 1: no sub-sampling; 2: 2 x 2 chroma sub-sampling
  uint32_t sharedTable;     // index of the shared JPEG tables
  bool widthsAsSigned;      // sizes stored as VT_I4 rather than VT_UI4
  std::function<Tile(uint32_t level, uint32_t tx, uint32_t ty, uint32_t across, uint32_t down)> tile;
  int tolerance;            // largest difference allowed (0: exact)
};

void PrintTo(const Layout& layout, std::ostream* os) { *os << layout.name; }

bool IsJpeg(Tile t) { return t == Tile::kJpegOwnTables || t == Tile::kJpegShared || t == Tile::kJpegUnpadded; }

// libjpeg compression into memory.
struct Compressor {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr err{};
  unsigned char* buffer = nullptr;
  unsigned long size = 0;

  Compressor(const Layout& layout, int width, int height, int quality = 90) {
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = static_cast<int>(layout.channels);
    cinfo.in_color_space = layout.channels == 3 ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    if (layout.channels == 3 && !layout.colourConversion) jpeg_set_colorspace(&cinfo, JCS_RGB);
    cinfo.write_JFIF_header = FALSE;
    cinfo.write_Adobe_marker = FALSE;
    for (int c = 0; c < cinfo.num_components; ++c)
      cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = c == 0 ? layout.chroma : 1;
    jpeg_mem_dest(&cinfo, &buffer, &size);
  }
  ~Compressor() {
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
  }
  std::vector<uint8_t> Take() {
    std::vector<uint8_t> out(buffer, buffer + size);
    std::free(buffer);
    buffer = nullptr;
    size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    return out;
  }
  // The tables alone: what the shared-table property holds.
  std::vector<uint8_t> Tables() {
    jpeg_write_tables(&cinfo);
    return Take();
  }
  std::vector<uint8_t> Encode(const uint8_t* pixels, int stride, bool withTables) {
    if (withTables) jpeg_suppress_tables(&cinfo, FALSE);
    jpeg_start_compress(&cinfo, withTables ? TRUE : FALSE);
    while (cinfo.next_scanline < cinfo.image_height) {
      JSAMPROW row = const_cast<uint8_t*>(pixels) + size_t(cinfo.next_scanline) * stride;
      jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    return Take();
  }
};

// The stored colour of each channel: NIF RGB or monochrome, calibrated.
std::vector<uint8_t> ColourBlob(uint32_t channels) {
  std::vector<uint8_t> blob;
  fpx::Put32(blob, 1);
  fpx::Put32(blob, channels);
  for (uint32_t c = 0; c < channels; ++c)
    fpx::Put32(blob, channels == 1 ? fpx::kSpaceMonochrome << 16 : (fpx::kSpaceNifRgb << 16 | c));
  return blob;
}

void WriteStream(GsfOutfile* parent, const char* name, const std::vector<uint8_t>& bytes) {
  GsfOutput* out = gsf_outfile_new_child(parent, name, FALSE);
  ASSERT_NE(out, nullptr);
  ASSERT_TRUE(gsf_output_write(out, bytes.size(), bytes.data()));
  ASSERT_TRUE(gsf_output_close(out));
  g_object_unref(out);
}

GsfOutfile* NewStorage(GsfOutfile* parent, const std::string& name, const fpx::Clsid& id) {
  GsfOutput* child = gsf_outfile_new_child(parent, name.c_str(), TRUE);
  gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(child), id.data());
  return GSF_OUTFILE(child);
}

// The pixels of one tile, `w` x `h` of them from (x0, y0), padded to 64 x 64 with the
// level's last column and row as the writers of the format do.
std::vector<uint8_t> TilePixels(const Picture& level, uint32_t x0, uint32_t y0, uint32_t w, uint32_t h, bool pad) {
  const uint32_t tw = pad ? 64 : w, th = pad ? 64 : h, ch = level.channels;
  std::vector<uint8_t> out(size_t(tw) * th * ch);
  for (uint32_t y = 0; y < th; ++y)
    for (uint32_t x = 0; x < tw; ++x)
      for (uint32_t c = 0; c < ch; ++c)
        out[(size_t(y) * tw + x) * ch + c] =
            level.at(std::min(x0 + x, level.width - 1), std::min(y0 + y, level.height - 1), c);
  return out;
}

// Writes the file and gives back the pixels a reader must find in each level (largest
// first): the picture and its reductions, with unwritten tiles black.
std::vector<Picture> WriteFixture(const std::string& path, const Layout& layout, const Picture& picture) {
  std::vector<Picture> levels{picture};
  while (std::max(levels.back().width, levels.back().height) > 64) levels.push_back(Halve(levels.back()));
  const uint32_t count = static_cast<uint32_t>(levels.size());

  GError* error = nullptr;
  GsfOutput* sink = gsf_output_stdio_new(path.c_str(), &error);
  EXPECT_NE(sink, nullptr);
  if (sink == nullptr) return {};
  GsfOutfile* root = gsf_outfile_msole_new(sink);
  GsfOutfile* image = root;
  if (layout.rootIsImage) {
    gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(root), fpx::kImageObjectClsid.data());
  } else {
    gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(root), fpx::kImageViewClsid.data());
    image = NewStorage(root, fpx::kImageStoreName, fpx::kImageObjectClsid);
  }

  Compressor tables(layout, 64, 64);
  const std::vector<uint8_t> sharedTables = tables.Tables();
  fpx::PropertySetWriter contents(fpx::kImageContentsFmtid);
  auto addSize = [&](uint32_t id, uint32_t value) {
    if (layout.widthsAsSigned) contents.AddI32(id, static_cast<int32_t>(value));
    else contents.AddU32(id, value);
  };
  addSize(fpx::kPidNumberOfResolutions, count);
  addSize(fpx::kPidHighestWidth, picture.width);
  addSize(fpx::kPidHighestHeight, picture.height);

  for (uint32_t k = 0; k < count; ++k) {
    Picture& level = levels[k];
    const uint32_t number = count - 1 - k;
    addSize(fpx::PidSubimage(fpx::kSubimageWidth, number), level.width);
    addSize(fpx::PidSubimage(fpx::kSubimageHeight, number), level.height);
    contents.AddBlob(fpx::PidSubimage(fpx::kSubimageColor, number), ColourBlob(layout.channels));
    contents.AddU32Vector(fpx::PidSubimage(fpx::kSubimageFormat, number), {fpx::VT_UI1});

    const uint32_t across = (level.width + 63) / 64, down = (level.height + 63) / 64;
    std::vector<uint8_t> data = fpx::StreamHeader(fpx::kSubimageDataClsid);
    std::vector<uint8_t> header = fpx::StreamHeader(fpx::kSubimageHeaderClsid);
    // The header fields, then a gap another writer may leave, then the tile table.
    const uint32_t tableOffset = fpx::kSubimageHeaderFields + 8;
    for (uint32_t v : {fpx::kSubimageHeaderFields, level.width, level.height, across * down, 64u, 64u,
                       layout.channels, tableOffset, fpx::kTileEntryBytes, 0u, 0u})
      fpx::Put32(header, v);
    Picture expected = level;
    for (uint32_t ty = 0; ty < down; ++ty) {
      for (uint32_t tx = 0; tx < across; ++tx) {
        const uint32_t x0 = tx * 64, y0 = ty * 64;
        const uint32_t w = std::min(64u, level.width - x0), h = std::min(64u, level.height - y0);
        const Tile kind = layout.tile(number, tx, ty, across, down);
        std::vector<uint8_t> bytes;
        uint32_t compression = fpx::kCompressNone, subtype = 0, offset = 0;
        switch (kind) {
          case Tile::kRaw: bytes = TilePixels(level, x0, y0, w, h, true); break;
          case Tile::kRawUnpadded: bytes = TilePixels(level, x0, y0, w, h, false); break;
          case Tile::kJpegOwnTables:
          case Tile::kJpegShared:
          case Tile::kJpegUnpadded: {
            const bool unpadded = kind == Tile::kJpegUnpadded;
            const std::vector<uint8_t> pixels = TilePixels(level, x0, y0, w, h, !unpadded);
            const bool shared = kind == Tile::kJpegShared;
            const int stride = int((unpadded ? w : 64) * layout.channels);
            if (shared) {
              bytes = tables.Encode(pixels.data(), stride, false);  // the tables were written once
            } else {
              // Tables of their own differ from the shared ones: a reader that mixed them up
              // would decode with the wrong quantisation.
              Compressor own(layout, unpadded ? int(w) : 64, unpadded ? int(h) : 64, 75);
              bytes = own.Encode(pixels.data(), stride, true);
            }
            compression = fpx::kCompressJpeg;
            const uint32_t chroma = layout.channels == 3 ? uint32_t(layout.chroma) << 4 | uint32_t(layout.chroma) : 0;
            subtype = fpx::JpegSubtype(0, chroma, layout.channels == 3 && layout.colourConversion ? 1 : 0,
                                       shared ? layout.sharedTable : 0);
            break;
          }
          case Tile::kUnwritten:
          case Tile::kUnwrittenNoKind:
            offset = fpx::kUnwrittenTile;
            if (kind == Tile::kUnwrittenNoKind) compression = 0xFFFFFFFFu;
            for (uint32_t y = y0; y < y0 + h; ++y)
              for (uint32_t x = x0; x < x0 + w; ++x)
                for (uint32_t c = 0; c < layout.channels; ++c)
                  expected.pixels[(size_t(y) * level.width + x) * layout.channels + c] = 0;
            break;
          case Tile::kSingleColour:
          case Tile::kSingleColourHigh:
            compression = fpx::kCompressSingleColor;
            for (uint32_t c = 0; c < layout.channels; ++c) subtype |= uint32_t{level.at(x0, y0, c)} << (8 * c);
            if (kind == Tile::kSingleColourHigh) subtype = uint32_t{level.at(x0, y0, 0)} << 16;
            for (uint32_t y = y0; y < y0 + h; ++y)
              for (uint32_t x = x0; x < x0 + w; ++x)
                for (uint32_t c = 0; c < layout.channels; ++c)
                  expected.pixels[(size_t(y) * level.width + x) * layout.channels + c] = level.at(x0, y0, c);
            break;
        }
        if (kind != Tile::kUnwritten && kind != Tile::kUnwrittenNoKind && kind != Tile::kSingleColour &&
            kind != Tile::kSingleColourHigh)
          offset = static_cast<uint32_t>(data.size() - fpx::kStreamHeaderBytes);
        data.insert(data.end(), bytes.begin(), bytes.end());
        for (uint32_t v : {offset, static_cast<uint32_t>(bytes.size()), compression, subtype}) fpx::Put32(header, v);
      }
    }
    level = expected;
    GsfOutfile* storage = NewStorage(image, fpx::ResolutionName(number), fpx::kResolutionClsid);
    // Streams in the order another writer may choose: the data first.
    WriteStream(storage, fpx::kSubimageDataName, data);
    WriteStream(storage, fpx::kSubimageHeaderName, header);
    gsf_output_close(GSF_OUTPUT(storage));
    g_object_unref(storage);
  }
  // The next level's expected pixels are made from what each level really holds: the
  // reader does not reduce, it reads what the file stores, so nothing else is needed.
  contents.AddBlob(fpx::PidJpegTables(layout.sharedTable), sharedTables);
  contents.AddU32(fpx::kPidMaxJpegTableIndex, layout.sharedTable);
  WriteStream(image, fpx::kImageContentsName, contents.Build());
  WriteStream(image, fpx::kImageInfoName, fpx::PropertySetWriter(fpx::kImageInfoFmtid).Build());
  if (image != root) {
    gsf_output_close(GSF_OUTPUT(image));
    g_object_unref(image);
  }
  EXPECT_TRUE(gsf_output_close(GSF_OUTPUT(root)));
  g_object_unref(root);
  g_object_unref(sink);
  return levels;
}

class OtherWriters : public ::testing::TestWithParam<Layout> {
 protected:
  void SetUp() override {
    FPX_InitSystem();
    FPX_SetUnit(FPX_INCHES);
  }
  void TearDown() override { FPX_ClearSystem(); }
  ScratchDir dir;
};

TEST_P(OtherWriters, OpensWithTheStoredPixels) {
  const Layout& layout = GetParam();
  const Picture picture = MakeSmoothPicture(layout.width, layout.height, layout.channels);
  const std::string path = dir.File("other.fpx");
  const std::vector<Picture> levels = WriteFixture(path, layout, picture);
  ASSERT_FALSE(levels.empty());

  char* name = const_cast<char*>(path.c_str());
  ASSERT_EQ(FPX_IsFlashPixFile(name), FPX_OK);
  FPXImageHandle* h = nullptr;
  unsigned long width = 0, height = 0, tileWidth = 0, tileHeight = 0;
  FPXColorspace space{};
  ASSERT_EQ(FPX_OpenImageByFilename(name, nullptr, &width, &height, &tileWidth, &tileHeight, &space, &h), FPX_OK);
  EXPECT_EQ(width, layout.width);
  EXPECT_EQ(height, layout.height);
  EXPECT_EQ(space.numberOfComponents, short(layout.channels));
  unsigned short count = 0;
  ASSERT_EQ(FPX_GetNumberOfResolutions(h, &count), FPX_OK);
  ASSERT_EQ(count, levels.size());
  for (size_t k = 0; k < levels.size(); ++k) {
    const Picture& want = levels[k];
    Picture got;
    ASSERT_EQ(ReadLevel(h, unsigned(count - 1 - k), want.width, want.height, layout.channels, &got), FPX_OK)
        << "level " << k;
    EXPECT_LE(MaxDifference(got, want), layout.tolerance) << "level " << k;
  }
  FPXTileCompressionInfo info{};
  ASSERT_EQ(FPX_GetImageCompressionInfo(h, 0, 0, &info), FPX_OK);
  EXPECT_EQ(info.compressOption >= JPEG_UNSPECIFIED,
            IsJpeg(layout.tile(count - 1, 0, 0, (layout.width + 63) / 64, (layout.height + 63) / 64)));
  EXPECT_EQ(FPX_CloseImage(h), FPX_OK);
}

Tile Always(Tile t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) { return t; }
using namespace std::placeholders;

// Edge tiles (last column or row) stored one way, the others another.
std::function<Tile(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t)> Edges(Tile inside, Tile edge) {
  return [=](uint32_t, uint32_t tx, uint32_t ty, uint32_t across, uint32_t down) {
    return tx + 1 == across || ty + 1 == down ? edge : inside;
  };
}

// JPEG tolerances for the smooth picture at quality 90 (shared tables) or 75 (a tile's own
// tables; the small levels hold the most detail); 2 x 2 chroma sub-sampling loses more of the colour. A tile decoded with the
// wrong tables or colour conversion is off by far more.
const Layout kLayouts[] = {
    {"RootIsTheImage", 150, 100, 3, true, true, 1, 1, false, std::bind(Always, Tile::kRaw, _1, _2, _3, _4, _5), 0},
    {"UnpaddedEdgeTilesGrey", 130, 70, 1, false, true, 1, 1, false, Edges(Tile::kRaw, Tile::kRawUnpadded), 0},
    {"UnpaddedEdgeTilesRgb", 200, 129, 3, true, true, 1, 1, true, Edges(Tile::kRaw, Tile::kRawUnpadded), 0},
    {"UnwrittenTiles", 200, 140, 3, false, true, 1, 1, false,
     [](uint32_t level, uint32_t tx, uint32_t ty, uint32_t, uint32_t) {
       return level > 0 && (tx + ty) % 2 == 1 ? Tile::kUnwritten : Tile::kRaw;
     },
     0},
    {"SingleColourAndUnwrittenMixed", 140, 140, 1, false, true, 1, 1, false,
     [](uint32_t, uint32_t tx, uint32_t ty, uint32_t, uint32_t) {
       return tx == 1 && ty == 0 ? Tile::kSingleColour : tx == 0 && ty == 1 ? Tile::kUnwritten : Tile::kRaw;
     },
     0},
    // The first tile unwritten and of no kind: the level's compression is told by the others.
    {"ReferenceSingleColourGrey", 140, 140, 1, false, true, 1, 1, false,
     [](uint32_t, uint32_t tx, uint32_t ty, uint32_t, uint32_t) {
       return tx == 1 && ty == 0 ? Tile::kSingleColourHigh : tx == 0 && ty == 0 ? Tile::kUnwrittenNoKind : Tile::kRaw;
     },
     0},
    {"JpegTilesWithTheirOwnTables", 150, 100, 3, false, true, 1, 1, false,
     std::bind(Always, Tile::kJpegOwnTables, _1, _2, _3, _4, _5), 24},
    {"JpegOwnTablesChromaSubsampled", 150, 100, 3, true, true, 2, 1, false,
     std::bind(Always, Tile::kJpegOwnTables, _1, _2, _3, _4, _5), 36},
    {"JpegSharedTableOfAnotherIndex", 150, 100, 3, false, true, 1, 3, false,
     std::bind(Always, Tile::kJpegShared, _1, _2, _3, _4, _5), 12},
    {"JpegSharedGrey", 130, 70, 1, false, true, 1, 2, false,
     std::bind(Always, Tile::kJpegShared, _1, _2, _3, _4, _5), 12},
    {"JpegWithoutColourConversion", 150, 100, 3, false, false, 1, 1, false,
     std::bind(Always, Tile::kJpegShared, _1, _2, _3, _4, _5), 12},
    {"JpegUnpaddedEdgeTiles", 150, 100, 3, false, true, 1, 1, false,
     Edges(Tile::kJpegShared, Tile::kJpegUnpadded), 24},
    {"OwnAndSharedTablesAlternate", 200, 130, 3, false, true, 1, 1, false,
     [](uint32_t, uint32_t tx, uint32_t ty, uint32_t, uint32_t) {
       return (tx + ty) % 2 ? Tile::kJpegOwnTables : Tile::kJpegShared;
     },
     24},
    {"RawAndJpegTilesMixed", 150, 100, 1, false, true, 1, 1, false,
     [](uint32_t, uint32_t tx, uint32_t, uint32_t, uint32_t) { return tx % 2 ? Tile::kRaw : Tile::kJpegShared; }, 12},
};

INSTANTIATE_TEST_SUITE_P(Layouts, OtherWriters, ::testing::ValuesIn(kLayouts),
                         [](const ::testing::TestParamInfo<Layout>& info) { return info.param.name; });

}  // namespace
