// Files written here, read by the peers: Pillow's FlashPix reader for pixels and olefile
// for the compound-file structure. Pillow mis-reads partial edge tiles and some JPEG-tile
// files crash it, so it runs in a child process and only sees sizes that are whole tiles.
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "fpx_test_support.h"

using namespace fpxtest;

namespace {

const char kPython[] = "/usr/bin/python3";

bool PeersPresent() {
  return std::system("/usr/bin/python3 -c 'import PIL.FpxImagePlugin, olefile' >/dev/null 2>&1") == 0;
}

// Runs the peer script; its exit status, and what it printed.
int RunPeer(const std::string& arguments, std::string* output = nullptr) {
  const std::string command = std::string(kPython) + " " ORVAX_FPX_PEER_SCRIPT " " + arguments + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  std::string text;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe)) text += buffer;
  const int status = pclose(pipe);
  if (output) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Pillow's decoding of a file, or an empty picture when it failed.
Picture PillowRead(const std::string& path, const std::string& out) {
  if (RunPeer("pillow " + path + " " + out) != 0) return {};
  std::ifstream in(out, std::ios::binary);
  std::string mode;
  Picture p;
  in >> mode >> p.width >> p.height;
  in.get();
  p.channels = mode == "L" ? 1 : 3;
  p.pixels.assign(std::istreambuf_iterator<char>(in), {});
  return p;
}

class PillowPeer : public ::testing::TestWithParam<std::tuple<uint32_t, uint32_t, uint32_t>> {
 protected:
  void SetUp() override {
    if (!PeersPresent()) GTEST_SKIP() << "python3-pil and python3-olefile are needed";
    FPX_InitSystem();
  }
  void TearDown() override { FPX_ClearSystem(); }
  ScratchDir dir;
};

// Uncompressed files open in Pillow with identical pixels; JPEG-tile files that Pillow
// decodes match the source within the tolerance of this library's own reading (quality 75,
// colour with its chroma at half size: mean difference at most 2, none above 24) and this
// library's decoding within 1.
TEST_P(PillowPeer, OpensFilesOfWholeTiles) {
  const auto [width, height, channels] = GetParam();
  const std::string path = dir.File("peer.fpx"), raw = dir.File("peer.raw");

  const Picture picture = MakePicture(width, height, channels);
  ASSERT_EQ(WritePicture(path, picture, NONE), FPX_OK);
  std::string report;
  EXPECT_EQ(RunPeer("olefile " + path, &report), 0) << report;
  const Picture seen = PillowRead(path, raw);
  ASSERT_EQ(seen.width, width);
  ASSERT_EQ(seen.height, height);
  ASSERT_EQ(seen.channels, channels);
  EXPECT_EQ(seen.pixels, picture.pixels);

  const Picture smooth = MakeSmoothPicture(width, height, channels);
  ASSERT_EQ(WritePicture(path, smooth, JPEG_BY_QUALITY, 75), FPX_OK);
  EXPECT_EQ(RunPeer("olefile " + path, &report), 0) << report;
  const Picture decoded = PillowRead(path, raw);
  if (decoded.pixels.empty()) GTEST_SKIP() << "Pillow could not decode this JPEG-tile file";
  ASSERT_EQ(decoded.pixels.size(), smooth.pixels.size());
  EXPECT_LE(MeanDifference(decoded, smooth), 2.0);
  EXPECT_LE(MaxDifference(decoded, smooth), 24);

  FPXImageHandle* h = nullptr;
  unsigned long w = 0, hh = 0;
  FPXColorspace cs{};
  ASSERT_EQ(FPX_OpenImageByFilename(const_cast<char*>(path.c_str()), nullptr, &w, &hh, nullptr, nullptr, &cs, &h),
            FPX_OK);
  unsigned short levels = 0;
  FPX_GetNumberOfResolutions(h, &levels);
  Picture ours;
  ASSERT_EQ(ReadLevel(h, levels - 1, width, height, channels, &ours), FPX_OK);
  FPX_CloseImage(h);
  EXPECT_LE(MaxDifference(decoded, ours), 1);
}

INSTANTIATE_TEST_SUITE_P(Sizes, PillowPeer,
                         ::testing::Values(std::tuple{64u, 64u, 1u}, std::tuple{64u, 64u, 3u},
                                           std::tuple{320u, 192u, 1u}, std::tuple{320u, 192u, 3u},
                                           std::tuple{1024u, 768u, 1u}, std::tuple{1024u, 768u, 3u}),
                         [](const auto& info) {
                           return std::to_string(std::get<0>(info.param)) + "x" +
                                  std::to_string(std::get<1>(info.param)) + "_" +
                                  std::to_string(std::get<2>(info.param));
                         });

// Files of every size, grey and colour, uncompressed, with JPEG tiles and with single-colour
// tiles, have every stream and property set the format requires, with its class ids and
// property types, and subimage streams that agree with them (their pixels are checked by
// this library's own round-trip tests).
TEST(OleFilePeer, FilesHaveTheFormatsStructure) {
  if (!PeersPresent()) GTEST_SKIP() << "python3-olefile is needed";
  FPX_InitSystem();
  ScratchDir dir;
  const std::string path = dir.File("odd.fpx");
  for (const auto& [w, h] : {std::pair{1u, 1u}, {65u, 65u}, {200u, 130u}, {1001u, 667u}})
    for (uint32_t channels : {1u, 3u})
      for (FPXCompressionOption compression : {NONE, JPEG_BY_QUALITY, SINGLE_COLOR}) {
        Picture picture = MakePicture(w, h, channels);
        if (compression == SINGLE_COLOR)  // the first tile of one colour
          for (uint32_t y = 0; y < std::min(h, 64u); ++y)
            for (uint32_t x = 0; x < std::min(w, 64u); ++x)
              for (uint32_t c = 0; c < channels; ++c) picture.pixels[(size_t(y) * w + x) * channels + c] = uint8_t(90 + c);
        ASSERT_EQ(WritePicture(path, picture, compression, compression == JPEG_BY_QUALITY ? 75 : -1), FPX_OK);
        std::string report;
        EXPECT_EQ(RunPeer("olefile " + path, &report), 0)
            << w << "x" << h << " " << channels << " compression " << compression << ": " << report;
      }
  FPX_ClearSystem();
}

}  // namespace
