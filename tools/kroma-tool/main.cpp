// kroma-tool: header queries of a profile, and converting raw pixels between two profiles.
//   kroma-tool info PROFILE
//   kroma-tool apply SRC.icc DST.icc --intent N --engine 0|1 --in FORMAT --out FORMAT < in > out
// Formats: rgb8 rgb16 gray8 gray16 cmyk8 cmyk16 lab16 (interleaved, 16-bit little-endian).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kroma.h"

namespace {

struct Format {
  const char* name;
  int channels, bits;
};
constexpr Format kFormats[] = {{"rgb8", 3, 8},   {"rgb16", 3, 16}, {"gray8", 1, 8}, {"gray16", 1, 16},
                               {"cmyk8", 4, 8},  {"cmyk16", 4, 16}, {"lab16", 3, 16}};

const Format* FindFormat(const char* name) {
  for (const Format& f : kFormats)
    if (std::strcmp(f.name, name) == 0) return &f;
  return nullptr;
}

std::string SigText(uint32_t v) {
  std::string s(4, ' ');
  for (int i = 0; i < 4; ++i) s[i] = char(v >> (24 - 8 * i));
  return s;
}

int Info(const char* path) {
  int16_t channels = 0, space = 0, pcs = 0;
  uint32_t cls = 0, intent = 0;
  int32_t white[3] = {};
  if (!DurovToolboxGetProfInfo(path, 0, &channels, 2) || !DurovToolboxGetProfInfo(path, 1, &cls, 4) ||
      !DurovToolboxGetProfInfo(path, 2, &space, 2) || !DurovToolboxGetProfInfo(path, 3, &pcs, 2) ||
      !DurovToolboxGetProfInfo(path, 4, &intent, 4) || !DurovToolboxGetProfInfo(path, 5, white, 12)) {
    std::printf("status=%d\n", KROMA_ERR_PROFILE_OPEN);
    return 1;
  }
  std::printf("channels=%d\nclass=%s\ncolorspace=%d\npcs=%d\nintent=%u\nilluminant=%.4f %.4f %.4f\n",
              channels, SigText(cls).c_str(), space, pcs, intent, white[0] / 65536.0,
              white[1] / 65536.0, white[2] / 65536.0);
  return 0;
}

int Apply(int argc, char** argv) {
  if (argc < 4) return 2;
  char* src = argv[2];
  char* dst = argv[3];
  int intent = 0, engine = 1;
  const Format* in = nullptr;
  const Format* out = nullptr;
  for (int i = 4; i + 1 < argc; i += 2) {
    const std::string opt = argv[i];
    if (opt == "--intent") intent = std::atoi(argv[i + 1]);
    else if (opt == "--engine") engine = std::atoi(argv[i + 1]);
    else if (opt == "--in") in = FindFormat(argv[i + 1]);
    else if (opt == "--out") out = FindFormat(argv[i + 1]);
    else return 2;
  }
  if (in == nullptr || out == nullptr) return 2;
  std::vector<uint8_t> data;
  uint8_t chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, stdin)) > 0) data.insert(data.end(), chunk, chunk + got);
  const size_t inPixel = size_t(in->channels) * (in->bits / 8);
  const size_t outPixel = size_t(out->channels) * (out->bits / 8);
  const size_t pixels = data.size() / inPixel;
  // One line per call, up to 65535 pixels wide, through several buffers.
  const uint32_t width = uint32_t(pixels < 4096 ? (pixels ? pixels : 1) : 4096);
  CMParam param{uint16_t(width), 1, uint32_t(width * inPixel), uint32_t(width * outPixel),
                uint16_t(in->bits), uint16_t(out->bits), 0};
  CMProfilePaths paths{&src, &dst};
  CColorMatcher* h = nullptr;
  int32_t rc = OXCMInit(&param, &paths, uint16_t(engine), intent, &h);
  std::vector<uint8_t> result(pixels * outPixel);
  for (size_t done = 0; rc == 0 && done < pixels;) {
    const size_t n = std::min<size_t>(width, pixels - done);
    if (n != width) rc = OXCMChangeImageWidth(int32_t(n), h);
    if (rc != 0) break;
    param.width = uint16_t(n);
    std::vector<uint8_t> line(data.begin() + done * inPixel, data.begin() + (done + n) * inPixel);
    CMBuffer s{line.data(), 1}, d{result.data() + done * outPixel, 1};
    rc = OXCMProc(&s, &d, h);
    done += n;
  }
  OXCMPostProc(h);
  if (rc != 0) {
    std::fprintf(stderr, "status=%d\n", rc);
    return 1;
  }
  std::fwrite(result.data(), 1, result.size(), stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "info") == 0) return Info(argv[2]);
  if (argc >= 4 && std::strcmp(argv[1], "apply") == 0) {
    const int rc = Apply(argc, argv);
    if (rc == 2) std::fprintf(stderr, "usage: kroma-tool apply SRC DST --intent N --engine 0|1 --in FMT --out FMT\n");
    return rc;
  }
  std::fprintf(stderr, "usage: kroma-tool info PROFILE | apply SRC DST --intent N --engine 0|1 --in FMT --out FMT\n");
  return 2;
}
