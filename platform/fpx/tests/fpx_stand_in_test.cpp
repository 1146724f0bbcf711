// The FlashPix library's own behaviour: round trips, levels, compression kinds, resolution,
// argument checks, and files that are damaged or not FlashPix at all.
#include <sys/resource.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "fpx_test_support.h"

using namespace fpxtest;

namespace {

class FlashPixLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    FPX_InitSystem();
    FPX_SetUnit(FPX_INCHES);
  }
  void TearDown() override { FPX_ClearSystem(); }
  ScratchDir dir;
};

struct Opened {
  FPXImageHandle* handle = nullptr;
  unsigned long width = 0, height = 0, tileWidth = 0, tileHeight = 0;
  FPXColorspace space{};
  FPXStatus status = FPX_OK;
  explicit Opened(const std::string& path) {
    status = FPX_OpenImageByFilename(const_cast<char*>(path.c_str()), nullptr, &width, &height, &tileWidth,
                                     &tileHeight, &space, &handle);
  }
  ~Opened() {
    if (handle) FPX_CloseImage(handle);
  }
};

std::vector<uint8_t> Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void Spill(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

struct RoundTripCase {
  uint32_t width, height, channels;
};

class ExactRoundTrip : public FlashPixLibrary, public ::testing::WithParamInterface<RoundTripCase> {};

// Uncompressed files give back every pixel of every level exactly: the full size as
// written, each level below as the half-size reduction of the level above.
TEST_P(ExactRoundTrip, EveryLevelReadsBack) {
  const RoundTripCase c = GetParam();
  const Picture picture = MakePicture(c.width, c.height, c.channels);
  const std::string path = dir.File("image.fpx");
  // Bands of 50 rows do not line up with the tiles: the writer must carry rows over.
  ASSERT_EQ(WritePicture(path, picture, NONE, -1, 50), FPX_OK);

  ASSERT_EQ(FPX_IsFlashPixFile(const_cast<char*>(path.c_str())), FPX_OK);
  Opened f(path);
  ASSERT_EQ(f.status, FPX_OK);
  EXPECT_EQ(f.width, c.width);
  EXPECT_EQ(f.height, c.height);
  EXPECT_EQ(f.tileWidth, 64u);
  EXPECT_EQ(f.space.numberOfComponents, short(c.channels));
  EXPECT_EQ(f.space.theComponents[0].myColor, c.channels == 1 ? MONOCHROME : NIFRGB_R);

  unsigned short levels = 0;
  ASSERT_EQ(FPX_GetNumberOfResolutions(f.handle, &levels), FPX_OK);
  uint32_t expectedLevels = 1;
  for (uint32_t side = std::max(c.width, c.height); side > 64; side = (side + 1) / 2) ++expectedLevels;
  EXPECT_EQ(levels, expectedLevels);

  Picture expected = picture;
  for (int level = levels - 1; level >= 0; --level) {
    Picture got;
    ASSERT_EQ(ReadLevel(f.handle, level, expected.width, expected.height, c.channels, &got), FPX_OK) << level;
    ASSERT_EQ(got.pixels, expected.pixels) << "level " << level;
    expected = Halve(got);
  }
  EXPECT_LE(std::max(expected.width, expected.height) * 2, 128u);  // the smallest fits in one tile

  FPXTileCompressionInfo info{};
  ASSERT_EQ(FPX_GetImageCompressionInfo(f.handle, 0, 0, &info), FPX_OK);
  EXPECT_EQ(info.compressOption, NONE);
  float dpi = 0;
  ASSERT_EQ(FPX_GetImageResolution(f.handle, &dpi), FPX_OK);
  EXPECT_FLOAT_EQ(dpi, 300.0f);
  EXPECT_EQ(FPX_ReleaseImageCache(f.handle, 0), FPX_OK);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ExactRoundTrip,
                         ::testing::Values(RoundTripCase{1, 1, 1}, RoundTripCase{1, 1, 3}, RoundTripCase{64, 64, 3},
                                           RoundTripCase{65, 65, 1}, RoundTripCase{65, 65, 3},
                                           RoundTripCase{320, 192, 1}, RoundTripCase{1001, 667, 3},
                                           RoundTripCase{3, 200, 3}));

// JPEG tiles come back within a stated tolerance at every quality the adapter uses, and
// report a JPEG compression.
TEST_F(FlashPixLibrary, JpegTilesStayWithinTolerance) {
  const struct {
    int quality;
    double mean;
    int worst;
  } cases[] = {{100, 1.0, 6}, {75, 2.0, 16}, {25, 4.5, 32}};  // on a smooth picture
  for (uint32_t channels : {1u, 3u}) {
    const Picture picture = MakeSmoothPicture(200, 130, channels);
    for (const auto& c : cases) {
      const std::string path = dir.File("jpeg.fpx");
      ASSERT_EQ(WritePicture(path, picture, JPEG_BY_QUALITY, c.quality), FPX_OK);
      Opened f(path);
      ASSERT_EQ(f.status, FPX_OK);
      unsigned short levels = 0;
      FPX_GetNumberOfResolutions(f.handle, &levels);
      Picture got;
      ASSERT_EQ(ReadLevel(f.handle, levels - 1, 200, 130, channels, &got), FPX_OK);
      EXPECT_LE(MeanDifference(got, picture), c.mean) << c.quality << " " << channels;
      EXPECT_LE(MaxDifference(got, picture), c.worst) << c.quality << " " << channels;
      FPXTileCompressionInfo info{};
      ASSERT_EQ(FPX_GetImageCompressionInfo(f.handle, 0, 0, &info), FPX_OK);
      EXPECT_TRUE(info.compressOption >= JPEG_UNSPECIFIED && info.compressOption <= JPEG_BY_TABLE_GROUP);
    }
  }
  // A band of more tiles than one JPEG image holds (1000 and more) is compressed in parts.
  const Picture wide = MakeSmoothPicture(64 * 1003 + 5, 3, 1);
  const std::string path = dir.File("wide.fpx");
  ASSERT_EQ(WritePicture(path, wide, JPEG_BY_QUALITY, 75), FPX_OK);
  Opened f(path);
  ASSERT_EQ(f.status, FPX_OK);
  unsigned short levels = 0;
  FPX_GetNumberOfResolutions(f.handle, &levels);
  Picture got;
  ASSERT_EQ(ReadLevel(f.handle, levels - 1, wide.width, 3, 1, &got), FPX_OK);
  EXPECT_LE(MaxDifference(got, wide), 16);
}

// Tiles of one colour are stored as that colour and read back as full tiles; the level's
// compression is told by the tiles that are not single-coloured.
TEST_F(FlashPixLibrary, SingleColourTilesReadBack) {
  Picture picture = MakePicture(130, 70, 3);
  for (uint32_t y = 0; y < 64; ++y)
    for (uint32_t x = 0; x < 64; ++x)
      for (uint32_t c = 0; c < 3; ++c) picture.pixels[(size_t(y) * 130 + x) * 3 + c] = uint8_t(10 + 40 * c);
  const std::string path = dir.File("single.fpx");
  const std::string plain = dir.File("plain.fpx");
  ASSERT_EQ(WritePicture(plain, picture, NONE), FPX_OK);
  ASSERT_EQ(WritePicture(path, picture, SINGLE_COLOR), FPX_OK);
  EXPECT_LE(Slurp(path).size() + 64 * 64 * 3, Slurp(plain).size());  // the first tile holds no pixels
  Opened f(path);
  ASSERT_EQ(f.status, FPX_OK);
  Picture got;
  ASSERT_EQ(ReadLevel(f.handle, 2, 130, 70, 3, &got), FPX_OK);
  EXPECT_EQ(got.pixels, picture.pixels);
  FPXTileCompressionInfo info{};
  ASSERT_EQ(FPX_GetImageCompressionInfo(f.handle, 0, 0, &info), FPX_OK);
  EXPECT_EQ(info.compressOption, NONE);
}

// Rectangles anywhere in a level, also across tile borders, and into separate planes.
TEST_F(FlashPixLibrary, ReadsRectanglesIntoPlanes) {
  const Picture picture = MakePicture(150, 100, 3);
  const std::string path = dir.File("rect.fpx");
  ASSERT_EQ(WritePicture(path, picture, NONE), FPX_OK);
  Opened f(path);
  ASSERT_EQ(f.status, FPX_OK);
  const uint32_t x0 = 60, y0 = 30, w = 30, h = 50;
  std::vector<uint8_t> planes(size_t(w) * h * 3);
  FPXImageDesc d{};
  d.numberOfComponents = 3;
  for (uint32_t c = 0; c < 3; ++c) {  // blue first: components are found by colour
    FPXImageComponentDesc& k = d.components[c];
    k.myColorType = {static_cast<FPXComponentColor>(NIFRGB_B - c), DATA_TYPE_UNSIGNED_BYTE};
    k.horzSubSampFactor = k.vertSubSampFactor = 1;
    k.columnStride = 1;
    k.lineStride = w;
    k.theData = planes.data() + size_t(c) * w * h;
  }
  ASSERT_EQ(FPX_ReadImageRectangle(f.handle, x0, y0, x0 + w - 1, y0 + h - 1, 2, &d), FPX_OK);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x)
      for (uint32_t c = 0; c < 3; ++c)
        ASSERT_EQ(planes[size_t(c) * w * h + y * w + x], picture.at(x0 + x, y0 + y, 2 - c));
}

TEST_F(FlashPixLibrary, RefusesBadArguments) {
  const Picture picture = MakePicture(70, 70, 1);
  const std::string path = dir.File("args.fpx");
  ASSERT_EQ(WritePicture(path, picture, NONE), FPX_OK);
  Opened f(path);
  ASSERT_EQ(f.status, FPX_OK);
  std::vector<uint8_t> buffer(70 * 70 * 3);
  FPXImageDesc grey = Describe(buffer.data(), 70, 1);
  EXPECT_EQ(FPX_ReadImageRectangle(f.handle, 0, 0, 70, 0, 1, &grey), FPX_BAD_COORDINATES);
  EXPECT_EQ(FPX_ReadImageRectangle(f.handle, 5, 0, 4, 0, 1, &grey), FPX_BAD_COORDINATES);
  EXPECT_EQ(FPX_ReadImageRectangle(f.handle, 0, 0, 0, 0, 2, &grey), FPX_INVALID_RESOLUTION);
  FPXImageDesc rgb = Describe(buffer.data(), 70, 3);
  EXPECT_EQ(FPX_ReadImageRectangle(f.handle, 0, 0, 0, 0, 1, &rgb), FPX_COLOR_CONVERSION_ERROR);
  EXPECT_EQ(FPX_ReadImageRectangle(nullptr, 0, 0, 0, 0, 1, &grey), FPX_INVALID_FPX_HANDLE);
  // A read handle cannot be written to.
  EXPECT_EQ(FPX_WriteImageRectangle(f.handle, 0, 0, 69, 0, &grey), FPX_INVALID_FPX_HANDLE);

  FPXImageHandle* h = nullptr;
  FPXBackground bg{};
  char* name = const_cast<char*>(path.c_str());
  EXPECT_EQ(FPX_CreateImageByFilename(name, 10, 10, 32, 32, Space(3), bg, NONE, &h), FPX_UNIMPLEMENTED_FUNCTION);
  FPXColorspace four = Space(3);
  four.numberOfComponents = 4;
  four.theComponents[3] = {ALPHA, DATA_TYPE_UNSIGNED_BYTE};
  EXPECT_EQ(FPX_CreateImageByFilename(name, 10, 10, 64, 64, four, bg, JPEG_BY_QUALITY, &h), FPX_UNIMPLEMENTED_FUNCTION);
  FPXColorspace ycc = Space(3);
  for (int c = 0; c < 3; ++c) ycc.theComponents[c].myColor = static_cast<FPXComponentColor>(PHOTO_YCC_Y + c);
  EXPECT_EQ(FPX_CreateImageByFilename(name, 10, 10, 64, 64, ycc, bg, NONE, &h), FPX_COLOR_CONVERSION_ERROR);
  EXPECT_EQ(FPX_CreateImageByFilename(name, 0, 10, 64, 64, Space(3), bg, NONE, &h), FPX_BAD_COORDINATES);
  char missing[] = "/nonexistent-folder/x.fpx";
  EXPECT_EQ(FPX_CreateImageByFilename(missing, 10, 10, 64, 64, Space(3), bg, NONE, &h), FPX_FILE_CREATE_ERROR);

  // Rows must continue from the top; the quality is fixed before the first rows.
  const std::string other = dir.File("order.fpx");
  ASSERT_EQ(FPX_CreateImageByFilename(const_cast<char*>(other.c_str()), 70, 70, 64, 64, Space(1), bg,
                                      JPEG_BY_QUALITY, &h),
            FPX_OK);
  EXPECT_EQ(FPX_SetJPEGCompression(h, 101), FPX_INVALID_COMPRESSION_ERROR);
  EXPECT_EQ(FPX_WriteImageRectangle(h, 0, 5, 69, 5, &grey), FPX_UNIMPLEMENTED_FUNCTION);
  EXPECT_EQ(FPX_WriteImageRectangle(h, 0, 0, 69, 0, &grey), FPX_OK);
  EXPECT_EQ(FPX_SetJPEGCompression(h, 50), FPX_OK);  // no tile made yet
  EXPECT_EQ(FPX_CloseImage(h), FPX_OK);
}

// Rows never written take the background colour.
TEST_F(FlashPixLibrary, UnwrittenRowsTakeTheBackground) {
  const std::string path = dir.File("partial.fpx");
  FPXImageHandle* h = nullptr;
  FPXBackground bg{200, 0, 0, 0};
  ASSERT_EQ(FPX_CreateImageByFilename(const_cast<char*>(path.c_str()), 10, 10, 64, 64, Space(1), bg, NONE, &h),
            FPX_OK);
  std::vector<uint8_t> row(10, 7);
  FPXImageDesc d = Describe(row.data(), 10, 1);
  ASSERT_EQ(FPX_WriteImageRectangle(h, 0, 0, 9, 0, &d), FPX_OK);
  ASSERT_EQ(FPX_CloseImage(h), FPX_OK);
  Opened f(path);
  ASSERT_EQ(f.status, FPX_OK);
  Picture got;
  ASSERT_EQ(ReadLevel(f.handle, 0, 10, 10, 1, &got), FPX_OK);
  EXPECT_EQ(got.at(3, 0, 0), 7);
  EXPECT_EQ(got.at(3, 9, 0), 200);
}

// Resolutions are given and taken in the current unit.
TEST_F(FlashPixLibrary, ResolutionFollowsTheUnit) {
  const std::string path = dir.File("dpi.fpx");
  ASSERT_EQ(WritePicture(path, MakePicture(65, 40, 1), NONE, -1, 128, 254.0f), FPX_OK);
  Opened f(path);
  ASSERT_EQ(f.status, FPX_OK);
  float value = 0;
  FPX_SetUnit(FPX_MILLIMETERS);
  ASSERT_EQ(FPX_GetImageResolution(f.handle, &value), FPX_OK);
  EXPECT_NEAR(value, 10.0f, 1e-4);
  FPX_SetUnit(FPX_INCHES);
  ASSERT_EQ(FPX_GetImageResolution(f.handle, &value), FPX_OK);
  EXPECT_FLOAT_EQ(value, 254.0f);
}

// A full disk fails the close with the library's write status and the system's reason.
TEST_F(FlashPixLibrary, FullDiskIsAWriteErrorWithItsReason) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  errno = 0;
  EXPECT_EQ(WritePicture("/dev/full", MakePicture(300, 300, 3), NONE), FPX_FILE_WRITE_ERROR);
  EXPECT_EQ(errno, ENOSPC);
}

// A write that fails partway (here the file-size limit is reached in the full-size level's
// tiles, or in the last streams) leaves no partial file, keeps the file of that name that was
// there before, and reports the system's reason.
TEST_F(FlashPixLibrary, FailedWriteLeavesNoPartialFile) {
  const std::string path = dir.File("kept.fpx");
  const Picture before = MakePicture(70, 70, 1);
  ASSERT_EQ(WritePicture(path, before, NONE), FPX_OK);
  const std::vector<uint8_t> earlier = Slurp(path);
  const std::string fresh = dir.File("fresh.fpx");

  struct rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  void (*handler)(int) = std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG
  for (const rlim_t limit : {rlim_t{200000}, rlim_t{500000}}) {  // the full-size level holds 430080 bytes
    struct rlimit small = saved;
    small.rlim_cur = limit;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    errno = 0;
    const FPXStatus overwrite = WritePicture(path, MakePicture(400, 300, 3), NONE);
    const int reason = errno;
    const FPXStatus create = WritePicture(fresh, MakePicture(400, 300, 3), NONE);
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(overwrite, FPX_FILE_WRITE_ERROR) << limit;
    EXPECT_EQ(reason, EFBIG) << limit;
    EXPECT_EQ(create, FPX_FILE_WRITE_ERROR) << limit;
    EXPECT_EQ(Slurp(path), earlier) << limit;
    EXPECT_FALSE(std::filesystem::exists(fresh)) << limit;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.File("")), {}), 1) << limit;  // no leftovers
  }
  std::signal(SIGXFSZ, handler);
  // Without the limit the same write replaces the earlier file, with the earlier file's mode.
  std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  ASSERT_EQ(WritePicture(path, MakePicture(400, 300, 3), NONE), FPX_OK);
  EXPECT_NE(Slurp(path), earlier);
  EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  Opened f(path);
  EXPECT_EQ(f.status, FPX_OK);
  EXPECT_EQ(f.width, 400u);
  // A link to the file stays a link; the file it names is replaced.
  const std::string link = dir.File("link.fpx");
  std::filesystem::create_symlink(path, link);
  ASSERT_EQ(WritePicture(link, MakePicture(100, 50, 1), NONE), FPX_OK);
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  Opened g(path);
  EXPECT_EQ(g.width, 100u);
}

// Files that are not FlashPix, or FlashPix files with damaged structures, give statuses.
TEST_F(FlashPixLibrary, NotFlashPixFilesAreRecognised) {
  const std::string text = dir.File("text.fpx");
  Spill(text, std::vector<uint8_t>(2000, 'x'));
  EXPECT_EQ(FPX_IsFlashPixFile(const_cast<char*>(text.c_str())), FPX_FILE_NOT_FOUND);
  char missing[] = "/nonexistent-folder/none.fpx";
  EXPECT_EQ(FPX_IsFlashPixFile(missing), FPX_FILE_NOT_FOUND);
  Opened f(text);
  EXPECT_NE(f.status, FPX_OK);
  EXPECT_EQ(f.handle, nullptr);
}

// Every byte of a small file's tile tables and property sets, damaged in turn, either
// still reads or fails with a status; nothing is read outside a buffer (the sanitiser
// build checks that).
TEST_F(FlashPixLibrary, DamagedFilesFailWithAStatus) {
  const Picture picture = MakePicture(70, 70, 3);
  for (FPXCompressionOption compression : {NONE, JPEG_BY_QUALITY}) {
    const std::string path = dir.File("good.fpx");
    ASSERT_EQ(WritePicture(path, picture, compression, compression == NONE ? -1 : 80), FPX_OK);
    const std::vector<uint8_t> good = Slurp(path);
    const std::string bad = dir.File("bad.fpx");
    int opened = 0, refused = 0;
    const size_t step = std::max<size_t>(7, good.size() / 120);
    for (size_t i = 512; i < good.size(); i += step) {
      for (uint8_t value : {uint8_t(0xFF), uint8_t(0x80)}) {
        std::vector<uint8_t> bytes = good;
        bytes[i] = value;
        Spill(bad, bytes);
        Opened f(bad);
        if (f.status != FPX_OK) {
          ++refused;
          continue;
        }
        ++opened;
        unsigned short levels = 0;
        FPX_GetNumberOfResolutions(f.handle, &levels);
        std::vector<uint8_t> buffer(size_t(f.width) * f.height * 4);
        FPXImageDesc d = Describe(buffer.data(), static_cast<uint32_t>(f.width), 3);
        FPX_ReadImageRectangle(f.handle, 0, 0, f.width - 1, f.height - 1, levels - 1, &d);
      }
    }
    EXPECT_GT(opened, 0);
    EXPECT_GT(refused, 0);
  }
}

// The library's failures close the files they opened: a process that reads and writes many
// damaged files, or fills a disk, runs out of no descriptors.
TEST_F(FlashPixLibrary, FailuresCloseTheFilesTheyOpened) {
  const auto openFiles = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator{});
  };
  if (!std::filesystem::exists("/proc/self/fd")) GTEST_SKIP() << "no /proc";
  const Picture picture = MakePicture(100, 70, 3);
  const std::string good = dir.File("good.fpx");
  ASSERT_EQ(WritePicture(good, picture, JPEG_BY_QUALITY, 60), FPX_OK);
  const std::vector<uint8_t> bytes = Slurp(good);
  const std::string bad = dir.File("bad.fpx");
  const auto before = openFiles();
  for (size_t cut : {size_t(0), size_t(512), bytes.size() / 2, bytes.size() - 1}) {  // cut short
    Spill(bad, std::vector<uint8_t>(bytes.begin(), bytes.begin() + cut));
    FPX_IsFlashPixFile(const_cast<char*>(bad.c_str()));
    Opened f(bad);
  }
  for (size_t i = 600; i < bytes.size(); i += 331) {  // damaged tables and tiles
    std::vector<uint8_t> damaged = bytes;
    damaged[i] ^= 0xA5;
    Spill(bad, damaged);
    Opened f(bad);
    if (f.status == FPX_OK && f.width == 100 && f.height == 70 && f.space.numberOfComponents == 3) {
      Picture got;
      ReadLevel(f.handle, 1, 100, 70, 3, &got);
    }
  }
  if (std::filesystem::exists("/dev/full")) {
    EXPECT_NE(WritePicture("/dev/full", picture, NONE), FPX_OK);
  }
  EXPECT_EQ(WritePicture(dir.File("missing/x.fpx"), picture, NONE), FPX_FILE_CREATE_ERROR);
  // An image abandoned after a refused rectangle is still finished and closed.
  FPXImageHandle* h = nullptr;
  FPXBackground bg{};
  ASSERT_EQ(FPX_CreateImageByFilename(const_cast<char*>(bad.c_str()), 100, 70, 64, 64, Space(3), bg, NONE, &h),
            FPX_OK);
  std::vector<uint8_t> row(100);
  FPXImageDesc grey = Describe(row.data(), 100, 1);
  EXPECT_EQ(FPX_WriteImageRectangle(h, 0, 0, 99, 0, &grey), FPX_INVALID_IMAGE_DESC);
  EXPECT_EQ(FPX_CloseImage(h), FPX_OK);
  EXPECT_EQ(openFiles(), before);
}

}  // namespace
