// Damaged files and hostile places: every prefix of a small file of each format, paths
// that cannot be read or written, and a disk with no room.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <limits>
#include <string>

#include "fixtures.h"
#include "win/gdi.h"

namespace {

using namespace fixtures;

struct Format {
  uint32_t code;
  const char* name;
  int colorSpace;
};

const Format kFormats[] = {{TES_FILE_BMP, "bmp", 2},  {TES_FILE_JPEG, "jpeg", 2}, {TES_FILE_TIFF, "tiff", 3},
                           {TES_FILE_FPX, "fpx", 2},  {TES_FILE_FPX_JPEG, "fpx-jpeg", 0}};

// Saves a small image of the format.
std::string SmallFile(const Format& f, int w = 37, int h = 21) {
  TesseraClass image(0, static_cast<short>(f.colorSpace));
  EXPECT_EQ(Fill(image, w, h, f.colorSpace, PatternPixels(w, h, f.colorSpace), TesseraClass::m_s_EmptyTransform), 0);
  const std::string path = testing::TempDir() + "hostile-" + f.name;
  const tagTes_File_Spec spec{path.c_str(), f.code, 3};
  EXPECT_EQ(image.Save(spec, nullptr, nullptr, 1), 0) << f.name;
  return path;
}

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(HostileFiles, EveryPrefixOfEachFormatEndsInAStatus) {
  for (const Format& f : kFormats) {
    SCOPED_TRACE(f.name);
    const std::string path = SmallFile(f);
    const std::string whole = Bytes(path);
    const std::string cut = testing::TempDir() + "hostile-cut";
    char* p = const_cast<char*>(cut.c_str());
    // Every prefix through the headers, then every 61st length through the data.
    for (size_t n = 0; n < whole.size(); n += (n < 400 ? 1 : 61)) {
      std::ofstream(cut, std::ios::binary | std::ios::trunc).write(whole.data(), static_cast<std::streamsize>(n));
      tagTes_Image_Desc desc{};
      short type = -7, thumb = 0;
      const long tested = TesseraClass::TestFile(p, &desc, &type, &thumb);
      TesseraClass image(0, 2), thumbnail(0, 2);
      const long opened = image.OpenImage(p, TesseraClass::m_s_EmptyTransform, nullptr, nullptr);
      thumbnail.OpenThumbnail(p, TesseraClass::m_s_EmptyTransform, nullptr, nullptr, 1);
      if (tested != 0) {
        EXPECT_EQ(type, -7) << n;
      }
      if (opened == 0) {
        // A reader may finish a cut image the way its format allows; what it stored reads back.
        std::vector<uint8_t> out;
        EXPECT_EQ(ReadAll(image, out), 0) << n;
      }
    }
  }
}

// Inputs the fuzzers found, kept as they came: each once crashed or misbehaved.
TEST(HostileFiles, FuzzFindingsEndInStatuses) {
  const struct {
    const char* what;
    std::vector<uint8_t> bytes;
    long status;
  } findings[] = {
      // A BMP whose row size times row count overflowed the check that they fit in the file.
      {"bmp rows overflow", {
      0x42, 0x4d, 0x4e, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x18, 0x00, 0x00, 0x00, 0x00, 0x28, 0x00,
      0x00, 0x00, 0x07, 0x6a, 0x70, 0x65, 0xfe, 0x61, 0x6e, 0x79, 0x01, 0x00, 0x18, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x18, 0x00, 0x00, 0x00, 0xc4, 0x0e, 0x00, 0x00, 0xc4, 0x0e, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x68, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x60, 0xda, 0xb5, 0x85, 0x55,
      0x42, 0xb3, 0x00, 0x00, 0x00, 0x00, 0x0b, 0xff, 0x34, 0x30, 0xaa, 0x60, 0xda, 0xb5, 0x85, 0x55,
      0x00, 0x00, 0x00, 0xaa, 0x55, 0x00, 0xcf, 0x7a, 0x25, 0xf4, 0x9f, 0x4a, 0x00, 0x00, 0x00, 0xaa,
      0x55, 0x25, 0xf4, 0x9f, 0x4a, 0x00, 0x00, 0x00}, TES_ERR_BMP_HEADER},
      // An uncompressed 1-bit TIFF 5963816 pixels wide in 255 bytes: converted strip by
      // strip, it made the store fill 143 MB of zeros. Data that cannot be in the file end
      // it at once.
      {"tiff wider than its data", {
      0x49, 0x49, 0x2a, 0x00, 0x08, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x01, 0x04, 0x00, 0x01, 0x00,
      0x00, 0x00, 0x28, 0x00, 0x5b, 0x00, 0x01, 0x01, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00, 0x18, 0x00,
      0x00, 0x00, 0x03, 0x01, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x06, 0x01,
      0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x11, 0x01, 0x04, 0x00, 0x01, 0x00,
      0x00, 0x00, 0x6e, 0x00, 0x01, 0x00, 0x04, 0x16, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x18, 0x1f,
      0x00, 0x00, 0x17, 0x01, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00, 0x78, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x1c, 0x01, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0xfe, 0x00, 0x00, 0x58, 0xb4, 0xe9, 0xd5, 0xab, 0x5a, 0xb2, 0xa5, 0x45, 0x24, 0x5a,
      0xa5, 0x55, 0xb5, 0x56, 0x65, 0x69, 0xca, 0x8b, 0x18, 0xb2, 0xa5, 0x53, 0xab, 0x4e, 0x55, 0x6a,
      0x95, 0x2c, 0xb5, 0xaa, 0xd5, 0xa6, 0x96, 0x94, 0xa9, 0x4a, 0x95, 0x56, 0x5d, 0x96, 0x2a, 0x55,
      0x6a, 0x52, 0xca, 0xa5, 0x56, 0x59, 0x2a, 0x53, 0x97, 0x2a, 0xad, 0x5a, 0xca, 0xaa, 0x96, 0x95,
      0x52, 0xd5, 0x2a, 0x59, 0x5a, 0x75, 0x2b, 0x4a, 0xad, 0x39, 0x51, 0xa5, 0x2e, 0x95, 0x55, 0x75,
      0xab, 0x54, 0xaa, 0x56, 0xa5, 0x4c, 0xaa, 0x59, 0x72, 0xd5, 0x2a, 0x9d, 0x5a, 0xaa, 0xaa, 0x96,
      0xa9, 0x5a, 0x65, 0x52, 0x59, 0x5a, 0x52, 0xa9, 0xcb, 0x55, 0x2a, 0xb5, 0x65, 0x41, 0x00, 0x59,
      0x75, 0x6a, 0x95, 0x51, 0x55, 0x45, 0x55, 0xa5, 0xaa, 0x71, 0x69, 0xc5, 0x97, 0x00, 0x1d}, TES_ERR_IN_EOF},
  };
  for (const auto& f : findings) {
    const std::string path = testing::TempDir() + "finding";
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(f.bytes.data()), static_cast<std::streamsize>(f.bytes.size()));
    char* p = const_cast<char*>(path.c_str());
    TesseraClass image(0, 2);
    EXPECT_EQ(image.OpenImage(p, TesseraClass::m_s_EmptyTransform, nullptr, nullptr), f.status) << f.what;
  }
}

// A JPEG header that claims a 65535 x 38911 image over a few hundred bytes of data (found
// by the fuzzer): finishing it from zero bits would allocate gigabytes, so it ends as a file
// that ended too soon.
TEST(HostileFiles, JpegClaimingMoreThanItsDataCanHold) {
  const Format jpeg{TES_FILE_JPEG, "jpeg", 2};
  const std::string path = SmallFile(jpeg, 16, 16);
  ASSERT_FALSE(path.empty());
  std::string bytes = Bytes(path);
  const size_t sof = bytes.rfind("\xFF\xC0");  // the image's own frame, after any thumbnail
  ASSERT_NE(sof, std::string::npos);
  bytes[sof + 5] = '\x97';  // height 38911
  bytes[sof + 6] = '\xFF';
  bytes[sof + 7] = '\xFF';  // width 65535
  bytes[sof + 8] = '\xFF';
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  char* p = const_cast<char*>(path.c_str());
  tagTes_Image_Desc desc{};
  short type = 0, thumb = 0;
  ASSERT_EQ(TesseraClass::TestFile(p, &desc, &type, &thumb), 0);
  EXPECT_EQ(desc.width, 65535);
  TesseraClass image(0, 2);
  EXPECT_EQ(image.OpenImage(p, TesseraClass::m_s_EmptyTransform, nullptr, nullptr), TES_ERR_IN_EOF);
}

// Exif values outside the range of the fields they fill (found by the fuzzer: a negative
// Flash, a negative thumbnail offset), each as a signed LONG of -8 in place of the entry the
// writer put there: a Flash reads as 0, an Exif IFD offset as no Exif IFD, a thumbnail
// offset as no thumbnail. The image opens every time.
TEST(HostileFiles, ExifValuesOutOfTheirFieldsRange) {
  const Format jpeg{TES_FILE_JPEG, "jpeg", 2};
  const struct {
    const char* what;
    const char* entry;  // tag, type, count 1, little-endian, as the writer puts it
    short thumbnail;    // what TestFile then reports
  } cases[] = {{"Flash", "\x09\x92\x03\x00\x01\x00\x00\x00", 1},
               {"Exif IFD offset", "\x69\x87\x04\x00\x01\x00\x00\x00", 1},
               {"thumbnail offset", "\x01\x02\x04\x00\x01\x00\x00\x00", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = SmallFile(jpeg, 16, 16);
    ASSERT_FALSE(path.empty());
    std::string bytes = Bytes(path);
    const size_t at = bytes.find(std::string(c.entry, 8));
    ASSERT_NE(at, std::string::npos);
    bytes[at + 2] = 9;  // SLONG
    bytes.replace(at + 8, 4, "\xF8\xFF\xFF\xFF");  // -8
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    char* p = const_cast<char*>(path.c_str());
    TesseraClass image(0, 2);
    ASSERT_EQ(image.OpenImage(p, TesseraClass::m_s_EmptyTransform, nullptr, nullptr), 0);
    tagTes_Image_Desc desc{};
    short type = 0, thumb = -1;
    ASSERT_EQ(TesseraClass::TestFile(p, &desc, &type, &thumb), 0);
    EXPECT_EQ(thumb, c.thumbnail);
    tagTes_Image_Info info{};
    ASSERT_EQ(image.GetImageInfo(&info, sizeof info), 0);
    EXPECT_EQ(info.flash, 0);
  }
}

// A FlashPix file whose compound-file root entry claims a sibling (found by the fuzzer: the
// compound-file library leaks the sibling's entry) is refused as no FlashPix file.
TEST(HostileFiles, FlashPixRootWithASibling) {
  const std::string path = SmallFile({TES_FILE_FPX, "fpx", 2});
  std::string bytes = Bytes(path);
  ASSERT_GE(bytes.size(), 512u);
  const auto u32 = [&](size_t at) {
    return static_cast<uint8_t>(bytes[at]) | static_cast<uint8_t>(bytes[at + 1]) << 8 |
           static_cast<uint8_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 3])) << 24;
  };
  const int shift = static_cast<uint8_t>(bytes[0x1E]);
  const size_t root = (static_cast<size_t>(u32(0x30)) + 1) << shift;
  ASSERT_LE(root + 128, bytes.size());
  ASSERT_EQ(u32(root + 0x48), 0xFFFFFFFFu);
  bytes.replace(root + 0x48, 4, std::string("\x01\0\0\0", 4));  // right sibling: entry 1
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  char* p = const_cast<char*>(path.c_str());
  tagTes_Image_Desc desc{};
  short type = -7, thumb = 0;
  EXPECT_EQ(TesseraClass::TestFile(p, &desc, &type, &thumb), TES_ERR_UNKNOWN_FORMAT);
  TesseraClass image(0, 2);
  EXPECT_EQ(image.OpenImage(p, TesseraClass::m_s_EmptyTransform, nullptr, nullptr), TES_ERR_UNKNOWN_FORMAT);
}

// Resolutions no display header can hold (found by the fuzzer through a TIFF file): the
// image is still stored and drawn.
TEST(HostileFiles, ExtremeResolutionsAreStoredAndDrawn) {
  for (double dpi : {1e300, -5.0, std::numeric_limits<double>::quiet_NaN()}) {
    TesseraClass image(0, 2);
    tagTes_Image_Desc desc{4, 4, 2, {}, dpi};
    ASSERT_EQ(image.SetImageDesc(desc, TesseraClass::m_s_EmptyTransform), 0);
    std::vector<uint8_t> px(48, 9);
    tagTes_Tile_Desc t{{0, 0, 4, 4}, 12, 0};
    ASSERT_EQ(image.SetData(t, TesseraClass::m_s_EmptyTransform, px.data()), 0);
    orvax::win::MemoryDC dc(4, 4);
    EXPECT_EQ(image.Display({&dc, 0, 0, 4, 4, 0, 0, 4, 4}), 0);
    EXPECT_EQ(dc.pixel(3, 3)[0], 9);
  }
}

TEST(HostileFiles, UnreadableAndUnwritablePaths) {
  const std::string dir = testing::TempDir() + "hostile-dir";
  mkdir(dir.c_str(), 0700);
  char* missing = const_cast<char*>("/nonexistent/dir/image.bmp");
  TesseraClass image(0, 2);
  EXPECT_EQ(image.OpenImage(missing, TesseraClass::m_s_EmptyTransform, nullptr, nullptr), TES_ERR_IN_OPEN);
  tagTes_Image_Desc desc{};
  short type = 0, thumb = 0;
  EXPECT_EQ(TesseraClass::TestFile(missing, &desc, &type, &thumb), TES_ERR_IN_OPEN);
  ASSERT_EQ(Fill(image, 8, 8, 2, PatternPixels(8, 8, 2), TesseraClass::m_s_EmptyTransform), 0);
  for (const Format& f : kFormats) {
    if (f.colorSpace != 2) continue;
    const tagTes_File_Spec spec{"/nonexistent/dir/out.img", f.code, 3};
    const long status = image.Save(spec, nullptr, nullptr, 0);
    // Stream writers create the file themselves (TES_ERR_OUT_CREATE); the FlashPix library
    // reports its own status, mapped to the TES_ERR_FPX_ range.
    if (f.code == TES_FILE_FPX || f.code == TES_FILE_FPX_JPEG) {
      EXPECT_GE(status, TES_ERR_FPX_COLOR_SPACE) << f.name;
      EXPECT_LE(status, TES_ERR_FPX_UNKNOWN) << f.name;
    } else
      EXPECT_EQ(status, TES_ERR_OUT_CREATE) << f.name;
  }
}

TEST(HostileFiles, AFullDiskGivesDiskFullFromEveryWriter) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full here";
  for (const Format& f : kFormats) {
    TesseraClass image(0, static_cast<short>(f.colorSpace));
    ASSERT_EQ(Fill(image, 300, 200, f.colorSpace, PatternPixels(300, 200, f.colorSpace),
                   TesseraClass::m_s_EmptyTransform),
              0);
    const tagTes_File_Spec spec{"/dev/full", f.code, 3};
    EXPECT_EQ(image.Save(spec, nullptr, nullptr, 0), TES_ERR_DISK_FULL) << f.name;
  }
}

}  // namespace
